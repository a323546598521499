// setup.exe (shipped as setup7.exe and setup8.exe): installs, upgrades and
// uninstalls the layout. This file is the program's edge: it reads the
// facts of the system, hands them to the planner, carries the plan out
// through the Win32 executor below, and reports. It must run on Windows
// XP, so anything newer is looked up at run time, and every library that
// is not always taken from the system folder is loaded by its full path
// there.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "arguments.h"
#include "install_request.h"
#include "payload.h"
#include "payload_digests.h"
#include "pending_renames.h"
#include "plan.h"
#include "resource.h"
#include "run.h"
#include "system_library.h"

namespace setup {
namespace {

// Not in the XP-level headers this file is compiled against.
constexpr REGSAM keyWow64_64Key = 0x0100;
constexpr DWORD installLayoutOrTipUninstall = 0x00000001;

constexpr wchar_t sessionManagerPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t pendingRenamesName[] = L"PendingFileRenameOperations";

HMODULE kernel32() { return GetModuleHandleW(L"kernel32.dll"); }
HMODULE advapi32() { return GetModuleHandleW(L"advapi32.dll"); }

// Text of a length-returning Win32 call that may need a larger buffer.
template <typename Call>
std::wstring growingString(Call call) {
    std::wstring text(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
        if (length == 0)
            return {};
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(static_cast<std::size_t>(length) * 2);
    }
}

// A string of the program's string table. Read through the resource
// calls of kernel32: the installer does not import user32 (see show()).
std::wstring loadString(UINT id) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id / 16 + 1), MAKEINTRESOURCEW(6));  // RT_STRING
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* block = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
    if (!block)
        return {};
    // Sixteen strings to a block, each with its length first.
    const wchar_t* const end = block + SizeofResource(module, found) / sizeof(wchar_t);
    for (UINT i = 0; i < id % 16 && block < end; ++i)
        block += 1 + *block;
    if (block >= end || block + 1 + *block > end)
        return {};
    return std::wstring(block + 1, *block);
}

std::wstring replaceFirst(std::wstring text, std::wstring_view marker, const std::wstring& with) {
    const std::size_t at = text.find(marker);
    if (at != std::wstring::npos)
        text.replace(at, marker.size(), with);
    return text;
}

std::wstring errorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text.empty() ? L"error " + std::to_wstring(error) : text;
}

