// The keyboard the chart draws: a 102-key main block and the navigation
// block to its right, each key in key units with the legend a US keyboard
// prints on it, and those keys as faces in pixels of the 1006 x 266 chart
// picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace chart {

inline constexpr int ChartWidth = 1006;
inline constexpr int ChartHeight = 266;

// The main block is 15 key units wide and 5 rows tall.
inline constexpr double MainBlockUnits = 15.0;
inline constexpr int KeyboardRows = 5;

// A hardware scan code; `extended` marks the E0-prefixed ones.
struct ScanCode {
    std::uint8_t code = 0;
    bool extended = false;
    friend bool operator==(ScanCode, ScanCode) = default;
};

// A rectangle in a surface's units (pixels, points), y downwards.
struct Box {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double right() const { return x + width; }
    double bottom() const { return y + height; }
    bool overlaps(const Box& other) const;
};

enum class Block { Main, Navigation };

// A key where it sits on the keyboard, in key units from the main block's
// left edge, on a row counted from the top.
struct KeyPlace {
    ScanCode scan;
    Block block;
    int row = 0;
    double left = 0;
    double width = 1;
    // The character a US (and an Arabic) keyboard prints on the key, the
    // unshifted one; empty for keys named by the layout, and for the key
    // left of Z that only ISO keyboards have.
    std::string legend;
};

std::vector<KeyPlace> keyPlaces();

struct KeySlot {
    ScanCode scan;
    Block block;
    Box face;  // the drawn key face, on whole pixels; faces never touch each other
};

// The keys as faces of the chart picture.
std::vector<KeySlot> keyboardSlots();

}  // namespace chart
