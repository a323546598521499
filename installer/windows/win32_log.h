// The /log file: one UTF-8 line per step, written as it happens, added to
// the end of the file. An existing file is never truncated or replaced,
// and nothing but a plain file on a disk is written to, never through a
// link: the installer runs elevated, and the path may come from anyone's
// shortcut.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace setup {

class Log {
public:
    // No file: the lines go nowhere.
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Opens path for appending, creating it if missing; the Windows error
    // if it cannot. What it opened is closed again, with *problem set
    // (logFileProblem), when it is no plain file.
    DWORD open(const std::wstring& path, unsigned* problem);
    void line(std::wstring_view text);

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

std::string utf8(std::wstring_view text);

}  // namespace setup
