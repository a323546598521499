// The changes an install or uninstall makes, one step each, with what was
// there before so that every step can be undone. Paths are the real
// Windows paths (the native System32 is "System32", whatever the bitness
// of the process that carries the step out).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "payload.h"

namespace setup {

// HKEY_LOCAL_MACHINE is always opened in its 64-bit view on 64-bit Windows.
enum class Hive { LocalMachine, CurrentUser };

struct RegistryKey {
    Hive hive;
    std::wstring path;
    bool operator==(const RegistryKey&) const = default;
};

// A value as the installer writes it (a string, an expandable string, a
// number), or any other value kept as its type and bytes, so that a key
// deleted with it can be put back as it was.
struct RegistryValue {
    enum class Kind { String, ExpandString, Dword, Other } kind = Kind::String;
    std::wstring text;
    std::uint32_t number = 0;       // Dword; for Other, the registry type
    std::vector<std::uint8_t> bytes;  // Other
    bool operator==(const RegistryValue&) const = default;
};

RegistryValue stringValue(std::wstring text);
RegistryValue expandStringValue(std::wstring text);
RegistryValue dwordValue(std::uint32_t number);

struct NamedValue {
    std::wstring name;
    RegistryValue value;
    bool operator==(const NamedValue&) const = default;
};

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

// A file written through a temporary name in its folder; replaces says
// whether an older file is there.
struct PlaceFile {
    std::wstring path;
    FileSource source;
    bool replaces;
};
struct RemoveFile {
    std::wstring path;
};
struct CreateFolder {
    std::wstring path;
};
// An empty folder removed.
struct RemoveFolder {
    std::wstring path;
};
// The layout switched on or off for the current user through the system's
// own call, with "<language id>:<KLID>".
struct UserLayoutCall {
    std::wstring layout;
    bool uninstall;
};

using Change = std::variant<CreateKey, SetValue, DeleteValue, DeleteKey, PlaceFile, RemoveFile,
                            CreateFolder, RemoveFolder, UserLayoutCall>;

// One step: a change and, for a change that may fail without failing the
// run, the changes to make instead (the user's layout list edited
// directly when the system's call is missing or refuses; possibly none).
struct Step {
    Change change;
    std::optional<std::vector<Change>> otherwise;
};

// The changes that undo a registry, folder or user-layout change, from
// what it records of before. Files have none here: the executor restores
// them from the names it moved them to.
std::vector<Change> inverse(const Change& change);

// One line for the log: what the change is and where.
std::wstring describe(const Change& change);

}  // namespace setup
