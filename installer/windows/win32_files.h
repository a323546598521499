// Files as the installer reaches them: by their real paths, with the file
// system redirection of a 32-bit process on 64-bit Windows turned off
// around each operation (so that System32 is the native folder), and the
// restart schedule Windows keeps for files in use.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>


namespace setup {

// Turns the redirection off while it lives.
class NativeFileSystem {
public:
    NativeFileSystem();
    ~NativeFileSystem();
    NativeFileSystem(const NativeFileSystem&) = delete;
    NativeFileSystem& operator=(const NativeFileSystem&) = delete;

private:
    PVOID previous_ = nullptr;
    bool active_ = false;
};

// The whole file; nothing, with error set, if it cannot be read.
std::optional<std::vector<std::uint8_t>> readFile(const std::wstring& path, DWORD* error);
std::optional<std::vector<std::uint8_t>> readFile(HANDLE file, DWORD* error);

bool exists(const std::wstring& path);
bool isFolder(const std::wstring& path);

DWORD writeFile(const std::wstring& path, std::span<const std::uint8_t> bytes);
DWORD copyFile(const std::wstring& from, const std::wstring& to);
// Writes what the file holds to disk before returning.
DWORD flushFile(const std::wstring& path);
DWORD moveFile(const std::wstring& from, const std::wstring& to, bool replace);
DWORD deleteFile(const std::wstring& path);
DWORD createFolder(const std::wstring& path);
DWORD removeFolder(const std::wstring& path);

// At the next restart source replaces target, or is deleted (target
// empty).
DWORD scheduleForRestart(const std::wstring& source, const std::wstring& target);

}  // namespace setup
