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

// The font has no anchors that seat marks on the dotted circle, so the
// marks are centred on it by hand: below it when the font draws them below
// the baseline's middle height, above it otherwise.
void drawMarksOnCircle(Raster& raster, const Font& font, std::u32string_view marks, int size, int centreX,
                       int baseline, Colour colour)
{
    constexpr int Gap = 1;
    const InkRun circle = font.render(std::u32string(1, DottedCircle), size);
    const InkRun mark = font.render(marks, size);
    const bool below = mark.top - mark.mask.height / 2 < circle.top - circle.mask.height / 2;
    // The pair is centred where the circle alone would stand.
    const int lift = (mark.mask.height + Gap) / 2;
    const int circleTop = baseline - circle.top + (below ? -lift : lift);
    const int markTop = below ? circleTop + circle.mask.height + Gap : circleTop - Gap - mark.mask.height;
    raster.blendMask(circle.mask, centreX - circle.mask.width / 2, circleTop, colour);
    raster.blendMask(mark.mask, centreX - mark.mask.width / 2, markTop, colour);
}

void drawCharacters(Raster& raster, const Font& font, const Rect& face, const DisplayText& shown,
                    int size, int baseline, Colour colour)
{
    if (shown.text.empty())
        return;
    const int centreX = face.x + face.width / 2;
    if (shown.isTag) {
        // Tags are small capitals: lift them to the middle of the letters'
        // height rather than setting them on the letters' baseline.
        drawCentred(raster, font, shown.text, TagSize, centreX, face.y + baseline - (size - TagSize) / 3, colour);
        return;
    }
    if (shown.text.front() == DottedCircle && shown.text.size() > 1) {
        drawMarksOnCircle(raster, font, std::u32string_view(shown.text).substr(1), size, centreX,
                          face.y + baseline, colour);
        return;
    }
    drawCentred(raster, font, shown.text, size, centreX, face.y + baseline, colour);
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
        drawCharacters(raster, font, face, label.shift, ShiftSize, ShiftBaseline, ShiftColour);
        drawCharacters(raster, font, face, label.plain, PlainSize, PlainBaseline, PlainColour);
    }
    return raster;
}

}  // namespace chart
