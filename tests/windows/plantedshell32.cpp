// A shell32.dll planted beside the launcher, as a download folder could hold
// one. If the launcher ever loads it, it appends its own path to the file
// named by PLANTED_DLL_LOG, so the test can tell.
#include <windows.h>

#include <cstdio>
#include <string>

#include "utf8.h"

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t log[MAX_PATH];
    if (!GetEnvironmentVariableW(L"PLANTED_DLL_LOG", log, MAX_PATH))
        return TRUE;
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size())));
    if (FILE* file = _wfopen(log, L"ab")) {
        std::fprintf(file, "%s\n", utf8(path).c_str());
        std::fclose(file);
    }
    return TRUE;
}
