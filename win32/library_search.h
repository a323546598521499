// Where the programs let Windows look for libraries, decided away from
// Windows so that every system's answer is tested on the host: how a system
// library is bound by its full path, and how the search of the whole
// process is narrowed. The answers turn on one fact: whether the kernel has
// SetDefaultDllDirectories (Windows 8 and later, and Vista and 7 with
// update KB2533623). Without it the LOAD_LIBRARY_SEARCH_* flags do not
// exist, and LoadLibraryExW refuses them. Defined here, in the header, so
// that a program needs no source beyond system_library.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace win32 {

// The documented values; the XP-level headers lack the newer one.
inline constexpr std::uint32_t loadWithAlteredSearchPath = 0x00000008;
inline constexpr std::uint32_t loadLibrarySearchSystem32 = 0x00000800;

// A LoadLibraryExW call: the file and the flags.
struct LibraryLoad {
    std::wstring path;
    std::uint32_t flags;
};

namespace detail {

inline bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// No folder, no drive, nothing that leads elsewhere.
inline bool isPlainFileName(std::wstring_view name) {
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(L"\\/:") == std::wstring_view::npos;
}

}  // namespace detail

// How to load the system library `name` ("usp10.dll") from
// `systemDirectory`: by its full path, with flags that keep the libraries
// it imports in turn out of the program's folder (the newer flag confines
// them to the system directory; where it does not exist, the altered search
// looks in the library's own folder first). Nothing when the directory is
// unknown or `name` is not a plain file name, since a bare or relative name
// would be looked for in the program's folder as well.
inline std::optional<LibraryLoad> systemLibraryLoad(std::wstring_view systemDirectory,
                                                    std::wstring_view name, bool searchFlagsAvailable) {
    if (systemDirectory.empty() || !detail::isPlainFileName(name))
        return std::nullopt;
    std::wstring path(systemDirectory);
    if (!detail::isSeparator(path.back()))
        path += L'\\';
    path += name;
    return LibraryLoad{std::move(path),
                       searchFlagsAvailable ? loadLibrarySearchSystem32 : loadWithAlteredSearchPath};
}

// The SetDefaultDllDirectories flags that confine every later search of the
// process to the system directory; nothing where that call does not exist.
inline std::optional<std::uint32_t> searchRestriction(bool searchFlagsAvailable) {
    if (!searchFlagsAvailable)
        return std::nullopt;
    return loadLibrarySearchSystem32;
}

}  // namespace win32
