#include "fake_system.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "journal.h"
#include "pending_renames.h"
#include "text.h"

namespace setup::testing {
namespace {

constexpr std::uint32_t errorDirNotEmpty = 145;
constexpr std::uint32_t errorProcNotFound = 127;
constexpr std::uint32_t errorFunctionFailed = 1627;

std::wstring parentOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

bool isUnder(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == L'\\';
}

const std::wstring sessionManager = lower(L"HKLM\\" + std::wstring(sessionManagerPath));

// The key and the keys on the way to it below its hive ("hklm", or the
// user's "hku\\<sid>"), as Windows creates them.
void ensureKey(FakeState& state, const std::wstring& name) {
    const std::size_t hive = name.find(L'\\', name.starts_with(L"hku\\") ? 4 : 0);
    for (std::size_t at = name.find(L'\\', hive + 1); at != std::wstring::npos; at = name.find(L'\\', at + 1))
        state.keys[name.substr(0, at)];
    state.keys[name];
}

// The file a key's hive is kept in, as a flush writes it: "hklm\\system",
// "hklm\\software", or a user's "hku\\<sid>".
std::wstring hiveOf(const std::wstring& key) {
    std::size_t end = key.find(L'\\');
    end = end == std::wstring::npos ? key.size() : key.find(L'\\', end + 1);
    return key.substr(0, end == std::wstring::npos ? key.size() : end);
}

bool inHive(const std::wstring& key, const std::wstring& hive) { return key == hive || isUnder(key, hive); }

}  // namespace

std::string narrow(std::wstring_view text) {
    std::string out;
    for (const wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

void PrintTo(const FakeState& state, std::ostream* out) {
    *out << "\n";
    for (const auto& [key, values] : state.keys) {
        *out << "  [" << narrow(key) << "]\n";
        for (const auto& [name, value] : values) {
            *out << "    " << narrow(name) << " = ";
            if (const auto text = value.text())
                *out << '"' << narrow(*text) << '"';
            else
                for (const std::uint8_t byte : value.bytes)
                    *out << (byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.');
            *out << " (type " << value.type << ")\n";
        }
    }
    for (const auto& [path, content] : state.files)
        *out << "  file " << narrow(path) << " = " << content << "\n";
    for (const auto& folder : state.folders)
        *out << "  folder " << narrow(folder) << "\n";
    for (const auto& layout : state.enabledLayouts)
        *out << "  enabled " << narrow(layout) << "\n";
}

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text)
        c = lowerAscii(c);
    return text;
}

std::wstring keyName(const RegistryKey& key) {
    return lower((key.hive == Hive::LocalMachine ? L"HKLM\\" : L"HKU\\") + key.path);
}

std::string formName(Form form) {
    const char* names[] = {"x64", "x86", "wow64", "arm64"};
    return names[static_cast<int>(form)];
}

Content contentOf(Form form, const std::string& build) { return formName(form) + "/" + build; }

Package package(const std::wstring& version) {
    Package package;
    package.strings = {L"Arabic (101) - Kurdish", L"ar-JO", 0x2C01};
    package.version = version;
    package.imageSizes[Form::X64] = 6144;
    package.imageSizes[Form::X86] = 5120;
    package.imageSizes[Form::Wow64] = 6144;
    package.imageSizes[Form::Arm64] = 6144;
    package.installerSize = 300 * 1024;
    return package;
}

namespace {

Report runOf(FakeSystem& system, Action action, bool allUsers) {
    const Report report = carryOut(action, allUsers, package(), system, system);
    EXPECT_EQ(system.mounted, std::set<std::wstring>{}) << "a profile's registry left loaded" << logOf(system);
    return report;
}

}  // namespace

Report install(FakeSystem& system) { return runOf(system, Action::Install, false); }
Report installForAll(FakeSystem& system) { return runOf(system, Action::Install, true); }
Report uninstall(FakeSystem& system) { return runOf(system, Action::Uninstall, false); }

std::string logOf(const FakeSystem& system) {
    std::string text;
    for (const std::wstring& line : system.log)
        text += "\n  " + narrow(line);
    return text;
}

std::vector<std::wstring> leftovers(const FakeState& state) {
    std::vector<std::wstring> found;
    for (const auto& [path, _] : state.files) {
        if (path.ends_with(L".new") || path.ends_with(L".old") || path.ends_with(L".part"))
            found.push_back(path);
    }
    return found;
}

FakeSystem::FakeSystem() {
    for (const wchar_t* folder : {L"C:\\Windows", L"C:\\Windows\\System32", L"C:\\Windows\\SysWOW64",
                                  L"C:\\Program Files", L"C:\\Program Files (x86)"})
        state.folders.insert(lower(folder));
    // Two of the system's own layouts, one with a Layout Id; the keys
    // every Windows has; the user's one language.
    const std::wstring layouts = keyboardLayoutsPath;
    setValue(Hive::LocalMachine, layouts + L"\\00000409", L"Layout File", stringValue(L"KBDUS.DLL"));
    setValue(Hive::LocalMachine, layouts + L"\\00000409", L"Layout Text", stringValue(L"US"));
    setValue(Hive::LocalMachine, layouts + L"\\00010401", L"Layout File", stringValue(L"KBDA2.DLL"));
    setValue(Hive::LocalMachine, layouts + L"\\00010401", L"Layout Text", stringValue(L"Arabic (102)"));
    setValue(Hive::LocalMachine, layouts + L"\\00010401", L"Layout Id", stringValue(L"0028"));
    ensureKey(state, lower(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    ensureKey(state, sessionManager);
    setValue(Hive::Users, userSid + L"\\Keyboard Layout\\Preload", L"1", stringValue(L"00000409"));
    ensureKey(state, keyName(substitutesKey(User{userSid, true})));
}

void FakeSystem::setValue(Hive hive, const std::wstring& key, const std::wstring& name, const RegistryValue& value) {
    ensureKey(state, keyName({hive, key}));
    state.keys[keyName({hive, key})][name] = value;
}

void FakeSystem::addFile(const std::wstring& path, const Content& content) { state.files[lower(path)] = content; }

void FakeSystem::addProfile(const std::wstring& name, const std::wstring& folder, bool signedIn,
                            const std::vector<std::wstring>& layouts) {
    profiles.push_back({name, folder});
    if (!folder.empty())
        state.folders.insert(lower(folder));
    for (std::size_t i = 0; i < layouts.size(); ++i)
        setValue(Hive::Users, name + L"\\Keyboard Layout\\Preload", decimal(static_cast<std::uint32_t>(i + 1)),
                 stringValue(layouts[i]));
    ensureKey(state, keyName(preloadKey(User{name})));
    ensureKey(state, keyName(substitutesKey(User{name})));
    if (!signedIn)
        unloadedHives.insert(lower(name));
}

std::wstring FakeSystem::programFiles() const { return L"C:\\Program Files"; }

void FakeSystem::newRun() {
    failAt.reset();
    killAt.reset();
    powerCut = false;
    beforeOperation = nullptr;
    operations = 0;
    log.clear();
    userLayoutCalls.clear();
    // Between runs, Windows writes what it has to disk.
    durableKeys_ = state.keys;
    unflushedFiles_.clear();
}

bool FakeSystem::reachable(const std::wstring& key) const {
    if (!key.starts_with(L"hku\\"))
        return true;
    const std::wstring user = key.substr(4, key.find(L'\\', 4) - 4);
    return !unloadedHives.contains(user) || mounted.contains(user);
}

std::optional<SystemFacts> FakeSystem::read(MessageText&) {
    SystemFacts facts;
    facts.machine = machine;
    if (processorArchitecture != 0 && processorArchitecture != 9 && processorArchitecture != 12)
        facts.machine.reset();
    facts.processorArchitecture = processorArchitecture;
    facts.windowsVersion = windowsVersion;
    facts.windowsFolder = windowsFolder;
    facts.programFilesFolder = programFilesKnown ? programFiles() : L"";
    facts.userLayoutCallAvailable = userLayoutCallAvailable;
    facts.runToken = hexDigits(0x1000 + static_cast<std::uint32_t>(++runs_), 8);

    const auto values = [&](const std::wstring& key) {
        std::vector<NamedValue> list;
        for (const auto& [name, value] : state.keys.at(key))
            list.push_back({name, value});
        return list;
    };
    const std::wstring layouts = keyName(layoutKeyPath(L"")) ;
    for (const auto& [key, _] : state.keys) {
        if (key.size() <= layouts.size() || key.compare(0, layouts.size(), layouts) != 0 ||
            key.find(L'\\', layouts.size()) != std::wstring::npos)
            continue;
        LayoutKey layout{key.substr(layouts.size()), values(key), false};
        layout.hasSubkeys = std::any_of(state.keys.begin(), state.keys.end(),
                                        [&](const auto& other) { return isUnder(other.first, key); });
        facts.layoutKeys.push_back(layout);
    }
    const ScreenUser atTheScreen = userAtTheScreen(processSid, session);
    facts.whyNoUser = atTheScreen.whyNot;
    if (const auto& user = atTheScreen.user; user && !userHiveLoaded(user->sid)) {
        facts.whyNoUser = WhyNoUser::NotIdentified;
    } else if (user) {
        UserTarget target{*user, {}};
        const std::wstring preload = keyName(preloadKey(*user));
        const std::wstring substitutes = keyName(substitutesKey(*user));
        if (state.keys.contains(preload)) {
            target.layouts.preloadExists = true;
            target.layouts.preload = values(preload);
        }
        if (state.keys.contains(substitutes)) {
            target.layouts.substitutesExists = true;
            target.layouts.substitutes = values(substitutes);
        }
        facts.users.push_back(target);
    }
    for (Profile profile : profiles) {
        profile.folderExists = !profile.folder.empty() && state.folders.contains(lower(profile.folder));
        profile.loaded = !unloadedHives.contains(lower(profile.name));
        facts.profiles.push_back(profile);
    }
    const std::wstring entry = keyName({Hive::LocalMachine, uninstallEntryPath});
    if (state.keys.contains(entry))
        facts.uninstallEntry = values(entry);

    for (const std::wstring& path : ourFiles(facts)) {
        const auto file = state.files.find(lower(path));
        if (file == state.files.end()) {
            if (state.folders.contains(lower(path)))
                facts.files.push_back({path, FileState::Foreign});
            continue;
        }
        if (exclusive.contains(lower(path))) {
            facts.files.push_back({path, FileState::InUse});
            continue;
        }
        const bool keptCopy = equalNoCase(path.substr(path.find_last_of(L'\\') + 1), keptFileName);
        std::string kind = "setup";
        if (!keptCopy && facts.machine) {
            for (const Placement& placement : placements(*facts.machine, facts.windowsFolder))
                if (equalNoCase(placement.path, path))
                    kind = formName(placement.form);
        }
        if (file->second == kind + "/" + build)
            facts.files.push_back({path, FileState::Identical});
        else if (file->second.starts_with(kind + "/"))
            facts.files.push_back({path, FileState::OtherBuild});
        else
            facts.files.push_back({path, FileState::Foreign});
    }
    for (const std::wstring& folder : ourFolders(facts)) {
        if (state.folders.contains(lower(folder)))
            facts.folders.push_back(folder);
    }
    const auto& scheduled = state.keys.at(sessionManager);
    if (const auto found = scheduled.find(pendingRenamesName); found != scheduled.end())
        facts.pendingRenames = found->second;
    const std::wstring journal = keyName(journalKey());
    if (state.keys.contains(journal))
        facts.journal = values(journal);
    const std::wstring waiting = keyName({Hive::LocalMachine, waitingPath});
    if (state.keys.contains(waiting)) {
        facts.waiting.emplace();
        for (const auto& [key, _] : state.keys) {
            if (isUnder(key, waiting))
                facts.waiting->push_back({key.substr(waiting.size() + 1), values(key)});
        }
    }
    return facts;
}

void FakeSystem::restart() {
    loaded.clear();
    held.clear();
    exclusive.clear();
    mounted.clear();
    durableKeys_ = state.keys;
    unflushedFiles_.clear();
    auto& scheduled = state.keys.at(sessionManager);
    const auto found = scheduled.find(pendingRenamesName);
    if (found == scheduled.end())
        return;
    for (const PendingRename& rename : pendingRenames(found->second)) {
        const std::wstring source = lower(std::wstring(plainPath(rename.source)));
        if (rename.target.empty()) {
            if (!state.files.erase(source) && state.folders.contains(source) &&
                std::none_of(state.files.begin(), state.files.end(), [&](const auto& f) { return isUnder(f.first, source); }))
                state.folders.erase(source);
            continue;
        }
        const std::wstring target = lower(std::wstring(plainPath(rename.target)));
        const auto file = state.files.find(source);
        if (file == state.files.end() || (state.files.contains(target) && rename.target[0] != L'!'))
            continue;
        state.files[target] = file->second;
        state.files.erase(source);
    }
    scheduled.erase(found);
}

std::uint32_t FakeSystem::operation() {
    const std::size_t number = operations++;
    if (beforeOperation)
        beforeOperation(*this, number);
    if (killAt && *killAt == number) {
        if (powerCut) {
            state.keys = durableKeys_;
            for (const std::wstring& path : unflushedFiles_) {
                if (state.files.contains(path))
                    state.files[path] = "zeros";
            }
        }
        throw Killed{};
    }
    return failAt && *failAt == number ? diskFull : 0;
}

std::uint32_t FakeSystem::readValue(const RegistryKey& key, const std::wstring& name,
                                    std::optional<RegistryValue>& value) {
    const auto found = state.keys.find(keyName(key));
    value.reset();
    if (found != state.keys.end() && reachable(found->first)) {
        for (const auto& [valueName, held] : found->second) {
            if (equalNoCase(valueName, name))
                value = held;
        }
    }
    return 0;
}

std::uint32_t FakeSystem::readKey(const RegistryKey& key, std::optional<std::vector<NamedValue>>& values) {
    const auto found = state.keys.find(keyName(key));
    values.reset();
    if (found != state.keys.end() && reachable(found->first)) {
        values.emplace();
        for (const auto& [name, value] : found->second)
            values->push_back({name, value});
    }
    return 0;
}

std::uint32_t FakeSystem::createKey(const RegistryKey& key) {
    if (const std::uint32_t error = operation())
        return error;
    const std::wstring name = keyName(key);
    if (!reachable(name))
        return winerror::fileNotFound;
    if (state.keys.contains(name))
        return winerror::alreadyExists;
    ensureKey(state, name);
    return 0;
}

std::uint32_t FakeSystem::deleteKey(const RegistryKey& key) {
    if (const std::uint32_t error = operation())
        return error;
    const std::wstring name = keyName(key);
    if (!state.keys.contains(name) || !reachable(name))
        return winerror::fileNotFound;
    if (undeletableKeys.contains(name))
        return winerror::accessDenied;
    if (std::any_of(state.keys.begin(), state.keys.end(), [&](const auto& other) { return isUnder(other.first, name); }))
        return winerror::accessDenied;
    state.keys.erase(name);
    return 0;
}

std::uint32_t FakeSystem::setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) {
    if (const std::uint32_t error = operation())
        return error;
    const auto found = state.keys.find(keyName(key));
    if (found == state.keys.end() || !reachable(found->first))
        return winerror::fileNotFound;
    found->second[name] = value;
    return 0;
}

std::uint32_t FakeSystem::deleteValue(const RegistryKey& key, const std::wstring& name) {
    if (const std::uint32_t error = operation())
        return error;
    const auto found = state.keys.find(keyName(key));
    if (found == state.keys.end() || !reachable(found->first) || !found->second.erase(name))
        return winerror::fileNotFound;
    return 0;
}

std::uint32_t FakeSystem::flush(const RegistryKey& key) {
    if (const std::uint32_t error = operation())
        return error;
    const std::wstring name = keyName(key);
    const std::wstring hive = hiveOf(name);
    if ((!state.keys.contains(name) && name != hive) || !reachable(name))
        return winerror::fileNotFound;
    std::erase_if(durableKeys_, [&](const auto& k) { return inHive(k.first, hive); });
    for (const auto& [k, values] : state.keys) {
        if (inHive(k, hive))
            durableKeys_[k] = values;
    }
    return 0;
}

bool FakeSystem::userHiveLoaded(const std::wstring& sid) { return reachable(L"hku\\" + lower(sid)); }

std::uint32_t FakeSystem::loadHive(const std::wstring& profile, const std::wstring& file) {
    const std::wstring name = lower(profile);
    if (const std::uint32_t error = operation())
        return error;
    if (mounted.contains(name))
        return winerror::alreadyExists;
    // Loaded by Windows, its file is in use.
    if (!unloadedHives.contains(name))
        return winerror::sharingViolation;
    if (const auto refused = unloadableHives.find(name); refused != unloadableHives.end())
        return refused->second;
    if (!state.folders.contains(parentOf(lower(file))))
        return winerror::pathNotFound;
    mounted.insert(name);
    return 0;
}

std::uint32_t FakeSystem::unloadHive(const std::wstring& profile) {
    if (const std::uint32_t error = operation())
        return error;
    const std::wstring name = lower(profile);
    if (!mounted.erase(name))
        return winerror::fileNotFound;
    // What was not flushed is lost.
    const std::wstring hive = L"hku\\" + name;
    std::erase_if(state.keys, [&](const auto& k) { return inHive(k.first, hive); });
    for (const auto& [k, values] : durableKeys_) {
        if (inHive(k, hive))
            state.keys[k] = values;
    }
    return 0;
}

std::vector<std::wstring> FakeSystem::hivesLoadedByUs() { return {mounted.begin(), mounted.end()}; }

bool FakeSystem::exists(const std::wstring& path) {
    return state.files.contains(lower(path)) || state.folders.contains(lower(path));
}

// Writing takes time: a run killed while it writes leaves part of a file.
void FakeSystem::killedWhileWriting(const std::wstring& path) {
    if (killAt && *killAt == operations && state.folders.contains(parentOf(lower(path))) && !loaded.contains(lower(path))) {
        state.files[lower(path)] = "part";
        unflushedFiles_.insert(lower(path));
    }
}

std::uint32_t FakeSystem::writeFile(const std::wstring& path, const FileSource& source) {
    killedWhileWriting(path);
    if (const std::uint32_t error = operation())
        return error;
    const std::wstring name = lower(path);
    if (!state.folders.contains(parentOf(name)))
        return winerror::pathNotFound;
    if (state.folders.contains(name) || loaded.contains(name))
        return winerror::accessDenied;
    if (held.contains(name) || exclusive.contains(name))
        return winerror::sharingViolation;
    state.files[name] = source.image ? contentOf(*source.image, build) : "setup/" + build;
    unflushedFiles_.insert(name);
    return 0;
}

std::uint32_t FakeSystem::copyFile(const std::wstring& from, const std::wstring& to) {
    if (state.files.contains(lower(from)))
        killedWhileWriting(to);
    if (const std::uint32_t error = operation())
        return error;
    const auto source = state.files.find(lower(from));
    const std::wstring target = lower(to);
    if (source == state.files.end())
        return winerror::fileNotFound;
    if (exclusive.contains(lower(from)))
        return winerror::sharingViolation;
    if (!state.folders.contains(parentOf(target)))
        return winerror::pathNotFound;
    if (state.folders.contains(target) || loaded.contains(target))
        return winerror::accessDenied;
    if (held.contains(target) || exclusive.contains(target))
        return winerror::sharingViolation;
    state.files[target] = source->second;
    unflushedFiles_.insert(target);
    return 0;
}

std::uint32_t FakeSystem::flushFile(const std::wstring& path) {
    if (const std::uint32_t error = operation())
        return error;
    if (!state.files.contains(lower(path)))
        return winerror::fileNotFound;
    unflushedFiles_.erase(lower(path));
    return 0;
}

std::uint32_t FakeSystem::moveFile(const std::wstring& from, const std::wstring& to, bool replace) {
    if (const std::uint32_t error = operation())
        return error;
    const std::wstring source = lower(from);
    const std::wstring target = lower(to);
    const auto file = state.files.find(source);
    if (file == state.files.end())
        return winerror::fileNotFound;
    if (held.contains(source) || exclusive.contains(source))
        return winerror::sharingViolation;
    if (!state.folders.contains(parentOf(target)))
        return winerror::pathNotFound;
    if (state.folders.contains(target))
        return winerror::accessDenied;
    if (state.files.contains(target)) {
        if (!replace)
            return winerror::alreadyExists;
        if (loaded.contains(target) || held.contains(target) || exclusive.contains(target))
            return winerror::accessDenied;
    }
    state.files[target] = file->second;
    state.files.erase(source);
    // A mapping follows its file, and so do bytes not yet on disk.
    if (loaded.erase(source))
        loaded.insert(target);
    unflushedFiles_.erase(target);
    if (unflushedFiles_.erase(source))
        unflushedFiles_.insert(target);
    return 0;
}

std::uint32_t FakeSystem::deleteFile(const std::wstring& path) {
    if (const std::uint32_t error = operation())
        return error;
    const std::wstring name = lower(path);
    if (state.folders.contains(name) || loaded.contains(name))
        return winerror::accessDenied;
    if (held.contains(name) || exclusive.contains(name))
        return winerror::sharingViolation;
    unflushedFiles_.erase(name);
    return state.files.erase(name) ? 0 : winerror::fileNotFound;
}

std::uint32_t FakeSystem::createFolder(const std::wstring& path) {
    if (const std::uint32_t error = operation())
        return error;
    const std::wstring name = lower(path);
    if (state.folders.contains(name) || state.files.contains(name))
        return winerror::alreadyExists;
    if (!state.folders.contains(parentOf(name)))
        return winerror::pathNotFound;
    state.folders.insert(name);
    return 0;
}

std::uint32_t FakeSystem::removeFolder(const std::wstring& path) {
    if (const std::uint32_t error = operation())
        return error;
    const std::wstring name = lower(path);
    if (!state.folders.contains(name))
        return winerror::fileNotFound;
    const auto inside = [&](const std::wstring& entry) { return isUnder(entry, name); };
    if (std::any_of(state.folders.begin(), state.folders.end(), inside) ||
        std::any_of(state.files.begin(), state.files.end(), [&](const auto& f) { return inside(f.first); }))
        return errorDirNotEmpty;
    state.folders.erase(name);
    return 0;
}

std::uint32_t FakeSystem::schedule(const std::wstring& source, const std::wstring& target) {
    if (const std::uint32_t error = operation())
        return error;
    auto& values = state.keys.at(sessionManager);
    const auto found = values.find(pendingRenamesName);
    std::vector<PendingRename> renames =
        found == values.end() ? std::vector<PendingRename>{} : pendingRenames(found->second);
    renames.push_back({storedPath(source), target.empty() ? L"" : L"!" + storedPath(target)});
    values[pendingRenamesName] = pendingRenamesValue(renames);
    return 0;
}

std::uint32_t FakeSystem::userLayoutCall(const UserLayoutCall& call) {
    if (const std::uint32_t error = operation())
        return error;
    userLayoutCalls.push_back((call.uninstall ? L"disable " : L"enable ") + call.layout +
                              (call.user.isProcessUser
                                   ? L""
                                   : L" for " + userRegistryPath(call.user, mounted.contains(lower(call.user.sid)))) +
                              (call.user.atTheScreen ? L"" : L" later"));
    if (!userLayoutCallAvailable)
        return errorProcNotFound;
    if (userLayoutCallFails || userLayoutCallFailsFor.contains(lower(call.user.sid)))
        return errorFunctionFailed;
    if (!userHiveLoaded(call.user.sid))
        return winerror::fileNotFound;
    const std::wstring entry = call.user.sid + L" " + call.layout;
    if (call.uninstall)
        state.enabledLayouts.erase(entry);
    else
        state.enabledLayouts.insert(entry);
    // Windows keeps the user's Preload in step with the list it keeps for
    // the call, naming the layout itself.
    const std::wstring klid = call.layout.substr(call.layout.find(L':') + 1);
    std::map<std::wstring, RegistryValue>& preload = state.keys[keyName(preloadKey(call.user))];
    std::map<std::uint32_t, RegistryValue> ordered;
    for (const auto& [name, value] : preload)
        if (const auto number = parseDecimal(name); number && !equalNoCase(value.text().value_or(L""), klid))
            ordered[*number] = value;
    if (!call.uninstall)
        ordered[ordered.empty() ? 1 : ordered.rbegin()->first + 1] = stringValue(klid);
    preload.clear();
    std::uint32_t number = 0;
    for (const auto& [_, value] : ordered)
        preload[decimal(++number)] = value;
    return 0;
}

void FakeSystem::record(const std::wstring& line) { log.push_back(line); }

// The string's id and its inserts: the tests read no English.
std::wstring FakeSystem::inEnglish(const MessageText& text) {
    return plainText(englishUnitedStates, text,
                     {[](LanguageId, unsigned id) { return L"<" + decimal(id) + L"> %1 %2 %3"; },
                      [](LanguageId, std::uint32_t) { return std::wstring(); }});
}

std::wstring FakeSystem::errorText(std::uint32_t error) { return L"error " + decimal(error); }

}  // namespace setup::testing
