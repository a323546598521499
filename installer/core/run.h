// Carries out a plan through a System, step by step, each change recorded
// in the journal before it is made; when a step fails, undoes the steps
// already done, newest first, so that a failed run leaves the system as
// it found it. Also finishes what a killed run left in the journal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "changes.h"
#include "plan.h"
#include "system.h"

namespace setup {

struct RunResult {
    bool succeeded = true;
    // Done (or, on failure, undone) only at the next restart.
    bool restartNeeded = false;
    // On failure: the step that failed (0-based), its change and error.
    std::optional<std::size_t> failedStep;
    std::wstring failedChange;
    std::uint32_t error = 0;
    // Changes whose undo failed too: the system is not as it was. The
    // journal stays, so that the next run tries again.
    std::vector<std::wstring> notUndone;
};

RunResult run(const Plan& plan, System& system);

// What a run that did not finish left in the journal (the values of its
// key): undone newest first, or, if that run had committed, settled. The
// journal is deleted when everything in it is dealt with.
struct Recovery {
    bool restartNeeded = false;
    std::vector<std::wstring> notUndone;   // changes that could not be undone yet
    std::vector<std::wstring> unreadable;  // entries that were not readable, left alone
};

Recovery recover(const std::vector<NamedValue>& journal, System& system);

}  // namespace setup
