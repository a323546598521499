#include "run.h"

#include <algorithm>

#include "pending_renames.h"
#include "resource.h"
#include "text.h"

namespace setup {
namespace {

std::wstring outcomeText(System& system, const Outcome& outcome) {
    if (outcome.error != 0)
        return L"failed: " + system.errorText(outcome.error);
    if (outcome.waitsForUser)
        return L"waits until the user's registry is loaded";
    if (outcome.leftAlone)
        return L"left as it is: another program has changed it since";
    return outcome.restartNeeded ? L"done at the next restart" : L"done";
}

// Writes each hive the changes wrote to disk: the registry writes its
// hives lazily, and a power cut would lose what the journal no longer
// records. A key gone by now is flushed through the key above it. The
// key that could not be flushed, if any, goes to *failed.
std::uint32_t flushWritten(System& system, const std::vector<Change>& changes, RegistryKey* failed = nullptr) {
    std::vector<RegistryKey> flushed;
    for (const Change& change : changes) {
        const RegistryKey key = writtenKey(change);
        if (std::find(flushed.begin(), flushed.end(), key) != flushed.end())
            continue;
        flushed.push_back(key);
        std::uint32_t error = system.flush(key);
        if (isGone(error))
            error = system.flush(parentKey(key));
        if (error != 0) {
            if (failed)
                *failed = key;
            return error;
        }
    }
    return 0;
}

// The journal of this run: each entry on disk before its change is made.
class Journal {
public:
    explicit Journal(System& system) : system_(system) {}

    // A journal already there belongs to a run that was not dealt with:
    // it is never written into.
    std::uint32_t open() {
        std::uint32_t error = system_.createKey(journalKey());
        if (error == 0 && (error = system_.flush(journalKey())) != 0)
            close();
        return error;
    }
    std::uint32_t append(const Change& change) {
        return written(system_.setValue(journalKey(), journalEntryName(next_++), binaryValue(encodeChange(change))));
    }
    std::uint32_t commit() { return written(system_.setValue(journalKey(), journalCommittedName, dwordValue(1))); }
    void close() {
        if (const std::uint32_t error = system_.deleteKey(journalKey()))
            system_.record(L"the journal stays for the next run: " + system_.errorText(error));
    }

private:
    std::uint32_t written(std::uint32_t error) { return error != 0 ? error : system_.flush(journalKey()); }

    System& system_;
    std::size_t next_ = 0;
};

struct Undoing {
    std::vector<Change> undone;
    std::vector<Change> waiting;  // newest first
    std::vector<MessageText> notUndone;
    bool restartNeeded = false;
};

Undoing undoNewestFirst(System& system, const std::vector<Change>& changes) {
    Undoing undoing;
    for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
        const Outcome outcome = undo(system, *change);
        system.record(L"undo " + system.inEnglish(description(*change)) + L": " + outcomeText(system, outcome));
        if (outcome.error != 0)
            undoing.notUndone.push_back(description(*change));
        else if (outcome.waitsForUser)
            undoing.waiting.push_back(*change);
        else
            undoing.undone.push_back(*change);
        undoing.restartNeeded |= outcome.restartNeeded;
    }
    return undoing;
}

// Keeps a change for the user whose registry it is in, after the ones
// kept before; one kept already stays as it is (a recovery that is
// killed before the journal goes keeps its changes twice).
std::uint32_t keepWaiting(System& system, const Change& change) {
    const RegistryKey key = waitingKey(*userOf(change));
    std::optional<std::vector<NamedValue>> kept;
    if (const std::uint32_t error = system.readKey(key, kept))
        return error;
    const RegistryValue entry = binaryValue(encodeChange(change));
    std::uint32_t last = 0;
    for (const NamedValue& value : kept.value_or(std::vector<NamedValue>{})) {
        if (value.value == entry)
            return 0;
        last = std::max(last, parseDecimal(value.name).value_or(0));
    }
    std::uint32_t error = system.createKey(key);
    if (error == 0 || error == winerror::alreadyExists)
        error = system.setValue(key, journalEntryName(last), entry);
    return error != 0 ? error : system.flush(key);
}

// Settles every change, logging what is left for the next run.
bool settleAll(System& system, const std::vector<Change>& changes) {
    bool settled = true;
    for (const Change& change : changes) {
        if (!settle(system, change)) {
            system.record(L"tidy up after " + system.inEnglish(description(change)) + L": left for the next run");
            settled = false;
        }
    }
    // Settling schedules what is in use for the restart.
    return system.flush({Hive::LocalMachine, sessionManagerPath}) == 0 && settled;
}

}  // namespace

