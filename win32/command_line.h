// The program's own arguments, taken from the command line as Windows hands
// it to a program: the program name first, then whatever followed it.
// Shared by the launcher and the installer; no Windows header, so it is
// tested on the host.
#pragma once

#include <string_view>

namespace win32 {

// A blank that separates a command line's arguments.
constexpr bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// What follows the program name and the one blank after it on a process
// command line, otherwise unchanged. The program name ends at the first
// blank outside double quotes.
constexpr std::wstring_view argumentText(std::wstring_view commandLine) {
    bool quoted = false;
    std::size_t i = 0;
    for (; i < commandLine.size(); ++i) {
        const wchar_t c = commandLine[i];
        if (c == L'"')
            quoted = !quoted;
        else if (!quoted && isBlank(c))
            break;
    }
    if (i < commandLine.size())
        ++i;
    return commandLine.substr(i);
}

}  // namespace win32
