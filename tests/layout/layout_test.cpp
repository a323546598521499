// What Kurd.dll types, read from the built file the way the loader reads it.
// Expected values are written out here from the layout's design, not taken
// from the tables, so a wrong table shows up as a failing row.
#include "kbdread.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

using kbdread::KeyOutcome;
using kbdread::Layout;
using kbdread::Prefix;

// Published virtual-key codes.
constexpr std::uint8_t VK_CANCEL = 0x03, VK_BACK = 0x08, VK_TAB = 0x09, VK_CLEAR = 0x0C, VK_RETURN = 0x0D,
                       VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_NUMPAD0 = 0x60, VK_MULTIPLY = 0x6A, VK_ADD = 0x6B,
                       VK_SUBTRACT = 0x6D, VK_DECIMAL = 0x6E, VK_DIVIDE = 0x6F, VK_F13 = 0x7C, VK_OEM_1 = 0xBA,
                       VK_OEM_PLUS = 0xBB, VK_OEM_COMMA = 0xBC, VK_OEM_MINUS = 0xBD, VK_OEM_PERIOD = 0xBE,
                       VK_OEM_2 = 0xBF, VK_OEM_3 = 0xC0, VK_OEM_4 = 0xDB, VK_OEM_5 = 0xDC, VK_OEM_6 = 0xDD,
                       VK_OEM_7 = 0xDE, VK_OEM_102 = 0xE2;

// Modifier bits.
constexpr unsigned kPlain = 0, kShift = 1, kCtrl = 2, kShiftCtrl = 3;

std::string hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string units(const std::u16string& text)
{
    std::string out;
    for (char16_t u : text) {
        if (!out.empty())
            out += ' ';
        out += hex(u);
    }
    return out.empty() ? "(nothing)" : out;
}

const Layout& kurd()
{
    static const Layout layout = kbdread::readLayout(KURD_DLL);
    return layout;
}

// The characters a key types, or "(nothing)"; dead keys and missing
// ligatures never occur in this layout, so they read as failures.
std::string typed(const Layout& layout, std::uint8_t vk, unsigned bits)
{
    const kbdread::KeyResult r = layout.characters(vk, bits);
    switch (r.outcome) {
    case KeyOutcome::Nothing: return "(nothing)";
    case KeyOutcome::Dead: return "(dead key)";
    case KeyOutcome::MissingLigature: return "(missing ligature)";
    case KeyOutcome::Characters: return units(r.characters);
    }
    return "?";
}

std::string typed(std::uint8_t vk, unsigned bits) { return typed(kurd(), vk, bits); }

struct Typed {
    const char* key;
    std::uint8_t vk;
    unsigned bits;
    std::u16string expected;
};

void expectAll(std::initializer_list<Typed> rows)
{
    for (const Typed& row : rows)
        EXPECT_EQ(typed(row.vk, row.bits), units(row.expected))
            << "key " << row.key << " (vk " << hex(row.vk) << ") with modifier bits " << row.bits;
}

TEST(Characters, OnlyNineKeysHaveACtrlCharacter)
{
    const std::map<unsigned, std::u16string> ctrlCharacters = {
        {VK_OEM_4, u"\x001B"}, {VK_OEM_6, u"\x001D"}, {VK_OEM_7, u"\x001C"},
        {VK_OEM_5, u"\x001C"}, {VK_SPACE, u"\x0020"}, {VK_BACK, u"\x007F"},
        {VK_ESCAPE, u"\x001B"}, {VK_RETURN, u"\x000A"}, {VK_CANCEL, u"\x0003"},
    };
    for (unsigned vk = 1; vk < 0xFF; ++vk) {
        const auto expected = ctrlCharacters.find(vk);
        EXPECT_EQ(typed(static_cast<std::uint8_t>(vk), kCtrl),
                  units(expected == ctrlCharacters.end() ? u"" : expected->second))
            << "Ctrl + vk " << hex(vk);
    }
}

