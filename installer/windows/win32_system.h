// The System the core changes, on Windows: the registry, the files with
// the bytes the installer carries, the restart schedule, the system's
// call for a user's layout list, and the log.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "message_language.h"
#include "system.h"
#include "win32_log.h"
#include "win32_registry.h"

namespace setup {

class Win32System final : public System {
public:
    Win32System(const Registry& registry, Log& log, FormImages images,
                std::span<const std::uint8_t> self);

    std::uint32_t readValue(const RegistryKey& key, const std::wstring& name,
                            std::optional<RegistryValue>& value) override;
    std::uint32_t readKey(const RegistryKey& key, std::optional<std::vector<NamedValue>>& values) override;
    std::uint32_t createKey(const RegistryKey& key) override;
    std::uint32_t deleteKey(const RegistryKey& key) override;
    std::uint32_t setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) override;
    std::uint32_t deleteValue(const RegistryKey& key, const std::wstring& name) override;
    std::uint32_t flush(const RegistryKey& key) override;
    bool userHiveLoaded(const std::wstring& sid) override;
    std::uint32_t loadHive(const std::wstring& profile, const std::wstring& file) override;
    std::uint32_t unloadHive(const std::wstring& profile) override;
    std::vector<std::wstring> hivesLoadedByUs() override;
    bool exists(const std::wstring& path) override;
    std::uint32_t writeFile(const std::wstring& path, const FileSource& source) override;
    std::uint32_t copyFile(const std::wstring& from, const std::wstring& to) override;
    std::uint32_t flushFile(const std::wstring& path) override;
    std::uint32_t moveFile(const std::wstring& from, const std::wstring& to, bool replace) override;
    std::uint32_t deleteFile(const std::wstring& path) override;
    std::uint32_t createFolder(const std::wstring& path) override;
    std::uint32_t removeFolder(const std::wstring& path) override;
    std::uint32_t schedule(const std::wstring& source, const std::wstring& target) override;
    std::uint32_t userLayoutCall(const UserLayoutCall& call) override;
    void record(const std::wstring& line) override;
    std::wstring inEnglish(const MessageText& text) override;
    std::wstring errorText(std::uint32_t error) override;

private:
    const Registry& registry_;
    Log& log_;
    FormImages images_;
    std::span<const std::uint8_t> self_;
};

// Whether input.dll in the system folder offers the call (Windows Vista
// and later).
bool userLayoutCallAvailable();

// Windows' own text for an error in exactly that language, or, where it
// is 0, in the language Windows chooses for the user; empty if it has
// none. Without the line break Windows ends it with.
std::wstring systemErrorText(LanguageId language, std::uint32_t error);

}  // namespace setup
