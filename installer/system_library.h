// Libraries outside the set Windows always takes from its own folder are
// loaded by their full path there, so that a copy planted beside the
// program is never used.
#pragma once

#include <windows.h>

namespace setup {

// name (for example L"input.dll") from the system folder, or null.
HMODULE loadSystemLibrary(const wchar_t* name);

}  // namespace setup
