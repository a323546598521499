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

// The numbers a problem gives (a language id, a processor's architecture)
// are numbers; its paths and versions are names.
Report problemReport(Action action, const Problem& problem) {
    const bool numbers = problem.message == IDS_NO_FREE_KLID || problem.message == IDS_UNKNOWN_PROCESSOR;
    std::vector<MessageText> arguments;
    for (const std::wstring& argument : problem.arguments)
        arguments.push_back(numbers ? literal(argument) : name(argument));
    Report report = refusedReport(action, message(problem.message, std::move(arguments)));
    if (problem.message == IDS_NEWER_INSTALLED)
        report.exitCode = ExitCode::NewerInstalled;
    return report;
}

MessageText lines(const std::vector<MessageText>& texts) {
    MessageText joined = texts.back();
    for (auto text = texts.rbegin() + 1; text != texts.rend(); ++text)
        joined = message(IDS_LINES, {*text, joined});
    return joined;
}

namespace {

// What a run that carried its plan out says, its profiles aside.
Report doneReport(const Finished& finished) {
    const RunResult& result = finished.result;
    const ExitCode exitCode = result.restartNeeded ? ExitCode::RestartNeeded : ExitCode::Done;
    if (finished.action == Action::Uninstall) {
        const MessageText removed = message(result.restartNeeded ? IDS_UNINSTALLED_RESTART : IDS_UNINSTALLED);
        if (finished.foreignLayoutFile.empty())
            return {exitCode, Icon::Information, removed};
        return {exitCode, Icon::Information,
                message(IDS_FOREIGN_KEYS_KEPT, {removed, name(finished.foreignLayoutFile)})};
    }
    unsigned message;
    if (result.restartNeeded)
        message = IDS_INSTALLED_RESTART;
    else if (finished.allUsers)
        message = IDS_INSTALLED_ALL_USERS;
    else if (finished.noUser)
        message = *finished.noUser == WhyNoUser::NotIdentified ? IDS_INSTALLED_USER_UNKNOWN : IDS_INSTALLED_FOR_COMPUTER;
    else if (finished.listEditedDirectly)
        message = IDS_INSTALLED_NEXT_SIGN_IN;
    else
        // Win+Space switches layouts from Windows 8 on.
        message = finished.windowsVersion >= 602 ? IDS_INSTALLED : IDS_INSTALLED_OLDER_WINDOWS;
    // Every install says where the layout appears.
    return {exitCode, Icon::Information, setup::message(message, {setup::message(IDS_WHERE_TO_FIND)})};
}

}  // namespace

Report finishedReport(const Finished& finished) {
    const bool uninstall = finished.action == Action::Uninstall;
    const RunResult& result = finished.result;
    if (!result.succeeded) {
        if (!result.notUndone.empty())
            return {ExitCode::Failed, Icon::Error, message(IDS_NOT_UNDONE, {lines(result.notUndone)})};
        unsigned message = uninstall ? IDS_UNINSTALL_FAILED : IDS_INSTALL_FAILED;
        if (result.restartNeeded)
            message = uninstall ? IDS_UNINSTALL_FAILED_RESTART : IDS_INSTALL_FAILED_RESTART;
        return {ExitCode::Failed, Icon::Error,
                setup::message(message, {setup::message(IDS_STEP_FAILED, {result.failedChange,
                                                                           windowsError(result.error)})})};
    }
    Report report = doneReport(finished);
    // A profile not reached is worth a deployment tool's notice, also
    // where a restart is needed: the message says both.
    if (!result.unreached.empty()) {
        std::vector<MessageText> folders;
        for (const std::wstring& folder : result.unreached)
            folders.push_back(name(folder));
        report = {ExitCode::ProfilesNotReached, Icon::Warning,
                  message(uninstall ? IDS_PROFILES_NOT_CLEANED : IDS_PROFILES_NOT_REACHED, {report.text, lines(folders)})};
    }
    return report;
}

}  // namespace setup