TEST(Characters, ShiftCtrlGivesJoinersOnOneToFourOnly)
{
    const std::map<unsigned, std::u16string> joiners = {
        {'1', u"\x200D"}, // ZERO WIDTH JOINER
        {'2', u"\x200C"}, // ZERO WIDTH NON-JOINER
        {'3', u"\x200E"}, // LEFT-TO-RIGHT MARK
        {'4', u"\x200F"}, // RIGHT-TO-LEFT MARK
    };
    for (unsigned vk = 1; vk < 0xFF; ++vk) {
        const auto expected = joiners.find(vk);
        EXPECT_EQ(typed(static_cast<std::uint8_t>(vk), kShiftCtrl), units(expected == joiners.end() ? u"" : expected->second))
            << "Shift+Ctrl + vk " << hex(vk);
    }
}

TEST(Characters, LettersThatShareOrRepeat)
{
    expectAll({
        {"Shift+B (lam, alef)", 'B', kShift, u"\x0644\x0627"},
        {"R", 'R', kPlain, u"\x0642"},       // ARABIC LETTER QAF
        {"Shift+R", 'R', kShift, u"\x0642"}, // ARABIC LETTER QAF
        {"T", 'T', kPlain, u"\x0641"},       // ARABIC LETTER FEH
        {"Shift+T", 'T', kShift, u"\x0641"}, // ARABIC LETTER FEH
        {"W", 'W', kPlain, u"\x06B5"},       // ARABIC LETTER LAM WITH SMALL V
        {"Shift+G", 'G', kShift, u"\x06B5"}, // ARABIC LETTER LAM WITH SMALL V
        {"B", 'B', kPlain, u"\x0695"},       // ARABIC LETTER REH WITH SMALL V BELOW
        {"Shift+V", 'V', kShift, u"\x0695"}, // ARABIC LETTER REH WITH SMALL V BELOW
        {"Shift+9", '9', kShift, u")"},
        {"Shift+0", '0', kShift, u"("},
        {"keypad decimal", VK_DECIMAL, kPlain, u"."},
        {"Shift+keypad decimal", VK_DECIMAL, kShift, u"."},
        {"Ctrl+Enter", VK_RETURN, kCtrl, u"\n"},
        {"Ctrl+Backspace", VK_BACK, kCtrl, u"\x007F"},
        {"Ctrl+Tab", VK_TAB, kCtrl, u""},
        {"Ctrl+keypad +", VK_ADD, kCtrl, u""},
        {"Ctrl+OEM_102", VK_OEM_102, kCtrl, u""},
    });
}

TEST(Characters, WesternDigitsOnTopRowAndKeypad)
{
    for (char16_t d = u'0'; d <= u'9'; ++d) {
        const auto digit = static_cast<std::uint8_t>(d);
        const std::u16string expected(1, d);
        EXPECT_EQ(typed(digit, kPlain), units(expected)) << "top-row " << static_cast<char>(d);
        EXPECT_EQ(typed(static_cast<std::uint8_t>(VK_NUMPAD0 + (d - u'0')), kPlain), units(expected))
            << "keypad " << static_cast<char>(d);
        EXPECT_EQ(typed(static_cast<std::uint8_t>(VK_NUMPAD0 + (d - u'0')), kShift), "(nothing)")
            << "Shift+keypad " << static_cast<char>(d) << " (one-column table)";
    }
}

TEST(Modifiers, AltHasNoColumn)
{
    const kbdread::Modifiers& m = kurd().modifiers;
    ASSERT_EQ(m.vkToBit.size(), 3u);
    const std::pair<std::uint8_t, std::uint8_t> expectedBits[] = {{0x10, 0x01}, {0x11, 0x02}, {0x12, 0x04}};
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(std::make_pair(m.vkToBit[i].virtualKey, m.vkToBit[i].modBits), expectedBits[i]) << "VK_TO_BIT " << i;
    EXPECT_EQ(m.maxModBits, 3);
    EXPECT_EQ(m.modNumber, (std::vector<std::uint8_t>{0, 1, 2, 3}));
    for (unsigned bits = 0; bits < 4; ++bits)
        EXPECT_EQ(kurd().column(bits), bits) << "modifier bits " << bits;
    for (unsigned bits = 4; bits < 8; ++bits) {
        EXPECT_EQ(kurd().column(bits), std::nullopt) << "modifier bits " << bits;
        for (unsigned vk = 1; vk < 0xFF; ++vk)
            EXPECT_EQ(typed(static_cast<std::uint8_t>(vk), bits), "(nothing)")
                << "vk " << hex(vk) << " with Alt bits " << bits;
    }
}

