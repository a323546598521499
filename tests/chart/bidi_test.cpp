// Lines of mixed Kurdish and Latin cut into runs of one direction, in the
// order they are shown, as the printed chart's legend draws them.
#include <gtest/gtest.h>

#include "bidi.h"
#include "key_labels.h"

using chart::Direction;

namespace {

// The runs as "text>" (left to right) and "text<" (right to left), left to
// right as shown.
std::string shownRuns(std::u32string_view line, Direction base)
{
    std::string out;
    for (const auto& run : chart::visualRuns(line, base))
        out += (out.empty() ? "" : " | ") + chart::toUtf8(run.text) + (run.direction == Direction::RightToLeft ? "<" : ">");
    return out;
}

}  // namespace

TEST(Bidi, RunsInTheOrderTheyAreShown)
{
    struct Row {
        const char32_t* line;
        Direction base;
        const char* shown;
    };
    const Row rows[] = {
        {U"with Shift+Ctrl", Direction::LeftToRight, "with Shift+Ctrl>"},
        // Kurdish first: the Latin run stands left of it.
        {U"\x0644\x06D5\x06AF\x06D5\x06B5 Shift+Ctrl", Direction::RightToLeft, "Shift+Ctrl> | \u0644\u06D5\u06AF\u06D5\u06B5 <"},
        // Latin between Kurdish words: the words swap sides around it.
        {U"\x0628\x06D5 Alt+X \x0628\x0646\x0648\x0648\x0633\x06D5", Direction::RightToLeft,
         " \u0628\u0646\u0648\u0648\u0633\u06D5< | Alt+X> | \u0628\u06D5 <"},
        // A tag at the start of a right-to-left line is its rightmost run.
        {U"ZWNJ  \x062F\x0648\x0648", Direction::RightToLeft, "  \u062F\u0648\u0648< | ZWNJ>"},
        // Kurdish inside an English line stays one right-to-left run.
        {U"type \x06B5\x06CE here", Direction::LeftToRight, "type > | \u06B5\u06CE< |  here>"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(shownRuns(row.line, row.base), row.shown) << chart::toUtf8(row.line);
}
