// The one message a run shows: the report's texts from the program's
// string table, in a message box with the report's icon.
#pragma once

#include <string>

#include "report.h"

namespace setup {

// Shows it, unless quiet.
void show(const Report& report, bool quiet);

// A string of the program's string table in one language; empty if it
// has none.
std::wstring loadString(LanguageId language, unsigned id);

}  // namespace setup
