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
    if (outcome.refused)
        return L"not undone: the system's call refused";
    return outcome.restartNeeded ? L"done at the next restart" : L"done";
}

// Writes each hive the changes wrote to disk: the registry writes its
// hives lazily, and a power cut would lose what the journal no longer
// records. A key gone by now is flushed through the key above it; a
// profile's registry unloaded since was written to disk as it went. The
// key that could not be flushed, if any, goes to *failed.
std::uint32_t flushWritten(System& system, const std::vector<Change>& changes, RegistryKey* failed = nullptr) {
    std::vector<RegistryKey> flushed;
    for (const Change& change : changes) {
        const RegistryKey key = writtenKey(change);
        const auto user = userOf(key);
        if (std::find(flushed.begin(), flushed.end(), key) != flushed.end() || (user && !system.userHiveLoaded(*user)))
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
    std::vector<MessageText> refused;  // by the system's call, which no later run is held up by
    bool restartNeeded = false;
};

Undoing undoNewestFirst(System& system, const std::vector<Change>& changes) {
    Undoing undoing;
    for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
        const Outcome outcome = undo(system, *change);
        system.record(L"undo " + system.inEnglish(description(*change)) + L": " + outcomeText(system, outcome));
        if (outcome.error != 0)
            undoing.notUndone.push_back(description(*change));
        else if (outcome.refused)
            undoing.refused.push_back(description(*change));
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

// Names entries that do not decode, which stay in their key; whether
// there were none.
bool unreadable(System& system, Recovery& recovery, const RegistryKey& key, const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) {
        recovery.unreadable.push_back(keyText(key) + L" \"" + name + L"\"");
        system.record(L"the entry \"" + name + L"\" is not readable: left in " + keyText(key));
    }
    return names.empty();
}

// What waits for a user whose registry is loaded now, undone; the user's
// key goes once everything in it is dealt with, and the key above it once
// no user is left in it.
void finishWaiting(System& system, const WaitingChanges& user, Recovery& recovery) {
    system.record(L"the registry of user " + user.sid + L" is loaded: undoing what waited for it");
    const JournalContents contents = readJournal(user.entries);
    const Undoing undoing = undoNewestFirst(system, contents.changes);
    recovery.notUndone.insert(recovery.notUndone.end(), undoing.notUndone.begin(), undoing.notUndone.end());
    if (unreadable(system, recovery, waitingKey(user.sid), contents.unreadable) && undoing.notUndone.empty() &&
        undoing.waiting.empty() && flushWritten(system, undoing.undone) == 0 &&
        system.deleteKey(waitingKey(user.sid)) == 0) {
        // Refused while another user's key is in it.
        system.deleteKey({Hive::LocalMachine, waitingPath});
    }
}

// The profiles' registries the killed run had loaded when it stopped are
// loaded again (a restart unloads them), so that what it changed in them
// can be undone; undoing the loading unloads each again.
void loadAgain(System& system, const std::vector<Change>& changes) {
    std::vector<const ProfileHive*> loaded;
    for (const Change& change : changes) {
        const auto* hive = std::get_if<ProfileHive>(&change);
        if (hive && hive->load)
            loaded.push_back(hive);
        else if (hive)
            std::erase_if(loaded, [&](const ProfileHive* l) { return equalNoCase(l->profile, hive->profile); });
    }
    for (const ProfileHive* load : loaded) {
        if (!system.userHiveLoaded(load->profile))
            system.record(L"load again " + system.inEnglish(load->description()) + L": " +
                          outcomeText(system, load->apply(system)));
    }
}

// A step that failed: what it was, its error, and the change that failed,
// which may have done part of its work.
struct Failure {
    MessageText what;
    std::uint32_t error = 0;
    std::optional<Change> change;
};

// The lists of a user as they are now; nothing where either key cannot
// be read.
std::optional<UserLayouts> readLists(System& system, const User& user) {
    std::optional<std::vector<NamedValue>> preload, substitutes;
    if (system.readKey(preloadKey(user), preload) != 0 || system.readKey(substitutesKey(user), substitutes) != 0)
        return std::nullopt;
    return UserLayouts{preload.has_value(), substitutes.has_value(), preload.value_or(std::vector<NamedValue>{}),
                       substitutes.value_or(std::vector<NamedValue>{})};
}

class Run {
public:
    Run(const Plan& plan, System& system) : plan_(plan), system_(system), journal_(system) {}

    RunResult carryOut() {
        if (const std::uint32_t error = journal_.open()) {
            result_.succeeded = false;
            result_.failedChange = CreateKey{journalKey()}.description();
            result_.error = error;
            return result_;
        }
        for (std::size_t i = 0; i <= plan_.steps.size(); ++i) {
            if (i == plan_.profilesAt) {
                for (const ProfileTarget& profile : plan_.profiles) {
                    if (const auto failure = reach(profile))
                        return fail(*failure);
                }
            }
            if (i == plan_.steps.size())
                break;
            if (const auto failure = carry(plan_.steps[i]))
                return fail(*failure);
        }
        RegistryKey unflushed;
        if (const std::uint32_t error = flushWritten(system_, done_, &unflushed))
            return fail({message(IDS_STEP_FLUSH, {name(keyText(unflushed))}), error, std::nullopt});
        // Should the mark not be written, a crash while settling would have
        // the next run undo this one: still the lesser harm than not settling.
        journal_.commit();
        if (settleAll(system_, done_))
            journal_.close();
        return result_;
    }

private:
    // The change journalled, then carried out.
    Outcome attempt(const Change& change) {
        const std::uint32_t error = journal_.append(change);
        const Outcome outcome = error != 0 ? outcomeOf(error) : apply(system_, change);
        system_.record(L"step " + decimal(static_cast<std::uint32_t>(++steps_)) + L": " +
                       system_.inEnglish(description(change)) + L": " + outcomeText(system_, outcome));
        if (outcome.error == 0) {
            done_.push_back(change);
            result_.restartNeeded |= outcome.restartNeeded;
        }
        return outcome;
    }

    // A step, or where it fails, its other way.
    std::optional<Failure> carry(const Step& step) {
        Outcome outcome = attempt(step.change);
        if (outcome.error == 0)
            return std::nullopt;
        const Change* failed = &step.change;
        if (step.otherwise) {
            // The step's other way; undone with the rest if a part fails.
            outcome = {};
            for (const Change& change : *step.otherwise) {
                if ((outcome = attempt(change)).error != 0) {
                    failed = &change;
                    break;
                }
            }
            if (outcome.error == 0) {
                result_.tookOtherWay |= !step.otherwise->empty();
                return std::nullopt;
            }
        }
        return Failure{description(*failed), outcome.error, *failed};
    }

    // A profile not at the screen: its registry loaded where Windows has
    // not, what waits for it finished, its list read and changed, and the
    // registry unloaded again. A profile that cannot be reached is named,
    // and the run goes on.
    std::optional<Failure> reach(const ProfileTarget& profile) {
        const std::wstring& user = profile.user.sid;
        const auto unreached = [&](const std::wstring& why) {
            system_.record(L"the list of user " + user + L" (" + profile.folder + L") is not changed: " + why);
            result_.unreached.push_back(profile.folder);
        };
        if (profile.reach == Reach::NoFolder) {
            system_.record(L"the folder of user " + user + L" (" + profile.folder + L") is gone: no list to change");
            return std::nullopt;
        }
        if (profile.reach == Reach::Roaming) {
            unreached(L"it is kept on a server");
            return std::nullopt;
        }
        const std::wstring file = hiveFile(profile.folder);
        if (profile.reach == Reach::FromFile) {
            if (const Outcome loaded = attempt(ProfileHive{user, file}); loaded.error != 0) {
                unreached(L"its registry cannot be loaded");
                return std::nullopt;
            }
        }
        // What a killed run left waiting for this user; what cannot be
        // undone yet stays waiting, and the log says so.
        WaitingChanges waiting{user, {}};
        std::optional<std::vector<NamedValue>> entries;
        if (system_.readKey(waitingKey(user), entries) == 0 && entries) {
            Recovery left;
            waiting.entries = std::move(*entries);
            finishWaiting(system_, waiting, left);
        }
        if (const auto lists = readLists(system_, profile.user)) {
            ListChange change = plan_.lists;
            // An empty list gives the profile Windows' default layout: ours
            // alone would take its place, at the welcome screen too.
            if (change.add && numberedValues(lists->preload).empty()) {
                system_.record(L"the list of user " + user + L" is empty, which gives it Windows' default layout: it stays so");
                change.add.reset();
            }
            for (const Step& step : listSteps({profile.user, *lists}, change, plan_.profileCallUsable, nullptr)) {
                if (auto failure = carry(step))
                    return failure;
            }
        } else {
            unreached(L"its list cannot be read");
        }
        if (profile.reach != Reach::FromFile)
            return std::nullopt;
        const ProfileHive unload{user, file, false};
        const Outcome outcome = attempt(unload);
        return outcome.error == 0 ? std::nullopt : std::optional(Failure{unload.description(), outcome.error, unload});
    }

    RunResult fail(const Failure& failure) {
        result_.succeeded = false;
        result_.failedChange = failure.what;
        result_.error = failure.error;
        // The failed change may have done part of its work: it is undone
        // first (undoing is safe on a change that never ran).
        std::vector<Change> changes = done_;
        if (failure.change)
            changes.push_back(*failure.change);
        const Undoing undoing = undoNewestFirst(system_, changes);
        result_.restartNeeded = undoing.restartNeeded;
        result_.notUndone = undoing.notUndone;
        // Still on the user's list: the message must not say otherwise.
        result_.notUndone.insert(result_.notUndone.end(), undoing.refused.begin(), undoing.refused.end());
        for (const Change& change : undoing.waiting)
            result_.notUndone.push_back(description(change));
        if (result_.notUndone.empty() && flushWritten(system_, undoing.undone) == 0)
            journal_.close();
        return result_;
    }

    const Plan& plan_;
    System& system_;
    Journal journal_;
    std::vector<Change> done_;
    std::size_t steps_ = 0;
    RunResult result_;
};

}  // namespace

