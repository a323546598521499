#include "session.h"

#include "journal.h"
#include "resource.h"
#include "run.h"
#include "text.h"

namespace setup {

namespace {

Report carryOutPlan(Action action, bool allUsers, const Package& package, FactReader& reader, System& system) {
    MessageText why;
    std::optional<SystemFacts> facts = reader.read(why);
    if (facts && (facts->journal || facts->waiting)) {
        const Recovery recovery = recover(facts->journal, facts->waiting, system);
        std::vector<MessageText> left = recovery.notUndone;
        for (const std::wstring& entry : recovery.unreadable)
            left.push_back(name(entry));
        if (!left.empty())
            return refusedReport(action, message(IDS_INTERRUPTED_RUN, {lines(left)}));
        facts = reader.read(why);
        // A journal is never written into twice.
        if (facts && facts->journal)
            return refusedReport(action, message(IDS_JOURNAL_LEFT, {name(keyText(journalKey()))}));
    }
    if (!facts)
        return refusedReport(action, why);

    const Plan plan = action == Action::Uninstall ? planUninstall(*facts) : planInstall(*facts, package, allUsers);
    if (plan.problem) {
        const Report report = problemReport(action, *plan.problem);
        system.record(L"nothing to do: " + system.inEnglish(report.text.inserts.front()));
        return report;
    }
    system.record(L"layout " + (plan.klid.empty() ? std::wstring(L"(none registered)") : plan.klid) + L", " +
                  decimal(static_cast<std::uint32_t>(plan.steps.size())) + L" steps" +
                  (plan.profiles.empty() ? L""
                                         : L", and the lists of " +
                                               decimal(static_cast<std::uint32_t>(plan.profiles.size())) + L" profiles"));
    if (plan.noUser == WhyNoUser::NoOneSignedIn)
        system.record(L"no one is signed in at this screen: only the computer's part is done, no user's list");
    else if (plan.noUser == WhyNoUser::NotIdentified)
        system.record(L"the user signed in at this screen cannot be identified: only the computer's part is done, "
                      L"no user's list");
    if (!plan.foreignLayoutFile.empty())
        system.record(L"another maker's " + plan.foreignLayoutFile + L" is there: the keys that name Kurd.dll stay");
    const RunResult result = run(plan, system);
    if (result.succeeded)
        system.record(result.restartNeeded ? L"finished: a restart is needed" : L"finished");
    else if (!result.notUndone.empty())
        system.record(L"failed, and not everything could be undone");
    else
        system.record(result.restartNeeded ? L"failed: undone, but only at the next restart" : L"failed: undone");
    return finishedReport({action, facts->windowsVersion, plan.noUser, plan.editsListDirectly || result.tookOtherWay,
                           plan.foreignLayoutFile, result, allUsers && action == Action::Install});
}

}  // namespace

Report carryOut(Action action, bool allUsers, const Package& package, FactReader& reader, System& system) {
    const Report report = carryOutPlan(action, allUsers, package, reader, system);
    unloadOurHives(system);
    return report;
}

}  // namespace setup
