// What the installer's core asks of the system it changes: single
// operations, each answered with a Windows error code (0: done). The core
// decides what to do with the answers; the Win32 edge (win32_system.cpp)
// and the tests' system in memory carry the operations out.
#pragma once

#include <cstdint>
#include <string>

#include "steps.h"

namespace setup {

// The Windows error codes the core tells apart.
namespace winerror {
inline constexpr std::uint32_t fileNotFound = 2;
inline constexpr std::uint32_t pathNotFound = 3;
inline constexpr std::uint32_t accessDenied = 5;
inline constexpr std::uint32_t sharingViolation = 32;
inline constexpr std::uint32_t lockViolation = 33;
inline constexpr std::uint32_t fileExists = 80;
inline constexpr std::uint32_t alreadyExists = 183;
inline constexpr std::uint32_t userMappedFile = 1224;
}  // namespace winerror

// Whether an error says another process holds the file (a loaded image,
// an open handle), as opposed to the file or its folder being wrong.
bool isInUse(std::uint32_t error);

class System {
public:
    virtual ~System() = default;

    // The registry. createKey succeeds on a key that exists; deleteKey
    // deletes a key without subkeys.
    virtual std::uint32_t createKey(const RegistryKey& key) = 0;
    virtual std::uint32_t deleteKey(const RegistryKey& key) = 0;
    virtual std::uint32_t setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) = 0;
    virtual std::uint32_t deleteValue(const RegistryKey& key, const std::wstring& name) = 0;
    // Writes what the key holds to disk before returning.
    virtual std::uint32_t flush(const RegistryKey& key) = 0;

    // Files. A loaded image can be renamed but neither deleted nor
    // replaced; a file another process holds open without sharing delete
    // can be neither.
    virtual bool fileExists(const std::wstring& path) = 0;
    virtual std::uint32_t writeFile(const std::wstring& path, const FileSource& source) = 0;
    virtual std::uint32_t copyFile(const std::wstring& from, const std::wstring& to) = 0;
    virtual std::uint32_t moveFile(const std::wstring& from, const std::wstring& to, bool replace) = 0;
    virtual std::uint32_t deleteFile(const std::wstring& path) = 0;
    virtual std::uint32_t createFolder(const std::wstring& path) = 0;
    virtual std::uint32_t removeFolder(const std::wstring& path) = 0;

    // The restart schedule: at the next restart, source replaces target,
    // or is deleted when target is empty. unschedule takes every
    // operation on source out again (none: done).
    virtual std::uint32_t schedule(const std::wstring& source, const std::wstring& target) = 0;
    virtual std::uint32_t unschedule(const std::wstring& source) = 0;

    // The system's call that adds the layout to a user's list or takes
    // it off.
    virtual std::uint32_t userLayoutCall(const UserLayoutCall& call) = 0;

    // One line of the log, and an error as the log names it.
    virtual void record(const std::wstring& line) = 0;
    virtual std::wstring errorText(std::uint32_t error) = 0;
};

}  // namespace setup
