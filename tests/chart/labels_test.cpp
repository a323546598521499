#include <gtest/gtest.h>

#include <map>

#include "key_labels.h"
#include "kbdread.h"
#include "layout_file_source.h"

using chart::DisplayText;
using chart::ScanCode;

namespace {

std::string hex(std::u32string_view text)
{
    std::string out;
    for (char32_t c : text) {
        char buffer[12];
        std::snprintf(buffer, sizeof buffer, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(c));
        out += buffer;
    }
    return out;
}

// A layout held in memory: scan code -> {plain, shift} and names.
class FakeLayout : public chart::LayoutSource {
public:
    std::map<std::pair<int, bool>, std::pair<std::u16string, std::u16string>> typed;
    std::map<std::pair<int, bool>, std::u16string> names;

    std::u16string characters(ScanCode scan, unsigned bits) const override
    {
        const auto found = typed.find({scan.code, scan.extended});
        if (found == typed.end())
            return {};
        return bits == 0 ? found->second.first : bits == 1 ? found->second.second : std::u16string{};
    }
    std::optional<std::u16string> keyName(ScanCode scan) const override
    {
        const auto found = names.find({scan.code, scan.extended});
        if (found == names.end())
            return std::nullopt;
        return found->second;
    }
};

}  // namespace

TEST(KeyLabels, DisplayTextOfTypedCharacters)
{
    struct Row {
        std::u32string typed;
        DisplayText shown;
    };
    const Row rows[] = {
        {U"\x06B5", {U"\x06B5", false}},                  // ARABIC LETTER LAM WITH SMALL V
        {U"\x0644\x0627", {U"\x0644\x0627", false}},      // lam, alef: shaped together later
        {U"\x0640", {U"\x0640", false}},                  // ARABIC TATWEEL has ink
        {U"\x0650", {U"\x25CC\x0650", false}},            // ARABIC KASRA on a dotted circle
        {U"\x064D", {U"\x25CC\x064D", false}},            // ARABIC KASRATAN
        {U"\x0652", {U"\x25CC\x0652", false}},            // ARABIC SUKUN
        {U"\x0628\x0650", {U"\x0628\x0650", false}},      // a mark after a letter sits on it
        {U"\x200D", {U"ZWJ", true}},
        {U"\x200C", {U"ZWNJ", true}},
        {U"\x200E", {U"LRM", true}},
        {U"\x200F", {U"RLM", true}},
        {U"\x200E\x200F", {U"LRM RLM", true}},
        {U"\x2066", {U"U+2066", true}},                   // LEFT-TO-RIGHT ISOLATE: no name of ours
        {U"", {U"", false}},
    };
    for (const Row& row : rows) {
        const DisplayText shown = chart::displayTextFor(row.typed);
        EXPECT_EQ(hex(shown.text), hex(row.shown.text)) << "typed " << hex(row.typed);
        EXPECT_EQ(shown.isTag, row.shown.isTag) << "typed " << hex(row.typed);
    }
}

TEST(KeyLabels, KeysTypingOnlyControlsOrSpacesAreNamed)
{
    struct Row {
        std::u32string plain, shift;
        bool visible;
    };
    const Row rows[] = {
        {U"\x08", U"\x08", false},  // Backspace
        {U"\x09", U"\x09", false},  // Tab
        {U"\x0D", U"\x0D", false},  // Enter
        {U" ", U" ", false},        // Space
        {U"", U"", false},          // a key that types nothing
        {U"\x06AF", U"\x0637", true},
        {U"", U"\x0637", true},     // Shift alone is enough
        {U"\x0650", U"", true},     // a mark is visible
        {U"\x200D", U"", true},     // shown as its tag
    };
    for (const Row& row : rows)
        EXPECT_EQ(chart::typesVisibleCharacters(row.plain, row.shift), row.visible)
            << "plain " << hex(row.plain) << ", shift " << hex(row.shift);
}

