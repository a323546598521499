// Where the programs let each Windows look for libraries. The flag values
// are the documented ones: LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008,
// LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800 (LOAD_LIBRARY_SEARCH_APPLICATION_DIR
// 0x00000200 and LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000 would let the
// program's folder back in).
#include "library_search.h"

#include <gtest/gtest.h>

#include <string>

namespace win32 {
namespace {

constexpr std::uint32_t alteredSearchPath = 0x00000008;
constexpr std::uint32_t searchSystem32 = 0x00000800;

std::string narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

// Whether the kernel exports SetDefaultDllDirectories, by system.
struct System {
    const char* name;
    bool hasSetDefaultDllDirectories;
    std::uint32_t loadFlags;
    std::optional<std::uint32_t> restriction;
};

const System systems[] = {
    {"Windows XP SP3", false, alteredSearchPath, std::nullopt},
    {"Windows Vista SP2", false, alteredSearchPath, std::nullopt},
    {"Windows 7 SP1 without KB2533623", false, alteredSearchPath, std::nullopt},
    {"Windows 7 SP1 with KB2533623", true, searchSystem32, searchSystem32},
    {"Windows 8", true, searchSystem32, searchSystem32},
    {"Windows 10 and 11", true, searchSystem32, searchSystem32},
};

TEST(LibrarySearch, SystemLibraryByFullPathWithEachSystemsFlags) {
    for (const System& system : systems) {
        const auto load =
            systemLibraryLoad(L"C:\\WINDOWS\\system32", L"usp10.dll", system.hasSetDefaultDllDirectories);
        ASSERT_TRUE(load) << system.name;
        EXPECT_EQ(narrow(load->path), "C:\\WINDOWS\\system32\\usp10.dll") << system.name;
        EXPECT_EQ(load->flags, system.loadFlags) << system.name;
    }
}

TEST(LibrarySearch, RestrictionOfTheProcessToTheSystemDirectory) {
    for (const System& system : systems)
        EXPECT_EQ(searchRestriction(system.hasSetDefaultDllDirectories), system.restriction)
            << system.name;
}

// Only a plain file name in a known folder is loaded; anything else would
// send the loader to look elsewhere, the program's folder among them.
TEST(LibrarySearch, PathsFromTheSystemDirectoryAndAPlainName) {
    struct Row {
        std::wstring_view directory, name;
        std::optional<std::string> path;
    };
    const Row rows[] = {
        {L"C:\\WINDOWS\\system32", L"shell32.dll", "C:\\WINDOWS\\system32\\shell32.dll"},
        {L"C:\\Windows\\SysWOW64", L"input.dll", "C:\\Windows\\SysWOW64\\input.dll"},
        {L"C:\\WINDOWS\\system32\\", L"usp10.dll", "C:\\WINDOWS\\system32\\usp10.dll"},
        {L"\\\\?\\C:\\Windows\\System32", L"user32.dll", "\\\\?\\C:\\Windows\\System32\\user32.dll"},
        {L"", L"usp10.dll", std::nullopt},
        {L"C:\\WINDOWS\\system32", L"", std::nullopt},
        {L"C:\\WINDOWS\\system32", L"..\\usp10.dll", std::nullopt},
        {L"C:\\WINDOWS\\system32", L"sub/usp10.dll", std::nullopt},
        {L"C:\\WINDOWS\\system32", L"D:usp10.dll", std::nullopt},
        {L"C:\\WINDOWS\\system32", L"..", std::nullopt},
    };
    for (const Row& row : rows) {
        for (const bool searchFlags : {false, true}) {
            const auto load = systemLibraryLoad(row.directory, row.name, searchFlags);
            const std::optional<std::string> path =
                load ? std::optional<std::string>(narrow(load->path)) : std::nullopt;
            EXPECT_EQ(path, row.path) << "[" << narrow(row.directory) << "] + [" << narrow(row.name)
                                      << "], search flags " << searchFlags;
        }
    }
}

}  // namespace
}  // namespace win32
