#include "key_labels.h"

#include <hb.h>

namespace chart {

namespace {

constexpr unsigned ShiftBit = 1;

struct InvisibleName {
    char32_t codePoint;
    const char32_t* tag;
};

constexpr InvisibleName InvisibleNames[] = {
    {0x200C, U"ZWNJ"},  // ZERO WIDTH NON-JOINER
    {0x200D, U"ZWJ"},   // ZERO WIDTH JOINER
    {0x200E, U"LRM"},   // LEFT-TO-RIGHT MARK
    {0x200F, U"RLM"},   // RIGHT-TO-LEFT MARK
};

hb_unicode_general_category_t categoryOf(char32_t c)
{
    return hb_unicode_general_category(hb_unicode_funcs_get_default(), c);
}

bool isMark(char32_t c)
{
    const auto category = categoryOf(c);
    return category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK;
}

bool isControl(char32_t c) { return categoryOf(c) == HB_UNICODE_GENERAL_CATEGORY_CONTROL; }

std::u32string hexTag(char32_t c)
{
    static constexpr char32_t Digits[] = U"0123456789ABCDEF";
    std::u32string tag = U"U+";
    int digits = c > 0xFFFF ? 6 : 4;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        tag += Digits[(c >> shift) & 0xF];
    return tag;
}

// The tag for a character without ink of its own, or nothing for one that
// draws itself.
std::optional<std::u32string> tagFor(char32_t c)
{
    for (const auto& entry : InvisibleNames)
        if (entry.codePoint == c)
            return entry.tag;
    if (isControl(c) || categoryOf(c) == HB_UNICODE_GENERAL_CATEGORY_FORMAT)
        return hexTag(c);
    return std::nullopt;
}

}  // namespace

std::u32string toCodePoints(std::u16string_view utf16)
{
    std::u32string out;
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            out += static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
            ++i;
        } else {
            out += unit;
        }
    }
    return out;
}

DisplayText displayTextFor(std::u32string_view typed)
{
    DisplayText shown;
    std::u32string tags;
    for (char32_t c : typed) {
        if (auto tag = tagFor(c)) {
            tags += (tags.empty() ? U"" : U" ") + *tag;
            continue;
        }
        // A mark at the start has no base of its own to sit on.
        if (isMark(c) && shown.text.empty())
            shown.text += DottedCircle;
        shown.text += c;
    }
    if (shown.text.empty() && !tags.empty())
        return {tags, true};
    return shown;
}

bool typesVisibleCharacters(std::u32string_view plain, std::u32string_view shift)
{
    auto visible = [](std::u32string_view text) {
        for (char32_t c : text)
            if (!isControl(c) && categoryOf(c) != HB_UNICODE_GENERAL_CATEGORY_SPACE_SEPARATOR)
                return true;
        return false;
    };
    return visible(plain) || visible(shift);
}

KeyLabel labelFor(const LayoutSource& layout, ScanCode scan)
{
    KeyLabel label;
    label.scan = scan;
    label.typedPlain = toCodePoints(layout.characters(scan, 0));
    label.typedShift = toCodePoints(layout.characters(scan, ShiftBit));
    if (typesVisibleCharacters(label.typedPlain, label.typedShift)) {
        label.plain = displayTextFor(label.typedPlain);
        label.shift = displayTextFor(label.typedShift);
    } else if (auto name = layout.keyName(scan)) {
        label.name = toCodePoints(*name);
    }
    return label;
}

std::vector<KeyLabel> labelsFor(const LayoutSource& layout, const std::vector<KeySlot>& slots)
{
    std::vector<KeyLabel> labels;
    labels.reserve(slots.size());
    for (const KeySlot& slot : slots)
        labels.push_back(labelFor(layout, slot.scan));
    return labels;
}

}  // namespace chart
