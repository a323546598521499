#include "pending_renames.h"

#include "text.h"

namespace setup {
namespace {

std::vector<std::wstring> strings(const RegistryValue& value) {
    std::vector<std::wstring> strings;
    std::wstring current;
    for (std::size_t i = 0; i + 1 < value.bytes.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(value.bytes[i] | value.bytes[i + 1] << 8);
        if (c == L'\0') {
            strings.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        strings.push_back(current);
    // The value ends with an empty string; it is not a target.
    if (strings.size() % 2 == 1 && strings.back().empty())
        strings.pop_back();
    return strings;
}

}  // namespace

std::vector<PendingRename> pendingRenames(const RegistryValue& value) {
    const std::vector<std::wstring> all = strings(value);
    std::vector<PendingRename> renames;
    for (std::size_t i = 0; i < all.size(); i += 2)
        renames.push_back({all[i], i + 1 < all.size() ? all[i + 1] : std::wstring()});
    return renames;
}

RegistryValue pendingRenamesValue(const std::vector<PendingRename>& renames) {
    RegistryValue value{regMultiSz, {}};
    const auto append = [&value](std::wstring_view text) {
        for (const wchar_t c : text) {
            value.bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
            value.bytes.push_back(static_cast<std::uint8_t>(c >> 8 & 0xFF));
        }
        value.bytes.push_back(0);
        value.bytes.push_back(0);
    };
    for (const PendingRename& rename : renames) {
        append(rename.source);
        append(rename.target);
    }
    append(L"");
    return value;
}

std::wstring_view plainPath(std::wstring_view stored) {
    if (!stored.empty() && stored.front() == L'!')
        stored.remove_prefix(1);
    constexpr std::wstring_view prefix = L"\\??\\";
    if (stored.substr(0, prefix.size()) == prefix)
        stored.remove_prefix(prefix.size());
    return stored;
}

std::wstring storedPath(std::wstring_view path) { return L"\\??\\" + std::wstring(path); }

std::uint32_t unschedule(System& system, const std::wstring& source) {
    return editSchedule(system, [&](std::vector<PendingRename>& renames) {
        return std::erase_if(renames, [&](const PendingRename& r) { return equalNoCase(plainPath(r.source), source); }) != 0;
    });
}

}  // namespace setup
