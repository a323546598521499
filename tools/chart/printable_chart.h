// Kurd-chart.pdf: the chart to print, on one A4 page in landscape: the
// main block's keys large, with every level they type, a title and a legend
// in Central Kurdish and English. cairo's PDF surface writes it in the
// chart's font (the subset of glyphs it uses embedded), with the text each
// glyph stands for, and without a creation date, so that every build writes
// the same bytes.
#pragma once

#include <string>
#include <vector>

#include "chart_geometry.h"
#include "key_labels.h"
#include "text_renderer.h"
#include "words.h"

namespace chart {

// The page's size, in points.
inline constexpr double PageWidth = 297 / 25.4 * 72;
inline constexpr double PageHeight = 210 / 25.4 * 72;

// `labels` holds one label per place. Throws std::runtime_error when the
// keys type at more levels than the page has room for (plain, Shift and
// one more), or when cairo fails; the file is then left as it was.
void writePrintableChart(const std::string& path, const Font& font, const std::vector<KeyPlace>& places,
                         const std::vector<KeyLabel>& labels, const Words& kurdish, const Words& english);

}  // namespace chart
