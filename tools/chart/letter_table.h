// Where the letters are, as text for the READMEs: every typing key with
// what it types at each level, then where to find the letters Kurdish adds
// to Arabic, the marks, the invisible characters and the digits. Made from
// the same labels as the chart, so that the two cannot disagree; the words
// around it come from the words file, in the reader's language.
#pragma once

#include <string>
#include <vector>

#include "chart_geometry.h"
#include "key_labels.h"
#include "words.h"

namespace chart {

// A key pressed at one level ("Shift+G").
struct KeyAt {
    KeyPlace place;
    std::size_t level;
};

// Where one character is typed.
struct Finding {
    DisplayText shown;
    std::vector<KeyAt> keys;  // in keyboard order
};

struct LetterTable {
    std::vector<std::size_t> levels;  // the levels any key types at, plain first
    struct Key {
        KeyPlace place;
        KeyLabel label;
    };
    std::vector<Key> keys;  // the typing keys of the main block, in keyboard order
    std::vector<Finding> kurdishLetters;
    std::vector<Finding> marks;
    std::vector<Finding> invisibles;
    std::u32string digits;  // every digit the keys type, in ascending order
};

// `labels` holds one label per place. Throws std::runtime_error when the
// layout types one of the letters Kurdish adds to Arabic on no key.
LetterTable letterTableFor(const std::vector<KeyPlace>& places, const std::vector<KeyLabel>& labels);

// As plain text (README.txt): a line per key rather than a grid, since
// monospace columns do not hold with Arabic script. In a right-to-left
// language each Latin piece is held left to right with marks, so that the
// lines also read in Notepad's right-to-left mode.
std::string asText(const LetterTable& table, const Words& words);
// As Markdown tables (README.md).
std::string asMarkdown(const LetterTable& table, const Words& words);

}  // namespace chart
