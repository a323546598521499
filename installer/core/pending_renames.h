// The list of file operations Windows carries out at the next restart,
// the REG_MULTI_SZ value "PendingFileRenameOperations": pairs of a source
// path and a target path, each written "\??\C:\...". An empty target
// deletes the source; a target written with "!" first is replaced.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "steps.h"

namespace setup {

inline constexpr wchar_t sessionManagerPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr wchar_t pendingRenamesName[] = L"PendingFileRenameOperations";

struct PendingRename {
    std::wstring source;  // as stored
    std::wstring target;  // as stored; empty: a deletion
};

// The pairs of the value, in stored order. The value's strings end with
// a zero each, and an empty target is an empty string, so the list
// cannot be read as an ordinary multi-string that ends at the first
// empty one.
std::vector<PendingRename> pendingRenames(const RegistryValue& value);
RegistryValue pendingRenamesValue(const std::vector<PendingRename>& renames);

// A path as the list stores it, without "!" and "\??\", to compare with
// a plain path.
std::wstring_view plainPath(std::wstring_view stored);
// A plain path as the list stores it.
std::wstring storedPath(std::wstring_view path);

// The value without the operations whose source is path; nothing when
// none is left.
std::optional<RegistryValue> withoutSource(const RegistryValue& value, std::wstring_view path);

}  // namespace setup
