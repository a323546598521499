#include "win32_files.h"

#include "system_library.h"

namespace setup {
namespace {

DWORD status(BOOL done) { return done ? ERROR_SUCCESS : GetLastError(); }

}  // namespace

NativeFileSystem::NativeFileSystem() {
    using Disable = BOOL(WINAPI*)(PVOID*);
    static const auto disable = win32::kernelProcedure<Disable>("Wow64DisableWow64FsRedirection");
    active_ = disable && disable(&previous_);
}

NativeFileSystem::~NativeFileSystem() {
    using Revert = BOOL(WINAPI*)(PVOID);
    static const auto revert = win32::kernelProcedure<Revert>("Wow64RevertWow64FsRedirection");
    if (active_ && revert)
        revert(previous_);
}

std::optional<std::vector<std::uint8_t>> readFile(const std::wstring& path, DWORD* error) {
    NativeFileSystem native;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return std::nullopt;
    }
    auto bytes = readFile(file, error);
    CloseHandle(file);
    return bytes;
}

std::optional<std::vector<std::uint8_t>> readFile(HANDLE file, DWORD* error) {
    std::vector<std::uint8_t> bytes;
    const DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE;
    if (ok) {
        bytes.resize(size);
        DWORD read = 0;
        ok = size == 0 || (ReadFile(file, bytes.data(), size, &read, nullptr) && read == size);
    }
    *error = ok ? ERROR_SUCCESS : GetLastError();
    return ok ? std::optional(std::move(bytes)) : std::nullopt;
}

bool exists(const std::wstring& path) {
    NativeFileSystem native;
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isFolder(const std::wstring& path) {
    NativeFileSystem native;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD writeFile(const std::wstring& path, std::span<const std::uint8_t> bytes) {
    NativeFileSystem native;
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    return error;
}

DWORD copyFile(const std::wstring& from, const std::wstring& to) {
    NativeFileSystem native;
    return status(CopyFileW(from.c_str(), to.c_str(), FALSE));
}

DWORD flushFile(const std::wstring& path) {
    NativeFileSystem native;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    const DWORD error = status(FlushFileBuffers(file));
    CloseHandle(file);
    return error;
}

DWORD moveFile(const std::wstring& from, const std::wstring& to, bool replace) {
    NativeFileSystem native;
    return status(
        MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)));
}

DWORD deleteFile(const std::wstring& path) {
    NativeFileSystem native;
    return status(DeleteFileW(path.c_str()));
}

DWORD createFolder(const std::wstring& path) {
    NativeFileSystem native;
    return status(CreateDirectoryW(path.c_str(), nullptr));
}

DWORD removeFolder(const std::wstring& path) {
    NativeFileSystem native;
    return status(RemoveDirectoryW(path.c_str()));
}

DWORD scheduleForRestart(const std::wstring& source, const std::wstring& target) {
    NativeFileSystem native;
    return status(MoveFileExW(source.c_str(), target.empty() ? nullptr : target.c_str(),
                              MOVEFILE_DELAY_UNTIL_REBOOT | (target.empty() ? 0 : MOVEFILE_REPLACE_EXISTING)));
}

}  // namespace setup
