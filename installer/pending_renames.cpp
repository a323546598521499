#include "pending_renames.h"

#include "text.h"

namespace setup {

std::vector<std::wstring> splitMultiString(std::wstring_view value) {
    std::vector<std::wstring> strings;
    std::wstring current;
    for (const wchar_t c : value) {
        if (c == L'\0') {
            strings.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        strings.push_back(current);
    // The value ends with an empty string; it is not an entry.
    while (!strings.empty() && strings.back().empty() && strings.size() % 2 == 1)
        strings.pop_back();
    return strings;
}

std::wstring joinMultiString(const std::vector<std::wstring>& strings) {
    std::wstring value;
    for (const std::wstring& s : strings) {
        value += s;
        value += L'\0';
    }
    value += L'\0';
    return value;
}

std::vector<std::wstring> withoutPendingSource(const std::vector<std::wstring>& pairs, std::wstring_view path) {
    constexpr std::wstring_view prefix = L"\\??\\";
    const auto bare = [&](std::wstring_view s) {
        return s.substr(0, prefix.size()) == prefix ? s.substr(prefix.size()) : s;
    };
    std::vector<std::wstring> kept;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        if (!equalNoCase(bare(pairs[i]), bare(path))) {
            kept.push_back(pairs[i]);
            kept.push_back(pairs[i + 1]);
        }
    }
    if (pairs.size() % 2 == 1)
        kept.push_back(pairs.back());
    return kept;
}

}  // namespace setup
