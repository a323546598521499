#include "plan.h"

#include <algorithm>
#include <array>

#include "pending_renames.h"
#include "resource.h"
#include "text.h"
#include "version.h"

namespace setup {
namespace {

// Both bitnesses of Windows keep the native folder's name; 64-bit Windows
// keeps the 32-bit libraries apart.
std::wstring systemFolder(const std::wstring& windowsFolder) { return windowsFolder + L"\\System32"; }
std::wstring wow64Folder(const std::wstring& windowsFolder) { return windowsFolder + L"\\SysWOW64"; }

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

bool contains(const std::vector<std::wstring>& paths, std::wstring_view path) {
    return std::any_of(paths.begin(), paths.end(), [&](const std::wstring& p) { return equalNoCase(p, path); });
}

// The names a run gives a file on its way in or out, beside it: only
// this package makes names of this shape.
std::wstring stagedName(const std::wstring& path, const SystemFacts& facts) {
    return path + L"." + facts.runToken + L".new";
}
std::wstring asideName(const std::wstring& path, const SystemFacts& facts) {
    return path + L"." + facts.runToken + L".old";
}
bool isTemporaryOf(std::wstring_view name, std::wstring_view path) {
    constexpr std::size_t tokenAndSuffix = 1 + 8 + 4;  // ".1a2b3c4d.new"
    if (name.size() != path.size() + tokenAndSuffix || !equalNoCase(name.substr(0, path.size()), path))
        return false;
    const std::wstring_view rest = name.substr(path.size());
    const std::wstring_view suffix = rest.substr(9);
    return rest[0] == L'.' && parseHex(rest.substr(1, 8), 8) && (equalNoCase(suffix, L".new") || equalNoCase(suffix, L".old"));
}

// "<language id>:<KLID>", the language read from the KLID's own name.
std::wstring layoutArgument(const std::wstring& klid) { return klid.substr(4) + L":" + klid; }

// Creates the key if it is missing, then writes each value that differs.
void writeKey(Plan& plan, const RegistryKey& key, const std::vector<NamedValue>* existing,
              const std::vector<NamedValue>& wanted) {
    if (!existing)
        plan.steps.push_back({CreateKey{key}, std::nullopt});
    for (const NamedValue& value : wanted) {
        const RegistryValue* prior = existing ? findValue(*existing, value.name) : nullptr;
        if (!prior || !(*prior == value.value))
            plan.steps.push_back(
                {SetValue{key, value.name, value.value,
                          prior ? std::optional<RegistryValue>(*prior) : std::nullopt},
                 std::nullopt});
    }
}

bool userLayoutCallUsable(const SystemFacts& facts) {
    // The call exists from Windows Vista on.
    return facts.windowsVersion >= 600 && facts.userLayoutCallAvailable;
}

std::uint32_t kibibytes(std::uint64_t bytes) { return static_cast<std::uint32_t>((bytes + 1023) / 1024); }

std::optional<Problem> machineProblem(const SystemFacts& facts) {
    if (!facts.machine)
        return Problem{IDS_UNKNOWN_PROCESSOR, {decimal(facts.processorArchitecture)}};
    if (facts.programFilesFolder.empty())
        return Problem{IDS_NO_PROGRAM_FILES, {}};
    return std::nullopt;
}

// A file of ours that another program holds without sharing reading
// cannot be judged: nothing is changed until it is free.
std::optional<Problem> fileInUse(const SystemFacts& facts) {
    for (const FileFact& file : facts.files) {
        if (file.state == FileState::InUse)
            return Problem{IDS_FILE_IN_USE, {file.path}};
    }
    return std::nullopt;
}

// A version's four numbers; nothing where it is not four numbers.
std::optional<std::array<std::uint32_t, 4>> versionNumbers(std::wstring_view text) {
    std::array<std::uint32_t, 4> numbers{};
    for (std::uint32_t& number : numbers) {
        const std::size_t end = std::min(text.find(L'.'), text.size());
        const auto parsed = parseDecimal(text.substr(0, end));
        if (!parsed || (&number != &numbers.back()) == (end == text.size()))
            return std::nullopt;
        number = *parsed;
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return numbers;
}

// The version an earlier install wrote into its Programs and Features
// entry, where that is four numbers.
std::optional<std::wstring> installedVersion(const SystemFacts& facts) {
    const RegistryValue* version = facts.uninstallEntry ? findValue(*facts.uninstallEntry, L"DisplayVersion") : nullptr;
    const auto text = version ? version->text() : std::nullopt;
    return text && versionNumbers(*text) ? text : std::nullopt;
}

// Operations that the restart would carry out on our files: taken back,
// so that the restart leaves what this run reports. The files they
// would have moved in are ours and go once the run is over; operations
// on anything else stay.
void takeBackScheduled(Plan& plan, const SystemFacts& facts) {
    if (!facts.pendingRenames)
        return;
    std::vector<std::wstring> ours = ourFiles(facts);
    for (const std::wstring& folder : ourFolders(facts))
        ours.push_back(folder);
    std::vector<std::wstring> discarded;
    for (const PendingRename& rename : pendingRenames(*facts.pendingRenames)) {
        const std::wstring_view source = plainPath(rename.source);
        if (!contains(ours, source) && (rename.target.empty() || !contains(ours, plainPath(rename.target))))
            continue;
        plan.steps.push_back({CancelRename{rename.source, rename.target}, std::nullopt});
        for (const std::wstring& path : ours) {
            if (isTemporaryOf(source, path))
                discarded.emplace_back(source);
        }
    }
    for (const std::wstring& path : discarded)
        plan.steps.push_back({Discard{path, false}, std::nullopt});
}

// Each user's list at the screen, as plan.lists says.
void changeUsersLists(Plan& plan, const SystemFacts& facts) {
    for (const UserTarget& target : facts.users) {
        for (Step& step : listSteps(target, plan.lists, userLayoutCallUsable(facts), &plan.editsListDirectly))
            plan.steps.push_back(std::move(step));
    }
    if (facts.users.empty())
        plan.noUser = facts.whyNoUser;
}

// Every profile but the user's at the screen and the services', each
// with how the run reaches it; none where no list is to change.
void reachProfiles(Plan& plan, const SystemFacts& facts) {
    if (plan.lists.remove.empty() && !plan.lists.add)
        return;
    plan.profilesAt = plan.steps.size();
    // The system's call for another user's registry serves from Windows 8
    // on; before, a profile's list is edited as Windows reads it.
    plan.profileCallUsable = facts.windowsVersion >= 602 && facts.userLayoutCallAvailable;
    for (const Profile& profile : facts.profiles) {
        if (isServiceAccount(profile.name) ||
            std::any_of(facts.users.begin(), facts.users.end(),
                        [&](const UserTarget& t) { return equalNoCase(t.user.sid, profile.name); }))
            continue;
        // Signed in, a roaming profile is the one Windows has loaded.
        const Reach reach = profile.loaded    ? Reach::Loaded
                            : profile.roaming ? Reach::Roaming
                            : profile.folderExists ? Reach::FromFile
                                                   : Reach::NoFolder;
        plan.profiles.push_back({User{profile.name, false, false}, profile.folder, reach});
    }
}

bool isOurFile(FileState state) { return state == FileState::Identical || state == FileState::OtherBuild; }

void removeFile(Plan& plan, const SystemFacts& facts, const std::wstring& path) {
    if (isOurFile(facts.file(path)))
        plan.steps.push_back({RemoveFile{path, asideName(path, facts)}, std::nullopt});
}

}  // namespace

std::vector<Step> listSteps(const UserTarget& target, const ListChange& change, bool callUsable, bool* editsDirectly) {
    std::vector<Step> steps;
    const std::vector<Change> removal = removeLayouts(target.user, target.layouts, change.remove);
    for (const Change& edit : removal)
        steps.push_back({edit, std::nullopt});
    // The call's refusal to take a layout off changes nothing here.
    if (callUsable) {
        for (const std::wstring& klid : change.remove)
            steps.push_back({UserLayoutCall{layoutArgument(klid), true, target.user, enables(target.layouts, klid)},
                             std::vector<Change>{}});
    }
    const UserLayouts list = afterChanges(target.layouts, target.user, removal);
    if (!change.add || enables(list, *change.add))
        return steps;
    std::vector<Change> edits = appendLayout(target.user, list, *change.add, change.languageId);
    if (callUsable) {
        steps.push_back({UserLayoutCall{layoutArgument(*change.add), false, target.user}, std::move(edits)});
    } else {
        for (Change& edit : edits)
            steps.push_back({std::move(edit), std::nullopt});
        if (editsDirectly)
            *editsDirectly = true;
    }
    return steps;
}

std::wstring hiveFile(const std::wstring& folder) { return folder + L"\\NTUSER.DAT"; }

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

std::wstring keptFolder(const SystemFacts& facts) { return facts.programFilesFolder + L"\\" + keptFolderName; }

std::wstring keptCopy(const SystemFacts& facts) { return keptFolder(facts) + L"\\" + keptFileName; }

std::optional<std::wstring> earlierKeptCopy(const SystemFacts& facts) {
    const RegistryValue* command = facts.uninstallEntry ? findValue(*facts.uninstallEntry, L"UninstallString") : nullptr;
    const auto text = command ? command->text() : std::nullopt;
    // "<path>" /uninstall, as this installer writes it.
    const std::size_t close = text && text->starts_with(L'"') ? text->find(L'"', 1) : std::wstring::npos;
    if (close == std::wstring::npos)
        return std::nullopt;
    const std::wstring path = text->substr(1, close - 1);
    const std::wstring ending = std::wstring(L"\\") + keptFolderName + L"\\" + keptFileName;
    if (path.size() <= ending.size() || !equalNoCase(std::wstring_view(path).substr(path.size() - ending.size()), ending) ||
        path.find(L"..") != std::wstring::npos || equalNoCase(path, keptCopy(facts)))
        return std::nullopt;
    return path;
}

std::vector<std::wstring> ourFiles(const SystemFacts& facts) {
    std::vector<std::wstring> files;
    if (facts.machine) {
        for (const Placement& placement : placements(*facts.machine, facts.windowsFolder))
            files.push_back(placement.path);
    }
    files.push_back(keptCopy(facts));
    if (const auto earlier = earlierKeptCopy(facts))
        files.push_back(*earlier);
    return files;
}

std::vector<std::wstring> ourFolders(const SystemFacts& facts) {
    std::vector<std::wstring> folders{keptFolder(facts)};
    if (const auto earlier = earlierKeptCopy(facts))
        folders.push_back(folderOf(*earlier));
    return folders;
}

Plan planInstall(const SystemFacts& facts, const Package& package, bool allUsers) {
    Plan plan;
    plan.problem = machineProblem(facts);
    if (!plan.problem)
        plan.problem = fileInUse(facts);
    // An older build over a newer one would take back what the newer
    // one mended.
    const auto installed = installedVersion(facts);
    if (!plan.problem && installed && versionNumbers(package.version) < versionNumbers(*installed))
        plan.problem = Problem{IDS_NEWER_INSTALLED, {*installed, package.version}};
    if (plan.problem)
        return plan;
    const RegistrationChoice choice =
        chooseRegistration(facts.layoutKeys, package.strings.layoutText, package.strings.languageId);
    if (!choice.registration) {
        plan.problem = Problem{choice.allLayoutIdsTaken ? unsigned{IDS_NO_FREE_LAYOUT_ID} : unsigned{IDS_NO_FREE_KLID},
                               {hexDigits(package.strings.languageId, 4)}};
        return plan;
    }
    const Registration& registration = *choice.registration;
    plan.klid = registration.klid;
    const std::vector<Placement> files = placements(*facts.machine, facts.windowsFolder);
    const std::wstring copy = keptCopy(facts);
    std::vector<std::wstring> written{copy};
    for (const Placement& placement : files)
        written.push_back(placement.path);
    for (const std::wstring& path : written) {
        if (facts.file(path) == FileState::Foreign) {
            plan.problem = Problem{IDS_FOREIGN_FILE, {path}};
            return plan;
        }
    }

    takeBackScheduled(plan, facts);

    std::uint64_t installedBytes = package.installerSize;
    for (const Placement& placement : files) {
        installedBytes += package.imageSizes[placement.form];
        const FileState state = facts.file(placement.path);
        if (state != FileState::Identical)
            plan.steps.push_back({PlaceFile{placement.path, {placement.form}, state == FileState::OtherBuild,
                                            stagedName(placement.path, facts), asideName(placement.path, facts)},
                                  std::nullopt});
    }

    const auto existingKey =
        std::find_if(facts.layoutKeys.begin(), facts.layoutKeys.end(),
                     [&](const LayoutKey& key) { return equalNoCase(key.klid, registration.klid); });
    writeKey(plan, layoutKeyPath(registration.klid),
             existingKey == facts.layoutKeys.end() ? nullptr : &existingKey->values, registration.values);

    // Any other key that names Kurd.dll (an earlier build's) goes, and with
    // it its place in each list: one key names our file.
    std::vector<const LayoutKey*> others;
    plan.lists = {{}, registration.klid, package.strings.languageId};
    for (const LayoutKey* key : ourLayoutKeys(facts.layoutKeys)) {
        if (!equalNoCase(key->klid, registration.klid) && !key->hasSubkeys) {
            others.push_back(key);
            plan.lists.remove.push_back(key->klid);
        }
    }
    changeUsersLists(plan, facts);
    if (allUsers)
        reachProfiles(plan, facts);
    for (const LayoutKey* key : others)
        plan.steps.push_back({DeleteKey{layoutKeyPath(key->klid), key->values}, std::nullopt});

    if (!facts.folderExists(keptFolder(facts)))
        plan.steps.push_back({CreateFolder{keptFolder(facts)}, std::nullopt});
    const FileState copyState = facts.file(copy);
    if (copyState != FileState::Identical)
        plan.steps.push_back({PlaceFile{copy, {std::nullopt}, copyState != FileState::Absent,
                                        stagedName(copy, facts), asideName(copy, facts)},
                              std::nullopt});
    if (const auto earlier = earlierKeptCopy(facts)) {
        removeFile(plan, facts, *earlier);
        if (facts.folderExists(folderOf(*earlier)))
            plan.steps.push_back({Discard{folderOf(*earlier), true}, std::nullopt});
    }
    writeKey(plan, {Hive::LocalMachine, uninstallEntryPath},
             facts.uninstallEntry ? &*facts.uninstallEntry : nullptr,
             {
                 {L"DisplayName", stringValue(L"" PRODUCT_NAME)},
                 {L"DisplayVersion", stringValue(package.version)},
                 {L"Publisher", stringValue(L"" PRODUCT_MAKER)},
                 {L"DisplayIcon", stringValue(copy + L",0")},
                 {L"EstimatedSize", dwordValue(kibibytes(installedBytes))},
                 {L"UninstallString", stringValue(L"\"" + copy + L"\" /uninstall")},
                 {L"NoModify", dwordValue(1)},
                 {L"NoRepair", dwordValue(1)},
             });
    return plan;
}

Plan planUninstall(const SystemFacts& facts) {
    Plan plan;
    plan.problem = machineProblem(facts);
    if (!plan.problem)
        plan.problem = fileInUse(facts);
    if (plan.problem)
        return plan;
    takeBackScheduled(plan, facts);

    // The keys that name Kurd.dll load whatever Kurd.dll is there: where
    // that is another maker's, they are its keys, and stay.
    for (const Placement& placement : placements(*facts.machine, facts.windowsFolder)) {
        if (facts.file(placement.path) == FileState::Foreign && plan.foreignLayoutFile.empty())
            plan.foreignLayoutFile = placement.path;
    }
    std::vector<const LayoutKey*> keys;
    for (const LayoutKey* key : ourLayoutKeys(facts.layoutKeys)) {
        // A key with keys under it is more than a layout registration.
        if (!key->hasSubkeys && plan.foreignLayoutFile.empty()) {
            keys.push_back(key);
            plan.lists.remove.push_back(key->klid);
        }
    }
    if (!keys.empty())
        plan.klid = keys.front()->klid;

    // Every list, the user's at the screen and every profile's, is
    // cleared of our entries whatever put them there (an install, the
    // user in the language settings), and the system's call then takes
    // the layout off the list it keeps.
    changeUsersLists(plan, facts);
    reachProfiles(plan, facts);
    for (const LayoutKey* key : keys)
        plan.steps.push_back({DeleteKey{layoutKeyPath(key->klid), key->values}, std::nullopt});

    for (const Placement& placement : placements(*facts.machine, facts.windowsFolder))
        removeFile(plan, facts, placement.path);
    if (facts.uninstallEntry) {
        const RegistryKey entry{Hive::LocalMachine, uninstallEntryPath};
        plan.steps.push_back({DeleteKey{entry, *facts.uninstallEntry}, std::nullopt});
    }
    for (const auto& copy : {std::optional<std::wstring>(keptCopy(facts)), earlierKeptCopy(facts)}) {
        if (!copy)
            continue;
        removeFile(plan, facts, *copy);
        if (facts.folderExists(folderOf(*copy)))
            plan.steps.push_back({Discard{folderOf(*copy), true}, std::nullopt});
    }
    return plan;
}

}  // namespace setup
