// Shaped text from one font file: HarfBuzz picks and places the glyphs
// (joining forms, the lam-alef ligature, marks on their base), FreeType
// draws them anti-aliased for a picture; for a vector surface the glyphs
// are laid out unhinted, in the font's own proportions.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "canvas.h"
#include "raster.h"

namespace chart {

// Raised when the font cannot draw a character; names it as U+XXXX and,
// when known, where it was to be shown.
class MissingGlyph : public std::runtime_error {
public:
    MissingGlyph(char32_t codePoint, const std::string& fontPath, const std::string& shownOn = {});
    char32_t codePoint() const { return codePoint_; }

private:
    char32_t codePoint_;
};

std::string codePointName(char32_t c);

// The ink of a run of text, placed relative to its pen origin on the
// baseline: the mask's top-left pixel lies `left` pixels right of the origin
// and `top` pixels above the baseline; the pen ends `advance` pixels right
// of the origin.
struct InkRun {
    CoverageMask mask;
    int left = 0;
    int top = 0;
    int advance = 0;
};

// One glyph of a laid-out run: its index in the font, the first character
// of the text it stands for, and its pen position, y downwards.
struct PlacedGlyph {
    std::uint32_t index = 0;
    std::size_t cluster = 0;
    double x = 0;
    double y = 0;
};

// A run laid out at some size: its glyphs left to right and its ink.
struct GlyphRun {
    std::vector<PlacedGlyph> glyphs;
    Ink ink;
    bool rightToLeft = false;
};

class Font {
public:
    explicit Font(const std::string& path);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    const std::string& path() const { return path_; }
    // Throws MissingGlyph for the first character of `text` the font lacks.
    void requireGlyphs(std::u32string_view text) const;
    // Shapes and draws `text` at `pixelSize` pixels per em; throws
    // MissingGlyph if shaping leaves any character without a glyph.
    InkRun render(std::u32string_view text, int pixelSize, Direction direction = Direction::FromScript) const;
    // Shapes `text` at `size` units per em, without hinting; throws as
    // render() does.
    GlyphRun layOut(std::u32string_view text, double size, Direction direction = Direction::FromScript) const;

private:
    struct Handles;
    std::string path_;
    std::unique_ptr<Handles> handles_;
};

}  // namespace chart
