#include "text.h"

namespace setup {

std::wstring hexDigits(std::uint32_t value, int digits) {
    std::wstring text(static_cast<std::size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = L"0123456789abcdef"[value & 0xF];
    return text;
}

std::wstring decimal(std::uint32_t value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

std::optional<std::uint32_t> parseHex(std::wstring_view text, int digits) {
    if (text.size() != static_cast<std::size_t>(digits) || digits > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const wchar_t c : text) {
        const wchar_t lower = lowerAscii(c);
        if (lower >= L'0' && lower <= L'9')
            value = value << 4 | static_cast<std::uint32_t>(lower - L'0');
        else if (lower >= L'a' && lower <= L'f')
            value = value << 4 | static_cast<std::uint32_t>(lower - L'a' + 10);
        else
            return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> parseDecimal(std::wstring_view text) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - L'0');
    }
    return value;
}

}  // namespace setup
