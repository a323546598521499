#include "printable_chart.h"

#include <cairo-pdf.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>

#include "bidi.h"
#include "cairo_canvas.h"
#include "chart_renderer.h"

namespace chart {

namespace {

constexpr double Margin = 28;
constexpr double TitleSize = 16;
constexpr double KeyboardTop = Margin + 30;
constexpr double UnitWidth = (PageWidth - 2 * Margin) / MainBlockUnits;
constexpr double RowHeight = 66;
constexpr double FaceInset = 2;
constexpr double LegendGap = 14;  // between the keyboard and the legend's key
constexpr double LabelSize = 10;
constexpr double LabelGap = 10;   // between the legend's key and its labels
constexpr double NoteSize = 9;
constexpr double NoteLineHeight = 13;

// Dark characters on light faces, which print on any printer; the third
// level in blue, apart from Shift's grey.
ChartStyle printStyle(std::size_t thirdLevel)
{
    return {.face{230, 230, 230}, .plain{0, 0, 0}, .shift{85, 85, 85}, .third{0, 84, 166}, .name{85, 85, 85},
            .cornerRadius = 5, .plainSize = 26, .shiftSize = 17, .thirdSize = 12, .tagSize = 12, .nameSize = 9,
            .smallestNameSize = 6, .namePadding = 3, .nameLineGap = 2,
            .shiftBaseline = 21, .plainBaseline = 46, .thirdBaseline = 58, .thirdLevel = thirdLevel};
}

Box faceOf(const KeyPlace& place, double top)
{
    return {Margin + place.left * UnitWidth + FaceInset, top + place.row * RowHeight + FaceInset,
            place.width * UnitWidth - 2 * FaceInset, RowHeight - 2 * FaceInset};
}

// The one level past plain and Shift that the keys type at, or PlainLevel
// when there is none.
std::size_t thirdLevelOf(const std::vector<KeyLabel>& labels)
{
    std::set<std::size_t> levels;
    for (const KeyLabel& label : labels)
        for (std::size_t level = ShiftLevel + 1; level < LevelCount; ++level)
            if (!label.shown[level].empty())
                levels.insert(level);
    if (levels.size() > 1) {
        std::string names;
        for (std::size_t level : levels)
            names += std::string(names.empty() ? "" : ", ") + Levels[level].name;
        throw std::runtime_error("the printed chart shows one level past Shift; the layout types with " + names);
    }
    return levels.empty() ? PlainLevel : *levels.begin();
}

enum class Align { Left, Right };

// One line of text in the paragraph direction `base`, its runs shaped each
// in its own direction; aligned by its left or right end at `x`.
void drawLine(Canvas& canvas, std::u32string_view text, double size, double x, double baseline, Align align,
              Direction base, Colour colour)
{
    const auto runs = visualRuns(text, base);
    std::vector<double> advances;
    double width = 0;
    for (const DirectedRun& run : runs)
        width += advances.emplace_back(canvas.measure(run.text, size, run.direction).advance);
    double pen = align == Align::Left ? x : x - width;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        canvas.drawText(runs[i].text, size, pen, baseline, colour, runs[i].direction);
        pen += advances[i];
    }
}

Direction directionOf(const Words& words) { return words.rightToLeft() ? Direction::RightToLeft : Direction::LeftToRight; }

// The legend's key: the first that shows something at every level drawn.
const KeyLabel& sampleKey(const std::vector<KeyLabel>& labels, const ChartStyle& style)
{
    for (const KeyLabel& label : labels)
        if (!label.shown[PlainLevel].empty() && !label.shown[ShiftLevel].empty() &&
            (style.thirdLevel == PlainLevel || !label.shown[style.thirdLevel].empty()))
            return label;
    throw std::runtime_error("no key types both alone and with Shift, for the legend");
}

// Each level's name beside the legend's key at the level's baseline: the
// English to its left, the Kurdish to its right.
void drawLegend(Canvas& canvas, const ChartStyle& style, const KeyLabel& sample, double top, const Words& kurdish,
                const Words& english)
{
    const Box face{(PageWidth - UnitWidth) / 2 + FaceInset, top + FaceInset, UnitWidth - 2 * FaceInset,
                   RowHeight - 2 * FaceInset};
    drawKey(canvas, style, face, sample);
    struct Row {
        std::size_t level;
        double baseline;
        Colour colour;
    };
    std::vector<Row> rows{{ShiftLevel, style.shiftBaseline, style.shift}, {PlainLevel, style.plainBaseline, style.plain}};
    if (style.thirdLevel != PlainLevel)
        rows.push_back({style.thirdLevel, style.thirdBaseline, style.third});
    for (const Row& row : rows) {
        const auto name = [&](const Words& words) {
            return toCodePoints(row.level == PlainLevel ? words("alone") : words("with", {{"level", Levels[row.level].name}}));
        };
        drawLine(canvas, name(english), LabelSize, face.x - LabelGap, face.y + row.baseline, Align::Right,
                 directionOf(english), row.colour);
        drawLine(canvas, name(kurdish), LabelSize, face.right() + LabelGap, face.y + row.baseline, Align::Left,
                 directionOf(kurdish), row.colour);
    }
}

// What the chart's signs mean: the dotted circle, and each tag it shows.
std::vector<std::string> notes(const std::vector<KeyLabel>& labels, const Words& words)
{
    std::vector<std::string> lines;
    std::vector<std::u32string> tags;
    bool marks = false;
    for (const KeyLabel& label : labels) {
        for (const DisplayText& shown : label.shown) {
            marks = marks || (!shown.isTag && !shown.empty() && shown.text.front() == DottedCircle);
            if (!shown.isTag)
                continue;
            for (std::size_t start = 0; start < shown.text.size();) {
                const std::size_t end = std::min(shown.text.find(U' ', start), shown.text.size());
                const std::u32string tag = shown.text.substr(start, end - start);
                if (std::find(tags.begin(), tags.end(), tag) == tags.end())
                    tags.push_back(tag);
                start = end + 1;
            }
        }
    }
    if (marks)
        lines.push_back(words("mark-note"));
    for (const std::u32string& tag : tags)
        lines.push_back(toUtf8(tag) + "  " + words(toUtf8(tag)));
    return lines;
}

void drawPage(Canvas& canvas, const Font& font, const std::vector<KeyPlace>& places, const std::vector<KeyLabel>& labels,
              const Words& kurdish, const Words& english)
{
    constexpr Colour Ink{0, 0, 0};
    drawLine(canvas, toCodePoints(english("title")), TitleSize, Margin, Margin + TitleSize, Align::Left,
             directionOf(english), Ink);
    drawLine(canvas, toCodePoints(kurdish("title")), TitleSize, PageWidth - Margin, Margin + TitleSize, Align::Right,
             directionOf(kurdish), Ink);

    std::vector<KeyLabel> shown;
    for (std::size_t i = 0; i < places.size(); ++i)
        if (places[i].block == Block::Main)
            shown.push_back(labels[i]);
    requireCoverage(font, shown);
    const ChartStyle style = printStyle(thirdLevelOf(shown));
    for (std::size_t i = 0; i < places.size(); ++i)
        if (places[i].block == Block::Main)
            drawKey(canvas, style, faceOf(places[i], KeyboardTop), labels[i]);

    const double legendTop = KeyboardTop + KeyboardRows * RowHeight + LegendGap;
    drawLegend(canvas, style, sampleKey(shown, style), legendTop, kurdish, english);
    double baseline = legendTop + RowHeight + 2 * NoteSize;
    const auto englishNotes = notes(shown, english);
    const auto kurdishNotes = notes(shown, kurdish);
    for (std::size_t i = 0; i < englishNotes.size(); ++i, baseline += NoteLineHeight) {
        drawLine(canvas, toCodePoints(englishNotes[i]), NoteSize, Margin, baseline, Align::Left, directionOf(english),
                 Ink);
        drawLine(canvas, toCodePoints(kurdishNotes[i]), NoteSize, PageWidth - Margin, baseline, Align::Right,
                 directionOf(kurdish), Ink);
    }
}

void check(cairo_status_t status, const std::string& path)
{
    if (status != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error("cairo could not write " + path + ": " + cairo_status_to_string(status));
}

}  // namespace

void writePrintableChart(const std::string& path, const Font& font, const std::vector<KeyPlace>& places,
                         const std::vector<KeyLabel>& labels, const Words& kurdish, const Words& english)
{
    if (places.size() != labels.size())
        throw std::logic_error("one label per key place");
    const std::string written = path + ".part";
    try {
        const std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
            cairo_pdf_surface_create(written.c_str(), PageWidth, PageHeight), cairo_surface_destroy);
        check(cairo_surface_status(surface.get()), written);
        // cairo stamps each file with the time it was made unless told
        // otherwise; without it the file is the same on every build.
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATE_DATE, nullptr);
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE,
                                       (english("title") + " - " + kurdish("title")).c_str());
        {
            const std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cairo(cairo_create(surface.get()), cairo_destroy);
            CairoCanvas canvas(cairo.get(), font);
            drawPage(canvas, font, places, labels, kurdish, english);
            check(cairo_status(cairo.get()), written);
        }
        cairo_surface_finish(surface.get());
        check(cairo_surface_status(surface.get()), written);
    } catch (...) {
        std::filesystem::remove(written);
        throw;
    }
    std::filesystem::rename(written, path);
}

}  // namespace chart