TEST(KeyLabels, LabelShowsCharactersOrNameFromTheLayout)
{
    FakeLayout layout;
    layout.typed[{0x30, false}] = {u"\x0695", u"\x0644\x0627"};
    layout.typed[{0x0E, false}] = {u"\x08", u"\x08"};
    layout.typed[{0x1E, false}] = {u"\x0634", u"\x0650"};
    layout.names[{0x0E, false}] = u"Backspace";
    layout.names[{0x1E, false}] = u"never shown";
    layout.names[{0x52, true}] = u"Insert";

    const auto letter = chart::labelFor(layout, {0x30, false});
    EXPECT_EQ(hex(letter.plain.text), "0695");
    EXPECT_EQ(hex(letter.shift.text), "0644 0627");
    EXPECT_TRUE(letter.name.empty());

    const auto marked = chart::labelFor(layout, {0x1E, false});
    EXPECT_EQ(hex(marked.shift.text), "25CC 0650");
    EXPECT_TRUE(marked.name.empty());

    const auto backspace = chart::labelFor(layout, {0x0E, false});
    EXPECT_TRUE(backspace.plain.text.empty());
    EXPECT_EQ(backspace.name, U"Backspace");

    const auto insert = chart::labelFor(layout, {0x52, true});
    EXPECT_EQ(insert.name, U"Insert");

    // Same code, other prefix: a different key with neither characters nor name.
    const auto plainSibling = chart::labelFor(layout, {0x52, false});
    EXPECT_TRUE(plainSibling.name.empty());
    EXPECT_TRUE(plainSibling.plain.text.empty());
}

TEST(KeyLabels, SurrogatePairsBecomeOneCodePoint)
{
    EXPECT_EQ(hex(chart::toCodePoints(u"\xD83D\xDE00\x0627")), "1F600 0627");
    EXPECT_EQ(hex(chart::toCodePoints(u"\xD83D")), "D83D");  // a lone high surrogate stays as it is
}

// The labels of the shipped library, read back through the reader.
class ShippedLayoutLabels : public ::testing::Test {
protected:
    static void SetUpTestSuite() { layout = new chart::LayoutFileSource(kbdread::readLayout(std::filesystem::path(KURD_DLL))); }
    static void TearDownTestSuite() { delete layout; }
    static chart::LayoutFileSource* layout;
};
chart::LayoutFileSource* ShippedLayoutLabels::layout = nullptr;

TEST_F(ShippedLayoutLabels, EveryMainBlockKeyThatTypesSomethingHasALabel)
{
    for (const auto& slot : chart::keyboardSlots()) {
        if (slot.block != chart::Block::Main)
            continue;
        const auto typesSomething = !layout->characters(slot.scan, 0).empty() || !layout->characters(slot.scan, 1).empty();
        const auto label = chart::labelFor(*layout, slot.scan);
        const bool labelled = !label.plain.text.empty() || !label.shift.text.empty() || !label.name.empty();
        EXPECT_TRUE(labelled || !typesSomething)
            << "scan code " << int(slot.scan.code) << (slot.scan.extended ? " (E0)" : "");
    }
}

TEST_F(ShippedLayoutLabels, KnownKeys)
{
    struct Row {
        ScanCode scan;
        std::string plain, shift;
        std::u32string name;
    };
    const Row rows[] = {
        {{0x10, false}, "0686", "0636", U""},       // Q
        {{0x30, false}, "0695", "0644 0627", U""},  // B: Shift types lam and alef
        {{0x1E, false}, "0634", "25CC 0650", U""},  // A: Shift types kasra
        {{0x02, false}, "0031", "0021", U""},       // 1: the joiners need Shift+Ctrl, not drawn
        {{0x56, false}, "005C", "007C", U""},       // the 102nd key
        {{0x0E, false}, "", "", U"Backspace"},
        {{0x39, false}, "", "", U"Space"},
        {{0x36, false}, "", "", U"Right Shift"},
        {{0x5D, true}, "", "", U"Application"},
        {{0x48, true}, "", "", U"Up"},
    };
    for (const Row& row : rows) {
        const auto label = chart::labelFor(*layout, row.scan);
        const std::string key = "scan code " + std::to_string(row.scan.code) + (row.scan.extended ? " (E0)" : "");
        EXPECT_EQ(hex(label.plain.text), row.plain) << key;
        EXPECT_EQ(hex(label.shift.text), row.shift) << key;
        EXPECT_TRUE(label.name == row.name) << key;
    }
}
