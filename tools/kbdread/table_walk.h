// The walk from KbdLayerDescriptor's code through every table, on the
// description of one form.
#pragma once

#include "layout.h"
#include "pe_image.h"

namespace kbdread {

// Decodes the code at layout.descriptorRva and every table reachable from
// the record it returns, as layout.form lays them out, into `layout`.
// Throws ReadError at the first fault.
void walkTables(Layout& layout, const ImageMap& map);

} // namespace kbdread
