// The registry as the installer uses it: HKEY_LOCAL_MACHINE in its 64-bit
// view on 64-bit Windows (the installer is a 32-bit program), users' keys
// under HKEY_USERS, and values read and written as their exact bytes.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "steps.h"

namespace setup {

class Registry {
public:
    explicit Registry(bool wow64);

    // The key's values and whether it has subkeys; nothing, with error set,
    // when the key is missing (ERROR_FILE_NOT_FOUND) or cannot be read
    // whole: a value that cannot be read is never left out.
    std::optional<std::vector<NamedValue>> values(const RegistryKey& key, bool* hasSubkeys, LSTATUS* error) const;
    std::optional<std::vector<std::wstring>> subkeys(const RegistryKey& key, LSTATUS* error) const;
    std::optional<RegistryValue> value(const RegistryKey& key, const std::wstring& name, LSTATUS* error) const;

    // ERROR_ALREADY_EXISTS for a key that was there.
    LSTATUS createKey(const RegistryKey& key) const;
    LSTATUS deleteKey(const RegistryKey& key) const;
    LSTATUS setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) const;
    LSTATUS deleteValue(const RegistryKey& key, const std::wstring& name) const;
    LSTATUS flush(const RegistryKey& key) const;
    // Whether the user's registry is loaded under HKEY_USERS.
    bool userHiveLoaded(const std::wstring& sid) const;

private:
    LSTATUS open(const RegistryKey& key, REGSAM access, HKEY* handle) const;
    REGSAM view(Hive hive) const;

    REGSAM view_;
};

}  // namespace setup
