#include "session.h"

#include "journal.h"
#include "resource.h"
#include "run.h"
#include "text.h"

namespace setup {

Report carryOut(Action action, const Package& package, FactReader& reader, System& system) {
    MessageText why;
    std::optional<SystemFacts> facts = reader.read(why);
    if (facts && facts->journal) {
        const Recovery recovery = recover(*facts->journal, system);
        if (!recovery.notUndone.empty() || !recovery.unreadable.empty()) {
            std::wstring list;
            for (const std::wstring& change : recovery.notUndone)
                list += L"\n" + change;
            for (const std::wstring& entry : recovery.unreadable)
                list += L"\nHKLM\\" + std::wstring(journalPath) + L" \"" + entry + L"\"";
            return refusedReport(action, message(IDS_INTERRUPTED_RUN, {literal(list)}));
        }
        facts = reader.read(why);
    }
    if (!facts)
        return refusedReport(action, why);

    const Plan plan = action == Action::Uninstall ? planUninstall(*facts, package) : planInstall(*facts, package);
    if (plan.problem) {
        system.record(L"nothing to do: the plan was refused");
        // The file a problem names is a name; its other arguments are numbers.
        const Problem& problem = *plan.problem;
        MessageText argument = problem.message == IDS_FOREIGN_FILE ? name(problem.argument) : literal(problem.argument);
        return refusedReport(action, message(problem.message, {std::move(argument)}));
    }
    system.record(L"layout " + (plan.klid.empty() ? std::wstring(L"(none registered)") : plan.klid) + L", " +
                  decimal(static_cast<std::uint32_t>(plan.steps.size())) + L" steps");
    if (plan.forComputerOnly)
        system.record(L"no one is signed in at this screen: only the computer's part is done, no user's list");
    const RunResult result = run(plan, system);
    if (result.succeeded)
        system.record(result.restartNeeded ? L"finished: a restart is needed" : L"finished");
    else if (!result.notUndone.empty())
        system.record(L"failed, and not everything could be undone");
    else
        system.record(result.restartNeeded ? L"failed: undone, but only at the next restart" : L"failed: undone");
    return finishedReport({action, facts->windowsVersion, plan.forComputerOnly, result});
}

}  // namespace setup
