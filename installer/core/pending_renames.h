// The list of file operations Windows carries out at the next restart,
// the REG_MULTI_SZ value "PendingFileRenameOperations": pairs of a source
// path and a target path, each written "\??\C:\...". An empty target
// deletes the source; a target written with "!" first is replaced.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system.h"

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

// Edits the schedule as the registry holds it now: edit(renames) changes
// the list and says whether it did. A list that changed is written back,
// or the value deleted once the list is empty.
template <class Edit>
std::uint32_t editSchedule(System& system, Edit edit) {
    const RegistryKey key{Hive::LocalMachine, sessionManagerPath};
    std::optional<RegistryValue> value;
    if (const std::uint32_t error = system.readValue(key, pendingRenamesName, value))
        return error;
    std::vector<PendingRename> renames = value ? pendingRenames(*value) : std::vector<PendingRename>{};
    if (!edit(renames))
        return 0;
    if (renames.empty())
        return value ? system.deleteValue(key, pendingRenamesName) : 0;
    return system.setValue(key, pendingRenamesName, pendingRenamesValue(renames));
}

// Takes every operation on source out of the schedule.
std::uint32_t unschedule(System& system, const std::wstring& source);

}  // namespace setup
