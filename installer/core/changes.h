// How each change is carried out, undone, and settled once its run is
// over, in single operations of a System. Every one of the three may be
// repeated after a crash: each does what is still to do and accepts what
// is done already (a key already gone, a file already moved back).
#pragma once

#include <cstdint>

#include "steps.h"
#include "system.h"

namespace setup {

// What carrying out a change came to. error is a Windows error code
// (0: done).
struct Outcome {
    std::uint32_t error = 0;
    bool restartNeeded = false;  // done, but only at the next restart
};

Outcome apply(System& system, const Change& change);

// Gives back what the change replaced or removed. A file that Windows has
// loaded in the meantime is moved out of the way, or the undoing is left
// to the next restart.
Outcome undo(System& system, const Change& change);

// After the run: deletes what a change kept for undoing (the old file
// moved aside) and what it discarded; what is in use goes at the next
// restart, which nothing waits for. False when something could be
// neither deleted nor scheduled: the journal then stays for the next run.
bool settle(System& system, const Change& change);

}  // namespace setup
