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

// A layout held in memory: scan code -> what it types by modifier bits,
// and names.
class FakeLayout : public chart::LayoutSource {
public:
    std::map<std::pair<int, bool>, std::map<unsigned, std::u16string>> typed;
    std::map<std::pair<int, bool>, std::u16string> names;

    std::u16string characters(ScanCode scan, unsigned bits) const override
    {
        const auto found = typed.find({scan.code, scan.extended});
        if (found == typed.end() || !found->second.count(bits))
            return {};
        return found->second.at(bits);
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

TEST(KeyLabels, ControlsAndSpacesAreNotVisible)
{
    struct Row {
        std::u32string typed;
        bool visible;
    };
    const Row rows[] = {
        {U"\x08", false},    // Backspace
        {U"\x09", false},    // Tab
        {U"\x1B", false},    // Ctrl+[
        {U" ", false},       // Space
        {U"", false},        // a key that types nothing
        {U"\x06AF", true},
        {U"\x0650", true},   // a mark is visible
        {U"\x200D", true},   // shown as its tag
    };
    for (const Row& row : rows)
        EXPECT_EQ(chart::isVisible(row.typed), row.visible) << hex(row.typed);
}

TEST(KeyLabels, LabelShowsCharactersOrNameFromTheLayout)
{
    FakeLayout layout;
    layout.typed[{0x30, false}] = {{0, u"\x0695"}, {1, u"\x0644\x0627"}};
    layout.typed[{0x0E, false}] = {{0, u"\x08"}, {1, u"\x08"}, {2, u"\x7F"}};
    layout.typed[{0x1E, false}] = {{0, u"\x0634"}, {1, u"\x0650"}, {2, u"\x1B"}};
    layout.typed[{0x02, false}] = {{0, u"1"}, {3, u"\x200D"}, {7, u"\x0661"}};
    layout.names[{0x0E, false}] = u"Backspace";
    layout.names[{0x1E, false}] = u"never shown";
    layout.names[{0x52, true}] = u"Insert";

    const auto letter = chart::labelFor(layout, {0x30, false});
    EXPECT_EQ(hex(letter.shown[chart::PlainLevel].text), "0695");
    EXPECT_EQ(hex(letter.shown[chart::ShiftLevel].text), "0644 0627");
    EXPECT_TRUE(letter.name.empty());

    // A control character typed with Ctrl shows nothing at that level.
    const auto marked = chart::labelFor(layout, {0x1E, false});
    EXPECT_EQ(hex(marked.shown[chart::ShiftLevel].text), "25CC 0650");
    EXPECT_EQ(hex(marked.typed[2]), "001B");
    EXPECT_TRUE(marked.shown[2].empty());
    EXPECT_TRUE(marked.name.empty());

    // Every level the key types at: Shift+Ctrl (bits 3), Shift+AltGr (bits 7).
    const auto levels = chart::labelFor(layout, {0x02, false});
    const DisplayText expected[chart::LevelCount] = {{U"1"}, {}, {}, {U"ZWJ", true}, {}, {U"\x0661"}};
    for (std::size_t level = 0; level < chart::LevelCount; ++level)
        EXPECT_EQ(levels.shown[level], expected[level]) << "at level " << chart::Levels[level].name;

    const auto backspace = chart::labelFor(layout, {0x0E, false});
    EXPECT_TRUE(backspace.shown[chart::PlainLevel].empty());
    EXPECT_EQ(backspace.name, U"Backspace");

    const auto insert = chart::labelFor(layout, {0x52, true});
    EXPECT_EQ(insert.name, U"Insert");

    // Same code, other prefix: a different key with neither characters nor name.
    const auto plainSibling = chart::labelFor(layout, {0x52, false});
    EXPECT_TRUE(plainSibling.name.empty());
    EXPECT_TRUE(plainSibling.shown[chart::PlainLevel].empty());
}

TEST(KeyLabels, SurrogatePairsBecomeOneCodePoint)
{
    EXPECT_EQ(hex(chart::toCodePoints(u"\xD83D\xDE00\x0627")), "1F600 0627");
    EXPECT_EQ(hex(chart::toCodePoints(u"\xD83D")), "D83D");  // a lone high surrogate stays as it is
}

// UTF-8 both ways: what the words file holds, and what the PDF and the
// READMEs are written in.
TEST(KeyLabels, Utf8BothWays)
{
    EXPECT_EQ(chart::toUtf8(U"a\x06B5\x25CC\x1F600"), "a\xDA\xB5\xE2\x97\x8C\xF0\x9F\x98\x80");
    EXPECT_EQ(chart::toUtf8(U"\xD83D|\x110000"), "\xEF\xBF\xBD|\xEF\xBF\xBD");  // no UTF-8 for these: U+FFFD
    EXPECT_EQ(hex(chart::toCodePoints(std::string_view("a\xDA\xB5\xF0\x9F\x98\x80"))), "0061 06B5 1F600");
    const char* const broken[] = {
        "\xDA",              // cut short
        "\xDA\x41",          // a lead byte without its continuation
        "\x80",              // a continuation byte alone
        "\xC1\xBF",          // an overlong form of U+007F
        "\xED\xA0\xBD",      // a surrogate
        "\xF4\x90\x80\x80",  // past U+10FFFF
    };
    for (std::size_t row = 0; row < std::size(broken); ++row)
        EXPECT_THROW(chart::toCodePoints(std::string_view(broken[row])), std::runtime_error) << "row " << row;
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
    for (const auto& place : chart::keyPlaces()) {
        if (place.block != chart::Block::Main)
            continue;
        const auto typesSomething = !layout->characters(place.scan, 0).empty() || !layout->characters(place.scan, 1).empty();
        const auto label = chart::labelFor(*layout, place.scan);
        const bool labelled = !label.shown[chart::PlainLevel].empty() || !label.shown[chart::ShiftLevel].empty() ||
                              !label.name.empty();
        EXPECT_TRUE(labelled || !typesSomething)
            << "scan code " << int(place.scan.code) << (place.scan.extended ? " (E0)" : "");
    }
}

// Keys the chart names, as they type nothing to show. What the other keys
// show is checked key by key and level by level against the layout stated
// by hand, through the letter tables made from these labels
// (letters_test.py).
TEST_F(ShippedLayoutLabels, NamedKeys)
{
    const std::pair<ScanCode, std::u32string> rows[] = {
        {{0x0E, false}, U"Backspace"}, {{0x39, false}, U"Space"}, {{0x36, false}, U"Right Shift"},
        {{0x5D, true}, U"Application"}, {{0x48, true}, U"Up"},
    };
    for (const auto& [scan, name] : rows) {
        const auto label = chart::labelFor(*layout, scan);
        const std::string key = "scan code " + std::to_string(scan.code) + (scan.extended ? " (E0)" : "");
        for (const DisplayText& shown : label.shown)
            EXPECT_TRUE(shown.empty()) << key;
        EXPECT_TRUE(label.name == name) << key;
    }
}
