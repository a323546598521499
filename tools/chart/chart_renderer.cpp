#include "chart_renderer.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "raster_canvas.h"

namespace chart {

namespace {

// Keeps characters apart from each other and from the face's edge.
constexpr double Gap = 2;
constexpr double Edge = 2;
// The gap between a mark and the dotted circle it stands on.
constexpr double MarkGap = 1;

std::string describeKey(ScanCode scan)
{
    char text[48];
    std::snprintf(text, sizeof text, "the key with scan code %s0x%02X", scan.extended ? "E0 " : "",
                  static_cast<unsigned>(scan.code));
    return text;
}

// Runs of text placed against one origin and drawn together; `ink` covers
// them all, relative to that origin.
struct Group {
    struct Piece {
        std::u32string text;
        double size;
        double x;
        double y;
    };
    std::vector<Piece> pieces;
    Ink ink;

    void add(const Canvas& canvas, std::u32string text, double size, double x, double y)
    {
        const Ink piece = canvas.measure(text, size);
        if (!piece.empty()) {
            const bool first = ink.empty();
            ink.left = first ? x + piece.left : std::min(ink.left, x + piece.left);
            ink.top = first ? y + piece.top : std::min(ink.top, y + piece.top);
            ink.right = first ? x + piece.right : std::max(ink.right, x + piece.right);
            ink.bottom = first ? y + piece.bottom : std::max(ink.bottom, y + piece.bottom);
        }
        pieces.push_back({std::move(text), size, x, y});
    }

    void draw(Canvas& canvas, double x, double baseline, Colour colour) const
    {
        for (const Piece& piece : pieces)
            canvas.drawText(piece.text, piece.size, x + piece.x, baseline + piece.y, colour);
    }
};

// The font has no anchors that seat marks on the dotted circle, so the
// marks are centred on it by hand: below it when the font draws them lower
// than the circle's middle, above it otherwise. The pair stays centred
// where the circle alone would stand.
Group marksOnCircle(const Canvas& canvas, std::u32string_view marks, double size)
{
    const std::u32string circleText(1, DottedCircle);
    const Ink circle = canvas.measure(circleText, size);
    const Ink mark = canvas.measure(marks, size);
    const bool below = (mark.top + mark.bottom) / 2 > (circle.top + circle.bottom) / 2;
    const double lift = (mark.height() + MarkGap) / 2;
    const double circleY = below ? -lift : lift;
    const double markX = circle.left + (circle.width() - mark.width()) / 2 - mark.left;
    const double markY = below ? circleY + circle.bottom + MarkGap - mark.top : circleY + circle.top - MarkGap - mark.bottom;
    Group group;
    group.add(canvas, circleText, size, 0, circleY);
    group.add(canvas, std::u32string(marks), size, markX, markY);
    return group;
}

// A key's characters at one level, against their baseline.
Group charactersAt(const Canvas& canvas, const ChartStyle& style, const DisplayText& shown, double size)
{
    Group group;
    if (shown.isTag) {
        // Tags are small capitals: lift them to the middle of the letters'
        // height rather than setting them on the letters' baseline.
        const double tagSize = std::min(style.tagSize, size);
        group.add(canvas, shown.text, tagSize, 0, -(size - tagSize) / 3);
    } else if (shown.text.size() > 1 && shown.text.front() == DottedCircle) {
        group = marksOnCircle(canvas, std::u32string_view(shown.text).substr(1), size);
    } else if (!shown.empty()) {
        group.add(canvas, shown.text, size, 0, 0);
    }
    return group;
}

// The levels stand on fixed baselines so that rows line up; where a tall
// letter would touch the one above it, the two move apart within the face.
void drawCharacters(Canvas& canvas, const ChartStyle& style, const Box& face, const KeyLabel& label)
{
    struct Line {
        Group group;
        double baseline;
        Colour colour;
        double top() const { return baseline + group.ink.top; }
        double bottom() const { return baseline + group.ink.bottom; }
    };
    Line shift{charactersAt(canvas, style, label.shown[ShiftLevel], style.shiftSize), face.y + style.shiftBaseline,
               style.shift};
    Line plain{charactersAt(canvas, style, label.shown[PlainLevel], style.plainSize), face.y + style.plainBaseline,
               style.plain};
    Line third{style.thirdLevel == PlainLevel ? Group{}
                                              : charactersAt(canvas, style, label.shown[style.thirdLevel], style.thirdSize),
               face.y + style.thirdBaseline, style.third};
    // Moves `upper` up and then `lower` down, as far as the face allows,
    // until they no longer touch.
    auto separate = [&](Line& upper, Line& lower) {
        if (upper.group.ink.empty() || lower.group.ink.empty())
            return;
        double overlap = upper.bottom() + Gap - lower.top();
        const double up = std::clamp(overlap, 0.0, std::max(0.0, upper.top() - (face.y + Edge)));
        upper.baseline -= up;
        overlap -= up;
        lower.baseline += std::clamp(overlap, 0.0, std::max(0.0, face.bottom() - Edge - lower.bottom()));
    };
    separate(shift, plain);
    separate(plain, third);
    const double centre = face.x + face.width / 2;
    for (const Line* line : {&shift, &plain, &third})
        if (!line->group.ink.empty())
            line->group.draw(canvas, centre - (line->group.ink.left + line->group.ink.right) / 2, line->baseline,
                             line->colour);
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
void drawName(Canvas& canvas, const ChartStyle& style, const Box& face, const std::u32string& name)
{
    const double room = face.width - 2 * style.namePadding;
    std::vector<std::u32string> lines{name};
    double size = style.nameSize;
    auto widest = [&] {
        double width = 0;
        for (const auto& line : lines)
            width = std::max(width, canvas.measure(line, size).width());
        return width;
    };
    if (widest() > room)
        lines = splitAtMiddleSpace(name);
    while (widest() > room && size > style.smallestNameSize)
        size -= 1;

    const double lineHeight = size + style.nameLineGap;
    const double capHeight = size * 3 / 4;
    const double blockHeight = capHeight + lineHeight * static_cast<double>(lines.size() - 1);
    double baseline = face.y + (face.height - blockHeight) / 2 + capHeight;
    for (const auto& line : lines) {
        const Ink ink = canvas.measure(line, size);
        canvas.drawText(line, size, face.x + (face.width - ink.width()) / 2 - ink.left, baseline, style.name);
        baseline += lineHeight;
    }
}

}  // namespace

void drawKey(Canvas& canvas, const ChartStyle& style, const Box& face, const KeyLabel& label)
{
    canvas.fillRoundedRect(face, style.cornerRadius, style.face);
    if (!label.name.empty())
        drawName(canvas, style, face, label.name);
    else
        drawCharacters(canvas, style, face, label);
}

void requireCoverage(const Font& font, const std::vector<KeyLabel>& labels)
{
    for (const KeyLabel& label : labels) {
        std::vector<const std::u32string*> texts{&label.name};
        for (const DisplayText& shown : label.shown)
            texts.push_back(&shown.text);
        for (const std::u32string* text : texts) {
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
    RasterCanvas canvas(raster, font);
    for (std::size_t i = 0; i < slots.size(); ++i)
        drawKey(canvas, ScreenStyle, slots[i].face, labels[i]);
    return raster;
}

}  // namespace chart
