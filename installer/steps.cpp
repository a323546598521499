#include "steps.h"

namespace setup {
namespace {

std::wstring keyName(const RegistryKey& key) {
    return (key.hive == Hive::LocalMachine ? L"HKLM\\" : L"HKCU\\") + key.path;
}

std::wstring valueText(const RegistryValue& value) {
    switch (value.kind) {
    case RegistryValue::Kind::Dword:
        return std::to_wstring(value.number);
    case RegistryValue::Kind::Other:
        return std::to_wstring(value.bytes.size()) + L" bytes of type " + std::to_wstring(value.number);
    default:
        return L"\"" + value.text + L"\"";
    }
}

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

}  // namespace

RegistryValue stringValue(std::wstring text) { return {RegistryValue::Kind::String, std::move(text), 0, {}}; }
RegistryValue expandStringValue(std::wstring text) {
    return {RegistryValue::Kind::ExpandString, std::move(text), 0, {}};
}
RegistryValue dwordValue(std::uint32_t number) { return {RegistryValue::Kind::Dword, {}, number, {}}; }

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
            [](const CreateFolder& c) -> std::vector<Change> { return {RemoveFolder{c.path}}; },
            [](const RemoveFolder& c) -> std::vector<Change> { return {CreateFolder{c.path}}; },
            [](const UserLayoutCall& c) -> std::vector<Change> {
                return {UserLayoutCall{c.layout, !c.uninstall}};
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
            [](const CreateFolder& c) { return L"create folder " + c.path; },
            [](const RemoveFolder& c) { return L"remove folder " + c.path; },
            [](const UserLayoutCall& c) {
                return std::wstring(c.uninstall ? L"disable" : L"enable") + L" layout " + c.layout +
                       L" for the current user";
            },
        },
        change);
}

}  // namespace setup
