// The chart's canvas over a picture in memory: text drawn by FreeType at
// whole pixel sizes, placed on whole pixels.
#pragma once

#include "canvas.h"
#include "raster.h"
#include "text_renderer.h"

namespace chart {

class RasterCanvas : public Canvas {
public:
    RasterCanvas(Raster& raster, const Font& font) : raster_(raster), font_(font) {}

    void fillRoundedRect(const Box& box, double radius, Colour colour) override;
    Ink measure(std::u32string_view text, double size, Direction direction) const override;
    void drawText(std::u32string_view text, double size, double x, double baseline, Colour colour,
                  Direction direction) override;

private:
    Raster& raster_;
    const Font& font_;
};

}  // namespace chart
