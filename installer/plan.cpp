#include "plan.h"

#include <algorithm>

#include "text.h"
#include "version.h"

namespace setup {
namespace {

// Both bitnesses of Windows keep the native folder's name; 64-bit Windows
// keeps the 32-bit libraries apart.
std::wstring systemFolder(const std::wstring& windowsFolder) { return windowsFolder + L"\\System32"; }
std::wstring wow64Folder(const std::wstring& windowsFolder) { return windowsFolder + L"\\SysWOW64"; }

std::wstring layoutArgument(std::uint16_t languageId, const std::wstring& klid) {
    return hexDigits(languageId, 4) + L":" + klid;
}

RegistryKey layoutKeyPath(const std::wstring& klid) {
    return {Hive::LocalMachine, std::wstring(keyboardLayoutsPath) + L"\\" + klid};
}

const RegistryValue* find(const std::vector<NamedValue>& values, std::wstring_view name) {
    for (const NamedValue& named : values) {
        if (equalNoCase(named.name, name))
            return &named.value;
    }
    return nullptr;
}

// Creates the key if it is missing, then writes each value that differs.
void writeKey(Plan& plan, const RegistryKey& key, const std::vector<NamedValue>* existing,
              const std::vector<NamedValue>& wanted) {
    if (!existing)
        plan.steps.push_back({CreateKey{key}, std::nullopt});
    for (const NamedValue& value : wanted) {
        const RegistryValue* prior = existing ? find(*existing, value.name) : nullptr;
        if (!prior || !(*prior == value.value))
            plan.steps.push_back(
                {SetValue{key, value.name, value.value,
                          prior ? std::optional<RegistryValue>(*prior) : std::nullopt},
                 std::nullopt});
    }
}

void addChanges(Plan& plan, const std::vector<Change>& changes) {
    for (const Change& change : changes)
        plan.steps.push_back({change, std::nullopt});
}

std::uint32_t kibibytes(std::uint64_t bytes) { return static_cast<std::uint32_t>((bytes + 1023) / 1024); }

}  // namespace

std::vector<Placement> placements(Machine machine, const std::wstring& windowsFolder) {
    switch (machine) {
    case Machine::X86:
        return {{Form::X86, systemFolder(windowsFolder) + L"\\Kurd.dll"}};
    case Machine::X64:
        return {{Form::X64, systemFolder(windowsFolder) + L"\\Kurd.dll"},
                {Form::Wow64, wow64Folder(windowsFolder) + L"\\Kurd.dll"}};
    case Machine::Arm64:
        return {{Form::Arm64, systemFolder(windowsFolder) + L"\\Kurd.dll"},
                {Form::Wow64, wow64Folder(windowsFolder) + L"\\Kurd.dll"}};
    }
    return {};
}

FileState SystemFacts::file(const std::wstring& path) const {
    const auto found = files.find(path);
    return found == files.end() ? FileState::Absent : found->second;
}

std::wstring keptFolder(const SystemFacts& facts) {
    return facts.programFilesFolder + L"\\" + keptFolderName;
}

std::wstring keptCopy(const SystemFacts& facts) { return keptFolder(facts) + L"\\" + keptFileName; }

Plan planInstall(const SystemFacts& facts, const Package& package) {
    Plan plan;
    const RegistrationChoice choice =
        chooseRegistration(facts.layoutKeys, package.strings.layoutText, package.strings.languageId);
    if (!choice.registration) {
        plan.problem = choice.problem;
        return plan;
    }
    const Registration& registration = *choice.registration;
    plan.klid = registration.klid;

    std::uint64_t installedBytes = package.installerSize;
    for (const Placement& placement : placements(facts.machine, facts.windowsFolder)) {
        const auto size = package.imageSizes.find(placement.form);
        installedBytes += size == package.imageSizes.end() ? 0 : size->second;
        switch (facts.file(placement.path)) {
        case FileState::Foreign:
            plan.steps.clear();
            plan.problem = placement.path + L" is not a build of this layout; it was left as it is";
            return plan;
        case FileState::Identical:
            break;
        case FileState::Absent:
        case FileState::OtherBuild:
            plan.steps.push_back({PlaceFile{placement.path, {placement.form},
                                            facts.file(placement.path) == FileState::OtherBuild},
                                  std::nullopt});
            break;
        }
    }

    const auto existingKey =
        std::find_if(facts.layoutKeys.begin(), facts.layoutKeys.end(),
                     [&](const LayoutKey& key) { return equalNoCase(key.klid, registration.klid); });
    writeKey(plan, layoutKeyPath(registration.klid),
             existingKey == facts.layoutKeys.end() ? nullptr : &existingKey->values, registration.values);

    if (!enables(facts.userLayouts, registration.klid)) {
        const std::vector<Change> edits =
            appendLayout(facts.userLayouts, registration.klid, package.strings.languageId);
        if (facts.windowsMajor >= 6 && facts.userLayoutCallAvailable)
            plan.steps.push_back(
                {UserLayoutCall{layoutArgument(package.strings.languageId, registration.klid), false}, edits});
        else
            addChanges(plan, edits);
    }

    if (!facts.keptFolderExists)
        plan.steps.push_back({CreateFolder{keptFolder(facts)}, std::nullopt});
    const std::wstring copy = keptCopy(facts);
    const FileState copyState = facts.file(copy);
    if (copyState != FileState::Identical)
        plan.steps.push_back({PlaceFile{copy, {std::nullopt}, copyState != FileState::Absent}, std::nullopt});
    writeKey(plan, {Hive::LocalMachine, uninstallEntryPath},
             facts.uninstallEntry ? &*facts.uninstallEntry : nullptr,
             {
                 {L"DisplayName", stringValue(L"" PRODUCT_NAME)},
                 {L"DisplayVersion", stringValue(L"" PRODUCT_VERSION_TEXT)},
                 {L"Publisher", stringValue(L"" PRODUCT_MAKER)},
                 {L"DisplayIcon", stringValue(copy + L",0")},
                 {L"EstimatedSize", dwordValue(kibibytes(installedBytes))},
                 {L"UninstallString", stringValue(L"\"" + copy + L"\" /uninstall")},
                 {L"NoModify", dwordValue(1)},
                 {L"NoRepair", dwordValue(1)},
             });
    return plan;
}

Plan planUninstall(const SystemFacts& facts, const Package& package) {
    Plan plan;
    std::vector<std::wstring> klids;
    std::vector<const LayoutKey*> keys;
    for (const LayoutKey* key :
         ourLayoutKeys(facts.layoutKeys, package.strings.layoutText, package.strings.languageId)) {
        // A key with keys under it is more than a layout registration.
        if (!key->hasSubkeys) {
            keys.push_back(key);
            klids.push_back(key->klid);
        }
    }
    if (!klids.empty())
        plan.klid = klids.front();

    const std::vector<Change> edits = removeLayouts(facts.userLayouts, klids);
    if (facts.windowsMajor >= 6 && facts.userLayoutCallAvailable) {
        for (std::size_t i = 0; i < klids.size(); ++i)
            plan.steps.push_back({UserLayoutCall{layoutArgument(package.strings.languageId, klids[i]), true},
                                  i == 0 ? edits : std::vector<Change>{}});
    } else {
        addChanges(plan, edits);
    }
    for (const LayoutKey* key : keys)
        plan.steps.push_back({DeleteKey{layoutKeyPath(key->klid), key->values}, std::nullopt});

    for (const Placement& placement : placements(facts.machine, facts.windowsFolder)) {
        const FileState state = facts.file(placement.path);
        if (state == FileState::Identical || state == FileState::OtherBuild)
            plan.steps.push_back({RemoveFile{placement.path}, std::nullopt});
    }

    if (facts.uninstallEntry)
        plan.steps.push_back({DeleteKey{{Hive::LocalMachine, uninstallEntryPath}, *facts.uninstallEntry}, std::nullopt});
    if (facts.file(keptCopy(facts)) != FileState::Absent)
        plan.steps.push_back({RemoveFile{keptCopy(facts)}, std::nullopt});
    if (facts.keptFolderExists)
        plan.emptiedFolders.push_back(keptFolder(facts));
    return plan;
}

}  // namespace setup
