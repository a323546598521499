#include "key_labels.h"

#include <hb.h>

namespace chart {

namespace {

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

bool isMark(char32_t c)
{
    const auto category = categoryOf(c);
    return category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK;
}

bool isDecimalDigit(char32_t c) { return categoryOf(c) == HB_UNICODE_GENERAL_CATEGORY_DECIMAL_NUMBER; }

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

bool isVisible(std::u32string_view typed)
{
    for (char32_t c : typed)
        if (!isControl(c) && categoryOf(c) != HB_UNICODE_GENERAL_CATEGORY_SPACE_SEPARATOR)
            return true;
    return false;
}

KeyLabel labelFor(const LayoutSource& layout, ScanCode scan)
{
    KeyLabel label;
    label.scan = scan;
    bool visible = false;
    for (std::size_t level = 0; level < LevelCount; ++level) {
        label.typed[level] = toCodePoints(layout.characters(scan, Levels[level].modifierBits));
        visible = visible || isVisible(label.typed[level]);
    }
    if (visible) {
        for (std::size_t level = 0; level < LevelCount; ++level)
            if (isVisible(label.typed[level]))
                label.shown[level] = displayTextFor(label.typed[level]);
    } else if (auto name = layout.keyName(scan)) {
        label.name = toCodePoints(*name);
    }
    return label;
}

std::vector<KeyLabel> labelsFor(const LayoutSource& layout, const std::vector<KeyPlace>& places)
{
    std::vector<KeyLabel> labels;
    labels.reserve(places.size());
    for (const KeyPlace& place : places)
        labels.push_back(labelFor(layout, place.scan));
    return labels;
}

}  // namespace chart
