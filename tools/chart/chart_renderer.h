// Draws the layout chart: dark key faces on a darker ground, each typing
// key with its plain character large in white and its Shift character
// smaller in grey above it, every other key with its English name.
#pragma once

#include <vector>

#include "chart_geometry.h"
#include "key_labels.h"
#include "raster.h"
#include "text_renderer.h"

namespace chart {

inline constexpr Colour BackgroundColour{26, 26, 26};
inline constexpr Colour FaceColour{51, 51, 51};
inline constexpr Colour PlainColour{255, 255, 255};
inline constexpr Colour ShiftColour{170, 170, 170};
inline constexpr Colour NameColour{190, 190, 190};

// Throws MissingGlyph, naming the character and the key that shows it,
// unless the font can draw every label.
void requireCoverage(const Font& font, const std::vector<KeyLabel>& labels);

// `labels` holds one label per slot, in the same order.
Raster renderChart(const Font& font, const std::vector<KeySlot>& slots, const std::vector<KeyLabel>& labels);

}  // namespace chart
