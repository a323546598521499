// Carries out a plan through an executor, step by step; when a step fails,
// undoes the steps already done, newest first, so that a failed run leaves
// the system as it found it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plan.h"
#include "steps.h"

namespace setup {

// The installer's exit codes, as deployment tools read them.
enum class ExitCode : int {
    Done = 0,
    NotAdministrator = 5,
    BadArguments = 87,
    Failed = 1603,
    RestartNeeded = 3010,
};

// What carrying out one change came to. error is a Windows error code
// (0: done).
struct Outcome {
    std::uint32_t error = 0;
    bool restartNeeded = false;  // done, but only at the next restart
};

class Executor {
public:
    virtual ~Executor() = default;
    virtual Outcome apply(const Change& change) = 0;
    // Undoes a change this executor applied.
    virtual Outcome undo(const Change& change) = 0;
    // After the last step: drops what was kept for undoing (old files) and
    // removes the emptied folders. Nothing here can fail the run; what
    // cannot be done now is left for the next restart.
    virtual Outcome finish(const std::vector<std::wstring>& emptiedFolders) = 0;
    // One line of the log: the step's number, what it did, the outcome.
    virtual void record(std::size_t step, const std::wstring& what, const Outcome& outcome) = 0;
};

struct RunResult {
    ExitCode exitCode = ExitCode::Done;
    // On failure: the step that failed (0-based), its change and error.
    std::optional<std::size_t> failedStep;
    std::wstring failedChange;
    std::uint32_t error = 0;
    // Changes whose undo failed too: the system is not as it was.
    std::vector<std::wstring> notUndone;
};

RunResult run(const Plan& plan, Executor& executor);

}  // namespace setup
