#include "steps.h"

#include <algorithm>

#include "pending_renames.h"
#include "system.h"
#include "text.h"
#include "user_layouts.h"

namespace setup {
namespace {

std::vector<std::uint8_t> utf16Bytes(std::wstring_view text) {
    std::vector<std::uint8_t> bytes;
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8 & 0xFF));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

}  // namespace

std::wstring keyText(const RegistryKey& key) {
    return (key.hive == Hive::LocalMachine ? L"HKLM\\" : L"HKU\\") + key.path;
}

RegistryKey parentKey(const RegistryKey& key) {
    const std::size_t last = key.path.find_last_of(L'\\');
    return {key.hive, last == std::wstring::npos ? std::wstring() : key.path.substr(0, last)};
}

std::optional<std::wstring> RegistryValue::text() const {
    if (type != regSz && type != regExpandSz)
        return std::nullopt;
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8);
        if (c == L'\0')
            break;
        text += c;
    }
    return text;
}

RegistryValue stringValue(std::wstring_view text) { return {regSz, utf16Bytes(text)}; }
RegistryValue expandStringValue(std::wstring_view text) { return {regExpandSz, utf16Bytes(text)}; }
RegistryValue dwordValue(std::uint32_t number) {
    return {regDword,
            {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
             static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)}};
}
RegistryValue binaryValue(std::vector<std::uint8_t> bytes) { return {regBinary, std::move(bytes)}; }

const RegistryValue* findValue(const std::vector<NamedValue>& values, std::wstring_view name) {
    for (const NamedValue& named : values) {
        if (equalNoCase(named.name, name))
            return &named.value;
    }
    return nullptr;
}

std::vector<NumberedValue> numberedValues(const std::vector<NamedValue>& values) {
    std::vector<NumberedValue> numbered;
    for (const NamedValue& value : values) {
        const auto number = parseDecimal(value.name);
        if (!number)
            continue;
        // The lists are short: each goes straight to its place.
        const auto place = std::find_if(numbered.begin(), numbered.end(),
                                        [&](const NumberedValue& n) { return n.number > *number; });
        numbered.insert(place, {*number, &value});
    }
    return numbered;
}

std::wstring hiveMountName(const std::wstring& profile) { return hiveMountPrefix + profile; }

std::wstring userRegistryPath(const User& user, bool loadedByUs) {
    return L"HKEY_USERS\\" + (loadedByUs ? hiveMountName(user.sid) : user.sid);
}

bool inUseOrDenied(std::uint32_t error) {
    return error == winerror::accessDenied || error == winerror::sharingViolation ||
           error == winerror::lockViolation || error == winerror::userMappedFile;
}

bool isGone(std::uint32_t error) { return error == winerror::fileNotFound || error == winerror::pathNotFound; }

Outcome apply(System& system, const Change& change) {
    return std::visit([&](const auto& c) { return c.apply(system); }, change);
}

Outcome undo(System& system, const Change& change) {
    if (const auto user = userOf(change); user && !system.userHiveLoaded(*user))
        return {0, false, true, false};
    return std::visit([&](const auto& c) { return c.undo(system); }, change);
}

bool settle(System& system, const Change& change) {
    return std::visit(
        [&](const auto& c) {
            if constexpr (requires { c.settle(system); })
                return c.settle(system);
            else
                return true;
        },
        change);
}

MessageText description(const Change& change) {
    return std::visit([](const auto& c) { return c.description(); }, change);
}

std::optional<std::wstring> userOf(const RegistryKey& key) {
    if (key.hive != Hive::Users)
        return std::nullopt;
    return key.path.substr(0, key.path.find(L'\\'));
}

std::optional<std::wstring> userOf(const Change& change) {
    return std::visit(
        [&](const auto& c) -> std::optional<std::wstring> {
            if constexpr (requires { c.key; })
                return userOf(c.key);
            else if constexpr (requires { c.user; })
                return c.user.sid;
            else
                return std::nullopt;
        },
        change);
}

RegistryKey writtenKey(const Change& change) {
    const RegistryKey schedule{Hive::LocalMachine, sessionManagerPath};
    return std::visit(
        [&](const auto& c) {
            if constexpr (requires { c.key; })
                return c.key;
            else if constexpr (requires { c.user; })
                return preloadKey(c.user);
            else if constexpr (requires { c.profile; })
                return RegistryKey{Hive::Users, c.profile};
            else
                return schedule;
        },
        change);
}

}  // namespace setup
