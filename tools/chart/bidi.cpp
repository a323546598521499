#include "bidi.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include <fribidi.h>

namespace chart {

std::vector<DirectedRun> visualRuns(std::u32string_view paragraph, Direction base)
{
    static_assert(sizeof(FriBidiChar) == sizeof(char32_t));
    const auto* text = reinterpret_cast<const FriBidiChar*>(paragraph.data());
    const auto length = static_cast<FriBidiStrIndex>(paragraph.size());
    std::vector<FriBidiCharType> types(paragraph.size());
    std::vector<FriBidiBracketType> brackets(paragraph.size());
    std::vector<FriBidiLevel> levels(paragraph.size());
    fribidi_get_bidi_types(text, length, types.data());
    fribidi_get_bracket_types(text, length, types.data(), brackets.data());
    FriBidiParType direction = base == Direction::RightToLeft ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), length, &direction, levels.data()) == 0)
        throw std::runtime_error("FriBidi could not resolve the levels of a line");

    struct LevelRun {
        std::size_t start;
        std::size_t end;
        FriBidiLevel level;
    };
    std::vector<LevelRun> runs;
    for (std::size_t i = 0; i < paragraph.size(); ++i) {
        if (runs.empty() || runs.back().level != levels[i])
            runs.push_back({i, i, levels[i]});
        runs.back().end = i + 1;
    }
    // From the highest level down to the lowest odd one, every stretch of
    // runs at that level or above turns round.
    int highest = 0;
    int lowestOdd = std::numeric_limits<int>::max();
    for (const LevelRun& run : runs) {
        highest = std::max<int>(highest, run.level);
        if (run.level % 2)
            lowestOdd = std::min<int>(lowestOdd, run.level);
    }
    for (int level = highest; level >= lowestOdd; --level) {
        for (auto first = runs.begin(); first != runs.end();) {
            if (first->level < level) {
                ++first;
                continue;
            }
            auto last = std::find_if(first, runs.end(), [&](const LevelRun& run) { return run.level < level; });
            std::reverse(first, last);
            first = last;
        }
    }
    std::vector<DirectedRun> shown;
    for (const LevelRun& run : runs)
        shown.push_back({std::u32string(paragraph.substr(run.start, run.end - run.start)),
                         run.level % 2 ? Direction::RightToLeft : Direction::LeftToRight});
    return shown;
}

}  // namespace chart
