// setup7.exe / setup8.exe stand-ins: record how they were started, as
// "path<TAB>command line" in UTF-8, one line per start, appended to the
// file named by SETUP_STUB_LOG (default: setup-stub.log next to the
// program), then exit.
#include <windows.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace {

std::wstring modulePath() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring path = modulePath();
    std::wstring log(32768, L'\0');
    log.resize(GetEnvironmentVariableW(L"SETUP_STUB_LOG", log.data(), static_cast<DWORD>(log.size())));
    if (log.empty())
        log = path.substr(0, path.find_last_of(L'\\') + 1) + L"setup-stub.log";
    const std::string line = utf8(path) + "\t" + utf8(GetCommandLineW()) + "\n";
    // Appending through one handle keeps concurrent starts on separate lines.
    HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
