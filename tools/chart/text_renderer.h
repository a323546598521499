// Shaped, anti-aliased text from one font file: HarfBuzz picks and places
// the glyphs (joining forms, the lam-alef ligature, marks on their base),
// FreeType draws them.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

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

private:
    struct Handles;
    std::string path_;
    std::unique_ptr<Handles> handles_;
};

}  // namespace chart