TEST(Tables, OrderWidthsAndNoCapsLockAttribute)
{
    struct Shape {
        std::uint8_t columns, rowBytes;
        std::size_t rows;
        std::uint8_t sampleKey;
    };
    const Shape expected[] = {{3, 8, 4, VK_BACK}, {4, 10, 50, 'Q'}, {2, 6, 5, VK_TAB}, {1, 4, 10, VK_NUMPAD0}};
    const auto& tables = kurd().charTables;
    ASSERT_EQ(tables.size(), std::size(expected));
    for (std::size_t t = 0; t < tables.size(); ++t) {
        EXPECT_EQ(tables[t].nModifications, expected[t].columns) << "table " << t + 1;
        EXPECT_EQ(tables[t].cbSize, expected[t].rowBytes) << "table " << t + 1;
        EXPECT_EQ(tables[t].rows.size(), expected[t].rows) << "table " << t + 1;
        EXPECT_EQ(kurd().tableFor(expected[t].sampleKey), &tables[t]) << "table " << t + 1 << " holds vk "
                                                                      << hex(expected[t].sampleKey);
        for (const kbdread::CharRow& row : tables[t].rows)
            EXPECT_EQ(row.attributes, 0) << "table " << t + 1 << " row vk " << hex(row.virtualKey);
    }
}

TEST(Record, FlagsAndNullPointers)
{
    EXPECT_TRUE(kurd().deadKeyNull);
    EXPECT_TRUE(kurd().keyNamesDeadNull);
    EXPECT_EQ(kurd().localeFlags, 0x00010000u);
    EXPECT_EQ(kurd().nLgMax, 2);
    EXPECT_EQ(kurd().cbLgEntry, 8);
    EXPECT_EQ(kurd().maxScanCode, 127);
}

