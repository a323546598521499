#include "chart_renderer.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace chart {

namespace {

constexpr double CornerRadius = 4.0;
constexpr int PlainSize = 24;
constexpr int ShiftSize = 17;
constexpr int TagSize = 10;
constexpr int NameSize = 10;
constexpr int SmallestNameSize = 8;
constexpr int NamePadding = 4;
// Baselines, in pixels below the top of the face.
constexpr int ShiftBaseline = 17;
constexpr int PlainBaseline = 37;

std::string describeKey(ScanCode scan)
{
    char text[48];
    std::snprintf(text, sizeof text, "the key with scan code %s0x%02X", scan.extended ? "E0 " : "",
                  static_cast<unsigned>(scan.code));
    return text;
}

// Draws `text` centred on `centreX`, standing on `baseline`.
void drawCentred(Raster& raster, const Font& font, std::u32string_view text, int size, int centreX,
                 int baseline, Colour colour)
{
    const InkRun run = font.render(text, size);
    raster.blendMask(run.mask, centreX - run.mask.width / 2, baseline - run.top, colour);
}

// Lays `extra` over `base`, with its top-left pixel `dx` right of and `dy`
// below base's; the result covers both.
InkRun overlay(const InkRun& base, const InkRun& extra, int dx, int dy)
{
    const int left = std::min(0, dx);
    const int top = std::min(0, dy);
    const int right = std::max(base.mask.width, dx + extra.mask.width);
    const int bottom = std::max(base.mask.height, dy + extra.mask.height);
    InkRun both;
    both.left = base.left + left;
    both.top = base.top - top;
    both.mask.width = right - left;
    both.mask.height = bottom - top;
    both.mask.coverage.assign(static_cast<std::size_t>(both.mask.width) * both.mask.height, 0);
    auto add = [&](const CoverageMask& mask, int atX, int atY) {
        for (int y = 0; y < mask.height; ++y)
            for (int x = 0; x < mask.width; ++x) {
                auto& cell = both.mask.coverage[static_cast<std::size_t>(atY - top + y) * both.mask.width + (atX - left + x)];
                cell = static_cast<std::uint8_t>(std::min(255, cell + mask.at(x, y)));
            }
    };
    add(base.mask, 0, 0);
    add(extra.mask, dx, dy);
    return both;
}

// The font has no anchors that seat marks on the dotted circle, so the
// marks are centred on it by hand: below it when the font draws them lower
// than the circle's middle, above it otherwise. The pair stays centred
// where the circle alone would stand.
InkRun marksOnCircle(const Font& font, std::u32string_view marks, int size)
{
    constexpr int Gap = 1;
    InkRun circle = font.render(std::u32string(1, DottedCircle), size);
    const InkRun mark = font.render(marks, size);
    const bool below = mark.top - mark.mask.height / 2 < circle.top - circle.mask.height / 2;
    const int lift = (mark.mask.height + Gap) / 2;
    circle.top += below ? lift : -lift;
    const int dx = (circle.mask.width - mark.mask.width) / 2;
    const int dy = below ? circle.mask.height + Gap : -Gap - mark.mask.height;
    return overlay(circle, mark, dx, dy);
}

// The ink of a key's characters, placed against its baseline.
InkRun charactersInk(const Font& font, const DisplayText& shown, int size)
{
    if (shown.isTag) {
        // Tags are small capitals: lift them to the middle of the letters'
        // height rather than setting them on the letters' baseline.
        InkRun tag = font.render(shown.text, TagSize);
        tag.top += (size - TagSize) / 3;
        return tag;
    }
    if (shown.text.size() > 1 && shown.text.front() == DottedCircle)
        return marksOnCircle(font, std::u32string_view(shown.text).substr(1), size);
    return font.render(shown.text, size);
}

// Plain and Shift characters stand on fixed baselines so that rows line
// up; where a tall letter would touch the one above it, the two move apart
// within the face.
void drawCharacters(Raster& raster, const Font& font, const Rect& face, const KeyLabel& label)
{
    constexpr int Gap = 2;
    constexpr int Edge = 2;
    const InkRun shift = label.shift.text.empty() ? InkRun{} : charactersInk(font, label.shift, ShiftSize);
    const InkRun plain = label.plain.text.empty() ? InkRun{} : charactersInk(font, label.plain, PlainSize);
    int shiftTop = face.y + ShiftBaseline - shift.top;
    int plainTop = face.y + PlainBaseline - plain.top;
    if (shift.mask.height > 0 && plain.mask.height > 0) {
        int overlap = shiftTop + shift.mask.height + Gap - plainTop;
        const int up = std::clamp(overlap, 0, std::max(0, shiftTop - (face.y + Edge)));
        shiftTop -= up;
        overlap -= up;
        plainTop += std::clamp(overlap, 0, std::max(0, face.bottom() - Edge - (plainTop + plain.mask.height)));
    }
    const int centreX = face.x + face.width / 2;
    raster.blendMask(shift.mask, centreX - shift.mask.width / 2, shiftTop, ShiftColour);
    raster.blendMask(plain.mask, centreX - plain.mask.width / 2, plainTop, PlainColour);
}

std::vector<std::u32string> splitAtMiddleSpace(const std::u32string& name)
{
    std::size_t best = std::u32string::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != U' ')
            continue;
        auto distance = [&](std::size_t at) { return at > name.size() / 2 ? at - name.size() / 2 : name.size() / 2 - at; };
        if (best == std::u32string::npos || distance(i) < distance(best))
            best = i;
    }
    if (best == std::u32string::npos)
        return {name};
    return {name.substr(0, best), name.substr(best + 1)};
}

