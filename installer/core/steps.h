// The changes an install or uninstall makes, one step each. Every kind of
// change records what was there before, and knows how to carry itself
// out, undo itself and describe itself; undoing first checks that what it
// changed still holds what it wrote, and leaves alone what another program
// has changed since. Each of these may be repeated after a crash: it does
// what is still to do and accepts what is done already. Paths are the
// real Windows paths (the native System32 is "System32", whatever the
// bitness of the process that carries the step out). The registry and
// the restart schedule are in registry_changes.cpp, files and folders in
// file_changes.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "message_language.h"
#include "payload.h"

namespace setup {

class System;

// HKEY_LOCAL_MACHINE is always opened in its 64-bit view on 64-bit
// Windows. A user's keys are named under HKEY_USERS by the user's SID
// ("S-1-5-21-...\Keyboard Layout\Preload"), so that a step means the same
// user whoever carries it out or undoes it later, wherever that user's
// registry is loaded then (by Windows under the SID, or by the installer
// under its own name for it: hiveMountName), and waits for that user while
// it is loaded nowhere.
enum class Hive { LocalMachine, Users };

struct RegistryKey {
    Hive hive;
    std::wstring path;
    bool operator==(const RegistryKey&) const = default;
};

// "HKLM\..." or "HKU\...", as the log and the messages name a key.
std::wstring keyText(const RegistryKey& key);
// The key above it.
RegistryKey parentKey(const RegistryKey& key);

// The registry's value types the installer meets by name.
inline constexpr std::uint32_t regSz = 1;
inline constexpr std::uint32_t regExpandSz = 2;
inline constexpr std::uint32_t regBinary = 3;
inline constexpr std::uint32_t regDword = 4;
inline constexpr std::uint32_t regMultiSz = 7;

// A value as the registry holds it: its type and its bytes, exactly, so
// that a value taken away can be put back as it was.
struct RegistryValue {
    std::uint32_t type = regSz;
    std::vector<std::uint8_t> bytes;
    bool operator==(const RegistryValue&) const = default;

