// What a run tells the person at the keyboard and a deployment tool: the
// exit code, message and icon of every outcome; the message put together
// from its texts; and the decisions taken from what Windows reports (who
// is at the screen, which processor).
#include "facts.h"
#include "report.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace setup {
namespace {

std::string narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

RunResult failedRun(bool restartNeeded, std::vector<std::wstring> notUndone = {}) {
    RunResult result;
    result.succeeded = false;
    result.restartNeeded = restartNeeded;
    result.failedStep = 3;
    result.failedChange = L"write C:\\Windows\\System32\\Kurd.dll";
    result.error = 5;
    result.notUndone = std::move(notUndone);
    return result;
}

RunResult doneRun(bool restartNeeded) {
    RunResult result;
    result.restartNeeded = restartNeeded;
    return result;
}

TEST(Report, EveryOutcome) {
    struct Row { const char* name; Report report; ExitCode code; Icon icon; unsigned message; };
    const Row rows[] = {
        {"installed, Windows 10", finishedReport({Action::Install, 1000, false, doneRun(false)}),
         ExitCode::Done, Icon::Information, IDS_INSTALLED},
        {"installed, Windows 8", finishedReport({Action::Install, 602, false, doneRun(false)}),
         ExitCode::Done, Icon::Information, IDS_INSTALLED},
        {"installed, Windows 7", finishedReport({Action::Install, 601, false, doneRun(false)}),
         ExitCode::Done, Icon::Information, IDS_INSTALLED_OLDER_WINDOWS},
        {"installed, no one at the screen", finishedReport({Action::Install, 1000, true, doneRun(false)}),
         ExitCode::Done, Icon::Information, IDS_INSTALLED_FOR_COMPUTER},
        {"installed, a restart finishes it", finishedReport({Action::Install, 1000, false, doneRun(true)}),
         ExitCode::RestartNeeded, Icon::Information, IDS_INSTALLED_RESTART},
        {"uninstalled", finishedReport({Action::Uninstall, 1000, false, doneRun(false)}), ExitCode::Done,
         Icon::Information, IDS_UNINSTALLED},
        {"uninstalled, a restart finishes it", finishedReport({Action::Uninstall, 501, false, doneRun(true)}),
         ExitCode::RestartNeeded, Icon::Information, IDS_UNINSTALLED_RESTART},
        {"install failed and undone", finishedReport({Action::Install, 1000, false, failedRun(false)}),
         ExitCode::Failed, Icon::Error, IDS_INSTALL_FAILED},
        {"install failed, undone at the restart",
         finishedReport({Action::Install, 1000, false, failedRun(true)}), ExitCode::Failed, Icon::Error,
         IDS_INSTALL_FAILED_RESTART},
        {"uninstall failed and undone", finishedReport({Action::Uninstall, 1000, false, failedRun(false)}),
         ExitCode::Failed, Icon::Error, IDS_UNINSTALL_FAILED},
        {"uninstall failed, undone at the restart",
         finishedReport({Action::Uninstall, 1000, false, failedRun(true)}), ExitCode::Failed, Icon::Error,
         IDS_UNINSTALL_FAILED_RESTART},
        {"failed, not undone", finishedReport({Action::Install, 1000, false, failedRun(false, {L"a change"})}),
         ExitCode::Failed, Icon::Error, IDS_NOT_UNDONE},
        {"refused before any change", refusedReport(Action::Install, message(IDS_NO_PROGRAM_FILES)), ExitCode::Failed,
         Icon::Error, IDS_INSTALL_FAILED},
        {"uninstall refused", refusedReport(Action::Uninstall, message(IDS_NO_PROGRAM_FILES)), ExitCode::Failed,
         Icon::Error, IDS_UNINSTALL_FAILED},
        {"another run holds the lock", busyReport(), ExitCode::Busy, Icon::Warning, IDS_BUSY},
        {"not an administrator", notAdministratorReport(), ExitCode::NotAdministrator, Icon::Error,
         IDS_NOT_ADMINISTRATOR},
        {"bad arguments", badArgumentsReport({std::nullopt, IDS_UNKNOWN_ARGUMENT, L"/x"}, L"setup8.exe"), ExitCode::BadArguments,
         Icon::Error, IDS_BAD_ARGUMENTS},
        {"a log that cannot be written", cannotWriteLogReport(L"C:\\x", 5, L"setup8.exe"), ExitCode::BadArguments,
         Icon::Error, IDS_BAD_ARGUMENTS},
        {"the usage", usageReport(L"setup8.exe"), ExitCode::Done, Icon::Information, IDS_USAGE},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.report.exitCode, row.code) << row.name;
        EXPECT_EQ(row.report.icon, row.icon) << row.name;
        EXPECT_EQ(row.report.text.id, row.message) << row.name;
    }
    // The Windows Installer's numbers, which deployment tools know.
    EXPECT_EQ(static_cast<int>(ExitCode::Busy), 1618);
    EXPECT_EQ(static_cast<int>(ExitCode::RestartNeeded), 3010);
    EXPECT_EQ(static_cast<int>(ExitCode::Failed), 1603);
}

