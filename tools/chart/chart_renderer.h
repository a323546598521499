// Draws the layout chart on any canvas: a face for each key, each typing
// key with its plain character large, its Shift character smaller above it
// and, where the style asks for one, a third level smaller below; every
// other key with its English name. A style gives a surface its sizes,
// places and colours: the launcher's picture (dark, in pixels) is one, the
// printed chart another.
#pragma once

#include <vector>

#include "canvas.h"
#include "chart_geometry.h"
#include "key_labels.h"
#include "raster.h"
#include "text_renderer.h"

namespace chart {

struct ChartStyle {
    Colour face;
    Colour plain;
    Colour shift;
    Colour third;
    Colour name;
    double cornerRadius;
    double plainSize;
    double shiftSize;
    double thirdSize;
    double tagSize;  // a tag's size when it stands in for plain or Shift
    double nameSize;
    double smallestNameSize;
    double namePadding;
    double nameLineGap;
    // Baselines, below the top of the face.
    double shiftBaseline;
    double plainBaseline;
    double thirdBaseline;
    // The level drawn below the plain character (an index into Levels), or
    // PlainLevel for none.
    std::size_t thirdLevel;
};

inline constexpr Colour BackgroundColour{26, 26, 26};

// The launcher's picture: light characters on dark faces, plain and Shift.
inline constexpr ChartStyle ScreenStyle{
    .face{51, 51, 51}, .plain{255, 255, 255}, .shift{170, 170, 170}, .third{170, 170, 170}, .name{190, 190, 190},
    .cornerRadius = 4, .plainSize = 24, .shiftSize = 17, .thirdSize = 10, .tagSize = 10, .nameSize = 10,
    .smallestNameSize = 8, .namePadding = 4, .nameLineGap = 3,
    .shiftBaseline = 17, .plainBaseline = 37, .thirdBaseline = 46, .thirdLevel = PlainLevel};

void drawKey(Canvas& canvas, const ChartStyle& style, const Box& face, const KeyLabel& label);

// Throws MissingGlyph, naming the character and the key that shows it,
// when the font cannot draw one of the labels.
void requireCoverage(const Font& font, const std::vector<KeyLabel>& labels);

// The launcher's 1006 x 266 picture of every key, one label per slot.
Raster renderChart(const Font& font, const std::vector<KeySlot>& slots, const std::vector<KeyLabel>& labels);

}  // namespace chart
