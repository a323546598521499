#include "raster_canvas.h"

#include <cmath>

namespace chart {

namespace {

int pixels(double value) { return static_cast<int>(std::lround(value)); }

}  // namespace

void RasterCanvas::fillRoundedRect(const Box& box, double radius, Colour colour)
{
    raster_.fillRoundedRect(pixels(box.x), pixels(box.y), pixels(box.width), pixels(box.height), radius, colour);
}

Ink RasterCanvas::measure(std::u32string_view text, double size, Direction direction) const
{
    const InkRun run = font_.render(text, pixels(size), direction);
    return {static_cast<double>(run.left), static_cast<double>(-run.top),
            static_cast<double>(run.left + run.mask.width), static_cast<double>(run.mask.height - run.top),
            static_cast<double>(run.advance)};
}

void RasterCanvas::drawText(std::u32string_view text, double size, double x, double baseline, Colour colour,
                            Direction direction)
{
    const InkRun run = font_.render(text, pixels(size), direction);
    raster_.blendMask(run.mask, pixels(x) + run.left, pixels(baseline) - run.top, colour);
}

}  // namespace chart