    // A string value's text, up to its first zero character (the
    // registry does not promise a terminator); nothing for other types.
    std::optional<std::wstring> text() const;
};

RegistryValue stringValue(std::wstring_view text);
RegistryValue expandStringValue(std::wstring_view text);
RegistryValue dwordValue(std::uint32_t number);
RegistryValue binaryValue(std::vector<std::uint8_t> bytes);

struct NamedValue {
    std::wstring name;
    RegistryValue value;
    bool operator==(const NamedValue&) const = default;
};

const RegistryValue* findValue(const std::vector<NamedValue>& values, std::wstring_view name);

// A value named by a decimal number ("1", "0002"), as Preload names its
// entries and the journal its changes.
struct NumberedValue {
    std::uint32_t number;
    const NamedValue* value;
};
// The values named by a number, in the numbers' order (those of one
// number in the list's order); the others are left out.
std::vector<NumberedValue> numberedValues(const std::vector<NamedValue>& values);

// Where a placed file's bytes come from: a layout image, or the installer
// itself (the copy kept for uninstalling).
struct FileSource {
    std::optional<Form> image;  // empty: the installer's own file
    bool operator==(const FileSource&) const = default;
};

// The user whose keyboard list a run changes.
struct User {
    std::wstring sid;  // or .DEFAULT, the welcome screen's, or Default, the default profile's
    bool isProcessUser = true;  // the account the installer runs as
    // Signed in at the installer's session; else a profile whose list is
    // changed for the next time it is used.
    bool atTheScreen = true;
    bool operator==(const User&) const = default;
};

// The name under HKEY_USERS at which the installer loads a profile's
// registry from its file: one of its own, which Windows never gives.
inline constexpr wchar_t hiveMountPrefix[] = L"KurdKeyboardLayout_";
std::wstring hiveMountName(const std::wstring& profile);

// The user's registry as the system's per-user call takes it: where
// Windows has loaded it, or where the installer has.
std::wstring userRegistryPath(const User& user, bool loadedByUs);

// The user whose registry holds the key; none for the machine's.
std::optional<std::wstring> userOf(const RegistryKey& key);

// What carrying out or undoing a change came to.
struct Outcome {
    std::uint32_t error = 0;     // a Windows error code; 0: done
    bool restartNeeded = false;  // done, but only at the next restart
    bool waitsForUser = false;   // not undone yet: the user's registry is not loaded
    bool leftAlone = false;      // not undone: another program has changed it since
    bool refused = false;        // not undone: the system's call refused to take it back
};

inline Outcome done() { return {}; }
inline Outcome atRestart() { return {0, true, false, false}; }
inline Outcome leftAlone() { return {0, false, false, true}; }
inline Outcome refused() { return {0, false, false, false, true}; }
// Done when error is 0, else failed with it.
inline Outcome outcomeOf(std::uint32_t error) { return {error, false, false, false}; }

// The journal's tag of each kind: written into every entry, so that these
// numbers, not the kinds' order here, are the format. 8 is retired.
enum class ChangeTag : std::uint8_t {
    CreateKey = 0,
    SetValue = 1,
    DeleteValue = 2,
    DeleteKey = 3,
    PlaceFile = 4,
    RemoveFile = 5,
    Discard = 6,
    CreateFolder = 7,
    UserLayoutCall = 9,
    CancelRename = 10,
    ProfileHive = 11,
};

// A key the step creates; it did not exist before. Undone only while it
// holds no value.
struct CreateKey {
    static constexpr ChangeTag tag = ChangeTag::CreateKey;
    RegistryKey key;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    MessageText description() const;
    bool operator==(const CreateKey&) const = default;
};

// A value written; prior is what it held, if it existed.
struct SetValue {
    static constexpr ChangeTag tag = ChangeTag::SetValue;
    RegistryKey key;
    std::wstring name;
    RegistryValue value;
    std::optional<RegistryValue> prior;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    MessageText description() const;
    bool operator==(const SetValue&) const = default;
};

struct DeleteValue {
    static constexpr ChangeTag tag = ChangeTag::DeleteValue;
    RegistryKey key;
    std::wstring name;
    RegistryValue prior;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    MessageText description() const;
    bool operator==(const DeleteValue&) const = default;
};

// A key without subkeys deleted, with the values it held.
struct DeleteKey {
    static constexpr ChangeTag tag = ChangeTag::DeleteKey;
    RegistryKey key;
    std::vector<NamedValue> prior;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    MessageText description() const;
    bool operator==(const DeleteKey&) const = default;
};

// One operation of the restart schedule (PendingFileRenameOperations)
// taken out, as stored. Undoing puts back only an operation whose source
// is still there and that is not scheduled already: after a restart the
// schedule has run, and the same operation must not run twice.
struct CancelRename {
    static constexpr ChangeTag tag = ChangeTag::CancelRename;
    std::wstring source;
    std::wstring target;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    MessageText description() const;
    bool operator==(const CancelRename&) const = default;
};

// A file written to `staged` in its folder, then swapped in. When a file
// was there (`replaces`), it is kept at `aside` until the run is over, so
// that undoing puts it back. Both names are fixed by the plan, so that a
// later run can undo what a run that was killed had begun.
struct PlaceFile {
    static constexpr ChangeTag tag = ChangeTag::PlaceFile;
    std::wstring path;
    FileSource source;
    bool replaces = false;
    std::wstring staged;
    std::wstring aside;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    bool settle(System& system) const;
    MessageText description() const;
    bool operator==(const PlaceFile&) const = default;
};

// A file moved to `aside`, where it is deleted once the run is over.
struct RemoveFile {
    static constexpr ChangeTag tag = ChangeTag::RemoveFile;
    std::wstring path;
    std::wstring aside;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    bool settle(System& system) const;
    MessageText description() const;
    bool operator==(const RemoveFile&) const = default;
};

// A file or folder of ours that nothing needs once the run is over (the
// new file of a replacement no longer wanted, the emptied folder of the
// kept copy): deleted then, or at the next restart. Until then it stays,
// so that undoing the run needs nothing back.
struct Discard {
    static constexpr ChangeTag tag = ChangeTag::Discard;
    std::wstring path;
    bool folder = false;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    bool settle(System& system) const;
    MessageText description() const;
    bool operator==(const Discard&) const = default;
};

// A folder created; undone only while it is empty.
struct CreateFolder {
    static constexpr ChangeTag tag = ChangeTag::CreateFolder;
    std::wstring path;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    MessageText description() const;
    bool operator==(const CreateFolder&) const = default;
};

// The layout switched on or off in a user's list through the system's
// own call, with "<language id>:<KLID>"; in the list of a profile that is
// not at the screen, for its next session only. The call may refuse to
// take back what it did: the list then stays changed, which the failed
// run's message says; the journal stays, and the next run asks once more
// before its own plan sets the list right.
struct UserLayoutCall {
    static constexpr ChangeTag tag = ChangeTag::UserLayoutCall;
    std::wstring layout;
    bool uninstall = false;
    User user;
    // Taking the layout off: whether the user's list named it before, so
    // that undoing puts it back only on a list that had it.
    bool listed = true;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    MessageText description() const;
    bool operator==(const UserLayoutCall&) const = default;
};

// A profile's registry loaded from its file while no one uses it, under
// the installer's own name for it (hiveMountName), so that its list can
// be changed; or, once the run is done with it, written to disk and
// unloaded. Undoing does the other: unloading what was loaded, and
// loading again what was unloaded, so that what was changed in it before
// can be undone (where it cannot be loaded, that waits for the user). A
// registry loaded already under that name (by a killed run) is taken as
// it is.
struct ProfileHive {
    static constexpr ChangeTag tag = ChangeTag::ProfileHive;
    std::wstring profile;  // as User::sid names it
    std::wstring file;
    bool load = true;

    Outcome apply(System& system) const;
    Outcome undo(System& system) const;
    MessageText description() const;
    bool operator==(const ProfileHive&) const = default;
};

using Change = std::variant<CreateKey, SetValue, DeleteValue, DeleteKey, CancelRename, PlaceFile, RemoveFile,
                            Discard, CreateFolder, UserLayoutCall, ProfileHive>;

// One step: a change and, for a change that may fail without failing the
// run, the changes to make instead (the user's layout list edited
// directly when the system's call is missing or refuses; possibly none).
struct Step {
    Change change;
    std::optional<std::vector<Change>> otherwise;
};

Outcome apply(System& system, const Change& change);
// Gives back what the change replaced or removed, where nothing else has
// changed it since; a change in a user's registry that is not loaded
// waits for that user. Safe on a change that was never carried out.
Outcome undo(System& system, const Change& change);
// After the run: deletes what a change kept for undoing (the old file
// moved aside) and what it discarded; what is in use goes at the next
// restart, which nothing waits for. False when something could be
// neither deleted nor scheduled: the journal then stays for the next run.
bool settle(System& system, const Change& change);
MessageText description(const Change& change);

// The user whose registry the change is in; none for the machine's, and
// none for loading and unloading a registry, which need no user's.
std::optional<std::wstring> userOf(const Change& change);
// The key whose hive holds what the change wrote, to be flushed to disk
// before the run relies on it: its own key, the user's list, the loaded
// profile's, or the restart schedule's.
RegistryKey writtenKey(const Change& change);

}  // namespace setup
