// The journal: before a run touches anything, it records the change in
// a registry key of its own, new for each run, and it deletes the key when
// it is over. A run that was killed (a crash, a power cut, Task Manager)
// leaves the key behind, and the next run undoes what it records before it
// reads the system, or, if that run had finished its steps, settles them.
// What is to be undone in the registry of a user who is not signed in
// waits in a key named by the user's SID (waitingKey), in entries of the
// same form, and is undone by the first run that finds that user's
// registry loaded.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "steps.h"

namespace setup {

inline constexpr wchar_t journalPath[] = L"SOFTWARE\\KurdKeyboardLayoutJournal";
// Set once every step has succeeded: what is left is settling.
inline constexpr wchar_t journalCommittedName[] = L"Committed";
// Under it, one key per user, named by the SID.
inline constexpr wchar_t waitingPath[] = L"SOFTWARE\\KurdKeyboardLayoutWaiting";

RegistryKey journalKey();
RegistryKey waitingKey(const std::wstring& sid);

// The bytes of one entry, and the change again from them (nothing when
// they are not an entry this program wrote).
std::vector<std::uint8_t> encodeChange(const Change& change);
std::optional<Change> decodeChange(std::span<const std::uint8_t> bytes);

// The name of entry `index` (0-based): "0001", ... in the order written.
std::wstring journalEntryName(std::size_t index);

struct JournalContents {
    std::vector<Change> changes;  // in the order written
    bool committed = false;
    std::vector<std::wstring> unreadable;  // names of entries that do not decode
};

JournalContents readJournal(const std::vector<NamedValue>& values);

// The changes waiting for one user, as the facts read them.
struct WaitingChanges {
    std::wstring sid;
    std::vector<NamedValue> entries;
};

}  // namespace setup
