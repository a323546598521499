#include "text_renderer.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <limits>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <hb-ft.h>
#include <hb.h>

namespace chart {

std::string codePointName(char32_t c)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

MissingGlyph::MissingGlyph(char32_t codePoint, const std::string& fontPath, const std::string& shownOn)
    : std::runtime_error("the font " + fontPath + " has no glyph for " + codePointName(codePoint) +
                         (shownOn.empty() ? "" : ", shown on " + shownOn)),
      codePoint_(codePoint)
{
}

struct Font::Handles {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    hb_font_t* outlines = nullptr;  // the face unhinted, in its own units per em
};

namespace {

// Light hinting snaps only vertically, so HarfBuzz's horizontal positions
// and the drawn outlines agree.
constexpr FT_Int32 LoadFlags = FT_LOAD_TARGET_LIGHT | FT_LOAD_NO_BITMAP;

struct PlacedBitmap {
    int left;  // pixel column of the bitmap's first column
    int top;   // pixel row of its first row, baseline at 0, downwards positive
    int width;
    int height;
    std::vector<std::uint8_t> coverage;
};

using Buffer = std::unique_ptr<hb_buffer_t, decltype(&hb_buffer_destroy)>;

// The text shaped with `font`. Throws MissingGlyph when shaping leaves a
// character without a glyph.
Buffer shape(hb_font_t* font, std::u32string_view text, Direction direction, const std::string& fontPath)
{
    Buffer buffer(hb_buffer_create(), hb_buffer_destroy);
    hb_buffer_add_utf32(buffer.get(), reinterpret_cast<const std::uint32_t*>(text.data()),
                        static_cast<int>(text.size()), 0, static_cast<int>(text.size()));
    if (direction != Direction::FromScript)
        hb_buffer_set_direction(buffer.get(), direction == Direction::LeftToRight ? HB_DIRECTION_LTR : HB_DIRECTION_RTL);
    hb_buffer_guess_segment_properties(buffer.get());
    hb_shape(font, buffer.get(), nullptr, 0);
    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer.get(), &count);
    for (unsigned i = 0; i < count; ++i)
        if (infos[i].codepoint == 0)
            throw MissingGlyph(text[infos[i].cluster], fontPath);
    return buffer;
}

}  // namespace

Font::Font(const std::string& path) : path_(path), handles_(std::make_unique<Handles>())
{
    if (FT_Init_FreeType(&handles_->library) != 0)
        throw std::runtime_error("FreeType could not start");
    if (FT_New_Face(handles_->library, path.c_str(), 0, &handles_->face) != 0) {
        FT_Done_FreeType(handles_->library);
        throw std::runtime_error("cannot open the font " + path);
    }
    hb_face_t* face = hb_ft_face_create_referenced(handles_->face);
    handles_->outlines = hb_font_create(face);
    hb_face_destroy(face);
}

Font::~Font()
{
    hb_font_destroy(handles_->outlines);
    FT_Done_Face(handles_->face);
    FT_Done_FreeType(handles_->library);
}

void Font::requireGlyphs(std::u32string_view text) const
{
    for (char32_t c : text)
        if (FT_Get_Char_Index(handles_->face, c) == 0)
            throw MissingGlyph(c, path_);
}