RunResult run(const Plan& plan, System& system) {
    if (plan.steps.empty() && plan.profiles.empty())
        return {};
    return Run(plan, system).carryOut();
}

Recovery recover(const std::optional<std::vector<NamedValue>>& journal,
                 const std::optional<std::vector<WaitingChanges>>& waiting, System& system) {
    Recovery recovery;
    if (journal) {
        const JournalContents contents = readJournal(*journal);
        bool finished = unreadable(system, recovery, journalKey(), contents.unreadable);
        if (contents.committed) {
            system.record(L"an earlier run finished its steps but was stopped while tidying up: tidying up");
            finished &= settleAll(system, contents.changes);
        } else {
            system.record(L"an earlier run was stopped before it finished: undoing what it changed");
            loadAgain(system, contents.changes);
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
    if (waiting && waiting->empty())
        system.deleteKey({Hive::LocalMachine, waitingPath});
    for (const WaitingChanges& user : waiting.value_or(std::vector<WaitingChanges>{})) {
        if (system.userHiveLoaded(user.sid))
            finishWaiting(system, user, recovery);
    }
    return recovery;
}

void unloadOurHives(System& system) {
    for (const std::wstring& profile : system.hivesLoadedByUs()) {
        // Undoing its loading writes it to disk and unloads it.
        const Outcome outcome = ProfileHive{profile, {}}.undo(system);
        system.record(L"unload the registry of user " + profile + L", left loaded: " + outcomeText(system, outcome));
    }
}

}  // namespace setup
