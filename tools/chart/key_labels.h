// What each key of the chart shows, worked out from the layout's own tables:
// the characters a key types plain and with Shift, or its English name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "chart_geometry.h"

namespace chart {

// The questions the chart asks of a layout.
class LayoutSource {
public:
    virtual ~LayoutSource() = default;
    // The characters typed by the key with the given modifier bits held
    // (0 plain, 1 Shift); empty when it types nothing.
    virtual std::u16string characters(ScanCode scan, unsigned modifierBits) const = 0;
    // The layout's name for the key, if its key-name lists have one.
    virtual std::optional<std::u16string> keyName(ScanCode scan) const = 0;
};

inline constexpr char32_t DottedCircle = 0x25CC;  // DOTTED CIRCLE

// Text prepared for drawing. A tag stands for a character that has no ink
// of its own and is drawn smaller, as a short Latin abbreviation.
struct DisplayText {
    std::u32string text;
    bool isTag = false;
    friend bool operator==(const DisplayText&, const DisplayText&) = default;
};

struct KeyLabel {
    ScanCode scan;
    std::u32string typedPlain;  // what the key types, as code points
    std::u32string typedShift;
    DisplayText plain;          // empty for keys that show their name
    DisplayText shift;
    std::u32string name;        // for keys that type no visible character
};

std::u32string toCodePoints(std::u16string_view utf16);

// Marks are set on a dotted circle; invisible characters become tags.
DisplayText displayTextFor(std::u32string_view typed);

// A key shows characters when it types something other than control
// characters and spaces; otherwise it shows its name.
bool typesVisibleCharacters(std::u32string_view plain, std::u32string_view shift);

KeyLabel labelFor(const LayoutSource& layout, ScanCode scan);
std::vector<KeyLabel> labelsFor(const LayoutSource& layout, const std::vector<KeySlot>& slots);

}  // namespace chart
