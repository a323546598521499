// The Win32 edge of system_library.h: each function asks Windows for its
// facts and leaves the decisions to library_search and growing_text.
#include "system_library.h"

#include "growing_text.h"
#include "library_search.h"

namespace win32 {
namespace {

// The kernel's own entry is looked up: it is newer than XP. Where it
// exists, so do the LOAD_LIBRARY_SEARCH_* flags of LoadLibraryExW.
decltype(&SetDefaultDllDirectories) setDefaultDllDirectories() {
    return kernelProcedure<decltype(&SetDefaultDllDirectories)>("SetDefaultDllDirectories");
}

}  // namespace

std::wstring systemDirectory() {
    return growingText([](wchar_t* buffer, std::uint32_t capacity) {
        return GetSystemDirectoryW(buffer, capacity);
    });
}

std::wstring modulePath(HMODULE module) {
    return growingText([module](wchar_t* buffer, std::uint32_t capacity) {
        return GetModuleFileNameW(module, buffer, capacity);
    });
}

HMODULE loadSystemLibrary(std::wstring_view name) {
    const auto load = systemLibraryLoad(systemDirectory(), name, setDefaultDllDirectories() != nullptr);
    return load ? LoadLibraryExW(load->path.c_str(), nullptr, load->flags) : nullptr;
}

bool restrictLibrarySearch() {
    const auto setDefaults = setDefaultDllDirectories();
    const auto flags = searchRestriction(setDefaults != nullptr);
    return flags && setDefaults(*flags);
}

}  // namespace win32
