#include "report.h"

#include "resource.h"

namespace setup {

namespace {

MessageText usageLine(const std::wstring& program) { return message(IDS_USAGE_LINE, {name(program)}); }

Report badArguments(MessageText why, const std::wstring& program) {
    return {ExitCode::BadArguments, Icon::Error, message(IDS_BAD_ARGUMENTS, {std::move(why), usageLine(program)})};
}

}  // namespace

Report usageReport(const std::wstring& program) {
    return {ExitCode::Done, Icon::Information, message(IDS_USAGE, {usageLine(program)})};
}

// The complaints take the argument, a name as typed, as %1 and, where
// they name it, the one switch that takes a value as %2.
Report badArgumentsReport(const ParsedArguments& parsed, const std::wstring& program) {
    return badArguments(message(parsed.error, {name(parsed.argument), name(L"/log")}), program);
}

Report cannotWriteLogReport(const std::wstring& path, std::uint32_t error, const std::wstring& program) {
    return badArguments(message(IDS_CANNOT_WRITE_LOG, {name(path), windowsError(error)}), program);
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
                                                                           windowsError(result.error)})})};
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
    // Every install says where the layout appears.
    std::vector<MessageText> inserts;
    if (!uninstall)
        inserts.push_back(setup::message(IDS_WHERE_TO_FIND));
    return {exitCode, Icon::Information, setup::message(message, std::move(inserts))};
}

}  // namespace setup
