// input.dll stand-in for the installer tests (Wine has no input.dll). Put in
// the system folder the 32-bit installer sees (SysWOW64 in a 64-bit prefix),
// it records every InstallLayoutOrTip call as "<profile text><TAB>0x<flags>"
// in UTF-8, one line per call, appended to the file named by INPUT_STUB_LOG,
// and returns TRUE, or FALSE when INPUT_STUB_RESULT is 0. A call of
// InstallLayoutOrTipUserReg adds the user's registry path it was given and
// that registry's list as it is during the call, loaded where the path says:
// "<TAB><path><TAB>Preload 1=...,2=...<TAB>Substitutes <id>=...".
#include <windows.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace {

// The values of a key as "name=text,...", or "(none)" where it cannot be
// opened.
std::wstring valuesOf(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_USERS, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"(none)";
    std::wstring text;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], data[256] = {};
        DWORD nameLength = 256, dataSize = sizeof data - sizeof(wchar_t);
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &dataSize) !=
            ERROR_SUCCESS)
            break;
        text += (i ? L"," : L"") + std::wstring(name) + L"=" + data;
    }
    RegCloseKey(key);
    return text;
}

BOOL record(LPCWSTR profile, DWORD flags, const std::wstring& more) {
    wchar_t log[MAX_PATH];
    if (GetEnvironmentVariableW(L"INPUT_STUB_LOG", log, MAX_PATH)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", flags);
        const std::string line = (profile ? utf8(profile) : std::string("(null)")) + "\t" + hex + utf8(more) + "\n";
        HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    wchar_t result[4];
    return !(GetEnvironmentVariableW(L"INPUT_STUB_RESULT", result, 4) == 1 && result[0] == L'0');
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI InstallLayoutOrTip(LPCWSTR profile, DWORD flags) {
    return record(profile, flags, L"");
}

extern "C" __declspec(dllexport) BOOL WINAPI InstallLayoutOrTipUserReg(LPCWSTR userRegistry, LPCWSTR, LPCWSTR,
                                                                       LPCWSTR profile, DWORD flags) {
    const std::wstring path = userRegistry ? userRegistry : L"";
    const std::wstring prefix = L"HKEY_USERS\\";
    const std::wstring below = path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
    return record(profile, flags,
                  L"\t" + path + L"\tPreload " + valuesOf(below + L"\\Keyboard Layout\\Preload") + L"\tSubstitutes " +
                      valuesOf(below + L"\\Keyboard Layout\\Substitutes"));
}
