#include "run.h"

#include "journal.h"
#include "text.h"

namespace setup {
namespace {

const RegistryKey journalKey{Hive::LocalMachine, journalPath};

std::wstring outcomeText(System& system, const Outcome& outcome) {
    if (outcome.error != 0)
        return L"failed: " + system.errorText(outcome.error);
    return outcome.restartNeeded ? L"done at the next restart" : L"done";
}

// The journal of this run: each entry written to disk before its change
// is made.
class Journal {
public:
    explicit Journal(System& system) : system_(system) {}

    std::uint32_t open() { return written(system_.createKey(journalKey)); }
    std::uint32_t append(const Change& change) {
        return written(system_.setValue(journalKey, journalEntryName(next_++), binaryValue(encodeChange(change))));
    }
    std::uint32_t commit() { return written(system_.setValue(journalKey, journalCommittedName, dwordValue(1))); }
    void close() { system_.deleteKey(journalKey); }

private:
    std::uint32_t written(std::uint32_t error) { return error != 0 ? error : system_.flush(journalKey); }

    System& system_;
    std::size_t next_ = 0;
};

// Whether a failed undo leaves the system not as it was. The system's
// call for the user's list may refuse to take back what it did, as it may
// refuse to do it: like its refusal in a step, that changes nothing the
// installer can mend.
bool undoneOrMust(const Change& change, const Outcome& undone) {
    return undone.error == 0 || std::holds_alternative<UserLayoutCall>(change);
}

// Settles every change, logging what is left for the next run.
bool settleAll(System& system, const std::vector<Change>& changes) {
    bool settled = true;
    for (const Change& change : changes) {
        if (!settle(system, change)) {
            system.record(L"tidy up after " + describe(change) + L": left for the next run");
            settled = false;
        }
    }
    return settled;
}

}  // namespace

RunResult run(const Plan& plan, System& system) {
    RunResult result;
    if (plan.steps.empty())
        return result;
    Journal journal(system);
    std::vector<Change> done;
    const auto attempt = [&](std::size_t step, const Change& change) {
        std::uint32_t error = journal.append(change);
        const Outcome outcome = error != 0 ? Outcome{error, false} : apply(system, change);
        system.record(L"step " + decimal(static_cast<std::uint32_t>(step + 1)) + L": " + describe(change) + L": " +
                      outcomeText(system, outcome));
        if (outcome.error == 0) {
            done.push_back(change);
            result.restartNeeded |= outcome.restartNeeded;
        }
        return outcome;
    };

    if (const std::uint32_t error = journal.open(); error != 0) {
        journal.close();
        result.succeeded = false;
        result.failedChange = L"create key HKLM\\" + std::wstring(journalPath);
        result.error = error;
        return result;
    }
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        const Step& step = plan.steps[i];
        Outcome outcome = attempt(i, step.change);
        if (outcome.error == 0)
            continue;
        const Change* failed = &step.change;
        if (step.otherwise) {
            // The step's other way; undone with the rest if a part fails.
            outcome = {};
            for (const Change& change : *step.otherwise) {
                outcome = attempt(i, change);
                if (outcome.error != 0) {
                    failed = &change;
                    break;
                }
            }
            if (outcome.error == 0)
                continue;
        }
        result.succeeded = false;
        result.restartNeeded = false;
        result.failedStep = i;
        result.failedChange = describe(*failed);
        result.error = outcome.error;
        for (auto change = done.rbegin(); change != done.rend(); ++change) {
            const Outcome undone = undo(system, *change);
            system.record(L"undo " + describe(*change) + L": " + outcomeText(system, undone));
            if (!undoneOrMust(*change, undone))
                result.notUndone.push_back(describe(*change));
            result.restartNeeded |= undone.restartNeeded;
        }
        if (result.notUndone.empty())
            journal.close();
        return result;
    }
    // Should the mark not be written, a crash while settling would have
    // the next run undo this one: still the lesser harm than not settling.
    journal.commit();
    if (settleAll(system, done))
        journal.close();
    return result;
}

Recovery recover(const std::vector<NamedValue>& values, System& system) {
    const JournalContents contents = readJournal(values);
    Recovery recovery;
    recovery.unreadable = contents.unreadable;
    bool settled = true;
    if (contents.committed) {
        system.record(L"an earlier run finished its steps but was stopped while tidying up: tidying up");
        settled = settleAll(system, contents.changes);
    } else {
        system.record(L"an earlier run was stopped before it finished: undoing what it changed");
        for (auto change = contents.changes.rbegin(); change != contents.changes.rend(); ++change) {
            const Outcome undone = undo(system, *change);
            system.record(L"undo " + describe(*change) + L": " + outcomeText(system, undone));
            if (!undoneOrMust(*change, undone))
                recovery.notUndone.push_back(describe(*change));
            recovery.restartNeeded |= undone.restartNeeded;
        }
    }
    for (const std::wstring& name : recovery.unreadable)
        system.record(L"the journal's entry \"" + name + L"\" is not readable: left in HKLM\\" + journalPath);
    if (settled && recovery.notUndone.empty() && recovery.unreadable.empty())
        system.deleteKey(journalKey);
    return recovery;
}

}  // namespace setup
