#include "steps.h"

#include <algorithm>

#include "overloaded.h"
#include "text.h"

namespace setup {
namespace {

std::wstring keyName(const RegistryKey& key) {
    return (key.hive == Hive::LocalMachine ? L"HKLM\\" : L"HKU\\") + key.path;
}

std::wstring valueText(const RegistryValue& value) {
    if (const auto text = value.text())
        return L"\"" + *text + L"\"";
    if (value.type == regDword && value.bytes.size() == 4)
        return decimal(static_cast<std::uint32_t>(value.bytes[0] | value.bytes[1] << 8 | value.bytes[2] << 16 |
                                                  static_cast<std::uint32_t>(value.bytes[3]) << 24));
    return decimal(static_cast<std::uint32_t>(value.bytes.size())) + L" bytes of type " + decimal(value.type);
}

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

std::vector<Change> inverse(const Change& change) {
    return std::visit(
        Overloaded{
            [](const CreateKey& c) -> std::vector<Change> { return {DeleteKey{c.key, {}}}; },
            [](const SetValue& c) -> std::vector<Change> {
                if (c.prior)
                    return {SetValue{c.key, c.name, *c.prior, c.value}};
                return {DeleteValue{c.key, c.name, c.value}};
            },
            [](const DeleteValue& c) -> std::vector<Change> {
                return {SetValue{c.key, c.name, c.prior, std::nullopt}};
            },
            [](const DeleteKey& c) -> std::vector<Change> {
                std::vector<Change> changes{CreateKey{c.key}};
                for (const NamedValue& value : c.prior)
                    changes.push_back(SetValue{c.key, value.name, value.value, std::nullopt});
                return changes;
            },
            [](const PlaceFile&) -> std::vector<Change> { return {}; },
            [](const RemoveFile&) -> std::vector<Change> { return {}; },
            [](const Discard&) -> std::vector<Change> { return {}; },
            [](const CreateFolder& c) -> std::vector<Change> { return {RemoveFolder{c.path}}; },
            [](const RemoveFolder& c) -> std::vector<Change> { return {CreateFolder{c.path}}; },
            [](const UserLayoutCall& c) -> std::vector<Change> {
                return {UserLayoutCall{c.layout, !c.uninstall, c.user}};
            },
        },
        change);
}

std::wstring describe(const Change& change) {
    return std::visit(
        Overloaded{
            [](const CreateKey& c) { return L"create key " + keyName(c.key); },
            [](const SetValue& c) {
                return L"set " + keyName(c.key) + L" \"" + c.name + L"\" = " + valueText(c.value);
            },
            [](const DeleteValue& c) { return L"delete " + keyName(c.key) + L" \"" + c.name + L"\""; },
            [](const DeleteKey& c) { return L"delete key " + keyName(c.key); },
            [](const PlaceFile& c) { return (c.replaces ? L"replace " : L"write ") + c.path; },
            [](const RemoveFile& c) { return L"delete " + c.path; },
            [](const Discard& c) { return L"discard " + c.path; },
            [](const CreateFolder& c) { return L"create folder " + c.path; },
            [](const RemoveFolder& c) { return L"remove folder " + c.path; },
            [](const UserLayoutCall& c) {
                return std::wstring(c.uninstall ? L"disable" : L"enable") + L" layout " + c.layout +
                       L" for user " + c.user.sid;
            },
        },
        change);
}

}  // namespace setup
