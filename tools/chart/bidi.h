// A line of mixed Kurdish and Latin text cut into runs of one direction,
// in the order they are shown, by the Unicode bidirectional algorithm
// (GNU FriBidi), so that each run can be shaped by itself.
#pragma once

#include <string>
#include <vector>

#include "canvas.h"

namespace chart {

struct DirectedRun {
    std::u32string text;  // in logical order
    Direction direction;
};

// `paragraph` holds no line breaks; `base` is its direction, left to
// right or right to left. The runs come left to right as shown.
std::vector<DirectedRun> visualRuns(std::u32string_view paragraph, Direction base);

}  // namespace chart
