// The findings and the layout as text for people and as JSON for machines.
// Both renderings come from the same view of the layout, so they agree.
#pragma once

#include <cstdint>
#include <string>

#include "kbdcheck.h"

namespace kbdcheck {

struct FileFacts {
    std::string name;   // as given on the command line
    std::uint64_t size; // bytes
};

// One line per finding, or a line saying there are none.
std::string findingsText(const Report& report);

// The whole layout of a report that has one: descriptor facts, modifiers,
// the character tables as stored, every scan code with its virtual key, key
// name and what each column types, the ligatures, the key-name lists, and
// the version block and string resources.
std::string dumpText(const Report& report);

// {"file":..., "size":..., "findings":[...], "layout":{...} or null,
//  "resources":{...} or null}.
std::string reportJson(const FileFacts& file, const Report& report);

} // namespace kbdcheck