TEST(ScanCodes, EdgeCases)
{
    struct Row {
        Prefix prefix;
        std::uint8_t scanCode;
        std::optional<std::uint16_t> value;
        const char* why;
    };
    const std::optional<std::uint16_t> none;
    const Row rows[] = {
        {Prefix::None, 0x00, 0x00FF, "unmapped"},
        {Prefix::None, 0x55, 0x00FF, "unmapped"},
        {Prefix::None, 0x60, 0x00FF, "unmapped"},
        {Prefix::None, 0x61, 0x00FF, "unmapped"},
        {Prefix::None, 0x70, 0x00FF, "unmapped"},
        {Prefix::None, 0x72, 0x00FF, "unmapped"},
        {Prefix::None, 0x74, 0x00FF, "unmapped"},
        {Prefix::None, 0x75, 0x00FF, "unmapped"},
        {Prefix::None, 0x77, 0x00FF, "unmapped"},
        {Prefix::None, 0x78, 0x00FF, "unmapped"},
        {Prefix::None, 0x79, 0x00FF, "unmapped"},
        {Prefix::None, 0x7A, 0x00FF, "unmapped"},
        {Prefix::None, 0x7D, 0x00FF, "unmapped"},
        {Prefix::None, 0x7E, 0x00C2, "last entry of the map (VK_ABNT_C2)"},
        {Prefix::None, 0x7F, none, "beyond bMaxVSCtoVK"},
        {Prefix::None, 0x80, none, "beyond bMaxVSCtoVK"},
        {Prefix::None, 0xFF, none, "beyond bMaxVSCtoVK"},
        {Prefix::None, 0x0F, VK_TAB, "Tab"},
        {Prefix::None, 0x7C, VK_TAB, "second Tab"},
        {Prefix::None, 0x59, VK_CLEAR, "plain Clear"},
        {Prefix::None, 0x4C, 0x0C00 | VK_CLEAR, "keypad 5: KBDSPECIAL+KBDNUMPAD Clear"},
        {Prefix::None, 0x1C, VK_RETURN, "Enter"},
        {Prefix::E0, 0x1C, 0x0100 | VK_RETURN, "Num Enter: KBDEXT Return"},
        {Prefix::None, 0x46, 0x0291, "Scroll Lock with KBDMULTIVK"},
        {Prefix::E0, 0x46, 0x0100 | VK_CANCEL, "Break: KBDEXT Cancel"},
        {Prefix::None, 0x36, 0x01A1, "Right Shift with KBDEXT"},
        {Prefix::None, 0x37, 0x0200 | VK_MULTIPLY, "Num * with KBDMULTIVK"},
        {Prefix::None, 0x45, 0x0390, "Num Lock with KBDEXT+KBDMULTIVK"},
        {Prefix::None, 0x64, VK_F13, "F13"},
        {Prefix::E1, 0x1D, 0x0013, "Pause"},
        {Prefix::E0, 0x00, none, "no E0 pair"},
        {Prefix::E0, 0x1E, none, "no E0 pair"},
        {Prefix::E0, 0x6E, none, "no E0 pair"},
        {Prefix::E1, 0x00, none, "no E1 pair"},
        {Prefix::E1, 0x45, none, "no E1 pair"},
    };
    const char* prefixNames[] = {"--", "E0", "E1"};
    for (const Row& row : rows)
        EXPECT_EQ(kurd().mapScanCode(row.scanCode, row.prefix), row.value)
            << prefixNames[static_cast<int>(row.prefix)] << " " << hex(row.scanCode) << " (" << row.why << ")";

    EXPECT_EQ(kurd().e0.size(), 38u);
    for (const kbdread::ScanCodePair& pair : kurd().e0)
        EXPECT_EQ(pair.value & 0x0100, 0x0100) << "E0 " << hex(pair.scanCode) << " lacks KBDEXT";
}

TEST(ScanCodes, EveryMainBlockKeyReachesItsCharacters)
{
    struct Row {
        std::uint8_t scanCode;
        std::u16string plainAndShift;
    };
    const Row rows[] = {
        {0x10, u"\x0686\x0636"}, // Q: TCHEH, DAD
        {0x1A, u"\x062C<"},      // OEM_4: JEEM, less-than
        {0x28, u"\x06AF\x0637"}, // OEM_7: GAF, TAH
        {0x2B, u"\\\x061F"},     // OEM_5: reverse solidus, ARABIC QUESTION MARK
        {0x2E, u"\x06C6\x0624"}, // C: OE, WAW WITH HAMZA ABOVE
        {0x31, u"\x06CE\x064A"}, // N: YEH WITH SMALL V, YEH
        {0x32, u"\x06D5\x0629"}, // M: AE, TEH MARBUTA
        {0x35, u"\x06A4\x0638"}, // OEM_2: VEH, ZAH
        {0x39, u"  "},           // Space
        {0x56, u"\\|"},          // OEM_102
    };
    for (const Row& row : rows) {
        const auto value = kurd().mapScanCode(row.scanCode, Prefix::None);
        ASSERT_TRUE(value) << "scan code " << hex(row.scanCode);
        const auto vk = static_cast<std::uint8_t>(*value & 0xFF);
        EXPECT_EQ(typed(vk, kPlain), units(row.plainAndShift.substr(0, 1))) << "scan code " << hex(row.scanCode);
        EXPECT_EQ(typed(vk, kShift), units(row.plainAndShift.substr(1, 1))) << "Shift + scan code " << hex(row.scanCode);
    }
}

