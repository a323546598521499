// What each key of the chart shows, worked out from the layout's own tables:
// the characters a key types at each level (alone, with Shift, with
// Shift+Ctrl...), or its English name.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "chart_geometry.h"
#include "text.h"

namespace chart {

using kbdread::toCodePoints;
using kbdread::toUtf8;

// The questions the chart asks of a layout.
class LayoutSource {
public:
    virtual ~LayoutSource() = default;
    // The characters typed by the key with the given modifier bits held
    // (1 Shift, 2 Ctrl, 4 Alt); empty when it types nothing.
    virtual std::u16string characters(ScanCode scan, unsigned modifierBits) const = 0;
    // The layout's name for the key, if its key-name lists have one.
    virtual std::optional<std::u16string> keyName(ScanCode scan) const = 0;
};

// The modifier combinations a key can type with, in the order the chart
// and the letter table show them. Alt alone types nothing: Windows keeps
// it for menus.
struct Level {
    unsigned modifierBits;
    const char* name;  // the keys held, as printed on them; empty alone
};
inline constexpr Level Levels[] = {
    {0, ""}, {1, "Shift"}, {2, "Ctrl"}, {3, "Shift+Ctrl"}, {6, "AltGr"}, {7, "Shift+AltGr"},
};
inline constexpr std::size_t LevelCount = std::size(Levels);
inline constexpr std::size_t PlainLevel = 0;
inline constexpr std::size_t ShiftLevel = 1;

inline constexpr char32_t DottedCircle = 0x25CC;  // DOTTED CIRCLE

// Text prepared for drawing. A tag stands for a character that has no ink
// of its own and is drawn smaller, as a short Latin abbreviation.
struct DisplayText {
    std::u32string text;
    bool isTag = false;
    bool empty() const { return text.empty(); }
    friend bool operator==(const DisplayText&, const DisplayText&) = default;
};

struct KeyLabel {
    ScanCode scan;
    std::array<std::u32string, LevelCount> typed;  // what the key types at each level, as code points
    // What the key shows at each level: empty where it types nothing
    // visible, and on keys that show their name.
    std::array<DisplayText, LevelCount> shown;
    std::u32string name;  // for keys that type no visible character
};

// Marks are set on a dotted circle; invisible characters become tags.
DisplayText displayTextFor(std::u32string_view typed);

// Whether the text holds something other than control characters and
// spaces.
bool isVisible(std::u32string_view typed);
// A combining mark, which needs a letter to sit on.
bool isMark(char32_t c);
bool isDecimalDigit(char32_t c);

KeyLabel labelFor(const LayoutSource& layout, ScanCode scan);
std::vector<KeyLabel> labelsFor(const LayoutSource& layout, const std::vector<KeyPlace>& places);

}  // namespace chart