// Names go on one line if they fit, else on two, shrinking the text only
// when even the two lines are too wide.
void drawName(Raster& raster, const Font& font, const Rect& face, const std::u32string& name)
{
    const int room = face.width - 2 * NamePadding;
    std::vector<std::u32string> lines{name};
    int size = NameSize;
    auto widest = [&] {
        int width = 0;
        for (const auto& line : lines)
            width = std::max(width, font.render(line, size).mask.width);
        return width;
    };
    if (widest() > room)
        lines = splitAtMiddleSpace(name);
    while (widest() > room && size > SmallestNameSize)
        --size;

    const int lineHeight = size + 3;
    const int capHeight = (size * 3 + 2) / 4;
    const int blockHeight = capHeight + lineHeight * static_cast<int>(lines.size() - 1);
    int baseline = face.y + (face.height - blockHeight) / 2 + capHeight;
    for (const auto& line : lines) {
        drawCentred(raster, font, line, size, face.x + face.width / 2, baseline, NameColour);
        baseline += lineHeight;
    }
}

}  // namespace

void requireCoverage(const Font& font, const std::vector<KeyLabel>& labels)
{
    for (const KeyLabel& label : labels) {
        for (const auto* text : {&label.plain.text, &label.shift.text, &label.name}) {
            try {
                font.requireGlyphs(*text);
            } catch (const MissingGlyph& missing) {
                throw MissingGlyph(missing.codePoint(), font.path(), describeKey(label.scan));
            }
        }
    }
}

Raster renderChart(const Font& font, const std::vector<KeySlot>& slots, const std::vector<KeyLabel>& labels)
{
    if (slots.size() != labels.size())
        throw std::logic_error("one label per key slot");
    Raster raster(ChartWidth, ChartHeight, BackgroundColour);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const Rect& face = slots[i].face;
        raster.fillRoundedRect(face.x, face.y, face.width, face.height, CornerRadius, FaceColour);
        const KeyLabel& label = labels[i];
        if (!label.name.empty()) {
            drawName(raster, font, face, label.name);
            continue;
        }
        drawCharacters(raster, font, face, label);
    }
    return raster;
}

}  // namespace chart
