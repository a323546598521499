// One run of the installer, from the facts to the report: what the
// program's entry does once it holds the one-run-at-a-time lock and has
// checked what it carries. First what a killed run left is finished,
// then the system is read again, planned for and changed; last, no
// profile's registry the installer loaded stays loaded.
#pragma once

#include <optional>

#include "arguments.h"
#include "facts.h"
#include "plan.h"
#include "report.h"
#include "system.h"

namespace setup {

class FactReader {
public:
    virtual ~FactReader() = default;
    // The facts of the system as they are now; nothing, with why set,
    // when something the plan needs cannot be read.
    virtual std::optional<SystemFacts> read(MessageText& why) = 0;
};

// allUsers: an install for every profile too (/allusers); every uninstall
// reaches every profile.
Report carryOut(Action action, bool allUsers, const Package& package, FactReader& reader, System& system);

}  // namespace setup
