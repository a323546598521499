// Small text helpers for names that Windows compares without regard to
// case: registry key and value names, file names, switches. Only ASCII
// letters fold; every name the installer compares is ASCII.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace setup {

constexpr wchar_t lowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

constexpr bool equalNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

// Lowercase hex of value, exactly digits long.
std::wstring hexDigits(std::uint32_t value, int digits);

// The value in decimal digits (the run-time's number formatting would
// bring its locale machinery along).
std::wstring decimal(std::uint32_t value);

// The value of text if it is exactly digits hex digits (either case).
std::optional<std::uint32_t> parseHex(std::wstring_view text, int digits);

// The value of text if it is a plain decimal number (as Preload names are).
std::optional<std::uint32_t> parseDecimal(std::wstring_view text);

}  // namespace setup