InkRun Font::render(std::u32string_view text, int pixelSize, Direction direction) const
{
    requireGlyphs(text);
    FT_Face face = handles_->face;
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize));

    const std::unique_ptr<hb_font_t, decltype(&hb_font_destroy)> font(hb_ft_font_create_referenced(face),
                                                                      hb_font_destroy);
    hb_ft_font_set_load_flags(font.get(), LoadFlags);
    const Buffer buffer = shape(font.get(), text, direction, path_);
    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer.get(), &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer.get(), &count);

    std::vector<PlacedBitmap> glyphs;
    FT_Pos penX = 0;  // 26.6 fixed point
    FT_Pos penY = 0;
    for (unsigned i = 0; i < count; ++i) {
        const FT_Pos x = penX + positions[i].x_offset;
        const FT_Pos y = penY + positions[i].y_offset;
        penX += positions[i].x_advance;
        penY += positions[i].y_advance;
        if (FT_Load_Glyph(face, infos[i].codepoint, LoadFlags) != 0 ||
            face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
            throw std::runtime_error("cannot load glyph " + std::to_string(infos[i].codepoint) + " of " + path_);
        // Keep the fractional pen position in the outline; whole pixels go
        // into the bitmap's placement.
        FT_Outline_Translate(&face->glyph->outline, x & 63, y & 63);
        if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
            throw std::runtime_error("cannot draw glyph " + std::to_string(infos[i].codepoint) + " of " + path_);
        const FT_Bitmap& bitmap = face->glyph->bitmap;
        PlacedBitmap placed{static_cast<int>(x >> 6) + face->glyph->bitmap_left,
                            -static_cast<int>(y >> 6) - face->glyph->bitmap_top,
                            static_cast<int>(bitmap.width), static_cast<int>(bitmap.rows),
                            {}};
        placed.coverage.resize(static_cast<std::size_t>(placed.width) * placed.height);
        for (int row = 0; row < placed.height; ++row)
            std::copy_n(bitmap.buffer + row * bitmap.pitch, placed.width,
                        placed.coverage.begin() + static_cast<std::ptrdiff_t>(row) * placed.width);
        glyphs.push_back(std::move(placed));
    }

    InkRun run;
    run.advance = static_cast<int>((penX + 32) >> 6);
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (const auto& g : glyphs) {
        if (g.width == 0 || g.height == 0)
            continue;
        left = std::min(left, g.left);
        top = std::min(top, g.top);
        right = std::max(right, g.left + g.width);
        bottom = std::max(bottom, g.top + g.height);
    }
    if (left > right)
        return run;
    run.left = left;
    run.top = -top;
    run.mask.width = right - left;
    run.mask.height = bottom - top;
    run.mask.coverage.assign(static_cast<std::size_t>(run.mask.width) * run.mask.height, 0);
    for (const auto& g : glyphs) {
        for (int row = 0; row < g.height; ++row) {
            for (int col = 0; col < g.width; ++col) {
                auto& cell = run.mask.coverage[static_cast<std::size_t>(g.top - top + row) * run.mask.width +
                                               (g.left - left + col)];
                cell = static_cast<std::uint8_t>(
                    std::min(255, cell + g.coverage[static_cast<std::size_t>(row) * g.width + col]));
            }
        }
    }
    return run;
}

GlyphRun Font::layOut(std::u32string_view text, double size, Direction direction) const
{
    requireGlyphs(text);
    hb_font_t* font = handles_->outlines;
    const Buffer buffer = shape(font, text, direction, path_);
    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer.get(), &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer.get(), &count);
    const double scale = size / hb_face_get_upem(hb_font_get_face(font));

    GlyphRun run;
    run.rightToLeft = HB_DIRECTION_IS_BACKWARD(hb_buffer_get_direction(buffer.get()));
    constexpr double Far = std::numeric_limits<double>::max();
    Ink ink{Far, Far, -Far, -Far};
    hb_position_t penX = 0;  // in font units, y upwards
    hb_position_t penY = 0;
    for (unsigned i = 0; i < count; ++i) {
        const PlacedGlyph glyph{infos[i].codepoint, infos[i].cluster, (penX + positions[i].x_offset) * scale,
                                -(penY + positions[i].y_offset) * scale};
        hb_glyph_extents_t extents{};
        if (hb_font_get_glyph_extents(font, glyph.index, &extents) && extents.width != 0 && extents.height != 0) {
            ink.left = std::min(ink.left, glyph.x + extents.x_bearing * scale);
            ink.right = std::max(ink.right, glyph.x + (extents.x_bearing + extents.width) * scale);
            ink.top = std::min(ink.top, glyph.y - extents.y_bearing * scale);
            ink.bottom = std::max(ink.bottom, glyph.y - (extents.y_bearing + extents.height) * scale);
        }
        run.glyphs.push_back(glyph);
        penX += positions[i].x_advance;
        penY += positions[i].y_advance;
    }
    run.ink = ink.left > ink.right ? Ink{} : ink;
    run.ink.advance = penX * scale;
    return run;
}

}  // namespace chart
