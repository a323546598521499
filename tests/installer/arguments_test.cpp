// The installer's command line: what the launcher passes ("<its own
// arguments> /admin"), what an administrator types, and what must be
// refused before anything is touched.
#include "arguments.h"

#include <gtest/gtest.h>

#include <string>

namespace setup {
namespace {

std::string narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

TEST(Arguments, SwitchesInAnyCaseWithSlashOrDash) {
    struct Row {
        std::wstring_view text;
        Action action;
        bool quiet;
        std::optional<std::wstring> log;
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
    };
    for (const Row& row : rows) {
        const ParsedArguments parsed = parseArguments(row.text);
        ASSERT_TRUE(parsed.options) << "[" << narrow(row.text) << "]: " << narrow(parsed.error);
        EXPECT_EQ(parsed.options->action, row.action) << "[" << narrow(row.text) << "]";
        EXPECT_EQ(parsed.options->quiet, row.quiet) << "[" << narrow(row.text) << "]";
        EXPECT_EQ(parsed.options->logPath, row.log) << "[" << narrow(row.text) << "]";
    }
}

TEST(Arguments, RefusedWithTheArgumentNamed) {
    struct Row { std::wstring_view text; std::wstring_view errorMentions; };
    const Row rows[] = {
        {L"/frobnicate /admin", L"/frobnicate"},
        {L"admin", L"admin"},
        {L"/quiet x /admin", L"x"},
        {L"-x /admin", L"-x"},
        {L"/", L"/"},
        {L"/admin/quiet", L"/admin/quiet"},
        {L"/log", L"/log"},
        {L"/log /admin", L"/log"},
        {L"/log \"\" /admin", L"/log"},
        {L"/log a.txt /log b.txt", L"/log"},
        {L"/quietly", L"/quietly"},
        // The installer runs elevated: its log never goes to a device.
        {L"/log \\\\.\\PhysicalDrive0", L"PhysicalDrive0"},
        {L"/log //./C:", L"//./C:"},
        {L"/log \\\\?\\GLOBALROOT\\Device\\Null", L"GLOBALROOT"},
        {L"/log C:\\logs\\NUL.txt", L"NUL.txt"},
        {L"/log \"con \"", L"con"},
        {L"/log lpt1", L"lpt1"},
    };
    for (const Row& row : rows) {
        const ParsedArguments parsed = parseArguments(row.text);
        EXPECT_FALSE(parsed.options) << "[" << narrow(row.text) << "] was accepted";
        EXPECT_NE(parsed.error.find(row.errorMentions), std::wstring::npos)
            << "[" << narrow(row.text) << "] gave [" << narrow(parsed.error) << "]";
    }
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
