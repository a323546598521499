// Carries out a plan through a System, step by step, each change recorded
// in the journal before it is made; when a step fails, undoes it and the
// steps already done, newest first, so that a failed run leaves the system
// as it found it. Every hive the run wrote is flushed to disk before the
// journal says the steps are done, and before the journal goes. Also
// finishes what a killed run left, and what waits for a user, and unloads
// every profile's registry the installer left loaded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "journal.h"
#include "plan.h"
#include "system.h"

namespace setup {

struct RunResult {
    bool succeeded = true;
    // Done (or, on failure, undone) only at the next restart.
    bool restartNeeded = false;
    // A step went its other way, with changes (the user's list edited in
    // the registry because the system's call refused).
    bool tookOtherWay = false;
    // On failure: what failed, and its error.
    MessageText failedChange;
    std::uint32_t error = 0;
    // Changes whose undo failed too: the system is not as it was. The
    // journal stays, so that the next run tries again.
    std::vector<MessageText> notUndone;
    // The folders of profiles whose list the run could not reach (a
    // roaming profile, a registry that cannot be loaded or read): the
    // run goes on without them.
    std::vector<std::wstring> unreached;
};

RunResult run(const Plan& plan, System& system);

// What runs that did not finish left: the journal of a killed run undone
// newest first, or, if that run had done all its steps, settled; a change
// in the registry of a user who is not signed in waits for that user in
// the user's waiting key. Then what waits for each user whose registry is
// loaded now is undone. Each key goes once everything in it is dealt with.
struct Recovery {
    std::vector<MessageText> notUndone;    // changes that could not be undone yet
    std::vector<std::wstring> unreadable;  // entries not readable ("<key> "<name>""), left alone
};

Recovery recover(const std::optional<std::vector<NamedValue>>& journal,
                 const std::optional<std::vector<WaitingChanges>>& waiting, System& system);

// Every profile's registry that the installer has loaded (a killed run's,
// or one that could not be unloaded in time) is written to disk and
// unloaded: none stays loaded after a run.
void unloadOurHives(System& system);

}  // namespace setup
