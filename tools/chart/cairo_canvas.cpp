#include "cairo_canvas.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>
#include <vector>

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include "text.h"

namespace chart {

// The font file opened for cairo: the glyph indices the layout gives are
// indices into the same file. cairo may keep the face after the canvas has
// gone (a PDF surface writes its font subsets when it finishes), so the
// FreeType face goes with cairo's last reference to it.
struct CairoCanvas::FontFace {
    cairo_font_face_t* cairoFace = nullptr;

    explicit FontFace(const std::string& path)
    {
        struct FreeType {
            FT_Library library = nullptr;
            FT_Face face = nullptr;
            ~FreeType()
            {
                if (face)
                    FT_Done_Face(face);
                if (library)
                    FT_Done_FreeType(library);
            }
        };
        auto freetype = std::make_unique<FreeType>();
        if (FT_Init_FreeType(&freetype->library) != 0)
            throw std::runtime_error("FreeType could not start");
        if (FT_New_Face(freetype->library, path.c_str(), 0, &freetype->face) != 0)
            throw std::runtime_error("cannot open the font " + path);
        cairoFace = cairo_ft_font_face_create_for_ft_face(freetype->face, FT_LOAD_NO_HINTING);
        static const cairo_user_data_key_t owner{};
        const auto release = [](void* data) { delete static_cast<FreeType*>(data); };
        if (cairo_font_face_set_user_data(cairoFace, &owner, freetype.get(), release) != CAIRO_STATUS_SUCCESS) {
            cairo_font_face_destroy(cairoFace);
            throw std::runtime_error("cairo could not take the font " + path);
        }
        freetype.release();
    }
    ~FontFace() { cairo_font_face_destroy(cairoFace); }
};

CairoCanvas::CairoCanvas(cairo_t* cairo, const Font& font)
    : cairo_(cairo), font_(font), face_(std::make_unique<FontFace>(font.path()))
{
}

CairoCanvas::~CairoCanvas() = default;

namespace {

// Positions to a hundredth of a unit, far below what a printer shows: the
// page description then holds short numbers.
double snapped(double value) { return std::round(value * 100) / 100; }

void setColour(cairo_t* cairo, Colour colour)
{
    cairo_set_source_rgb(cairo, colour.red / 255.0, colour.green / 255.0, colour.blue / 255.0);
}

}  // namespace

void CairoCanvas::fillRoundedRect(const Box& box, double radius, Colour colour)
{
    // The rectangle inside the corners' centres, filled and outlined with
    // a pen as wide as the corners and round joins: the page then holds
    // two short rectangles where arcs would take many curves.
    const double r = std::min({radius, box.width / 2, box.height / 2});
    cairo_rectangle(cairo_, snapped(box.x + r), snapped(box.y + r), snapped(box.width - 2 * r),
                    snapped(box.height - 2 * r));
    setColour(cairo_, colour);
    if (r <= 0) {
        cairo_fill(cairo_);  // a stroke of width 0 would still draw the thinnest line a printer can
        return;
    }
    cairo_fill_preserve(cairo_);
    cairo_set_line_width(cairo_, 2 * r);
    cairo_set_line_join(cairo_, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cairo_);
}

Ink CairoCanvas::measure(std::u32string_view text, double size, Direction direction) const
{
    return font_.layOut(text, size, direction).ink;
}

void CairoCanvas::drawText(std::u32string_view text, double size, double x, double baseline, Colour colour,
                           Direction direction)
{
    const GlyphRun run = font_.layOut(text, size, direction);
    if (run.glyphs.empty())
        return;
    // Each cluster of glyphs stands for the characters from its cluster
    // value up to the next larger one. The clusters go to cairo as the
    // glyphs come, left to right, each with its characters in their own
    // order: a reader then finds every character under its glyphs, in a
    // right-to-left run as in a left-to-right one.
    std::set<std::size_t> starts{text.size()};
    for (const PlacedGlyph& glyph : run.glyphs)
        starts.insert(glyph.cluster);
    std::vector<cairo_glyph_t> glyphs;
    std::vector<cairo_text_cluster_t> clusters;
    std::string utf8;
    for (std::size_t first = 0; first < run.glyphs.size();) {
        const std::size_t start = run.glyphs[first].cluster;
        std::size_t end = first;
        for (; end < run.glyphs.size() && run.glyphs[end].cluster == start; ++end)
            glyphs.push_back({run.glyphs[end].index, snapped(x + run.glyphs[end].x), snapped(baseline + run.glyphs[end].y)});
        const std::string characters = kbdread::toUtf8(text.substr(start, *starts.upper_bound(start) - start));
        clusters.push_back({static_cast<int>(characters.size()), static_cast<int>(end - first)});
        utf8 += characters;
        first = end;
    }
    cairo_set_font_face(cairo_, face_->cairoFace);
    cairo_set_font_size(cairo_, size);
    setColour(cairo_, colour);
    cairo_show_text_glyphs(cairo_, utf8.data(), static_cast<int>(utf8.size()), glyphs.data(),
                           static_cast<int>(glyphs.size()), clusters.data(), static_cast<int>(clusters.size()),
                           cairo_text_cluster_flags_t{});
    if (cairo_status(cairo_) != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error(std::string("cairo: ") + cairo_status_to_string(cairo_status(cairo_)));
}

}  // namespace chart
