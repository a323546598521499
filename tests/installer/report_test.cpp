// What a run tells the person at the keyboard and a deployment tool: the
// exit code, message and icon of every outcome; the message put together
// from its texts; and the decisions taken from what Windows reports (who
// is at the screen, which processor).
#include "fake_system.h"
#include "facts.h"
#include "report.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace setup {
namespace {

using testing::narrow;

RunResult failedRun(bool restartNeeded, std::vector<MessageText> notUndone = {}) {
    RunResult result;
    result.succeeded = false;
    result.restartNeeded = restartNeeded;
    result.failedChange = message(IDS_STEP_WRITE_FILE, {literal(L"C:\\Windows\\System32\\Kurd.dll")});
    result.error = 5;
    result.notUndone = std::move(notUndone);
    return result;
}

RunResult doneRun(bool restartNeeded) {
    RunResult result;
    result.restartNeeded = restartNeeded;
    return result;
}

Finished finished(Action action, unsigned windowsVersion, RunResult result) {
    return {action, windowsVersion, std::nullopt, false, L"", std::move(result)};
}

Finished withoutUser(WhyNoUser why) {
    Finished done = finished(Action::Install, 1000, doneRun(false));
    done.noUser = why;
    return done;
}

// For every user; with profiles not reached, their folders.
Finished forAll(Action action, bool restartNeeded, std::vector<std::wstring> unreached) {
    Finished done = finished(action, 1000, doneRun(restartNeeded));
    done.allUsers = action == Action::Install;
    done.result.unreached = std::move(unreached);
    return done;
}

Finished editedDirectly(unsigned windowsVersion) {
    Finished done = finished(Action::Install, windowsVersion, doneRun(false));
    done.listEditedDirectly = true;
    return done;
}

TEST(Report, EveryOutcome) {
    struct Row { const char* name; Report report; ExitCode code; Icon icon; unsigned message; };
    Finished keptKeys = finished(Action::Uninstall, 1000, doneRun(false));
    keptKeys.foreignLayoutFile = L"C:\\Windows\\System32\\Kurd.dll";
    const Row rows[] = {
        {"installed, Windows 8", finishedReport(finished(Action::Install, 602, doneRun(false))), ExitCode::Done,
         Icon::Information, IDS_INSTALLED},
        {"installed, Windows 7", finishedReport(finished(Action::Install, 601, doneRun(false))), ExitCode::Done,
         Icon::Information, IDS_INSTALLED_OLDER_WINDOWS},
        {"installed through Preload: at the next sign-in", finishedReport(editedDirectly(501)), ExitCode::Done,
         Icon::Information, IDS_INSTALLED_NEXT_SIGN_IN},
        {"installed, no one at the screen", finishedReport(withoutUser(WhyNoUser::NoOneSignedIn)), ExitCode::Done,
         Icon::Information, IDS_INSTALLED_FOR_COMPUTER},
        {"installed, the user at the screen unknown", finishedReport(withoutUser(WhyNoUser::NotIdentified)),
         ExitCode::Done, Icon::Information, IDS_INSTALLED_USER_UNKNOWN},
        {"installed, a restart finishes it", finishedReport(finished(Action::Install, 1000, doneRun(true))),
         ExitCode::RestartNeeded, Icon::Information, IDS_INSTALLED_RESTART},
        {"installed for every user", finishedReport(forAll(Action::Install, false, {})), ExitCode::Done,
         Icon::Information, IDS_INSTALLED_ALL_USERS},
        {"installed, a restart finishes it, profiles not opened",
         finishedReport(forAll(Action::Install, true, {L"C:\\Users\\dave"})), ExitCode::ProfilesNotReached,
         Icon::Warning, IDS_PROFILES_NOT_REACHED},
        {"uninstalled, profiles not opened", finishedReport(forAll(Action::Uninstall, false, {L"C:\\Users\\dave"})),
         ExitCode::ProfilesNotReached, Icon::Warning, IDS_PROFILES_NOT_CLEANED},
        {"uninstalled", finishedReport(finished(Action::Uninstall, 1000, doneRun(false))), ExitCode::Done,
         Icon::Information, IDS_UNINSTALLED},
        {"uninstalled, a restart finishes it", finishedReport(finished(Action::Uninstall, 501, doneRun(true))),
         ExitCode::RestartNeeded, Icon::Information, IDS_UNINSTALLED_RESTART},
        {"uninstalled, another maker's Kurd.dll and its keys left", finishedReport(keptKeys), ExitCode::Done,
         Icon::Information, IDS_FOREIGN_KEYS_KEPT},
        {"install failed and undone", finishedReport(finished(Action::Install, 1000, failedRun(false))),
         ExitCode::Failed, Icon::Error, IDS_INSTALL_FAILED},
        {"install failed, undone at the restart",
         finishedReport(finished(Action::Install, 1000, failedRun(true))), ExitCode::Failed, Icon::Error,
         IDS_INSTALL_FAILED_RESTART},
        {"uninstall failed and undone", finishedReport(finished(Action::Uninstall, 1000, failedRun(false))),
         ExitCode::Failed, Icon::Error, IDS_UNINSTALL_FAILED},
        {"uninstall failed, undone at the restart",
         finishedReport(finished(Action::Uninstall, 1000, failedRun(true))), ExitCode::Failed, Icon::Error,
         IDS_UNINSTALL_FAILED_RESTART},
        {"failed, not undone",
         finishedReport(finished(Action::Install, 1000, failedRun(false, {literal(L"a change")}))),
         ExitCode::Failed, Icon::Error, IDS_NOT_UNDONE},
        {"an older build over a newer one", problemReport(Action::Install, {IDS_NEWER_INSTALLED, {L"1.0.4.0", L"1.0.3.40"}}),
         ExitCode::NewerInstalled, Icon::Error, IDS_INSTALL_FAILED},
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
    EXPECT_EQ(static_cast<int>(ExitCode::NewerInstalled), 1638);
    EXPECT_EQ(static_cast<int>(ExitCode::RestartNeeded), 3010);
    EXPECT_EQ(static_cast<int>(ExitCode::Failed), 1603);
    // Ours: the registry of a profile could not be opened (ERROR_CANTOPEN).
    EXPECT_EQ(static_cast<int>(ExitCode::ProfilesNotReached), 1011);
}

// The texts a report nests, as an English user reads them: inserts are
// never read as patterns, and Windows' error is in its words where it has
// them, else by number.
TEST(Report, MessagePutTogether) {
    static const std::map<unsigned, std::wstring> english = {
        {IDS_TITLE, L"Layout"},
        {IDS_INSTALL_FAILED, L"Not installed.\n\n%1"},
        {IDS_STEP_FAILED, L"%1: %2"},
        {IDS_STEP_WRITE_FILE, L"write %1"},
        {IDS_NOT_UNDONE, L"Not undone:\n\n%1"},
        {IDS_LINES, L"%1\n%2"},
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
        {"a failed step", finishedReport(finished(Action::Install, 1000, failedRun(false))),
         L"Not installed.\n\nwrite C:\\Windows\\System32\\Kurd.dll: Access denied %1 (error 5)"},
        {"an argument as it is", badArgumentsReport({std::nullopt, IDS_UNKNOWN_ARGUMENT, L"/%2"}, L"setup8.exe"),
         L"Unknown argument: /%2\n\nUsage: setup8.exe"},
        {"an error Windows has no words for", cannotWriteLogReport(L"%1.log", 3, L"setup.exe"),
         L"Cannot write %1.log: error 3\n\nUsage: setup.exe"},
        {"changes not undone, a line each",
         finishedReport(
             finished(Action::Install, 1000, failedRun(false, {literal(L"one"), literal(L"two %1"), literal(L"three")}))),
         L"Not undone:\n\none\ntwo %1\nthree"},
    };
    for (const Row& row : rows) {
        const ShownMessage shown =
            composeMessage(englishUnitedStates, englishUnitedStates, IDS_TITLE, row.report.text, {lookup, windowsWords});
        EXPECT_EQ(shown.text, row.text) << row.name << ": " << narrow(shown.text);
    }
}

// Whose list a whole run changes (another account elevating, the session
// not answering or its user unknown, no one signed in) is
// Plan.EnablingForTheUser's; here what it does not try.
TEST(Facts, TheUserAtTheScreen) {
    const std::wstring alice = L"S-1-5-21-1-2-3-1001";
    const SessionUser aliceSignedIn{L"alice", alice}, noOne{};
    const ScreenUser none{std::nullopt, WhyNoUser::NoOneSignedIn};
    struct Row {
        const char* name;
        std::optional<std::wstring> process;
        std::optional<SessionUser> session;
        ScreenUser user;
    };
    const Row rows[] = {
        {"SID spelt in another case", L"s-1-5-21-1-2-3-1001", aliceSignedIn, {User{alice, true}}},
        {"LocalService", L"S-1-5-19", noOne, none},
        {"NetworkService", L"S-1-5-20", noOne, none},
        {"LocalSystem in someone's session: that user", L"S-1-5-18", aliceSignedIn, {User{alice, false}}},
        {"nothing known", std::nullopt, noOne, none},
    };
    for (const Row& row : rows)
        EXPECT_EQ(userAtTheScreen(row.process, row.session), row.user) << row.name;
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
