// What the installer's core asks of the system it changes: single
// operations, each answered with a Windows error code (0: done). The core
// decides what to do with the answers; the Win32 edge (win32_system.cpp)
// and the tests' system in memory carry the operations out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "steps.h"

namespace setup {

// The Windows error codes the core tells apart.
namespace winerror {
inline constexpr std::uint32_t fileNotFound = 2;
inline constexpr std::uint32_t pathNotFound = 3;
inline constexpr std::uint32_t accessDenied = 5;
inline constexpr std::uint32_t sharingViolation = 32;
inline constexpr std::uint32_t lockViolation = 33;
inline constexpr std::uint32_t dirNotEmpty = 145;
inline constexpr std::uint32_t alreadyExists = 183;
inline constexpr std::uint32_t userMappedFile = 1224;
}  // namespace winerror

// Whether an error is what Windows answers for a file another process
// holds (a loaded image: access denied; an open handle: a sharing or lock
// violation), which access denied also is for a file this account may
// not change.
bool inUseOrDenied(std::uint32_t error);

// Whether an error says that what was asked for is not there.
bool isGone(std::uint32_t error);

class System {
public:
    virtual ~System() = default;

    // The registry. A value or key that is not there reads as nothing,
    // with 0. createKey answers alreadyExists for a key that was there
    // (and leaves it as it is); deleteKey deletes a key without subkeys.
    virtual std::uint32_t readValue(const RegistryKey& key, const std::wstring& name,
                                    std::optional<RegistryValue>& value) = 0;
    virtual std::uint32_t readKey(const RegistryKey& key, std::optional<std::vector<NamedValue>>& values) = 0;
    virtual std::uint32_t createKey(const RegistryKey& key) = 0;
    virtual std::uint32_t deleteKey(const RegistryKey& key) = 0;
    virtual std::uint32_t setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) = 0;
    virtual std::uint32_t deleteValue(const RegistryKey& key, const std::wstring& name) = 0;
    // Writes the key's hive to disk before returning.
    virtual std::uint32_t flush(const RegistryKey& key) = 0;
    // Whether the user's registry is loaded under HKEY_USERS: by Windows
    // while the user is signed in, or by the installer.
    virtual bool userHiveLoaded(const std::wstring& sid) = 0;
    // A profile's registry loaded from its file under HKEY_USERS by the
    // installer's name for it (hiveMountName); alreadyExists where that
    // name is loaded already. Unloading drops what was not flushed.
    virtual std::uint32_t loadHive(const std::wstring& profile, const std::wstring& file) = 0;
    virtual std::uint32_t unloadHive(const std::wstring& profile) = 0;
    // The profiles whose registry the installer has loaded, by a name of
    // its own: this run, or one that was killed.
    virtual std::vector<std::wstring> hivesLoadedByUs() = 0;

    // Files. A loaded image can be renamed but neither deleted nor
    // replaced; a file another process holds open without sharing delete
    // can be neither. What writeFile and copyFile write may stay in memory
    // until flushFile; a rename is on disk when it returns. exists: a file
    // or a folder is there.
    virtual bool exists(const std::wstring& path) = 0;
    virtual std::uint32_t writeFile(const std::wstring& path, const FileSource& source) = 0;
    virtual std::uint32_t copyFile(const std::wstring& from, const std::wstring& to) = 0;
    virtual std::uint32_t flushFile(const std::wstring& path) = 0;
    virtual std::uint32_t moveFile(const std::wstring& from, const std::wstring& to, bool replace) = 0;
    virtual std::uint32_t deleteFile(const std::wstring& path) = 0;
    virtual std::uint32_t createFolder(const std::wstring& path) = 0;
    virtual std::uint32_t removeFolder(const std::wstring& path) = 0;

    // The restart schedule: at the next restart, source replaces target,
    // or is deleted when target is empty. Windows keeps it in the registry
    // value PendingFileRenameOperations, which the core reads and edits.
    virtual std::uint32_t schedule(const std::wstring& source, const std::wstring& target) = 0;

    // The system's call that adds the layout to a user's list or takes
    // it off.
    virtual std::uint32_t userLayoutCall(const UserLayoutCall& call) = 0;

    // One line of the log; a text of the string tables as the log writes
    // it (in English); an error as the log names it.
    virtual void record(const std::wstring& line) = 0;
    virtual std::wstring inEnglish(const MessageText& text) = 0;
    virtual std::wstring errorText(std::uint32_t error) = 0;
};

}  // namespace setup
