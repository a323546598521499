// The installer's command line: what the launcher passes ("<its own
// arguments> /admin"), what an administrator types, and what must be
// refused before anything is touched.
#include "arguments.h"
#include "fake_system.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace setup {
namespace {

using testing::narrow;

TEST(Arguments, SwitchesInAnyCaseWithSlashOrDash) {
    struct Row {
        std::wstring_view text;
        Action action;
        bool quiet;
        std::optional<std::wstring> log;
        bool allUsers = false;
    };
    const Row rows[] = {
        {L"", Action::Install, false, std::nullopt},
        {L"/admin", Action::Install, false, std::nullopt},
        {L"/quiet /admin", Action::Install, true, std::nullopt},
        {L"-QUIET -Admin", Action::Install, true, std::nullopt},
        {L"/uninstall", Action::Uninstall, false, std::nullopt},
        // The launcher started with /uninstall appends /admin.
        {L"/Uninstall /quiet /admin", Action::Uninstall, true, std::nullopt},
        {L"/?", Action::ShowUsage, false, std::nullopt},
        {L"/quiet /? /admin", Action::ShowUsage, true, std::nullopt},
        // Asking for the usage wins over what else is asked.
        {L"/uninstall /?", Action::ShowUsage, false, std::nullopt},
        {L"-? /Uninstall /admin", Action::ShowUsage, false, std::nullopt},
        {L"/log C:\\setup.log /admin", Action::Install, false, L"C:\\setup.log"},
        {L"/LOG \"C:\\My logs\\setup.log\" /quiet /admin", Action::Install, true, L"C:\\My logs\\setup.log"},
        // A quoted switch keeps the blank typed inside the quotes.
        {L"\"/quiet \" /admin", Action::Install, true, std::nullopt},
        {L"\t/quiet\t\t/admin  ", Action::Install, true, std::nullopt},
        // A log file may be named like a switch's word, but not like a switch.
        {L"/log quiet /admin", Action::Install, false, L"quiet"},
        {L"/admin /admin /quiet /quiet", Action::Install, true, std::nullopt},
        // Files whose names only look like devices', and a long path.
        {L"/log C:\\console.log", Action::Install, false, L"C:\\console.log"},
        {L"/log nul2.txt", Action::Install, false, L"nul2.txt"},
        {L"/log \\\\?\\C:\\logs\\setup.log", Action::Install, false, L"\\\\?\\C:\\logs\\setup.log"},
        // Every user of the computer, also for an uninstall, which reaches
        // them all anyway.
        {L"/allusers /quiet /admin", Action::Install, true, std::nullopt, true},
        {L"/uninstall /allusers", Action::Uninstall, false, std::nullopt, true},
    };
    for (const Row& row : rows) {
        const ParsedArguments parsed = parseArguments(row.text);
        ASSERT_TRUE(parsed.options) << "[" << narrow(row.text) << "]: " << parsed.error << " " << narrow(parsed.argument);
        EXPECT_EQ(parsed.options->action, row.action) << "[" << narrow(row.text) << "]";
        EXPECT_EQ(parsed.options->quiet, row.quiet) << "[" << narrow(row.text) << "]";
        EXPECT_EQ(parsed.options->logPath, row.log) << "[" << narrow(row.text) << "]";
        EXPECT_EQ(parsed.options->allUsers, row.allUsers) << "[" << narrow(row.text) << "]";
    }
}

TEST(Arguments, RefusedWithTheArgumentNamed) {
    struct Row { std::wstring_view text; unsigned error; std::wstring_view argument; };
    const Row rows[] = {
        {L"/frobnicate /admin", IDS_UNKNOWN_ARGUMENT, L"/frobnicate"},
        {L"admin", IDS_UNKNOWN_ARGUMENT, L"admin"},
        {L"/quiet x /admin", IDS_UNKNOWN_ARGUMENT, L"x"},
        {L"-x /admin", IDS_UNKNOWN_ARGUMENT, L"-x"},
        {L"/", IDS_UNKNOWN_ARGUMENT, L"/"},
        {L"/admin/quiet", IDS_UNKNOWN_ARGUMENT, L"/admin/quiet"},
        {L"/quietly", IDS_UNKNOWN_ARGUMENT, L"/quietly"},
        {L"/log", IDS_LOG_WITHOUT_FILE, L""},
        {L"/log /admin", IDS_LOG_WITHOUT_FILE, L""},
        {L"/log \"\" /admin", IDS_LOG_WITHOUT_FILE, L""},
        {L"/log a.txt /log b.txt", IDS_LOG_TWICE, L""},
        // The installer runs elevated: its log never goes to a device.
        {L"/log \\\\.\\PhysicalDrive0", IDS_LOG_ON_DEVICE, L"\\\\.\\PhysicalDrive0"},
        {L"/log //./C:", IDS_LOG_ON_DEVICE, L"//./C:"},
        {L"/log \\\\?\\GLOBALROOT\\Device\\Null", IDS_LOG_ON_DEVICE, L"\\\\?\\GLOBALROOT\\Device\\Null"},
        {L"/log C:\\logs\\NUL.txt", IDS_LOG_ON_DEVICE, L"C:\\logs\\NUL.txt"},
        {L"/log \"con \"", IDS_LOG_ON_DEVICE, L"con "},
        {L"/log lpt1", IDS_LOG_ON_DEVICE, L"lpt1"},
    };
    for (const Row& row : rows) {
        const ParsedArguments parsed = parseArguments(row.text);
        EXPECT_FALSE(parsed.options) << "[" << narrow(row.text) << "] was accepted";
        EXPECT_EQ(parsed.error, row.error) << "[" << narrow(row.text) << "]";
        EXPECT_EQ(parsed.argument, row.argument) << "[" << narrow(row.text) << "]";
    }
}

// What the log is once it is opened, as Windows describes it
// (GetFileType; the FILE_ATTRIBUTE_* bits): only a plain file on a disk,
// never a link the installer would write through.
TEST(Arguments, TheLogIsAPlainFile) {
    struct Row { const char* name; std::uint32_t type, attributes; unsigned problem; };
    const Row rows[] = {
        {"a plain file", 1, 0x20, 0},
        {"a plain file, read-only and hidden", 1, 0x23, 0},
        {"a symbolic link or junction", 1, 0x420, IDS_LOG_ON_LINK},
        {"a folder", 1, 0x10, IDS_LOG_ON_LINK},
        {"a console", 2, 0, IDS_LOG_ON_DEVICE},
        {"a pipe", 3, 0, IDS_LOG_ON_DEVICE},
        {"a device on a disk", 1, 0x40, IDS_LOG_ON_DEVICE},
    };
    for (const Row& row : rows)
        EXPECT_EQ(logFileProblem(row.type, row.attributes), row.problem) << row.name;
}

TEST(Arguments, SplitLikeTheRunTime) {
    struct Row { std::wstring_view text; std::vector<std::wstring> arguments; };
    const Row rows[] = {
        {L"", {}},
        {L"  ", {}},
        {L"a b", {L"a", L"b"}},
        {L"\"a b\" c", {L"a b", L"c"}},
        {L"a\"b c\"d", {L"ab cd"}},
        {L"\\\\server\\share", {L"\\\\server\\share"}},
        {L"a\\\"b", {L"a\"b"}},
        {L"a\\\\\"b c\"", {L"a\\b c"}},
        {L"\"C:\\dir\\\\\" x", {L"C:\\dir\\", L"x"}},
        {L"\"a\"\"b\"", {L"a\"b"}},
        {L"\"unclosed quote", {L"unclosed quote"}},
        {L"\"\"", {L""}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(splitArguments(row.text), row.arguments) << "[" << narrow(row.text) << "]";
}

}  // namespace
}  // namespace setup

namespace setup {
namespace {

// What the READMEs tell users to type is what the installer takes: each
// command line given for setup7.exe or setup8.exe, and each switch they
// name on its own (with a file after /log): in README.txt, and in the
// section of README.md for users.
TEST(Arguments, WhatTheReadmesDocument) {
    struct Readme { const char* name; const char* section; };
    for (const Readme readme : {Readme{"README.md", "## Installing the layout"}, Readme{"package/README.txt", ""}}) {
        const char* name = readme.name;
        std::ifstream file(std::filesystem::path(KURD_SOURCE_DIR) / name);
        ASSERT_TRUE(file) << name;
        std::string line;
        std::size_t commands = 0, switches = 0;
        bool inSection = *readme.section == '\0';
        for (int number = 1; std::getline(file, line); ++number) {
            if (*readme.section && line.starts_with("## "))
                inSection = line.starts_with(readme.section);
            if (!inSection)
                continue;
            const std::string where = std::string(name) + ":" + std::to_string(number);
            static const std::regex command(R"(setup[78]\.exe((?: [/-][^ `),]*)+))");
            for (auto m = std::sregex_iterator(line.begin(), line.end(), command); m != std::sregex_iterator(); ++m) {
                const std::string text = std::regex_replace((*m)[1].str(), std::regex("<[^>]*>"), "x.log");
                const ParsedArguments parsed = parseArguments(std::wstring(text.begin(), text.end()));
                EXPECT_TRUE(parsed.options) << where << ": [" << text << "]";
                ++commands;
            }
            // A switch named on its own: in backticks, or first on a line.
            static const std::regex alone(R"((?:`|^\s*(?:\xE2\x80\x8E)?)(/[a-z?]+)(?: <[^>]*>)?(?:`|\s))");
            for (auto m = std::sregex_iterator(line.begin(), line.end(), alone); m != std::sregex_iterator(); ++m) {
                std::string text = (*m)[1].str();
                if (text == "/log")
                    text += " x.log";
                if (text == "/wait")
                    continue;  // start /wait, the command prompt's own
                const ParsedArguments parsed = parseArguments(std::wstring(text.begin(), text.end()));
                EXPECT_TRUE(parsed.options) << where << ": [" << text << "]";
                ++switches;
            }
        }
        EXPECT_GE(commands, 3u) << name << ": its command lines were not found";
        EXPECT_GE(switches, 4u) << name << ": its switches were not found";
    }
}

}  // namespace
}  // namespace setup
