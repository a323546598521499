// What a run tells: its exit code, as deployment tools read it, and the
// one message a user sees, with its icon. The texts themselves are in
// the string tables; this chooses among them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "plan.h"
#include "run.h"

namespace setup {

// The Windows Installer's codes where one means the same.
enum class ExitCode : int {
    Done = 0,
    NotAdministrator = 5,
    BadArguments = 87,
    Failed = 1603,
    Busy = 1618,  // another installation is in progress
    RestartNeeded = 3010,
};

enum class Icon { Information, Warning, Error };

// A message of the string table with what fills its %1, %2...; or, with
// id 0, the one argument as it is.
struct Text {
    unsigned id = 0;
    std::vector<std::wstring> arguments;
    bool operator==(const Text&) const = default;
};

struct Report {
    ExitCode exitCode = ExitCode::Done;
    Icon icon = Icon::Information;
    Text text;
    // Filled in for the text's %1, itself a message with arguments.
    std::optional<Text> detail;
    bool operator==(const Report&) const = default;
};

Report usageReport();
Report badArgumentsReport(const std::wstring& why);
Report cannotWriteLogReport(const std::wstring& path, const std::wstring& error);
Report notAdministratorReport();
Report busyReport();

// A run refused before it changed anything: a damaged installer, a
// system that cannot be read, a plan that cannot be made, an earlier
// run's changes that cannot be undone yet.
Report refusedReport(Action action, const Text& why);

// A run that carried its plan out, or tried to: errorText names
// result.error in words.
struct Finished {
    Action action = Action::Install;
    unsigned windowsVersion = 501;  // major * 100 + minor
    bool forComputerOnly = false;
    RunResult result;
    std::wstring errorText;
};

Report finishedReport(const Finished& finished);

}  // namespace setup

namespace setup {

// The pattern with %1, %2... replaced by the arguments, in one pass: what
// an argument holds is never read as a marker.
std::wstring fillIn(std::wstring_view pattern, const std::vector<std::wstring>& arguments);

// The report's whole message, its texts looked up by id, the detail
// filled in for the text's %1.
std::wstring composeMessage(const Report& report, const std::function<std::wstring(unsigned)>& lookup);

}  // namespace setup