// The texts a report nests, as an English user reads them: inserts are
// never read as patterns, and Windows' error is in its words where it has
// them, else by number.
TEST(Report, MessagePutTogether) {
    static const std::map<unsigned, std::wstring> english = {
        {IDS_TITLE, L"Layout"},
        {IDS_INSTALL_FAILED, L"Not installed.\n\n%1"},
        {IDS_STEP_FAILED, L"%1: %2"},
        {IDS_BAD_ARGUMENTS, L"%1\n\n%2"},
        {IDS_USAGE_LINE, L"Usage: %1"},
        {IDS_CANNOT_WRITE_LOG, L"Cannot write %1: %2"},
        {IDS_UNKNOWN_ARGUMENT, L"Unknown argument: %1"},
        {IDS_WINDOWS_ERROR, L"%2 (error %1)"},
        {IDS_ERROR_NUMBER, L"error %1"},
    };
    const auto lookup = [](LanguageId language, unsigned id) {
        return language == englishUnitedStates && english.contains(id) ? english.at(id) : std::wstring();
    };
    const auto windowsWords = [](LanguageId, std::uint32_t error) {
        return std::wstring(error == 5 ? L"Access denied %1" : L"");
    };
    struct Row { const char* name; Report report; std::wstring text; };
    const Row rows[] = {
        {"a failed step", finishedReport({Action::Install, 1000, false, failedRun(false)}),
         L"Not installed.\n\nwrite C:\\Windows\\System32\\Kurd.dll: Access denied %1 (error 5)"},
        {"an argument as it is", badArgumentsReport({std::nullopt, IDS_UNKNOWN_ARGUMENT, L"/%2"}, L"setup8.exe"),
         L"Unknown argument: /%2\n\nUsage: setup8.exe"},
        {"an error Windows has no words for", cannotWriteLogReport(L"%1.log", 3, L"setup.exe"),
         L"Cannot write %1.log: error 3\n\nUsage: setup.exe"},
    };
    for (const Row& row : rows) {
        const ShownMessage shown =
            composeMessage(englishUnitedStates, englishUnitedStates, IDS_TITLE, row.report.text, {lookup, windowsWords});
        EXPECT_EQ(shown.text, row.text) << row.name << ": " << narrow(shown.text);
    }
}

TEST(Facts, TheUserAtTheScreen) {
    const std::wstring alice = L"S-1-5-21-1-2-3-1001", admin = L"S-1-5-21-1-2-3-500";
    struct Row {
        const char* name;
        std::optional<std::wstring> process, shell;
        std::optional<User> user;
    };
    const Row rows[] = {
        {"the user elevated herself", alice, alice, User{alice, true}},
        {"another's password at the prompt: the one at the screen", admin, alice, User{alice, false}},
        {"SID spelt in another case", L"s-1-5-21-1-2-3-1001", alice, User{alice, true}},
        {"no shell: the account the installer runs as", admin, std::nullopt, User{admin, true}},
        {"LocalSystem with no one at the screen", L"S-1-5-18", std::nullopt, std::nullopt},
        {"LocalService", L"S-1-5-19", std::nullopt, std::nullopt},
        {"NetworkService", L"S-1-5-20", std::nullopt, std::nullopt},
        {"LocalSystem on someone's screen: that user", L"S-1-5-18", alice, User{alice, false}},
        {"nothing known", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(userAtTheScreen(row.process, row.shell), row.user) << row.name;
}

TEST(Facts, TheMachineAsWindowsReportsIt) {
    struct Row { std::uint16_t code; std::optional<Machine> architecture, image; };
    const Row rows[] = {
        {0, Machine::X86, std::nullopt},       // PROCESSOR_ARCHITECTURE_INTEL
        {9, Machine::X64, std::nullopt},       // PROCESSOR_ARCHITECTURE_AMD64
        {12, Machine::Arm64, std::nullopt},    // PROCESSOR_ARCHITECTURE_ARM64
        {6, std::nullopt, std::nullopt},       // IA64
        {5, std::nullopt, std::nullopt},       // ARM (32-bit)
        {0xFFFF, std::nullopt, std::nullopt},  // unknown
        {0x014C, std::nullopt, Machine::X86},
        {0x8664, std::nullopt, Machine::X64},
        {0xAA64, std::nullopt, Machine::Arm64},
        {0x0200, std::nullopt, std::nullopt},  // IA64 image
        {0x01C4, std::nullopt, std::nullopt},  // ARMNT image
    };
    for (const Row& row : rows) {
        EXPECT_EQ(machineOfArchitecture(row.code), row.architecture) << row.code;
        EXPECT_EQ(machineOfImageMachine(row.code), row.image) << row.code;
    }
}

}  // namespace
}  // namespace setup
