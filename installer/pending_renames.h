// The list of file operations Windows carries out at the next restart
// (the "PendingFileRenameOperations" value): pairs of a source path and a
// target path (empty to delete), each written "\??\C:\...". Undoing a
// scheduled replacement means taking its pair out again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace setup {

// The pairs as strings, in stored order, from the value's text (strings
// each ended by a zero character).
std::vector<std::wstring> splitMultiString(std::wstring_view value);
std::wstring joinMultiString(const std::vector<std::wstring>& strings);

// The list without the pairs whose source is path (compared without
// regard to case, with or without the "\??\" prefix).
std::vector<std::wstring> withoutPendingSource(const std::vector<std::wstring>& pairs, std::wstring_view path);

}  // namespace setup
