// The string values of a version resource (VS_VERSIONINFO): a tree of
// nodes, each with its length, its value's length and type, a key and
// children, every field within the block. The installer reads a file's
// block through Windows' own resource calls and judges it here.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace setup {

// The values of the first string table under StringFileInfo, by key; none
// when the block is not a version block, or that part does not read.
std::map<std::wstring, std::wstring> versionStrings(std::span<const std::uint8_t> block);

}  // namespace setup