RunResult run(const Plan& plan, System& system) {
    RunResult result;
    if (plan.steps.empty())
        return result;
    Journal journal(system);
    std::vector<Change> done;
    const auto fail = [&](const MessageText& what, std::uint32_t error, const Change* failed) {
        result.succeeded = false;
        result.failedChange = what;
        result.error = error;
        // The failed change may have done part of its work: it is undone
        // first (undoing is safe on a change that never ran).
        std::vector<Change> changes = done;
        if (failed)
            changes.push_back(*failed);
        const Undoing undoing = undoNewestFirst(system, changes);
        result.restartNeeded = undoing.restartNeeded;
        result.notUndone = undoing.notUndone;
        for (const Change& change : undoing.waiting)
            result.notUndone.push_back(description(change));
        if (result.notUndone.empty() && flushWritten(system, undoing.undone) == 0)
            journal.close();
        return result;
    };

    if (const std::uint32_t error = journal.open()) {
        result.succeeded = false;
        result.failedChange = CreateKey{journalKey()}.description();
        result.error = error;
        return result;
    }
    const auto attempt = [&](std::size_t step, const Change& change) {
        const std::uint32_t error = journal.append(change);
        const Outcome outcome = error != 0 ? outcomeOf(error) : apply(system, change);
        system.record(L"step " + decimal(static_cast<std::uint32_t>(step + 1)) + L": " +
                      system.inEnglish(description(change)) + L": " + outcomeText(system, outcome));
        if (outcome.error == 0) {
            done.push_back(change);
            result.restartNeeded |= outcome.restartNeeded;
        }
        return outcome;
    };
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
            if (outcome.error == 0) {
                result.tookOtherWay |= !step.otherwise->empty();
                continue;
            }
        }
        return fail(description(*failed), outcome.error, failed);
    }
    RegistryKey unflushed;
    if (const std::uint32_t error = flushWritten(system, done, &unflushed))
        return fail(message(IDS_STEP_FLUSH, {name(keyText(unflushed))}), error, nullptr);
    // Should the mark not be written, a crash while settling would have
    // the next run undo this one: still the lesser harm than not settling.
    journal.commit();
    if (settleAll(system, done))
        journal.close();
    return result;
}

Recovery recover(const std::optional<std::vector<NamedValue>>& journal,
                 const std::optional<std::vector<WaitingChanges>>& waiting, System& system) {
    Recovery recovery;
    const auto unreadable = [&](const RegistryKey& key, const std::vector<std::wstring>& names) {
        for (const std::wstring& name : names) {
            recovery.unreadable.push_back(keyText(key) + L" \"" + name + L"\"");
            system.record(L"the entry \"" + name + L"\" is not readable: left in " + keyText(key));
        }
        return names.empty();
    };
    if (journal) {
        const JournalContents contents = readJournal(*journal);
        bool finished = unreadable(journalKey(), contents.unreadable);
        if (contents.committed) {
            system.record(L"an earlier run finished its steps but was stopped while tidying up: tidying up");
            finished &= settleAll(system, contents.changes);
        } else {
            system.record(L"an earlier run was stopped before it finished: undoing what it changed");
            const Undoing undoing = undoNewestFirst(system, contents.changes);
            recovery.notUndone = undoing.notUndone;
            for (auto change = undoing.waiting.rbegin(); change != undoing.waiting.rend(); ++change) {
                if (const std::uint32_t error = keepWaiting(system, *change)) {
                    system.record(L"cannot keep it for the user: " + system.errorText(error));
                    recovery.notUndone.push_back(description(*change));
                }
            }
            finished &= recovery.notUndone.empty() && flushWritten(system, undoing.undone) == 0;
        }
        if (finished)
            system.deleteKey(journalKey());
    }
    if (!waiting)
        return recovery;
    bool everyoneDone = true;
    for (const WaitingChanges& user : *waiting) {
        if (!system.userHiveLoaded(user.sid)) {
            everyoneDone = false;
            continue;
        }
        system.record(L"the registry of user " + user.sid + L" is loaded: undoing what waited for it");
        const JournalContents contents = readJournal(user.entries);
        const Undoing undoing = undoNewestFirst(system, contents.changes);
        recovery.notUndone.insert(recovery.notUndone.end(), undoing.notUndone.begin(), undoing.notUndone.end());
        const bool finished = unreadable(waitingKey(user.sid), contents.unreadable) && undoing.notUndone.empty() &&
                              undoing.waiting.empty() && flushWritten(system, undoing.undone) == 0 &&
                              system.deleteKey(waitingKey(user.sid)) == 0;
        everyoneDone &= finished;
    }
    if (everyoneDone)
        system.deleteKey({Hive::LocalMachine, waitingPath});
    return recovery;
}

}  // namespace setup
