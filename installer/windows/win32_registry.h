// The registry as the installer uses it: HKEY_LOCAL_MACHINE in its 64-bit
// view on 64-bit Windows (the installer is a 32-bit program), users' keys
// under HKEY_USERS (under the installer's own name for a profile's
// registry while it has that loaded), profiles' registries loaded from
// their files, and values read and written as their exact bytes.
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
    // Whether a registry is loaded under HKEY_USERS by that name.
    bool loadedAs(const std::wstring& name) const;
    // Whether the user's registry is loaded under HKEY_USERS, by Windows
    // or by the installer.
    bool userHiveLoaded(const std::wstring& sid) const;
    // A profile's registry loaded from its file by the installer's name
    // for it (ERROR_ALREADY_EXISTS where that is loaded), and unloaded.
    LSTATUS loadHive(const std::wstring& profile, const std::wstring& file) const;
    LSTATUS unloadHive(const std::wstring& profile) const;
    std::vector<std::wstring> hivesLoadedByUs() const;

private:
    LSTATUS open(const RegistryKey& key, REGSAM access, HKEY* handle) const;
    REGSAM view(Hive hive) const;
    // The key's path below its root: a profile's keys under the
    // installer's name for it while it has that loaded.
    std::wstring located(const RegistryKey& key) const;

    REGSAM view_;
};

}  // namespace setup
