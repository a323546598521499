// What the chart is drawn on: the launcher's picture in pixels, or a
// printed page in points. The chart renderer draws through this interface
// only, so that every surface shows the same drawing.
#pragma once

#include <string_view>

#include "chart_geometry.h"
#include "raster.h"

namespace chart {

// The ink of a run of text relative to its pen origin on the baseline, y
// downwards: ink above the baseline has a negative `top`. `advance` is
// where the pen ends, where the next run would start.
struct Ink {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    double advance = 0;

    double width() const { return right - left; }
    double height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
};

// Text is one run of one font, shaped as a whole; its direction comes from
// its script unless given.
enum class Direction { FromScript, LeftToRight, RightToLeft };

class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void fillRoundedRect(const Box& box, double radius, Colour colour) = 0;
    virtual Ink measure(std::u32string_view text, double size, Direction direction = Direction::FromScript) const = 0;
    // Draws the text with its pen origin at (x, baseline).
    virtual void drawText(std::u32string_view text, double size, double x, double baseline, Colour colour,
                          Direction direction = Direction::FromScript) = 0;
};

}  // namespace chart
