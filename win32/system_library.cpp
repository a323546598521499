#include "system_library.h"

namespace win32 {
namespace {

// The kernel's own entry is looked up: it is newer than XP. Where it
// exists, so do the LOAD_LIBRARY_SEARCH_* flags of LoadLibraryExW.
decltype(&SetDefaultDllDirectories) setDefaultDllDirectories() {
    return procedure<decltype(&SetDefaultDllDirectories)>(GetModuleHandleW(L"kernel32.dll"),
                                                          "SetDefaultDllDirectories");
}

}  // namespace

std::wstring systemDirectory() {
    std::wstring directory(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
        if (length == 0)
            return {};
        if (length < directory.size()) {
            directory.resize(length);
            return directory;
        }
        // Too small: the length asked for counts the terminator.
        directory.resize(length);
    }
}

std::wstring modulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        // A cut-off path fills the whole buffer.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

HMODULE loadSystemLibrary(std::wstring_view name) {
    const std::wstring directory = systemDirectory();
    if (directory.empty())
        return nullptr;
    const std::wstring path = directory + L'\\' + std::wstring(name);
    // With a full path, the altered search looks for the library's own
    // imports in its folder rather than in the program's; the newer flag
    // keeps them to the system directory altogether.
    const DWORD flags = setDefaultDllDirectories() ? LOAD_LIBRARY_SEARCH_SYSTEM32
                                                   : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExW(path.c_str(), nullptr, flags);
}

bool restrictLibrarySearch() {
    const auto setDefaults = setDefaultDllDirectories();
    return setDefaults && setDefaults(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace win32
