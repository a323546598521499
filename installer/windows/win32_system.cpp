#include "win32_system.h"

#include "system_library.h"
#include "text.h"
#include "win32_files.h"
#include "win32_messages.h"

namespace setup {
namespace {

constexpr DWORD installLayoutOrTipUninstall = 0x00000001;        // ILOT_UNINSTALL
constexpr DWORD installLayoutOrTipNotThisSession = 0x00000020;   // ILOT_NOAPPLYTOCURRENTSESSION

using InstallLayoutOrTipFunction = BOOL(WINAPI*)(LPCWSTR, DWORD);
using InstallLayoutOrTipUserRegFunction = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, DWORD);

// input.dll, from the system folder only.
HMODULE inputLibrary() {
    static const HMODULE library = win32::loadSystemLibrary(L"input.dll");
    return library;
}

}  // namespace

bool userLayoutCallAvailable() {
    return win32::procedure<InstallLayoutOrTipFunction>(inputLibrary(), "InstallLayoutOrTip") != nullptr;
}

std::wstring systemErrorText(LanguageId language, std::uint32_t error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, language, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

Win32System::Win32System(const Registry& registry, Log& log, FormImages images,
                         std::span<const std::uint8_t> self)
    : registry_(registry), log_(log), images_(std::move(images)), self_(self) {}

// Nothing there reads as nothing.
std::uint32_t Win32System::readValue(const RegistryKey& key, const std::wstring& name,
                                     std::optional<RegistryValue>& value) {
    LSTATUS error = ERROR_SUCCESS;
    value = registry_.value(key, name, &error);
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}
std::uint32_t Win32System::readKey(const RegistryKey& key, std::optional<std::vector<NamedValue>>& values) {
    LSTATUS error = ERROR_SUCCESS;
    values = registry_.values(key, nullptr, &error);
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}
std::uint32_t Win32System::createKey(const RegistryKey& key) { return registry_.createKey(key); }
std::uint32_t Win32System::deleteKey(const RegistryKey& key) { return registry_.deleteKey(key); }
std::uint32_t Win32System::setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) {
    return registry_.setValue(key, name, value);
}
std::uint32_t Win32System::deleteValue(const RegistryKey& key, const std::wstring& name) {
    return registry_.deleteValue(key, name);
}
std::uint32_t Win32System::flush(const RegistryKey& key) { return registry_.flush(key); }

bool Win32System::userHiveLoaded(const std::wstring& sid) { return registry_.userHiveLoaded(sid); }
std::uint32_t Win32System::loadHive(const std::wstring& profile, const std::wstring& file) {
    return registry_.loadHive(profile, file);
}
std::uint32_t Win32System::unloadHive(const std::wstring& profile) { return registry_.unloadHive(profile); }
std::vector<std::wstring> Win32System::hivesLoadedByUs() { return registry_.hivesLoadedByUs(); }

bool Win32System::exists(const std::wstring& path) { return setup::exists(path); }

std::uint32_t Win32System::writeFile(const std::wstring& path, const FileSource& source) {
    if (!source.image)
        return setup::writeFile(path, self_);
    const std::span<const std::uint8_t> image = images_[*source.image];
    return image.empty() ? ERROR_FILE_NOT_FOUND : setup::writeFile(path, image);
}

std::uint32_t Win32System::copyFile(const std::wstring& from, const std::wstring& to) {
    return setup::copyFile(from, to);
}
std::uint32_t Win32System::flushFile(const std::wstring& path) { return setup::flushFile(path); }
std::uint32_t Win32System::moveFile(const std::wstring& from, const std::wstring& to, bool replace) {
    return setup::moveFile(from, to, replace);
}
std::uint32_t Win32System::deleteFile(const std::wstring& path) { return setup::deleteFile(path); }
std::uint32_t Win32System::createFolder(const std::wstring& path) { return setup::createFolder(path); }
std::uint32_t Win32System::removeFolder(const std::wstring& path) { return setup::removeFolder(path); }

std::uint32_t Win32System::schedule(const std::wstring& source, const std::wstring& target) {
    return scheduleForRestart(source, target);
}

// The call of the user at the screen; for another user than the one the
// installer runs as, the variant that takes that user's registry where it
// is loaded under HKEY_USERS (by Windows while the user is signed in, else
// by the installer); for a profile away from the screen, without touching
// the session the installer runs in.
std::uint32_t Win32System::userLayoutCall(const UserLayoutCall& call) {
    DWORD flags = call.uninstall ? installLayoutOrTipUninstall : 0;
    if (!call.user.atTheScreen)
        flags |= installLayoutOrTipNotThisSession;
    BOOL done = FALSE;
    SetLastError(ERROR_SUCCESS);
    if (call.user.isProcessUser) {
        const auto function = win32::procedure<InstallLayoutOrTipFunction>(inputLibrary(), "InstallLayoutOrTip");
        if (!function)
            return ERROR_PROC_NOT_FOUND;
        done = function(call.layout.c_str(), flags);
    } else {
        const auto function =
            win32::procedure<InstallLayoutOrTipUserRegFunction>(inputLibrary(), "InstallLayoutOrTipUserReg");
        if (!function)
            return ERROR_PROC_NOT_FOUND;
        const bool loadedByUs = registry_.loadedAs(hiveMountName(call.user.sid));
        done = function(userRegistryPath(call.user, loadedByUs).c_str(), nullptr, nullptr, call.layout.c_str(), flags);
    }
    if (done)
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error ? error : ERROR_FUNCTION_FAILED;
}

void Win32System::record(const std::wstring& line) { log_.line(line); }

std::wstring Win32System::inEnglish(const MessageText& text) {
    return plainText(englishUnitedStates, text, {loadString, systemErrorText});
}

// The log's error: Windows' text in the user's language, with its number.
std::wstring Win32System::errorText(std::uint32_t error) {
    std::wstring text = systemErrorText(0, error);
    if (!text.empty())
        text += L' ';
    return text + L"(error " + decimal(error) + L")";
}

}  // namespace setup
