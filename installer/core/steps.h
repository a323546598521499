// The changes an install or uninstall makes, one step each, with what was
// there before so that every step can be undone. Paths are the real
// Windows paths (the native System32 is "System32", whatever the bitness
// of the process that carries the step out).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "payload.h"

namespace setup {

// HKEY_LOCAL_MACHINE is always opened in its 64-bit view on 64-bit
// Windows. A user's keys are named under HKEY_USERS by the user's SID
// ("S-1-5-21-...\Keyboard Layout\Preload"), so that a step means the same
// user whoever carries it out or undoes it later.
enum class Hive { LocalMachine, Users };

struct RegistryKey {
    Hive hive;
    std::wstring path;
    bool operator==(const RegistryKey&) const = default;
};

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

// A key the step creates; it did not exist before.
struct CreateKey {
    RegistryKey key;
};
// A value written; prior is what it held, if it existed.
struct SetValue {
    RegistryKey key;
    std::wstring name;
    RegistryValue value;
    std::optional<RegistryValue> prior;
};
struct DeleteValue {
    RegistryKey key;
    std::wstring name;
    RegistryValue prior;
};
// A key without subkeys deleted, with the values it held.
struct DeleteKey {
    RegistryKey key;
    std::vector<NamedValue> prior;
};

// Where a placed file's bytes come from: a layout image, or the installer
// itself (the copy kept for uninstalling).
struct FileSource {
    std::optional<Form> image;  // empty: the installer's own file
    bool operator==(const FileSource&) const = default;
};

// A file written to `staged` in its folder, then swapped in. When a file
// was there (`replaces`), it is kept at `aside` until the run is over, so
// that undoing puts it back. Both names are fixed by the plan, so that a
// later run can undo what a run that was killed had begun.
struct PlaceFile {
    std::wstring path;
    FileSource source;
    bool replaces = false;
    std::wstring staged;
    std::wstring aside;
};
// A file moved to `aside`, where it is deleted once the run is over.
struct RemoveFile {
    std::wstring path;
    std::wstring aside;
};
// A file or folder of ours that nothing needs once the run is over (the
// new file of a replacement no longer wanted, the emptied folder of the
// kept copy): deleted then, or at the next restart. Until then it stays,
// so that undoing the run needs nothing back.
struct Discard {
    std::wstring path;
    bool folder = false;
};
struct CreateFolder {
    std::wstring path;
};
// An empty folder removed.
struct RemoveFolder {
    std::wstring path;
};

// The user whose keyboard list a run changes: the one signed in at the
// screen the installer runs on.
struct User {
    std::wstring sid;
    bool isProcessUser = true;  // the account the installer runs as
    bool operator==(const User&) const = default;
};

// The layout switched on or off in a user's list through the system's
// own call, with "<language id>:<KLID>".
struct UserLayoutCall {
    std::wstring layout;
    bool uninstall = false;
    User user;
};

using Change = std::variant<CreateKey, SetValue, DeleteValue, DeleteKey, PlaceFile, RemoveFile, Discard,
                            CreateFolder, RemoveFolder, UserLayoutCall>;

// One step: a change and, for a change that may fail without failing the
// run, the changes to make instead (the user's layout list edited
// directly when the system's call is missing or refuses; possibly none).
struct Step {
    Change change;
    std::optional<std::vector<Change>> otherwise;
};

// The changes that undo a registry, folder or user-layout change, from
// what it records of before. Files are undone by the run (file_changes.h).
std::vector<Change> inverse(const Change& change);

// One line for the log: what the change is and where.
std::wstring describe(const Change& change);

}  // namespace setup
