#include "run.h"

namespace setup {

RunResult run(const Plan& plan, Executor& executor) {
    RunResult result;
    std::vector<Change> done;
    bool restartNeeded = false;
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        const Step& step = plan.steps[i];
        Outcome outcome = executor.apply(step.change);
        executor.record(i, describe(step.change), outcome);
        if (outcome.error == 0) {
            done.push_back(step.change);
            restartNeeded |= outcome.restartNeeded;
            continue;
        }
        if (step.otherwise) {
            // The step's other way, undone as a whole if any part fails.
            const std::size_t before = done.size();
            outcome = {};
            for (const Change& change : *step.otherwise) {
                outcome = executor.apply(change);
                executor.record(i, describe(change), outcome);
                if (outcome.error != 0)
                    break;
                done.push_back(change);
                restartNeeded |= outcome.restartNeeded;
            }
            if (outcome.error == 0)
                continue;
            result.failedChange = describe((*step.otherwise)[done.size() - before]);
        } else {
            result.failedChange = describe(step.change);
        }
        result.exitCode = ExitCode::Failed;
        result.failedStep = i;
        result.error = outcome.error;
        for (auto change = done.rbegin(); change != done.rend(); ++change) {
            const Outcome undone = executor.undo(*change);
            executor.record(i, L"undo " + describe(*change), undone);
            if (undone.error != 0)
                result.notUndone.push_back(describe(*change));
        }
        return result;
    }
    const Outcome finished = executor.finish(plan.emptiedFolders);
    restartNeeded |= finished.restartNeeded;
    result.exitCode = restartNeeded ? ExitCode::RestartNeeded : ExitCode::Done;
    return result;
}

}  // namespace setup
