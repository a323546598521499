#include "chart_geometry.h"

#include <cmath>
#include <string_view>

namespace chart {

bool Box::overlaps(const Box& other) const
{
    return x < other.right() && other.x < right() && y < other.bottom() && other.y < bottom();
}

namespace {

// In the picture a key unit is wider than it is tall, so that five rows
// fill its short height.
constexpr double UnitWidth = 53.5;
constexpr int RowHeight = 50;
constexpr int Margin = 8;
constexpr int FaceInset = 2;  // half the gap between neighbouring faces
// The navigation block stands half a unit right of the main block.
constexpr double NavigationStart = MainBlockUnits + 0.5;

struct KeySpec {
    std::uint8_t code;
    bool extended;
    double width;  // in units
    std::string legend;
};

struct RowSpec {
    Block block;
    double start;  // in units from the left margin
    std::vector<KeySpec> keys;
};

KeySpec key(std::uint8_t code, double width = 1.0) { return {code, false, width, {}}; }
KeySpec extendedKey(std::uint8_t code, double width = 1.0) { return {code, true, width, {}}; }
KeySpec printed(std::uint8_t code, std::string_view legend) { return {code, false, 1.0, std::string(legend)}; }

// Keys with consecutive scan codes from `first` on, one legend character each.
std::vector<KeySpec> printedKeys(std::uint8_t first, std::string_view legends)
{
    std::vector<KeySpec> keys;
    for (std::size_t i = 0; i < legends.size(); ++i)
        keys.push_back(printed(static_cast<std::uint8_t>(first + i), legends.substr(i, 1)));
    return keys;
}

std::vector<KeySpec> concat(std::initializer_list<std::vector<KeySpec>> parts)
{
    std::vector<KeySpec> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The runs of keys on each row, by scan code.
std::vector<std::vector<RowSpec>> rowSpecs()
{
    return {
        {{Block::Main, 0, concat({{printed(0x29, "`")}, printedKeys(0x02, "1234567890-="), {key(0x0E, 2.0)}})},
         {Block::Navigation, NavigationStart, {extendedKey(0x52), extendedKey(0x47), extendedKey(0x49)}}},
        {{Block::Main, 0, concat({{key(0x0F, 1.5)}, printedKeys(0x10, "QWERTYUIOP[]"), {{0x2B, false, 1.5, "\\"}}})},
         {Block::Navigation, NavigationStart, {extendedKey(0x53), extendedKey(0x4F), extendedKey(0x51)}}},
        {{Block::Main, 0, concat({{key(0x3A, 1.75)}, printedKeys(0x1E, "ASDFGHJKL;'"), {key(0x1C, 2.25)}})}},
        {{Block::Main, 0, concat({{key(0x2A, 1.25), key(0x56)}, printedKeys(0x2C, "ZXCVBNM,./"), {key(0x36, 2.75)}})},
         {Block::Navigation, NavigationStart + 1, {extendedKey(0x48)}}},
        {{Block::Main, 0,
          {key(0x1D, 1.25), extendedKey(0x5B, 1.25), key(0x38, 1.25), key(0x39, 6.25),
           extendedKey(0x38, 1.25), extendedKey(0x5C, 1.25), extendedKey(0x5D, 1.25),
           extendedKey(0x1D, 1.25)}},
         {Block::Navigation, NavigationStart, {extendedKey(0x4B), extendedKey(0x50), extendedKey(0x4D)}}},
    };
}

int unitsToPixels(double units) { return Margin + static_cast<int>(std::lround(units * UnitWidth)); }

}  // namespace

std::vector<KeyPlace> keyPlaces()
{
    std::vector<KeyPlace> places;
    const auto rows = rowSpecs();
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (const RowSpec& run : rows[row]) {
            double position = run.start;
            for (const KeySpec& k : run.keys) {
                places.push_back({{k.code, k.extended}, run.block, static_cast<int>(row), position, k.width, k.legend});
                position += k.width;
            }
        }
    }
    return places;
}

std::vector<KeySlot> keyboardSlots()
{
    std::vector<KeySlot> slots;
    for (const KeyPlace& place : keyPlaces()) {
        const int top = Margin + place.row * RowHeight;
        const int left = unitsToPixels(place.left);
        const int right = unitsToPixels(place.left + place.width);
        slots.push_back({place.scan, place.block,
                         {double(left + FaceInset), double(top + FaceInset), double(right - left - 2 * FaceInset),
                          double(RowHeight - 2 * FaceInset)}});
    }
    return slots;
}

}  // namespace chart
