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

// The owner of the shell on this screen: the user signed in there, also
// when an administrator's password elevated the installer.
std::optional<std::wstring> userOfShell() {
    const HMODULE user32 = win32::loadSystemLibrary(L"user32.dll");
    using GetShellWindowFunction = HWND(WINAPI*)();
    using GetWindowThreadProcessIdFunction = DWORD(WINAPI*)(HWND, LPDWORD);
    const auto getShellWindow = win32::procedure<GetShellWindowFunction>(user32, "GetShellWindow");
    const auto getWindowThreadProcessId =
        win32::procedure<GetWindowThreadProcessIdFunction>(user32, "GetWindowThreadProcessId");
    const HWND shell = getShellWindow ? getShellWindow() : nullptr;
    DWORD id = 0;
    if (!shell || !getWindowThreadProcessId(shell, &id))
        return std::nullopt;
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id);
    if (!process)
        return std::nullopt;
    auto sid = userOfProcess(process);
    CloseHandle(process);
    return sid;
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

FileState fileState(const std::wstring& path, std::span<const std::uint8_t> ours, bool anyBuildIsOurs) {
    if (isFolder(path))
        return FileState::Foreign;
    DWORD error = ERROR_SUCCESS;
    const auto bytes = readFile(path, &error);
    if (!bytes)
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileState::Absent
                                                                               : FileState::Foreign;
    if (std::equal(bytes->begin(), bytes->end(), ours.begin(), ours.end()))
        return FileState::Identical;
    return anyBuildIsOurs || isThisLayout(versionBlock(path)) ? FileState::OtherBuild : FileState::Foreign;
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
        why = message(IDS_CANNOT_READ, {name((key.hive == Hive::LocalMachine ? L"HKLM\\" : L"HKU\\") + key.path),
                                        windowsError(error)});
        return std::nullopt;
    };
    const auto readKey = [&](const RegistryKey& key, std::optional<std::vector<NamedValue>>& into,
                             bool* hasSubkeys = nullptr) {
        LSTATUS error = ERROR_SUCCESS;
        into = registry_.values(key, hasSubkeys, &error);
        return into || error == ERROR_FILE_NOT_FOUND || (failed(key, error), false);
    };

    if (std::optional<User> user = userAtTheScreen(userOfProcess(GetCurrentProcess()), userOfShell())) {
        // Its keys are there while the user is signed in.
        HKEY hive = nullptr;
        if (RegOpenKeyExW(HKEY_USERS, user->sid.c_str(), 0, KEY_READ, &hive) == ERROR_SUCCESS) {
            RegCloseKey(hive);
            facts.user = std::move(user);
        }
    }
    if (facts.user) {
        std::optional<std::vector<NamedValue>> preload, substitutes;
        if (!readKey(preloadKey(*facts.user), preload) || !readKey(substitutesKey(*facts.user), substitutes))
            return std::nullopt;
        facts.userLayouts = {preload.has_value(), substitutes.has_value(), preload.value_or(std::vector<NamedValue>{}),
                             substitutes.value_or(std::vector<NamedValue>{})};
    }

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
        !readKey({Hive::LocalMachine, journalPath}, facts.journal))
        return std::nullopt;
    const RegistryKey sessionManager{Hive::LocalMachine, sessionManagerPath};
    facts.pendingRenames = registry_.value(sessionManager, pendingRenamesName, &error);
    if (!facts.pendingRenames && error != ERROR_FILE_NOT_FOUND)
        return failed(sessionManager, error);

    std::vector<std::wstring> layoutFiles;
    if (facts.machine) {
        for (const Placement& placement : placements(*facts.machine, facts.windowsFolder)) {
            facts.files.push_back({placement.path, fileState(placement.path, images_[placement.form], false)});
            layoutFiles.push_back(placement.path);
        }
    }
    for (const std::wstring& path : ourFiles(facts)) {
        if (std::find(layoutFiles.begin(), layoutFiles.end(), path) == layoutFiles.end())
            facts.files.push_back({path, fileState(path, self_, true)});
    }
    for (const std::wstring& folder : ourFolders(facts)) {
        if (isFolder(folder))
            facts.folders.push_back(folder);
    }
    return facts;
}

}  // namespace setup
