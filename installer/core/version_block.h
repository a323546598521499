// The string values of a version resource (VS_VERSIONINFO): a tree of
// nodes, each with its length, its value's length and type, a key and
// children, every field within the block. The installer reads a file's
// block through Windows' own resource calls and judges it here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace setup {

// The value of a key in the first string table under StringFileInfo;
// none when the block is not a version block, that part does not read, or
// the table has no such key.
std::optional<std::wstring> versionString(std::span<const std::uint8_t> block, std::wstring_view key);

}  // namespace setup
