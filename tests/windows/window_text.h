// What the probes read from windows, as they report it: a window's text,
// and text as hex code points so that Arabic script survives any console.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

inline std::wstring windowText(HWND window) {
    std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
    text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
    return text;
}

inline std::string codePoints(const std::wstring& text) {
    std::string result;
    char unit[8];
    for (wchar_t c : text) {
        std::snprintf(unit, sizeof unit, "%s%04X", result.empty() ? "" : " ", static_cast<unsigned>(c));
        result += unit;
    }
    return result;
}
