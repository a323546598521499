#include "fake_system.h"

#include <algorithm>

#include "text.h"

namespace setup::testing {
namespace {

constexpr std::uint32_t errorFileNotFound = 2;
constexpr std::uint32_t errorPathNotFound = 3;
constexpr std::uint32_t errorAccessDenied = 5;
constexpr std::uint32_t errorInvalidData = 13;
constexpr std::uint32_t errorAlreadyExists = 183;
constexpr std::uint32_t errorProcNotFound = 127;
constexpr std::uint32_t errorFunctionFailed = 1627;

std::wstring parentOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::string narrow(std::wstring_view text) {
    std::string out;
    for (const wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

void PrintTo(const FakeState& state, std::ostream* out) {
    *out << "\n";
    for (const auto& [key, values] : state.keys) {
        *out << "  [" << narrow(key) << "]\n";
        for (const auto& [name, value] : values)
            *out << "    " << narrow(name) << " = "
                 << (value.kind == RegistryValue::Kind::Dword ? std::to_string(value.number) : narrow(value.text))
                 << "\n";
    }
    for (const auto& [path, content] : state.files)
        *out << "  file " << narrow(path) << " = " << content << "\n";
    for (const auto& folder : state.folders)
        *out << "  folder " << narrow(folder) << "\n";
    for (const auto& path : state.pending)
        *out << "  pending " << narrow(path) << "\n";
    for (const auto& layout : state.enabledLayouts)
        *out << "  enabled " << narrow(layout) << "\n";
}

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text)
        c = lowerAscii(c);
    return text;
}

std::wstring keyName(const RegistryKey& key) {
    return lower((key.hive == Hive::LocalMachine ? L"HKLM\\" : L"HKCU\\") + key.path);
}

std::string formName(Form form) {
    const char* names[] = {"x64", "x86", "wow64", "arm64"};
    return names[static_cast<int>(form)];
}

Content contentOf(Form form, const std::string& build) { return formName(form) + "/" + build; }

Package package() {
    Package package;
    package.strings = {L"Arabic (101) - Kurdish", L"ar-JO", 0x2C01};
    package.imageSizes = {{Form::X64, 6144}, {Form::X86, 5120}, {Form::Wow64, 6144}, {Form::Arm64, 6144}};
    package.installerSize = 300 * 1024;
    return package;
}

FakeSystem::FakeSystem() {
    for (const wchar_t* folder : {L"C:\\Windows", L"C:\\Windows\\System32", L"C:\\Windows\\SysWOW64",
                                  L"C:\\Program Files", L"C:\\Program Files (x86)"})
        state.folders.insert(lower(folder));
    // Two of the system's own layouts, one with a Layout Id, and the
    // user's one language.
    const std::wstring layouts = keyboardLayoutsPath;
    setValue(Hive::LocalMachine, layouts + L"\\00000409", L"Layout File", stringValue(L"KBDUS.DLL"));
    setValue(Hive::LocalMachine, layouts + L"\\00000409", L"Layout Text", stringValue(L"US"));
    setValue(Hive::LocalMachine, layouts + L"\\00010401", L"Layout File", stringValue(L"KBDA2.DLL"));
    setValue(Hive::LocalMachine, layouts + L"\\00010401", L"Layout Text", stringValue(L"Arabic (102)"));
    setValue(Hive::LocalMachine, layouts + L"\\00010401", L"Layout Id", stringValue(L"0028"));
    setValue(Hive::CurrentUser, preloadPath, L"1", stringValue(L"00000409"));
    state.keys[lower(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall")];
}

void FakeSystem::setValue(Hive hive, const std::wstring& key, const std::wstring& name, const RegistryValue& value) {
    state.keys[keyName({hive, key})][name] = value;
}

void FakeSystem::addFile(const std::wstring& path, const Content& content) { state.files[lower(path)] = content; }

SystemFacts FakeSystem::facts(const std::string& installerBuild) const {
    SystemFacts facts;
    facts.machine = machine;
    facts.windowsMajor = windowsMajor;
    facts.windowsFolder = windowsFolder;
    facts.programFilesFolder = machine == Machine::X86 ? L"C:\\Program Files" : programFiles;
    facts.userLayoutCallAvailable = userLayoutCallAvailable;

    const auto values = [&](const std::wstring& key) {
        std::vector<NamedValue> list;
        for (const auto& [name, value] : state.keys.at(key))
            list.push_back({name, value});
        return list;
    };
    const std::wstring layouts = keyName({Hive::LocalMachine, keyboardLayoutsPath}) + L"\\";
    for (const auto& [key, _] : state.keys) {
        const std::wstring rest = startsWith(key, layouts) ? key.substr(layouts.size()) : L"";
        if (rest.empty() || rest.find(L'\\') != std::wstring::npos)
            continue;
        LayoutKey layout{rest, values(key), false};
        layout.hasSubkeys = std::any_of(state.keys.begin(), state.keys.end(),
                                        [&](const auto& other) { return startsWith(other.first, key + L"\\"); });
        facts.layoutKeys.push_back(layout);
    }
    if (state.keys.contains(keyName({Hive::CurrentUser, preloadPath}))) {
        facts.userLayouts.preloadExists = true;
        facts.userLayouts.preload = values(keyName({Hive::CurrentUser, preloadPath}));
    }
    if (state.keys.contains(keyName({Hive::CurrentUser, substitutesPath}))) {
        facts.userLayouts.substitutesExists = true;
        facts.userLayouts.substitutes = values(keyName({Hive::CurrentUser, substitutesPath}));
    }
    const std::wstring entry = keyName({Hive::LocalMachine, uninstallEntryPath});
    if (state.keys.contains(entry))
        facts.uninstallEntry = values(entry);

    const auto judge = [&](const std::wstring& path, const std::string& kind) {
        const auto file = state.files.find(lower(path));
        if (file == state.files.end()) {
            if (!state.folders.contains(lower(path)))
                return;
            facts.files[path] = FileState::Foreign;
            return;
        }
        if (file->second == kind + "/" + installerBuild)
            facts.files[path] = FileState::Identical;
        else if (file->second.starts_with(kind + "/"))
            facts.files[path] = FileState::OtherBuild;
        else
            facts.files[path] = FileState::Foreign;
    };
    for (const Placement& placement : placements(machine, windowsFolder))
        judge(placement.path, formName(placement.form));
    judge(keptCopy(facts), "setup");
    facts.keptFolderExists = state.folders.contains(lower(keptFolder(facts)));
    return facts;
}

Outcome FakeSystem::apply(const Change& change) {
    if (failAt && *failAt == applied++) {
        failed = change;
        return {errorAccessDenied, false};
    }
    return this->change(change);
}

Outcome FakeSystem::change(const Change& change) {
    if (const auto* c = std::get_if<CreateKey>(&change)) {
        if (state.keys.contains(keyName(c->key)))
            return {errorAlreadyExists, false};
        state.keys[keyName(c->key)];
        return {};
    }
    if (const auto* c = std::get_if<SetValue>(&change)) {
        const auto key = state.keys.find(keyName(c->key));
        if (key == state.keys.end())
            return {errorFileNotFound, false};
        // The step must know what it overwrites, or it cannot undo it.
        const auto value = key->second.find(c->name);
        const std::optional<RegistryValue> now =
            value == key->second.end() ? std::nullopt : std::optional(value->second);
        if (now != c->prior)
            return {errorInvalidData, false};
        key->second[c->name] = c->value;
        return {};
    }
    if (const auto* c = std::get_if<DeleteValue>(&change)) {
        const auto key = state.keys.find(keyName(c->key));
        if (key == state.keys.end() || !key->second.contains(c->name))
            return {errorFileNotFound, false};
        if (!(key->second.at(c->name) == c->prior))
            return {errorInvalidData, false};
        key->second.erase(c->name);
        return {};
    }
    if (const auto* c = std::get_if<DeleteKey>(&change)) {
        const std::wstring name = keyName(c->key);
        const auto key = state.keys.find(name);
        if (key == state.keys.end())
            return {errorFileNotFound, false};
        if (std::any_of(state.keys.begin(), state.keys.end(),
                        [&](const auto& other) { return startsWith(other.first, name + L"\\"); }))
            return {errorAccessDenied, false};
        std::map<std::wstring, RegistryValue> prior;
        for (const NamedValue& value : c->prior)
            prior[value.name] = value.value;
        if (prior != key->second)
            return {errorInvalidData, false};
        state.keys.erase(key);
        return {};
    }
    if (const auto* c = std::get_if<PlaceFile>(&change)) {
        const std::wstring path = lower(c->path);
        if (!state.folders.contains(parentOf(path)))
            return {errorPathNotFound, false};
        if (state.folders.contains(path))
            return {errorAccessDenied, false};
        const Content content = c->source.image ? contentOf(*c->source.image, build) : "setup/" + build;
        const auto old = state.files.find(path);
        if (old != state.files.end() && state.inUse.contains(path)) {
            state.pending.push_back(path);
            return {0, true};
        }
        if (old != state.files.end())
            moved_[path] = old->second;
        else
            created_.insert(path);
        state.files[path] = content;
        return {};
    }
    if (const auto* c = std::get_if<RemoveFile>(&change)) {
        const std::wstring path = lower(c->path);
        const auto old = state.files.find(path);
        if (old == state.files.end())
            return {errorFileNotFound, false};
        if (state.inUse.contains(path)) {
            state.pending.push_back(path);
            return {0, true};
        }
        moved_[path] = old->second;
        state.files.erase(old);
        return {};
    }
    if (const auto* c = std::get_if<CreateFolder>(&change)) {
        const std::wstring path = lower(c->path);
        if (state.folders.contains(path) || state.files.contains(path))
            return {errorAlreadyExists, false};
        if (!state.folders.contains(parentOf(path)))
            return {errorPathNotFound, false};
        state.folders.insert(path);
        return {};
    }
    if (const auto* c = std::get_if<RemoveFolder>(&change)) {
        const std::wstring path = lower(c->path);
        if (!state.folders.contains(path))
            return {errorFileNotFound, false};
        const auto inside = [&](const auto& entry) { return startsWith(entry, path + L"\\"); };
        if (std::any_of(state.folders.begin(), state.folders.end(), inside) ||
            std::any_of(state.files.begin(), state.files.end(), [&](const auto& f) { return inside(f.first); }))
            return {145, false};  // ERROR_DIR_NOT_EMPTY
        state.folders.erase(path);
        return {};
    }
    if (const auto* c = std::get_if<UserLayoutCall>(&change)) {
        userLayoutCalls.push_back((c->uninstall ? L"disable " : L"enable ") + c->layout);
        if (!userLayoutCallAvailable)
            return {errorProcNotFound, false};
        if (userLayoutCallFails)
            return {errorFunctionFailed, false};
        if (c->uninstall)
            state.enabledLayouts.erase(c->layout);
        else
            state.enabledLayouts.insert(c->layout);
        return {};
    }
    return {errorInvalidData, false};
}

Outcome FakeSystem::undo(const Change& change) {
    const auto restore = [&](const std::wstring& path) -> Outcome {
        const auto scheduled = std::find(state.pending.begin(), state.pending.end(), path);
        if (scheduled != state.pending.end()) {
            state.pending.erase(scheduled);
            return {};
        }
        if (const auto old = moved_.find(path); old != moved_.end()) {
            state.files[path] = old->second;
            moved_.erase(old);
            return {};
        }
        if (created_.erase(path)) {
            state.files.erase(path);
            return {};
        }
        return {errorFileNotFound, false};
    };
    if (const auto* c = std::get_if<PlaceFile>(&change))
        return restore(lower(c->path));
    if (const auto* c = std::get_if<RemoveFile>(&change))
        return restore(lower(c->path));
    Outcome outcome;
    for (const Change& inverseChange : inverse(change)) {
        outcome = this->change(inverseChange);
        if (outcome.error != 0)
            return outcome;
    }
    return outcome;
}

Outcome FakeSystem::finish(const std::vector<std::wstring>& emptiedFolders) {
    moved_.clear();
    created_.clear();
    for (const std::wstring& folder : emptiedFolders)
        change(RemoveFolder{folder});
    return {};
}

void FakeSystem::record(std::size_t step, const std::wstring& what, const Outcome& outcome) {
    log.push_back(std::to_wstring(step + 1) + L": " + what + L": " + std::to_wstring(outcome.error));
}

}  // namespace setup::testing
