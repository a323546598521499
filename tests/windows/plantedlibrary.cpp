// A library planted beside a program, as a download folder could hold one:
// copied under the name of any system library (shell32.dll, usp10.dll,
// version.dll, ...). It exports nothing. If it is ever loaded, it appends
// "its path<TAB>the program's path" in UTF-8 to the file named by
// PLANTED_DLL_LOG, so a test can tell which copy was loaded, and into which
// program.
#include <windows.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace {

std::wstring modulePath(HMODULE module) {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t log[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"PLANTED_DLL_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    const std::string line = utf8(modulePath(self)) + "\t" + utf8(modulePath(nullptr)) + "\n";
    // One append through one handle keeps lines from several processes apart.
    HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}
