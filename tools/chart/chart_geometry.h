// Where each key of the chart sits: a 102-key main block and the navigation
// block to its right, in pixels of the 1006 x 266 chart picture.
#pragma once

#include <cstdint>
#include <vector>

namespace chart {

inline constexpr int ChartWidth = 1006;
inline constexpr int ChartHeight = 266;

// A hardware scan code; `extended` marks the E0-prefixed ones.
struct ScanCode {
    std::uint8_t code = 0;
    bool extended = false;
    friend bool operator==(ScanCode, ScanCode) = default;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int right() const { return x + width; }
    int bottom() const { return y + height; }
    bool overlaps(const Rect& other) const;
};

enum class Block { Main, Navigation };

struct KeySlot {
    ScanCode scan;
    Block block;
    Rect face;  // the drawn key face; faces never touch each other
};

std::vector<KeySlot> keyboardSlots();

}  // namespace chart