TEST(KeyNames, SpotChecksAndLengths)
{
    struct Row {
        bool extended;
        std::uint8_t scanCode;
        std::u16string name;
    };
    const Row rows[] = {
        {false, 0x01, u"Esc"},       {false, 0x36, u"Right Shift"}, {false, 0x39, u"Space"},
        {false, 0x54, u"Sys Req"},   {false, 0x7C, u"F13"},         {false, 0x87, u"F24"},
        {true, 0x1C, u"Num Enter"},  {true, 0x46, u"Break"},        {true, 0x54, u"<00>"},
        {true, 0x5D, u"Application"},
    };
    const auto find = [](const std::vector<kbdread::KeyName>& list, std::uint8_t sc) -> std::optional<std::u16string> {
        for (const kbdread::KeyName& k : list)
            if (k.scanCode == sc)
                return k.text;
        return std::nullopt;
    };
    for (const Row& row : rows) {
        const auto name = find(row.extended ? kurd().keyNamesExt : kurd().keyNames, row.scanCode);
        ASSERT_TRUE(name) << (row.extended ? "E0 " : "") << hex(row.scanCode) << " has no name";
        EXPECT_EQ(units(*name), units(row.name)) << (row.extended ? "E0 " : "") << hex(row.scanCode);
    }
    EXPECT_EQ(kurd().keyNames.size(), 51u);
    EXPECT_EQ(kurd().keyNamesExt.size(), 22u);
    // The names are keyed independently of the map: F13's name sits at 0x7C
    // (which the map sends to Tab), while the map gives F13 at 0x64, which has no name.
    EXPECT_EQ(find(kurd().keyNames, 0x64), std::nullopt);
    EXPECT_EQ(kurd().mapScanCode(0x7C, Prefix::None), VK_TAB);
    for (std::size_t i = 1; i < kurd().keyNames.size(); ++i)
        EXPECT_LT(kurd().keyNames[i - 1].scanCode, kurd().keyNames[i].scanCode) << "plain name entry " << i;
}

TEST(Relocation, AnotherLoadBaseGivesTheSameLayout)
{
    constexpr std::uint64_t otherBase = 0x7FF612340000;
    const Layout moved = kbdread::readLayout(KURD_DLL, otherBase);
    const Layout& home = kurd();
    ASSERT_EQ(moved.pointerSites.size(), home.pointerSites.size());
    std::size_t nonNull = 0;
    for (std::size_t i = 0; i < moved.pointerSites.size(); ++i) {
        const kbdread::PointerSite& m = moved.pointerSites[i];
        const kbdread::PointerSite& h = home.pointerSites[i];
        const std::string site = std::string(kbdread::toString(h.role)) + " " + std::to_string(h.index);
        EXPECT_EQ(m.targetRva, h.targetRva) << site;
        if (!h.isNull()) {
            ++nonNull;
            EXPECT_EQ(h.value, home.pe.imageBase + h.targetRva) << site;
            EXPECT_EQ(m.value, otherBase + m.targetRva) << site;
        }
    }
    EXPECT_EQ(nonNull, 86u) << "record, pVkToBit, table and key-name string pointers";

    for (unsigned prefix = 0; prefix < 3; ++prefix)
        for (unsigned sc = 0; sc < 256; ++sc)
            EXPECT_EQ(moved.mapScanCode(static_cast<std::uint8_t>(sc), Prefix(prefix)),
                      home.mapScanCode(static_cast<std::uint8_t>(sc), Prefix(prefix)))
                << "prefix " << prefix << " scan code " << hex(sc);
    for (unsigned vk = 1; vk < 0xFF; ++vk)
        for (unsigned bits = 0; bits < 8; ++bits)
            EXPECT_EQ(typed(moved, static_cast<std::uint8_t>(vk), bits), typed(home, static_cast<std::uint8_t>(vk), bits))
                << "vk " << hex(vk) << " bits " << bits;
    ASSERT_EQ(moved.keyNames.size(), home.keyNames.size());
    for (std::size_t i = 0; i < home.keyNames.size(); ++i)
        EXPECT_EQ(units(moved.keyNames[i].text), units(home.keyNames[i].text)) << "plain name entry " << i;
}

} // namespace
