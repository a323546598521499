#include "report.h"

#include "resource.h"

namespace setup {

std::wstring fillIn(std::wstring_view pattern, const std::vector<std::wstring>& arguments) {
    std::wstring out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t next = i + 1 < pattern.size() ? pattern[i + 1] : L'\0';
        const std::size_t index = next >= L'1' && next <= L'9' ? static_cast<std::size_t>(next - L'1') : arguments.size();
        if (pattern[i] == L'%' && index < arguments.size()) {
            out += arguments[index];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::wstring composeMessage(const Report& report, const std::function<std::wstring(unsigned)>& lookup) {
    const auto text = [&](const Text& t) {
        if (t.id == 0)
            return t.arguments.empty() ? std::wstring() : t.arguments.front();
        return fillIn(lookup(t.id), t.arguments);
    };
    Text whole = report.text;
    if (report.detail)
        whole.arguments.insert(whole.arguments.begin(), text(*report.detail));
    return text(whole);
}

Report usageReport() { return {ExitCode::Done, Icon::Information, {IDS_USAGE, {}}, std::nullopt}; }

Report badArgumentsReport(const std::wstring& why) {
    return {ExitCode::BadArguments, Icon::Error, {IDS_BAD_ARGUMENTS, {}}, Text{0, {why}}};
}

Report cannotWriteLogReport(const std::wstring& path, const std::wstring& error) {
    return {ExitCode::BadArguments, Icon::Error, {IDS_BAD_ARGUMENTS, {}}, Text{IDS_CANNOT_WRITE_LOG, {path, error}}};
}

Report notAdministratorReport() {
    return {ExitCode::NotAdministrator, Icon::Error, {IDS_NOT_ADMINISTRATOR, {}}, std::nullopt};
}

Report busyReport() { return {ExitCode::Busy, Icon::Warning, {IDS_BUSY, {}}, std::nullopt}; }

Report refusedReport(Action action, const Text& why) {
    return {ExitCode::Failed, Icon::Error,
            {action == Action::Uninstall ? unsigned{IDS_UNINSTALL_FAILED} : unsigned{IDS_INSTALL_FAILED}, {}}, why};
}

Report finishedReport(const Finished& finished) {
    const bool uninstall = finished.action == Action::Uninstall;
    const RunResult& result = finished.result;
    if (!result.succeeded) {
        if (!result.notUndone.empty()) {
            std::wstring list;
            for (const std::wstring& change : result.notUndone)
                list += change + L"\n";
            return {ExitCode::Failed, Icon::Error, {IDS_NOT_UNDONE, {}}, Text{0, {list}}};
        }
        unsigned message = uninstall ? IDS_UNINSTALL_FAILED : IDS_INSTALL_FAILED;
        if (result.restartNeeded)
            message = uninstall ? IDS_UNINSTALL_FAILED_RESTART : IDS_INSTALL_FAILED_RESTART;
        return {ExitCode::Failed, Icon::Error, {message, {}},
                Text{IDS_STEP_FAILED, {result.failedChange, finished.errorText}}};
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
    return {exitCode, Icon::Information, {message, {}}, std::nullopt};
}

}  // namespace setup
