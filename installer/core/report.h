// What a run tells: its exit code, as deployment tools read it, and the
// one message a user sees, with its icon. The texts themselves are in
// the string tables; this chooses among them.
#pragma once

#include <cstdint>
#include <string>

#include "arguments.h"
#include "facts.h"
#include "message_language.h"
#include "plan.h"
#include "run.h"

namespace setup {

// The Windows Installer's codes where one means the same.
enum class ExitCode : int {
    Done = 0,
    NotAdministrator = 5,
    BadArguments = 87,
    Failed = 1603,
    Busy = 1618,           // another installation is in progress
    NewerInstalled = 1638,  // another version of the product is installed
    RestartNeeded = 3010,
    // Done, but some profiles' registries could not be opened
    // (ERROR_CANTOPEN: "The configuration registry key could not be
    // opened"); the message names them.
    ProfilesNotReached = 1011,
};

enum class Icon { Information, Warning, Error };

struct Report {
    ExitCode exitCode = ExitCode::Done;
    Icon icon = Icon::Information;
    MessageText text;
};

// The usage and the complaints about a command line name the program by
// its file name: setup7.exe, setup8.exe, or the copy kept for uninstalling.
Report usageReport(const std::wstring& program);
Report badArgumentsReport(const ParsedArguments& parsed, const std::wstring& program);
Report cannotWriteLogReport(const std::wstring& path, std::uint32_t error, const std::wstring& program);
Report notAdministratorReport();
Report busyReport();

// A run refused before it changed anything: a damaged installer, a
// system that cannot be read, an earlier run's changes that cannot be
// undone yet; or a plan that cannot be made.
Report refusedReport(Action action, const MessageText& why);
Report problemReport(Action action, const Problem& problem);

// A run that carried its plan out, or tried to.
struct Finished {
    Action action = Action::Install;
    unsigned windowsVersion = 501;  // major * 100 + minor
    std::optional<WhyNoUser> noUser;
    // The user's list was edited in the registry: the layout is there
    // once the user signs in again.
    bool listEditedDirectly = false;
    std::wstring foreignLayoutFile;  // uninstall: its keys were left
    RunResult result;
    bool allUsers = false;  // an install for every profile too
};

// Texts one after another, a line each.
MessageText lines(const std::vector<MessageText>& texts);

Report finishedReport(const Finished& finished);

}  // namespace setup
