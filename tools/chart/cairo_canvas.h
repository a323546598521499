// The chart's canvas over a cairo context, for vector surfaces such as a
// PDF page: text laid out unhinted by the chart's font and shown as glyphs
// of that same font file, with the text each glyph stands for, so that a
// reader can search and copy it.
#pragma once

#include <cairo.h>

#include "canvas.h"
#include "text_renderer.h"

namespace chart {

class CairoCanvas : public Canvas {
public:
    // Draws on `cairo`, whose user space is the canvas's units.
    CairoCanvas(cairo_t* cairo, const Font& font);
    ~CairoCanvas() override;
    CairoCanvas(const CairoCanvas&) = delete;
    CairoCanvas& operator=(const CairoCanvas&) = delete;

    void fillRoundedRect(const Box& box, double radius, Colour colour) override;
    Ink measure(std::u32string_view text, double size, Direction direction) const override;
    void drawText(std::u32string_view text, double size, double x, double baseline, Colour colour,
                  Direction direction) override;

private:
    struct FontFace;
    cairo_t* cairo_;
    const Font& font_;
    std::unique_ptr<FontFace> face_;
};

}  // namespace chart
