#include "win32_registry.h"

#include <algorithm>

#include "system_library.h"
#include "text.h"

namespace setup {
namespace {

// Not in the XP-level headers this file is compiled against.
constexpr REGSAM keyWow64_64Key = 0x0100;

HKEY root(Hive hive) { return hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_USERS; }

// Loading and unloading a registry need both privileges enabled, which an
// administrator's token holds disabled.
void enableHivePrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        return;
    for (const wchar_t* privilege : {L"SeRestorePrivilege", L"SeBackupPrivilege"}) {
        TOKEN_PRIVILEGES enable{1, {{{}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueW(nullptr, privilege, &enable.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &enable, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

// Closes a key when it goes out of scope.
class KeyHandle {
public:
    KeyHandle() = default;
    ~KeyHandle() {
        if (handle_)
            RegCloseKey(handle_);
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    HKEY* out() { return &handle_; }
    HKEY get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

}  // namespace

Registry::Registry(bool wow64) : view_(wow64 ? keyWow64_64Key : 0) {}

REGSAM Registry::view(Hive hive) const { return hive == Hive::LocalMachine ? view_ : 0; }

std::wstring Registry::located(const RegistryKey& key) const {
    if (key.hive != Hive::Users)
        return key.path;
    const std::size_t end = std::min(key.path.find(L'\\'), key.path.size());
    const std::wstring mount = hiveMountName(key.path.substr(0, end));
    return loadedAs(mount) ? mount + key.path.substr(end) : key.path;
}

LSTATUS Registry::open(const RegistryKey& key, REGSAM access, HKEY* handle) const {
    return RegOpenKeyExW(root(key.hive), located(key).c_str(), 0, access | view(key.hive), handle);
}

std::optional<std::vector<NamedValue>> Registry::values(const RegistryKey& key, bool* hasSubkeys,
                                                        LSTATUS* error) const {
    KeyHandle handle;
    *error = open(key, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, handle.out());
    if (*error != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<NamedValue> values;
    DWORD subkeys = 0, count = 0, longestName = 0, longestData = 0;
    *error = RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &count,
                              &longestName, &longestData, nullptr, nullptr);
    if (*error != ERROR_SUCCESS)
        return std::nullopt;
    if (hasSubkeys)
        *hasSubkeys = subkeys != 0;
    std::wstring name(longestName + 1, L'\0');
    std::vector<BYTE> data(longestData + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        *error = RegEnumValueW(handle.get(), i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (*error == ERROR_NO_MORE_ITEMS)
            break;
        if (*error == ERROR_MORE_DATA) {
            // The value grew since the key was measured: measure again.
            name.resize(name.size() * 2 + 256);
            data.resize(data.size() * 2 + 256);
            --i;
            continue;
        }
        if (*error != ERROR_SUCCESS)
            return std::nullopt;
        values.push_back({name.substr(0, nameLength), {type, {data.begin(), data.begin() + dataSize}}});
    }
    *error = ERROR_SUCCESS;
    return values;
}

std::optional<std::vector<std::wstring>> Registry::subkeys(const RegistryKey& key, LSTATUS* error) const {
    KeyHandle handle;
    *error = open(key, KEY_ENUMERATE_SUB_KEYS, handle.out());
    if (*error != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<std::wstring> names;
    // A key name has at most 255 characters.
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(std::size(name));
        *error = RegEnumKeyExW(handle.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (*error == ERROR_NO_MORE_ITEMS)
            break;
        if (*error != ERROR_SUCCESS)
            return std::nullopt;
        names.emplace_back(name, length);
    }
    *error = ERROR_SUCCESS;
    return names;
}

std::optional<RegistryValue> Registry::value(const RegistryKey& key, const std::wstring& name, LSTATUS* error) const {
    KeyHandle handle;
    *error = open(key, KEY_QUERY_VALUE, handle.out());
    if (*error != ERROR_SUCCESS)
        return std::nullopt;
    RegistryValue value;
    for (;;) {
        DWORD type = 0, size = static_cast<DWORD>(value.bytes.size());
        *error = RegQueryValueExW(handle.get(), name.c_str(), nullptr, &type, value.bytes.data(), &size);
        if (*error == ERROR_MORE_DATA || (*error == ERROR_SUCCESS && value.bytes.size() < size)) {
            value.bytes.resize(size);
            continue;
        }
        if (*error != ERROR_SUCCESS)
            return std::nullopt;
        value.type = type;
        value.bytes.resize(size);
        return value;
    }
}

LSTATUS Registry::createKey(const RegistryKey& key) const {
    KeyHandle handle;
    DWORD disposition = 0;
    const LSTATUS status = RegCreateKeyExW(root(key.hive), located(key).c_str(), 0, nullptr, 0, KEY_WRITE | view(key.hive),
                                           nullptr, handle.out(), &disposition);
    return status == ERROR_SUCCESS && disposition == REG_OPENED_EXISTING_KEY ? ERROR_ALREADY_EXISTS : status;
}

LSTATUS Registry::deleteKey(const RegistryKey& key) const {
    // RegDeleteKeyExW, which honours the view, is newer than XP; XP's
    // 64-bit edition has it.
    using DeleteKeyEx = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    static const auto deleteKeyEx =
        win32::procedure<DeleteKeyEx>(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW");
    if (view(key.hive) && deleteKeyEx)
        return deleteKeyEx(root(key.hive), key.path.c_str(), view(key.hive), 0);
    return RegDeleteKeyW(root(key.hive), located(key).c_str());
}

LSTATUS Registry::setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) const {
    KeyHandle handle;
    const LSTATUS status = open(key, KEY_SET_VALUE, handle.out());
    if (status != ERROR_SUCCESS)
        return status;
    return RegSetValueExW(handle.get(), name.c_str(), 0, value.type, value.bytes.data(),
                          static_cast<DWORD>(value.bytes.size()));
}

LSTATUS Registry::deleteValue(const RegistryKey& key, const std::wstring& name) const {
    KeyHandle handle;
    const LSTATUS status = open(key, KEY_SET_VALUE, handle.out());
    if (status != ERROR_SUCCESS)
        return status;
    return RegDeleteValueW(handle.get(), name.c_str());
}

bool Registry::loadedAs(const std::wstring& name) const {
    KeyHandle handle;
    return !name.empty() && RegOpenKeyExW(HKEY_USERS, name.c_str(), 0, KEY_READ, handle.out()) == ERROR_SUCCESS;
}

bool Registry::userHiveLoaded(const std::wstring& sid) const {
    return loadedAs(sid) || loadedAs(hiveMountName(sid));
}

LSTATUS Registry::loadHive(const std::wstring& profile, const std::wstring& file) const {
    const std::wstring mount = hiveMountName(profile);
    if (loadedAs(mount))
        return ERROR_ALREADY_EXISTS;
    enableHivePrivileges();
    const LSTATUS status = RegLoadKeyW(HKEY_USERS, mount.c_str(), file.c_str());
    // A load that fails may leave an empty key of that name (Wine's does).
    if (status != ERROR_SUCCESS)
        RegUnLoadKeyW(HKEY_USERS, mount.c_str());
    return status;
}

LSTATUS Registry::unloadHive(const std::wstring& profile) const {
    enableHivePrivileges();
    return RegUnLoadKeyW(HKEY_USERS, hiveMountName(profile).c_str());
}

std::vector<std::wstring> Registry::hivesLoadedByUs() const {
    const std::wstring_view prefix = hiveMountPrefix;
    LSTATUS error = ERROR_SUCCESS;
    std::vector<std::wstring> profiles;
    for (const std::wstring& name : subkeys({Hive::Users, L""}, &error).value_or(std::vector<std::wstring>{})) {
        if (name.size() > prefix.size() && equalNoCase(std::wstring_view(name).substr(0, prefix.size()), prefix))
            profiles.push_back(name.substr(prefix.size()));
    }
    return profiles;
}

LSTATUS Registry::flush(const RegistryKey& key) const {
    KeyHandle handle;
    const LSTATUS status = open(key, KEY_QUERY_VALUE, handle.out());
    if (status != ERROR_SUCCESS)
        return status;
    return RegFlushKey(handle.get());
}

}  // namespace setup
