// The system's own libraries, bound so that no copy planted elsewhere can
// stand in for them. A program is often run from a download folder, where
// a page can leave a file of any name; Windows looks in the program's
// folder first for any library that is neither loaded nor known to the
// loader. So every library beyond the few that every Windows from XP on
// takes from the system directory alone is loaded here, by its full path.
// Shared by the launcher and the installer.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win32 {

// The system directory (System32, or SysWOW64 for a 32-bit program on
// 64-bit Windows), without a trailing separator; empty if Windows cannot
// say.
std::wstring systemDirectory();

// The full path of a loaded module, however long; the running program's
// for null. Empty if Windows cannot say.
std::wstring modulePath(HMODULE module = nullptr);

// Loads the library `name` ("usp10.dll") from the system directory by its
// full path; the libraries it needs in turn are looked for there first as
// well (library_search.h). Null if it cannot be loaded: the caller goes
// without it.
HMODULE loadSystemLibrary(std::wstring_view name);

// A function of a loaded module as the type it is called through; null
// when the module is null or lacks the function.
template <typename Function>
Function procedure(HMODULE module, const char* name) {
    if (!module)
        return nullptr;
    // FARPROC goes through the generic function pointer type so the
    // compiler accepts the conversion to the real signature.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// A function of kernel32 that older Windows lack, bound by name; null
// where this Windows has none.
template <typename Function>
Function kernelProcedure(const char* name) {
    return procedure<Function>(GetModuleHandleW(L"kernel32.dll"), name);
}

// From here on every library the process loads by name, itself or through
// the system on its behalf, is looked for in the system directory only.
// Run first thing. Windows 8 and later can, and Vista and 7 with update
// KB2533623; false where the system cannot, and loadSystemLibrary remains
// the only defence.
bool restrictLibrarySearch();

}  // namespace win32