std::string utf8(std::wstring_view text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

// The /log file: one UTF-8 line per step, written as it happens.
class Log {
public:
    explicit Log(const std::optional<std::wstring>& path) {
        if (path)
            file_ = CreateFileW(path->c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~Log() {
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    bool failedToOpen(const std::optional<std::wstring>& path) const {
        return path && file_ == INVALID_HANDLE_VALUE;
    }

    void line(std::wstring_view text) {
        if (file_ == INVALID_HANDLE_VALUE)
            return;
        const std::string bytes = utf8(text) + "\r\n";
        DWORD written = 0;
        WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

std::wstring outcomeText(const Outcome& outcome) {
    if (outcome.error != 0)
        return L"failed: error " + std::to_wstring(outcome.error) + L" (" + errorText(outcome.error) + L")";
    return outcome.restartNeeded ? L"scheduled for the next restart" : L"done";
}

// Turns the file-system redirection of a 32-bit process on 64-bit Windows
// off while it lives, so that System32 means the native system folder.
class NativeFileSystem {
public:
    NativeFileSystem() {
        using Disable = BOOL(WINAPI*)(PVOID*);
        static const auto disable = win32::procedure<Disable>(kernel32(), "Wow64DisableWow64FsRedirection");
        active_ = disable && disable(&previous_);
    }
    ~NativeFileSystem() {
        using Revert = BOOL(WINAPI*)(PVOID);
        static const auto revert = win32::procedure<Revert>(kernel32(), "Wow64RevertWow64FsRedirection");
        if (active_ && revert)
            revert(previous_);
    }
    NativeFileSystem(const NativeFileSystem&) = delete;
    NativeFileSystem& operator=(const NativeFileSystem&) = delete;

private:
    PVOID previous_ = nullptr;
    bool active_ = false;
};

std::optional<std::vector<std::uint8_t>> readFile(const std::wstring& path, DWORD* error = nullptr) {
    NativeFileSystem native;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error)
            *error = GetLastError();
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    const DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE;
    if (ok) {
        bytes.resize(size);
        DWORD read = 0;
        ok = size == 0 || (ReadFile(file, bytes.data(), size, &read, nullptr) && read == size);
    }
    if (!ok && error)
        *error = GetLastError();
    CloseHandle(file);
    return ok ? std::optional(std::move(bytes)) : std::nullopt;
}

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

bool sameFile(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

// ---------------------------------------------------------------------------
// The registry, through the 64-bit view where there is one.

class Registry {
public:
    explicit Registry(bool wow64) : view_(wow64 ? keyWow64_64Key : 0) {}

    static HKEY root(Hive hive) { return hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

    LSTATUS open(const RegistryKey& key, REGSAM access, HKEY* handle) const {
        return RegOpenKeyExW(root(key.hive), key.path.c_str(), 0, access | view(key.hive), handle);
    }

    // Its values, or nothing if the key is missing.
    std::optional<std::vector<NamedValue>> values(const RegistryKey& key, bool* hasSubkeys = nullptr) const {
        HKEY handle;
        if (open(key, KEY_READ, &handle) != ERROR_SUCCESS)
            return std::nullopt;
        std::vector<NamedValue> values;
        DWORD subkeys = 0, count = 0, longestName = 0, longestData = 0;
        RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &count, &longestName,
                         &longestData, nullptr, nullptr);
        if (hasSubkeys)
            *hasSubkeys = subkeys != 0;
        std::wstring name(longestName + 1, L'\0');
        std::vector<BYTE> data(longestData + sizeof(wchar_t));
        for (DWORD i = 0; i < count; ++i) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD dataSize = static_cast<DWORD>(data.size());
            DWORD type = 0;
            std::fill(data.begin(), data.end(), BYTE{0});
            if (RegEnumValueW(handle, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) !=
                ERROR_SUCCESS)
                continue;
            NamedValue value{name.substr(0, nameLength), {}};
            if (type == REG_SZ || type == REG_EXPAND_SZ) {
                std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), dataSize / sizeof(wchar_t));
                while (!text.empty() && text.back() == L'\0')
                    text.pop_back();
                value.value = type == REG_SZ ? stringValue(text) : expandStringValue(text);
            } else if (type == REG_DWORD && dataSize == 4) {
                value.value = dwordValue(*reinterpret_cast<const DWORD*>(data.data()));
            } else {
                value.value = {RegistryValue::Kind::Other, {}, type, {data.begin(), data.begin() + dataSize}};
            }
            values.push_back(std::move(value));
        }
        RegCloseKey(handle);
        return values;
    }

    std::vector<std::wstring> subkeys(const RegistryKey& key) const {
        std::vector<std::wstring> names;
        HKEY handle;
        if (open(key, KEY_READ, &handle) != ERROR_SUCCESS)
            return names;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = static_cast<DWORD>(std::size(name));
            if (RegEnumKeyExW(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
        RegCloseKey(handle);
        return names;
    }

    LSTATUS createKey(const RegistryKey& key) const {
        HKEY handle;
        const LSTATUS status = RegCreateKeyExW(root(key.hive), key.path.c_str(), 0, nullptr, 0,
                                               KEY_WRITE | view(key.hive), nullptr, &handle, nullptr);
        if (status == ERROR_SUCCESS)
            RegCloseKey(handle);
        return status;
    }

    LSTATUS deleteKey(const RegistryKey& key) const {
        using DeleteKeyEx = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
        static const auto deleteKeyEx = win32::procedure<DeleteKeyEx>(advapi32(), "RegDeleteKeyExW");
        if (view(key.hive) && deleteKeyEx)
            return deleteKeyEx(root(key.hive), key.path.c_str(), view(key.hive), 0);
        return RegDeleteKeyW(root(key.hive), key.path.c_str());
    }

    LSTATUS setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) const {
        HKEY handle;
        LSTATUS status = open(key, KEY_SET_VALUE, &handle);
        if (status != ERROR_SUCCESS)
            return status;
        if (value.kind == RegistryValue::Kind::Dword) {
            const DWORD number = value.number;
            status = RegSetValueExW(handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                    sizeof number);
        } else if (value.kind == RegistryValue::Kind::Other) {
            status = RegSetValueExW(handle, name.c_str(), 0, value.number, value.bytes.data(),
                                    static_cast<DWORD>(value.bytes.size()));
        } else {
            status = RegSetValueExW(handle, name.c_str(), 0,
                                    value.kind == RegistryValue::Kind::String ? REG_SZ : REG_EXPAND_SZ,
                                    reinterpret_cast<const BYTE*>(value.text.c_str()),
                                    static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(handle);
        return status;
    }

    LSTATUS deleteValue(const RegistryKey& key, const std::wstring& name) const {
        HKEY handle;
        LSTATUS status = open(key, KEY_SET_VALUE, &handle);
        if (status != ERROR_SUCCESS)
            return status;
        status = RegDeleteValueW(handle, name.c_str());
        RegCloseKey(handle);
        return status;
    }

    std::optional<std::wstring> multiString(const RegistryKey& key, const wchar_t* name) const {
        HKEY handle;
        if (open(key, KEY_READ, &handle) != ERROR_SUCCESS)
            return std::nullopt;
        DWORD type = 0, size = 0;
        std::optional<std::wstring> text;
        if (RegQueryValueExW(handle, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
            std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
            if (RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
                ERROR_SUCCESS)
                text = buffer.substr(0, size / sizeof(wchar_t));
        }
        RegCloseKey(handle);
        return text;
    }

    LSTATUS setMultiString(const RegistryKey& key, const wchar_t* name, const std::wstring& text) const {
        HKEY handle;
        LSTATUS status = open(key, KEY_SET_VALUE, &handle);
        if (status != ERROR_SUCCESS)
            return status;
        status = RegSetValueExW(handle, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                static_cast<DWORD>(text.size() * sizeof(wchar_t)));
        RegCloseKey(handle);
        return status;
    }

private:
    // HKEY_CURRENT_USER is not split by bitness.
    REGSAM view(Hive hive) const { return hive == Hive::LocalMachine ? view_ : 0; }

    REGSAM view_;
};

// ---------------------------------------------------------------------------
// The system's call that adds a keyboard layout to the user's list
// (Windows Vista and later), from input.dll in the system folder.

using InstallLayoutOrTipFunction = BOOL(WINAPI*)(LPCWSTR, DWORD);

InstallLayoutOrTipFunction installLayoutOrTip() {
    static const auto function =
        win32::procedure<InstallLayoutOrTipFunction>(win32::loadSystemLibrary(L"input.dll"), "InstallLayoutOrTip");
    return function;
}

// ---------------------------------------------------------------------------
// The executor: carries out each change on this system and keeps what it
// needs to undo it.

class Win32Executor final : public Executor {
public:
    Win32Executor(const Registry& registry, Log& log, std::map<Form, std::span<const std::uint8_t>> images,
                  std::vector<std::uint8_t> self, std::wstring selfPath)
        : registry_(registry), log_(log), images_(std::move(images)), self_(std::move(self)),
          selfPath_(std::move(selfPath)) {}

    Outcome apply(const Change& change) override {
        if (const auto* c = std::get_if<CreateKey>(&change))
            return status(registry_.createKey(c->key));
        if (const auto* c = std::get_if<SetValue>(&change))
            return status(registry_.setValue(c->key, c->name, c->value));
        if (const auto* c = std::get_if<DeleteValue>(&change))
            return status(registry_.deleteValue(c->key, c->name));
        if (const auto* c = std::get_if<DeleteKey>(&change))
            return status(registry_.deleteKey(c->key));
        if (const auto* c = std::get_if<PlaceFile>(&change))
            return placeFile(*c);
        if (const auto* c = std::get_if<RemoveFile>(&change))
            return removeFile(c->path);
        if (const auto* c = std::get_if<CreateFolder>(&change)) {
            NativeFileSystem native;
            return status(CreateDirectoryW(c->path.c_str(), nullptr) ? 0 : GetLastError());
        }
        if (const auto* c = std::get_if<RemoveFolder>(&change)) {
            NativeFileSystem native;
            return status(RemoveDirectoryW(c->path.c_str()) ? 0 : GetLastError());
        }
        if (const auto* c = std::get_if<UserLayoutCall>(&change)) {
            const auto call = installLayoutOrTip();
            if (!call)
                return status(ERROR_PROC_NOT_FOUND);
            SetLastError(0);
            if (call(c->layout.c_str(), c->uninstall ? installLayoutOrTipUninstall : 0))
                return {};
            const DWORD error = GetLastError();
            return status(error ? error : ERROR_FUNCTION_FAILED);
        }
        return status(ERROR_INVALID_FUNCTION);
    }

    Outcome undo(const Change& change) override {
        if (const auto* c = std::get_if<PlaceFile>(&change))
            return undoFile(c->path);
        if (const auto* c = std::get_if<RemoveFile>(&change))
            return undoFile(c->path);
        Outcome last;
        for (const Change& inverseChange : inverse(change)) {
            last = apply(inverseChange);
            if (last.error != 0)
                return last;
        }
        return last;
    }

    Outcome finish(const std::vector<std::wstring>& emptiedFolders) override {
        NativeFileSystem native;
        Outcome outcome;
        for (const auto& [path, record] : files_) {
            if (record.kept.empty())
                continue;
            if (DeleteFileW(record.kept.c_str())) {
                log_.line(L"delete " + record.kept + L": done");
            } else if (MoveFileExW(record.kept.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
                log_.line(L"delete " + record.kept + L": scheduled for the next restart");
                // Our own running copy is no reason to restart.
                outcome.restartNeeded |= !sameFile(path, selfPath_);
            } else {
                log_.line(L"delete " + record.kept + L": " + outcomeText(status(GetLastError())));
            }
        }
        for (const std::wstring& folder : emptiedFolders) {
            if (RemoveDirectoryW(folder.c_str()))
                log_.line(L"remove folder " + folder + L": done");
            else if (MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                log_.line(L"remove folder " + folder + L": scheduled for the next restart");
        }
        return outcome;
    }

    void record(std::size_t step, const std::wstring& what, const Outcome& outcome) override {
        log_.line(L"step " + std::to_wstring(step + 1) + L": " + what + L": " + outcomeText(outcome));
    }

private:
    // How a file change was carried out, for undoing it and for finishing.
    struct FileRecord {
        std::wstring kept;       // the old file, moved aside
        std::wstring staged;     // the new file, waiting for the next restart
        bool created = false;    // no file was there before
        bool removalScheduled = false;
    };

    static Outcome status(DWORD error) { return {error, false}; }

    // A free name in folder, for a file on its way in or out.
    static std::optional<std::wstring> temporaryName(const std::wstring& folder, DWORD* error) {
        wchar_t name[MAX_PATH + 16];
        if (folder.size() + 14 >= MAX_PATH || !GetTempFileNameW(folder.c_str(), L"krd", 0, name)) {
            *error = folder.size() + 14 >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
            return std::nullopt;
        }
        return std::wstring(name);
    }

    // Whether another process holds the file (a loaded layout, an open
    // handle), so that it cannot be replaced or deleted until a restart.
    static bool inUse(const std::wstring& path) {
        const HANDLE file =
            CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return false;
        }
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
    }

    Outcome placeFile(const PlaceFile& change) {
        std::span<const std::uint8_t> bytes = self_;
        if (change.source.image)
            bytes = images_.at(*change.source.image);

        NativeFileSystem native;
        DWORD error = 0;
        const auto staged = temporaryName(folderOf(change.path), &error);
        if (!staged)
            return status(error);
        if (!writeWhole(*staged, bytes, &error)) {
            DeleteFileW(staged->c_str());
            return status(error);
        }
        FileRecord record;
        const bool exists = GetFileAttributesW(change.path.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (exists && inUse(change.path)) {
            if (!MoveFileExW(staged->c_str(), change.path.c_str(),
                             MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
                error = GetLastError();
                DeleteFileW(staged->c_str());
                return status(error);
            }
            record.staged = *staged;
            files_[change.path] = record;
            return {0, true};
        }
        if (exists) {
            const auto kept = temporaryName(folderOf(change.path), &error);
            if (!kept || !MoveFileExW(change.path.c_str(), kept->c_str(), MOVEFILE_REPLACE_EXISTING)) {
                error = kept ? GetLastError() : error;
                if (kept)
                    DeleteFileW(kept->c_str());
                DeleteFileW(staged->c_str());
                return status(error);
            }
            record.kept = *kept;
        } else {
            record.created = true;
        }
        if (!MoveFileExW(staged->c_str(), change.path.c_str(), MOVEFILE_WRITE_THROUGH)) {
            error = GetLastError();
            DeleteFileW(staged->c_str());
            if (!record.kept.empty())
                MoveFileExW(record.kept.c_str(), change.path.c_str(), MOVEFILE_REPLACE_EXISTING);
            return status(error);
        }
        files_[change.path] = record;
        return {};
    }

    Outcome removeFile(const std::wstring& path) {
        NativeFileSystem native;
        FileRecord record;
        DWORD error = 0;
        // The running installer's own copy (an uninstall started from
        // Programs and Features) can be moved but not deleted: it moves to
        // the temporary folder, out of the way of its folder's removal.
        if (sameFile(path, selfPath_)) {
            const auto kept = temporaryName(growingString([](wchar_t* buffer, DWORD size) {
                                                return GetTempPathW(size, buffer);
                                            }),
                                            &error);
            if (kept && MoveFileExW(path.c_str(), kept->c_str(), MOVEFILE_REPLACE_EXISTING)) {
                record.kept = *kept;
                files_[path] = record;
                return {};
            }
            if (kept)
                DeleteFileW(kept->c_str());
        }
        if (sameFile(path, selfPath_) || inUse(path)) {
            if (!MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                return status(GetLastError());
            record.removalScheduled = true;
            files_[path] = record;
            return {0, !sameFile(path, selfPath_)};
        }
        const auto aside = temporaryName(folderOf(path), &error);
        if (!aside)
            return status(error);
        if (!MoveFileExW(path.c_str(), aside->c_str(), MOVEFILE_REPLACE_EXISTING)) {
            error = GetLastError();
            DeleteFileW(aside->c_str());
            return status(error);
        }
        record.kept = *aside;
        files_[path] = record;
        return {};
    }

    Outcome undoFile(const std::wstring& path) {
        NativeFileSystem native;
        const auto found = files_.find(path);
        if (found == files_.end())
            return {};
        const FileRecord record = found->second;
        files_.erase(found);
        if (!record.staged.empty()) {
            unschedule(record.staged);
            return status(DeleteFileW(record.staged.c_str()) ? 0 : GetLastError());
        }
        if (record.removalScheduled)
            return status(unschedule(path));
        if (!record.kept.empty())
            return status(MoveFileExW(record.kept.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0
                                                                                                    : GetLastError());
        if (record.created)
            return status(DeleteFileW(path.c_str()) ? 0 : GetLastError());
        return {};
    }

    // Takes a scheduled operation on source out of the restart list.
    DWORD unschedule(const std::wstring& source) {
        const RegistryKey sessionManager{Hive::LocalMachine, sessionManagerPath};
        const auto value = registry_.multiString(sessionManager, pendingRenamesName);
        if (!value)
            return ERROR_FILE_NOT_FOUND;
        const std::vector<std::wstring> pairs = withoutPendingSource(splitMultiString(*value), source);
        if (pairs.empty())
            return registry_.deleteValue(sessionManager, pendingRenamesName);
        return registry_.setMultiString(sessionManager, pendingRenamesName, joinMultiString(pairs));
    }

    static bool writeWhole(const std::wstring& path, std::span<const std::uint8_t> bytes, DWORD* error) {
        const HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            *error = GetLastError();
            return false;
        }
        DWORD written = 0;
        const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                        written == bytes.size() && FlushFileBuffers(file);
        *error = ok ? 0 : GetLastError();
        CloseHandle(file);
        return ok;
    }

    const Registry& registry_;
    Log& log_;
    std::map<Form, std::span<const std::uint8_t>> images_;
    std::vector<std::uint8_t> self_;
    std::wstring selfPath_;
    std::map<std::wstring, FileRecord> files_;
};

// ---------------------------------------------------------------------------
// Facts of this system.

bool runsUnderWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    static const auto isWow64Process = win32::procedure<IsWow64ProcessFunction>(kernel32(), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

Machine nativeMachine() {
    using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    static const auto isWow64Process2 = win32::procedure<IsWow64Process2Function>(kernel32(), "IsWow64Process2");
    USHORT process = 0, native = 0;
    if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native)) {
        if (native == machineArm64)
            return Machine::Arm64;
        if (native == IMAGE_FILE_MACHINE_AMD64)
            return Machine::X64;
        return Machine::X86;
    }
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? Machine::X64 : Machine::X86;
}

// Major and minor version as one number: 501 for XP, 602 for Windows 8.
// The manifest's list of systems keeps later Windows from reporting 602.
unsigned windowsVersion() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) ? version.dwMajorVersion * 100 + version.dwMinorVersion : 501;
}

std::wstring programFilesFolder() {
    // The value as this 32-bit program sees it: "Program Files (x86)" on
    // 64-bit Windows.
    HKEY handle;
    std::wstring folder;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &handle) ==
        ERROR_SUCCESS) {
        wchar_t buffer[MAX_PATH] = {};
        DWORD size = sizeof buffer - sizeof(wchar_t);
        DWORD type = 0;
        if (RegQueryValueExW(handle, L"ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ)
            folder = buffer;
        RegCloseKey(handle);
    }
    return folder;
}

FileState fileState(const std::wstring& path, std::span<const std::uint8_t> ours, bool anyBuildIsOurs) {
    NativeFileSystem native;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? FileState::Absent
                                                                                                 : FileState::Foreign;
    // A folder, or a file that cannot be read, is not ours to replace.
    const auto bytes = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? std::nullopt : readFile(path);
    if (!bytes)
        return FileState::Foreign;
    if (std::equal(bytes->begin(), bytes->end(), ours.begin(), ours.end()))
        return FileState::Identical;
    return anyBuildIsOurs || isThisLayout(*bytes) ? FileState::OtherBuild : FileState::Foreign;
}

SystemFacts readFacts(const Registry& registry, const std::map<Form, std::span<const std::uint8_t>>& images,
                      std::span<const std::uint8_t> self) {
    SystemFacts facts;
    facts.machine = nativeMachine();
    facts.windowsMajor = windowsVersion() / 100;
    facts.windowsFolder = growingString(
        [](wchar_t* buffer, DWORD size) { return GetSystemWindowsDirectoryW(buffer, size); });
    facts.programFilesFolder = programFilesFolder();
    facts.userLayoutCallAvailable = installLayoutOrTip() != nullptr;

    const RegistryKey layouts{Hive::LocalMachine, keyboardLayoutsPath};
    for (const std::wstring& klid : registry.subkeys(layouts)) {
        LayoutKey key{klid, {}, false};
        if (auto values = registry.values({Hive::LocalMachine, layouts.path + L"\\" + klid}, &key.hasSubkeys))
            key.values = std::move(*values);
        facts.layoutKeys.push_back(std::move(key));
    }
    if (auto preload = registry.values({Hive::CurrentUser, preloadPath})) {
        facts.userLayouts.preloadExists = true;
        facts.userLayouts.preload = std::move(*preload);
    }
    if (auto substitutes = registry.values({Hive::CurrentUser, substitutesPath})) {
        facts.userLayouts.substitutesExists = true;
        facts.userLayouts.substitutes = std::move(*substitutes);
    }
    facts.uninstallEntry = registry.values({Hive::LocalMachine, uninstallEntryPath});

    for (const Placement& placement : placements(facts.machine, facts.windowsFolder)) {
        const auto image = images.find(placement.form);
        const std::span<const std::uint8_t> ours =
            image == images.end() ? std::span<const std::uint8_t>{} : image->second;
        facts.files[placement.path] = fileState(placement.path, ours, false);
    }
    facts.files[keptCopy(facts)] = fileState(keptCopy(facts), self, true);
    facts.keptFolderExists = GetFileAttributesW(keptFolder(facts).c_str()) != INVALID_FILE_ATTRIBUTES;
    return facts;
}

// ---------------------------------------------------------------------------
// The program.

bool isAdministrator() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

std::span<const std::uint8_t> embeddedResource(std::wstring_view name) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const std::wstring resourceName(name);
    const HRSRC found = FindResourceW(module, resourceName.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return {};
    return {static_cast<const std::uint8_t*>(data), SizeofResource(module, found)};
}

struct Report {
    ExitCode exitCode;
    std::wstring message;
};

// The one message window. user32 is bound here, by its full path, rather
// than imported: Wine's user32 imports libraries that Windows would then
// look for beside the installer, and a quiet run needs no window at all.
void show(const Options* options, const Report& report) {
    if (options && options->quiet)
        return;
    using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
    const auto messageBox =
        win32::procedure<MessageBoxFunction>(win32::loadSystemLibrary(L"user32.dll"), "MessageBoxW");
    if (!messageBox)
        return;
    const UINT icon = report.exitCode == ExitCode::Done || report.exitCode == ExitCode::RestartNeeded
                          ? MB_ICONINFORMATION
                          : MB_ICONERROR;
    messageBox(nullptr, report.message.c_str(), loadString(IDS_TITLE).c_str(), MB_OK | icon);
}

// Install or uninstall, as the options say: check the payload, read the
// facts, plan, run.
Report carryOut(const Options& options, Log& log) {
    const bool wow64 = runsUnderWow64();
    const Registry registry(wow64);
    const UINT failed = options.action == Action::Uninstall ? IDS_UNINSTALL_FAILED : IDS_INSTALL_FAILED;
    const auto failure = [&](const std::wstring& why) {
        log.line(L"failed: " + why);
        return Report{ExitCode::Failed, replaceFirst(loadString(failed), L"%1", why)};
    };

    // Step one: every embedded image is what the build recorded.
    std::map<Form, std::span<const std::uint8_t>> images;
    std::optional<LayoutStrings> strings;
    Package package;
    for (const EmbeddedImage& embedded : embeddedImages) {
        const std::span<const std::uint8_t> bytes = embeddedResource(formInfo(embedded.form).resourceName);
        const ImageCheck check = checkImage(embedded.form, bytes, embedded.digest);
        log.line(L"check " + std::wstring(formInfo(embedded.form).resourceName) + L": " +
                 (check.strings ? L"done" : L"failed: " + check.problem));
        if (!check.strings)
            return failure(check.problem);
        if (strings && (strings->layoutText != check.strings->layoutText ||
                        strings->languageId != check.strings->languageId))
            return failure(L"the embedded layout images disagree on the layout's name or locale");
        strings = check.strings;
        images[embedded.form] = bytes;
        package.imageSizes[embedded.form] = bytes.size();
    }
    if (!strings)
        return failure(L"the installer carries no layout image");
    package.strings = *strings;

    const std::wstring selfPath = win32::modulePath();
    DWORD error = 0;
    std::optional<std::vector<std::uint8_t>> self = readFile(selfPath, &error);
    if (!self)
        return failure(selfPath + L": " + errorText(error));
    package.installerSize = self->size();

    const SystemFacts facts = readFacts(registry, images, *self);
    for (const Placement& placement : placements(facts.machine, facts.windowsFolder)) {
        if (!images.contains(placement.form))
            return failure(L"this installer carries no layout image for this processor (" +
                           std::wstring(formInfo(placement.form).resourceName) + L")");
    }
    const Plan plan =
        options.action == Action::Uninstall ? planUninstall(facts, package) : planInstall(facts, package);
    if (!plan.problem.empty())
        return failure(plan.problem);
    log.line(L"layout " + plan.klid + L", " + std::to_wstring(plan.steps.size()) + L" steps");

    Win32Executor executor(registry, log, images, std::move(*self), selfPath);
    const RunResult result = run(plan, executor);
    if (result.exitCode == ExitCode::Failed) {
        if (!result.notUndone.empty()) {
            std::wstring list;
            for (const std::wstring& change : result.notUndone)
                list += change + L"\n";
            return {ExitCode::Failed, replaceFirst(loadString(IDS_NOT_UNDONE), L"%1", list)};
        }
        return failure(result.failedChange + L": " + errorText(result.error));
    }
    const bool restart = result.exitCode == ExitCode::RestartNeeded;
    UINT message;
    if (options.action == Action::Uninstall)
        message = restart ? IDS_UNINSTALLED_RESTART : IDS_UNINSTALLED;
    else
        // Win+Space switches layouts from Windows 8 on.
        message = restart ? IDS_INSTALLED_RESTART
                          : windowsVersion() >= 602 ? IDS_INSTALLED : IDS_INSTALLED_OLDER_WINDOWS;
    log.line(restart ? L"finished: a restart is needed" : L"finished");
    return {result.exitCode, loadString(message)};
}

int main() {
    win32::restrictLibrarySearch();
    const ParsedArguments parsed = parseArguments(halvaro::argumentText(GetCommandLineW()));
    if (!parsed.options) {
        const Report report{ExitCode::BadArguments, replaceFirst(loadString(IDS_BAD_ARGUMENTS), L"%1", parsed.error)};
        // A bad command line still honours a /quiet in it.
        Options shown;
        for (const std::wstring& argument : splitArguments(halvaro::argumentText(GetCommandLineW()))) {
            const ParsedArguments single = parseArguments(argument);
            shown.quiet |= single.options && single.options->quiet;
        }
        show(&shown, report);
        return static_cast<int>(report.exitCode);
    }
    const Options& options = *parsed.options;
    if (options.action == Action::ShowUsage) {
        show(&options, {ExitCode::Done, loadString(IDS_USAGE)});
        return 0;
    }
    if (!isAdministrator()) {
        const Report report{ExitCode::NotAdministrator, loadString(IDS_NOT_ADMINISTRATOR)};
        show(&options, report);
        return static_cast<int>(report.exitCode);
    }
    Log log(options.logPath);
    if (log.failedToOpen(options.logPath)) {
        const DWORD error = GetLastError();
        const Report report{ExitCode::BadArguments,
                            replaceFirst(loadString(IDS_BAD_ARGUMENTS), L"%1",
                                         L"cannot write the log " + *options.logPath + L": " + errorText(error))};
        show(&options, report);
        return static_cast<int>(report.exitCode);
    }
    const Report report = carryOut(options, log);
    show(&options, report);
    return static_cast<int>(report.exitCode);
}

}  // namespace
}  // namespace setup

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return setup::main(); }

// The run-time library's handler for a fatal C++ error prints the error's
// demangled type to the standard error, which this GUI program has not got;
// replacing it leaves the demangler, a sixth of the program, out.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
