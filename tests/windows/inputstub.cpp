// input.dll stand-in for the installer tests (Wine has no input.dll). Put in
// the system folder the 32-bit installer sees (SysWOW64 in a 64-bit prefix),
// it records every InstallLayoutOrTip call as "<profile text><TAB>0x<flags>"
// in UTF-8, one line per call, appended to the file named by INPUT_STUB_LOG,
// and returns TRUE, or FALSE when INPUT_STUB_RESULT is 0.
#include <windows.h>

#include <cstdio>
#include <string>

#include "utf8.h"

extern "C" __declspec(dllexport) BOOL WINAPI InstallLayoutOrTip(LPCWSTR profile, DWORD flags) {
    wchar_t log[MAX_PATH];
    if (GetEnvironmentVariableW(L"INPUT_STUB_LOG", log, MAX_PATH)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", flags);
        const std::string line = (profile ? utf8(profile) : std::string("(null)")) + "\t" + hex + "\n";
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
