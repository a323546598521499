#include "win32_facts.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>

#include "journal.h"
#include "pending_renames.h"
#include "plan.h"
#include "resource.h"
#include "growing_text.h"
#include "system_library.h"
#include "text.h"
#include "win32_files.h"
#include "win32_system.h"

namespace setup {
namespace {

void nativeMachine(SystemFacts& facts) {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    facts.processorArchitecture = info.wProcessorArchitecture;
    facts.machine = machineOfArchitecture(info.wProcessorArchitecture);
    // An x64 program on Windows on ARM64 sees an x64 processor here; the
    // newer call tells the machine itself.
    using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    static const auto isWow64Process2 = win32::kernelProcedure<IsWow64Process2Function>("IsWow64Process2");
    USHORT process = 0, native = 0;
    if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native))
        facts.machine = machineOfImageMachine(native);
}

// Major and minor version as one number: 501 for XP, 602 for Windows 8.
// The manifest's list of systems keeps later Windows from reporting 602.
unsigned windowsVersion() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) ? version.dwMajorVersion * 100 + version.dwMinorVersion : 501;
}

// The native Program Files folder, where every Windows keeps it and the
// shell reads it: in the registry's native view (the 64-bit one on 64-bit
// Windows, which the shell does not show a 32-bit program).
std::wstring programFilesFolder(const Registry& registry) {
    LSTATUS error = ERROR_SUCCESS;
    const auto value =
        registry.value({Hive::LocalMachine, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion"}, L"ProgramFilesDir", &error);
    const auto text = value && value->type == regSz ? value->text() : std::nullopt;
    return text.value_or(L"");
}

std::optional<std::wstring> userOfToken(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    LPWSTR text = nullptr;
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return std::nullopt;
    std::wstring sid(text);
    LocalFree(text);
    return sid;
}

std::optional<std::wstring> userOfProcess(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return std::nullopt;
    auto sid = userOfToken(token);
    CloseHandle(token);
    return sid;
}

// The user signed in at this session, as the session names it, also when
// another account's password elevated the installer: its name, through
// wtsapi32 (from the system folder: Windows XP has it), then its SID.
// Nothing when the session cannot be asked.
std::optional<SessionUser> userOfSession() {
    const HMODULE wtsapi32 = win32::loadSystemLibrary(L"wtsapi32.dll");
    using QueryFunction = BOOL(WINAPI*)(HANDLE, DWORD, int, LPWSTR*, DWORD*);
    using FreeFunction = void(WINAPI*)(PVOID);
    const auto query = win32::procedure<QueryFunction>(wtsapi32, "WTSQuerySessionInformationW");
    const auto free = win32::procedure<FreeFunction>(wtsapi32, "WTSFreeMemory");
    const auto sessionText = [&](int what) -> std::optional<std::wstring> {
        constexpr HANDLE currentServer = nullptr;      // WTS_CURRENT_SERVER_HANDLE
        constexpr DWORD currentSession = 0xFFFFFFFF;  // WTS_CURRENT_SESSION
        LPWSTR buffer = nullptr;
        DWORD size = 0;
        if (!query || !free || !query(currentServer, currentSession, what, &buffer, &size) || !buffer)
            return std::nullopt;
        std::wstring text(buffer);
        free(buffer);
        return text;
    };
    constexpr int userName = 5, domainName = 7;  // WTSUserName, WTSDomainName
    const auto name = sessionText(userName);
    const auto domain = sessionText(domainName);
    if (!name || !domain)
        return std::nullopt;
    SessionUser user{*name, std::nullopt};
    if (name->empty())
        return user;
    const std::wstring account = domain->empty() ? *name : *domain + L"\\" + *name;
    DWORD sidSize = 0, domainSize = 0;
    SID_NAME_USE use;
    LookupAccountNameW(nullptr, account.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
    std::vector<BYTE> sid(sidSize);
    std::wstring referencedDomain(domainSize, L'\0');
    LPWSTR text = nullptr;
    if (sidSize != 0 &&
        LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sidSize, referencedDomain.data(), &domainSize, &use) &&
        use == SidTypeUser && ConvertSidToStringSidW(sid.data(), &text)) {
        user.sid = text;
        LocalFree(text);
    }
    return user;
}

// The version block of a library, read by Windows' own resource calls
// from the file mapped as data; empty if it has none or is no library.
std::vector<std::uint8_t> versionBlock(const std::wstring& path) {
    HMODULE library;
    {
        NativeFileSystem native;
        library = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    if (!library)
        return {};
    std::vector<std::uint8_t> block;
    const HRSRC found = FindResourceW(library, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
    const HGLOBAL loaded = found ? LoadResource(library, found) : nullptr;
    const auto* bytes = loaded ? static_cast<const std::uint8_t*>(LockResource(loaded)) : nullptr;
    if (bytes)
        block.assign(bytes, bytes + SizeofResource(library, found));
    FreeLibrary(library);
    return block;
}

// What is at path; nothing, with *error set, where a file there cannot be
// read for another reason than another program holding it.
std::optional<FileState> fileState(const std::wstring& path, std::span<const std::uint8_t> ours, bool anyBuildIsOurs,
                                   DWORD* error) {
    if (isFolder(path))
        return FileState::Foreign;
    const auto bytes = readFile(path, error);
    if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND)
        return FileState::Absent;
    if (*error == ERROR_SHARING_VIOLATION || *error == ERROR_LOCK_VIOLATION)
        return FileState::InUse;
    if (!bytes)
        return std::nullopt;
    if (std::equal(bytes->begin(), bytes->end(), ours.begin(), ours.end()))
        return FileState::Identical;
    return anyBuildIsOurs || isThisLayout(versionBlock(path)) ? FileState::OtherBuild : FileState::Foreign;
}

const RegistryKey profileList{Hive::LocalMachine, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"};

// A folder as the registry names it, its environment variables
// ("%SystemDrive%") expanded.
std::wstring expandedFolder(const RegistryValue* value) {
    const auto text = value ? value->text() : std::nullopt;
    if (!text)
        return {};
    return win32::growingText([&](wchar_t* buffer, DWORD size) {
        // The count it answers includes the terminator.
        const DWORD count = ExpandEnvironmentStringsW(text->c_str(), buffer, size);
        return count != 0 && count <= size ? count - 1 : count;
    });
}

bool isSidText(std::wstring_view name) {
    return name.starts_with(L"S-1-") &&
           std::all_of(name.begin() + 4, name.end(), [](wchar_t c) { return c == L'-' || (c >= L'0' && c <= L'9'); });
}

// Every profile: each ProfileList names by its SID (a name that is no SID
// is a copy Windows kept of a damaged profile's entry), with its folder
// and whether it roams; the default profile, whose folder ProfileList
// names too (Default from Windows Vista on; on XP DefaultUserProfile, in
// ProfilesDirectory); and the welcome screen's. False, once failed() has
// said why, where ProfileList cannot be read.
template <typename ReadKey, typename Failed>
bool readProfiles(SystemFacts& facts, const Registry& registry, const ReadKey& readKey, const Failed& failed) {
    const auto profile = [&](std::wstring name, std::wstring folder) {
        Profile found{std::move(name), std::move(folder)};
        found.folderExists = !found.folder.empty() && isFolder(found.folder);
        found.loaded = registry.loadedAs(found.name);
        facts.profiles.push_back(std::move(found));
    };
    LSTATUS error = ERROR_SUCCESS;
    const auto sids = registry.subkeys(profileList, &error);
    if (!sids && error != ERROR_FILE_NOT_FOUND)
        return failed(profileList, error), false;
    for (const std::wstring& sid : sids.value_or(std::vector<std::wstring>{})) {
        if (!isSidText(sid))
            continue;
        std::optional<std::vector<NamedValue>> values;
        if (!readKey({Hive::LocalMachine, profileList.path + L"\\" + sid}, values))
            return false;
        const std::vector<NamedValue> named = values.value_or(std::vector<NamedValue>{});
        profile(sid, expandedFolder(findValue(named, L"ProfileImagePath")));
        const RegistryValue* central = findValue(named, L"CentralProfile");
        facts.profiles.back().roaming = central && !central->text().value_or(L"").empty();
    }
    std::optional<std::vector<NamedValue>> values;
    if (!readKey(profileList, values))
        return false;
    const std::vector<NamedValue> list = values.value_or(std::vector<NamedValue>{});
    std::wstring defaultFolder = expandedFolder(findValue(list, L"Default"));
    const RegistryValue* name = findValue(list, L"DefaultUserProfile");
    if (defaultFolder.empty() && name && name->text())
        defaultFolder = expandedFolder(findValue(list, L"ProfilesDirectory")) + L"\\" + *name->text();
    profile(defaultProfileName, defaultFolder);
    profile(welcomeScreenName, L"");
    return true;
}

}  // namespace

bool runsUnderWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    static const auto isWow64Process = win32::kernelProcedure<IsWow64ProcessFunction>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

Win32FactReader::Win32FactReader(const Registry& registry, FormImages images, std::span<const std::uint8_t> self)
    : registry_(registry), images_(std::move(images)), self_(self) {}

std::optional<SystemFacts> Win32FactReader::read(MessageText& why) {
    SystemFacts facts;
    nativeMachine(facts);
    facts.windowsVersion = windowsVersion();
    facts.windowsFolder =
        win32::growingText([](wchar_t* buffer, DWORD size) { return GetSystemWindowsDirectoryW(buffer, size); });
    facts.programFilesFolder = programFilesFolder(registry_);
    facts.userLayoutCallAvailable = userLayoutCallAvailable();
    facts.runToken = hexDigits(GetTickCount() ^ GetCurrentProcessId() << 16, 8);

    // A key that is there but cannot be read whole stops the run: a plan
    // from part of it could undo nothing right.
    const auto failed = [&](const RegistryKey& key, LSTATUS error) {
        why = message(IDS_CANNOT_READ, {name(keyText(key)), windowsError(error)});
        return std::nullopt;
    };
    const auto readKey = [&](const RegistryKey& key, std::optional<std::vector<NamedValue>>& into,
                             bool* hasSubkeys = nullptr) {
        LSTATUS error = ERROR_SUCCESS;
        into = registry_.values(key, hasSubkeys, &error);
        return into || error == ERROR_FILE_NOT_FOUND || (failed(key, error), false);
    };

    const ScreenUser atTheScreen = userAtTheScreen(userOfProcess(GetCurrentProcess()), userOfSession());
    facts.whyNoUser = atTheScreen.whyNot;
    if (const auto& user = atTheScreen.user) {
        // Its keys are there while the user is signed in; one that is not
        // loaded is one that cannot be reached.
        if (!registry_.userHiveLoaded(user->sid)) {
            facts.whyNoUser = WhyNoUser::NotIdentified;
        } else {
            std::optional<std::vector<NamedValue>> preload, substitutes;
            if (!readKey(preloadKey(*user), preload) || !readKey(substitutesKey(*user), substitutes))
                return std::nullopt;
            facts.users.push_back({*user,
                                   {preload.has_value(), substitutes.has_value(),
                                    preload.value_or(std::vector<NamedValue>{}),
                                    substitutes.value_or(std::vector<NamedValue>{})}});
        }
    }

    if (!readProfiles(facts, registry_, readKey, failed))
        return std::nullopt;

    const RegistryKey layouts{Hive::LocalMachine, keyboardLayoutsPath};
    LSTATUS error = ERROR_SUCCESS;
    const auto klids = registry_.subkeys(layouts, &error);
    if (!klids && error != ERROR_FILE_NOT_FOUND)
        return failed(layouts, error);
    for (const std::wstring& klid : klids.value_or(std::vector<std::wstring>{})) {
        LayoutKey key{klid, {}, false};
        std::optional<std::vector<NamedValue>> values;
        if (!readKey(layoutKeyPath(klid), values, &key.hasSubkeys))
            return std::nullopt;
        key.values = values.value_or(std::vector<NamedValue>{});
        facts.layoutKeys.push_back(std::move(key));
    }
    if (!readKey({Hive::LocalMachine, uninstallEntryPath}, facts.uninstallEntry) ||
        !readKey(journalKey(), facts.journal))
        return std::nullopt;
    const RegistryKey waiting{Hive::LocalMachine, waitingPath};
    const auto waitingUsers = registry_.subkeys(waiting, &error);
    if (!waitingUsers && error != ERROR_FILE_NOT_FOUND)
        return failed(waiting, error);
    if (waitingUsers) {
        facts.waiting.emplace();
        for (const std::wstring& sid : *waitingUsers) {
            std::optional<std::vector<NamedValue>> entries;
            if (!readKey(waitingKey(sid), entries))
                return std::nullopt;
            facts.waiting->push_back({sid, entries.value_or(std::vector<NamedValue>{})});
        }
    }
    const RegistryKey sessionManager{Hive::LocalMachine, sessionManagerPath};
    facts.pendingRenames = registry_.value(sessionManager, pendingRenamesName, &error);
    if (!facts.pendingRenames && error != ERROR_FILE_NOT_FOUND)
        return failed(sessionManager, error);

    // A file that is there but cannot be read stops the run too.
    const auto readFileState = [&](const std::wstring& path, std::span<const std::uint8_t> ours, bool anyBuildIsOurs) {
        DWORD error = ERROR_SUCCESS;
        const auto state = fileState(path, ours, anyBuildIsOurs, &error);
        if (state)
            facts.files.push_back({path, *state});
        else
            why = message(IDS_CANNOT_READ, {name(path), windowsError(error)});
        return state.has_value();
    };
    std::vector<std::wstring> layoutFiles;
    if (facts.machine) {
        for (const Placement& placement : placements(*facts.machine, facts.windowsFolder)) {
            if (!readFileState(placement.path, images_[placement.form], false))
                return std::nullopt;
            layoutFiles.push_back(placement.path);
        }
    }
    for (const std::wstring& path : ourFiles(facts)) {
        if (std::find(layoutFiles.begin(), layoutFiles.end(), path) == layoutFiles.end() &&
            !readFileState(path, self_, true))
            return std::nullopt;
    }
    for (const std::wstring& folder : ourFolders(facts)) {
        if (isFolder(folder))
            facts.folders.push_back(folder);
    }
    return facts;
}

}  // namespace setup
