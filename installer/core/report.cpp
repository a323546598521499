#include "report.h"

#include "resource.h"

namespace setup {

Report usageReport() { return {ExitCode::Done, Icon::Information, message(IDS_USAGE)}; }

Report badArgumentsReport(const ParsedArguments& parsed) {
    return {ExitCode::BadArguments, Icon::Error,
            message(IDS_BAD_ARGUMENTS, {message(parsed.error, {literal(parsed.argument)})})};
}

Report cannotWriteLogReport(const std::wstring& path, const std::wstring& error) {
    return {ExitCode::BadArguments, Icon::Error,
            message(IDS_BAD_ARGUMENTS, {message(IDS_CANNOT_WRITE_LOG, {literal(path), literal(error)})})};
}

Report notAdministratorReport() { return {ExitCode::NotAdministrator, Icon::Error, message(IDS_NOT_ADMINISTRATOR)}; }

Report busyReport() { return {ExitCode::Busy, Icon::Warning, message(IDS_BUSY)}; }

Report refusedReport(Action action, const MessageText& why) {
    return {ExitCode::Failed, Icon::Error,
            message(action == Action::Uninstall ? IDS_UNINSTALL_FAILED : IDS_INSTALL_FAILED, {why})};
}

Report finishedReport(const Finished& finished) {
    const bool uninstall = finished.action == Action::Uninstall;
    const RunResult& result = finished.result;
    if (!result.succeeded) {
        if (!result.notUndone.empty()) {
            std::wstring list;
            for (const std::wstring& change : result.notUndone)
                list += change + L"\n";
            return {ExitCode::Failed, Icon::Error, message(IDS_NOT_UNDONE, {literal(list)})};
        }
        unsigned message = uninstall ? IDS_UNINSTALL_FAILED : IDS_INSTALL_FAILED;
        if (result.restartNeeded)
            message = uninstall ? IDS_UNINSTALL_FAILED_RESTART : IDS_INSTALL_FAILED_RESTART;
        return {ExitCode::Failed, Icon::Error,
                setup::message(message, {setup::message(IDS_STEP_FAILED, {literal(result.failedChange),
                                                                           literal(finished.errorText)})})};
    }
    const ExitCode exitCode = result.restartNeeded ? ExitCode::RestartNeeded : ExitCode::Done;
    unsigned message;
    if (uninstall)
        message = result.restartNeeded ? IDS_UNINSTALLED_RESTART : IDS_UNINSTALLED;
    else if (result.restartNeeded)
        message = IDS_INSTALLED_RESTART;
    else if (finished.forComputerOnly)
        message = IDS_INSTALLED_FOR_COMPUTER;
    else
        // Win+Space switches layouts from Windows 8 on.
        message = finished.windowsVersion >= 602 ? IDS_INSTALLED : IDS_INSTALLED_OLDER_WINDOWS;
    return {exitCode, Icon::Information, setup::message(message)};
}

}  // namespace setup
