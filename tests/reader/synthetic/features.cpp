// A synthetic layout with every part of the table format our own layout
// leaves out, for the reader's tests: dead keys (a second row of dead
// characters, a long dead-key table, a chained entry), dead-key names,
// SGCAPS and CAPLOK rows, ligatures of up to four characters in several
// columns of one key, one of them outside the Basic Multilingual Plane,
// sixteen modifier combinations, every scan-code flag, and the far-east
// tables behind KbdNlsLayerDescriptor. Some records sit on 256-byte
// boundaries, so that pointers and characters have a zero low byte.

#include <iterator>

#include "synthetic_kbd.h"

namespace synthetic {
namespace {

using namespace kbd;

inline constexpr std::uint8_t VK_KANA = 0x15;
inline constexpr std::uint8_t VK_CONVERT = 0x1C;
inline constexpr std::uint16_t KBDUNICODE = 0x1000;
inline constexpr std::uint16_t KBDINJECTEDVK = 0x2000;
inline constexpr std::uint16_t KBDMAPPEDVK = 0x4000;
inline constexpr std::uint16_t KBDBREAK = 0x8000;
inline constexpr std::uint8_t KBDKANA = 0x08;
inline constexpr std::uint8_t CAPLOK = 0x01;
inline constexpr std::uint8_t SGCAPS = 0x02;
inline constexpr std::uint8_t SHFT_INVALID = 0x0F;
inline constexpr std::uint32_t KLLF_ALTGR = 0x0001;

constexpr std::uint16_t MaxModBits = KBDSHIFT | KBDCTRL | KBDALT | KBDKANA;

using ImageRecords = Records<ImagePointer, MaxModBits + 1, LIGATURE<4>>;
using MODIFIERS = ImageRecords::MODIFIERS;
using VSC_LPWSTR = ImageRecords::VSC_LPWSTR;
using VK_TO_WCHAR_TABLE = ImageRecords::VK_TO_WCHAR_TABLE;
using KBDTABLES = ImageRecords::KBDTABLES;
using KBDNLSTABLES = ImageRecords::KBDNLSTABLES;

// Scan codes 0x00-0x1F.
const std::uint16_t ScanCodeToVk[] = {
    /* 0x00 */ VK_NONE_MAPPED,
    /* 0x01 */ VK_ESCAPE,
    /* 0x02 */ '1',
    /* 0x03 */ '2',
    /* 0x04 */ VK_F1 | KBDUNICODE,
    /* 0x05 */ VK_F2 | KBDINJECTEDVK,
    /* 0x06 */ VK_F3 | KBDMAPPEDVK,
    /* 0x07 */ VK_F4 | KBDBREAK,
    /* 0x08 */ VK_HOME | KBDSPECIAL | KBDNUMPAD,
    /* 0x09 */ VK_MULTIPLY | KBDMULTIVK,
    /* 0x0A */ VK_RSHIFT | KBDEXT,
    /* 0x0B */ VK_NONE_MAPPED,
    /* 0x0C */ VK_OEM_MINUS,
    /* 0x0D */ VK_OEM_PLUS,
    /* 0x0E */ VK_BACK,
    /* 0x0F */ VK_TAB,
    /* 0x10 */ 'Q',
    /* 0x11 */ 'W',
    /* 0x12 */ 'E',
    /* 0x13 */ 'R',
    /* 0x14 */ VK_KANA,
    /* 0x15 */ VK_CONVERT,
    /* 0x16 */ VK_SHIFT,
    /* 0x17 */ VK_CONTROL,
    /* 0x18 */ VK_MENU,
    /* 0x19 */ VK_CAPITAL,
    /* 0x1A */ VK_OEM_4,
    /* 0x1B */ VK_OEM_6,
    /* 0x1C */ VK_RETURN,
    /* 0x1D */ VK_LCONTROL,
    /* 0x1E */ 'A',
    /* 0x1F */ 'S',
};
static_assert(std::size(ScanCodeToVk) == 0x20);

const VSC_VK E0ScanCodeToVk[] = {
    {.Vsc = 0x1C, .Vk = VK_RETURN | KBDEXT},
    {.Vsc = 0x1D, .Vk = VK_RCONTROL | KBDEXT},
    {.Vsc = 0x35, .Vk = VK_DIVIDE | KBDEXT | KBDUNICODE},
    {.Vsc = 0x37, .Vk = VK_SNAPSHOT | KBDEXT | KBDMULTIVK},
    {.Vsc = 0, .Vk = 0},
};

const VSC_VK E1ScanCodeToVk[] = {
    {.Vsc = 0x1D, .Vk = VK_PAUSE | KBDBREAK},
    {.Vsc = 0, .Vk = 0},
};

// A name with a character whose low byte is zero, and one outside the
// Basic Multilingual Plane. Built with KEY_NAMES_AFTER_SCAN_CODE_0, the list
// starts with an entry whose scan code is 0 and whose name is empty, as some
// layouts made by other tools do.
constinit const VSC_LPWSTR KeyNames[] = {
#ifdef KEY_NAMES_AFTER_SCAN_CODE_0
    {.vsc = 0, .pwsz = u""},
#endif
    {.vsc = 0x01, .pwsz = u"Esc"},
    {.vsc = 0x0F, .pwsz = u"Tab \xD83D\xDE00"},  // grinning face
    {.vsc = 0x1C, .pwsz = u"Enter"},
    {.vsc = 0x1D, .pwsz = u"Ctrl \x0100"},      // latin capital letter a with macron
    {.vsc = 0, .pwsz = nullptr},
};

constinit const VSC_LPWSTR KeyNamesExt[] = {
    {.vsc = 0x1C, .pwsz = u"Num Enter"},
    {.vsc = 0x1D, .pwsz = u"Right Ctrl"},
    {.vsc = 0, .pwsz = nullptr},
};

const VK_TO_BIT VkToBit[] = {
    {.Vk = VK_SHIFT, .ModBits = KBDSHIFT},
    {.Vk = VK_CONTROL, .ModBits = KBDCTRL},
    {.Vk = VK_MENU, .ModBits = KBDALT},
    {.Vk = VK_KANA, .ModBits = KBDKANA},
    {.Vk = 0, .ModBits = 0},
};

// Columns: 0 plain, 1 Shift, 2 Ctrl, 3 Ctrl+Alt, 4 Shift+Ctrl+Alt, 5 with
// every modifier held (the last combination).
constinit const MODIFIERS CharModifiers = {
    .pVkToBit = VkToBit,
    .wMaxModBits = MaxModBits,
    .ModNumber = {0, 1, 2, SHFT_INVALID, SHFT_INVALID, SHFT_INVALID, 3, 4,
                  SHFT_INVALID, SHFT_INVALID, SHFT_INVALID, SHFT_INVALID, SHFT_INVALID, SHFT_INVALID, SHFT_INVALID, 5},
};

constexpr char16_t NONE = WCH_NONE;
constexpr char16_t DEAD = WCH_DEAD;
constexpr char16_t LGTR = WCH_LGTR;
constexpr std::uint8_t SECOND = 0xFF;  // the row after a row with SGCAPS or a dead key

// Letters, in six columns.
//                                  VirtualKey  Attributes        Plain   Shift   Ctrl    C+Alt   S+C+Alt All
alignas(256) const VK_TO_WCHARS<6> VkToWchars6[] = {
    {.VirtualKey = 'Q',    .Attributes = CAPLOK,          .wch = {u'q',   LGTR,   0x0011, u'@',   NONE,   NONE}},
    {.VirtualKey = 'W',    .Attributes = 0,               .wch = {LGTR,   u'W',   LGTR,   NONE,   NONE,   LGTR}},
    {.VirtualKey = 'E',    .Attributes = SGCAPS,          .wch = {u'e',   u'E',   NONE,   0x20AC, NONE,   NONE}},  // euro sign
    {.VirtualKey = SECOND, .Attributes = 0,               .wch = {u'E',   u'e',   NONE,   0x20AC, NONE,   NONE}},
    {.VirtualKey = 'A',    .Attributes = CAPLOK | SGCAPS, .wch = {u'a',   u'A',   0x0001, 0x00E6, NONE,   NONE}},  // ae
    {.VirtualKey = SECOND, .Attributes = 0,               .wch = {u'A',   u'a',   0x0001, 0x00C6, NONE,   NONE}},  // AE
    {.VirtualKey = 'R',    .Attributes = 0,               .wch = {DEAD,   DEAD,   NONE,   DEAD,   DEAD,   NONE}},
    {.VirtualKey = SECOND, .Attributes = 0,               .wch = {0x00B4, u'^',   NONE,   0x00A8, u'~',   NONE}},  // acute accent, diaeresis
    {.VirtualKey = 'S',    .Attributes = 0,               .wch = {u's',   u'S',   0x0013, 0x00DF, 0x1E9E, 0x0100}},  // sharp s; a with macron
    {.VirtualKey = 0,      .Attributes = 0,               .wch = {0, 0, 0, 0, 0, 0}},
};

// The other keys, in two columns; a dead key here too, so that second rows
// stand in more than one table.
//                            VirtualKey     Attributes  Plain   Shift
const VK_TO_WCHARS2 VkToWchars2[] = {
    {.VirtualKey = '1',         .Attributes = 0, .wch = {u'1',   u'!'}},
    {.VirtualKey = '2',         .Attributes = 0, .wch = {u'2',   u'"'}},
    {.VirtualKey = VK_OEM_MINUS, .Attributes = 0, .wch = {u'-',  u'_'}},
    {.VirtualKey = VK_OEM_PLUS, .Attributes = 0, .wch = {DEAD,   u'+'}},
    {.VirtualKey = SECOND,      .Attributes = 0, .wch = {0x02DD, NONE}},  // double acute accent
    {.VirtualKey = VK_OEM_4,    .Attributes = 0, .wch = {u'[',   u'{'}},
    {.VirtualKey = VK_OEM_6,    .Attributes = 0, .wch = {DEAD,   u'}'}},
    {.VirtualKey = SECOND,      .Attributes = 0, .wch = {u'~',   NONE}},
    {.VirtualKey = VK_BACK,     .Attributes = 0, .wch = {0x0008, 0x0008}},
    {.VirtualKey = VK_TAB,      .Attributes = 0, .wch = {0x0009, 0x0009}},
    {.VirtualKey = VK_ESCAPE,   .Attributes = 0, .wch = {0x001B, 0x001B}},
    {.VirtualKey = VK_RETURN,   .Attributes = 0, .wch = {0x000D, 0x000A}},
    {.VirtualKey = VK_MULTIPLY, .Attributes = 0, .wch = {u'*',   u'*'}},
    {.VirtualKey = 0,           .Attributes = 0, .wch = {0, 0}},
};

template <std::size_t N>
constexpr VK_TO_WCHAR_TABLE TableOf(const VK_TO_WCHARS<N>* rows)
{
    return {.pVkToWchars = rows, .nModifications = N, .cbSize = sizeof(VK_TO_WCHARS<N>)};
}

constinit const VK_TO_WCHAR_TABLE VkToWcharTable[] = {
    TableOf(VkToWchars6),
    TableOf(VkToWchars2),
    {.pVkToWchars = nullptr, .nModifications = 0, .cbSize = 0},
};

// One key's ligatures in three columns; the longest fills all four cells.
//                                VirtualKey  Column  Characters
const LIGATURE<4> Ligature[] = {
    {.VirtualKey = 'Q', .ModificationNumber = 1, .wch = {u'Q', u'u', u'e', u'!'}},
    {.VirtualKey = 'W', .ModificationNumber = 0, .wch = {u'a', u'b', NONE, NONE}},
    {.VirtualKey = 'W', .ModificationNumber = 2, .wch = {u'x', u'y', u'z', NONE}},
    {.VirtualKey = 'W', .ModificationNumber = 5, .wch = {0xD83D, 0xDE00, 0x0301, NONE}},  // grinning face, combining acute accent
    {.VirtualKey = 0,   .ModificationNumber = 0, .wch = {0, 0, 0, 0}},
};

// The dead-key table: a hand-written part, then a long run the double
// acute accent composes with Cyrillic letters.
constexpr DEADKEY HandWrittenDeadKeys[] = {
    DeadTrans(u'a', 0x00B4, 0x00E1),               // acute: a with acute
    DeadTrans(u'A', 0x00B4, 0x00C1),
    DeadTrans(u' ', 0x00B4, 0x00B4),
    DeadTrans(0x0100, 0x00A8, 0x01DE),             // diaeresis: A with macron -> A with diaeresis and macron
    DeadTrans(u'a', 0x00A8, 0x00E4),
    DeadTrans(u'a', u'^', 0x00E2),                 // circumflex
    DeadTrans(0x00B4, u'^', 0x1EA5, DKF_DEAD),     // chained: circumflex then acute
    DeadTrans(u'n', u'~', 0x00F1),                 // tilde
    DeadTrans(u' ', u'~', u'~'),
};
constexpr std::size_t LongRun = 280;

struct DeadKeyTable {
    DEADKEY entries[std::size(HandWrittenDeadKeys) + LongRun + 1];
};

constexpr DeadKeyTable MakeDeadKeys()
{
    DeadKeyTable table{};
    std::size_t at = 0;
    for (const DEADKEY& entry : HandWrittenDeadKeys)
        table.entries[at++] = entry;
    for (char16_t i = 0; i < LongRun; ++i)
        table.entries[at++] = DeadTrans(static_cast<char16_t>(0x0400 + i), 0x02DD, static_cast<char16_t>(0x0400 + i));
    table.entries[at] = {.dwBoth = 0, .wchComposed = 0, .uFlags = 0};
    return table;
}

constinit const DeadKeyTable DeadKeys = MakeDeadKeys();

// Each name starts with its dead character.
alignas(256) const char16_t AcuteName[] = u"\x00B4" u"ACUTE";
const char16_t DiaeresisName[] = u"\x00A8" u"DIAERESIS";
const char16_t CircumflexName[] = u"^CIRCUMFLEX";
const char16_t TildeName[] = u"~TILDE";
const char16_t DoubleAcuteName[] = u"\x02DD" u"DOUBLE ACUTE";

constinit const ImagePointer<const char16_t> KeyNamesDead[] = {
    AcuteName, DiaeresisName, CircumflexName, TildeName, DoubleAcuteName, nullptr,
};

// Far-east key functions: the Kana key toggles, the Convert key sends its
// parameter.
constexpr VK_FPARAM Kana(std::uint32_t param) { return {.NLSFEProcIndex = 4, .NLSFEProcParam = param}; }
constexpr VK_FPARAM SendParameter(std::uint32_t vk) { return {.NLSFEProcIndex = 3, .NLSFEProcParam = vk}; }

const VK_F VkToFunction[] = {
    {.Vk = VK_KANA, .NLSFEProcType = 2, .NLSFEProcCurrent = 1, .NLSFEProcSwitch = 0x08,
     .NLSFEProc = {Kana(0), Kana(1), Kana(2), Kana(3), Kana(4), Kana(5), Kana(6), Kana(7)},
     .NLSFEProcAlt = {Kana(0x10), {}, {}, {}, {}, {}, {}, Kana(0x17)}},
    {.Vk = VK_CONVERT, .NLSFEProcType = 1, .NLSFEProcCurrent = 1, .NLSFEProcSwitch = 0,
     .NLSFEProc = {SendParameter(VK_CONVERT), SendParameter(0x1D), {}, {}, {}, {}, {}, SendParameter(0xFF)},
     .NLSFEProcAlt = {}},
};

const std::uint16_t MouseVKeys[] = {VK_CLEAR, VK_PRIOR, VK_DIVIDE | KBDEXT};

constinit const KBDNLSTABLES KbdNlsTables = {
    .OEMIdentifier = 0x07,
    .LayoutInformation = 0x0011,
    .NumOfVkToF = std::size(VkToFunction),
    .pVkToF = VkToFunction,
    .NumOfMouseVKey = std::size(MouseVKeys),
    .pusMouseVKey = MouseVKeys,
};

[[gnu::section(".data")]] constinit const KBDTABLES KbdTables = {
    .pCharModifiers = &CharModifiers,
    .pVkToWcharTable = VkToWcharTable,
    .pDeadKey = DeadKeys.entries,
    .pKeyNames = KeyNames,
    .pKeyNamesExt = KeyNamesExt,
    .pKeyNamesDead = KeyNamesDead,
    .pusVSCtoVK = ScanCodeToVk,
    .bMaxVSCtoVK = std::size(ScanCodeToVk),
    .pVSCtoVK_E0 = E0ScanCodeToVk,
    .pVSCtoVK_E1 = E1ScanCodeToVk,
    .fLocaleFlags = KBD_VERSION << 16 | KLLF_ALTGR,
    .nLgMax = std::size(Ligature[0].wch),
    .cbLgEntry = sizeof(LIGATURE<4>),
    .pLigature = Ligature,
};

}  // namespace
}  // namespace synthetic

extern "C" const synthetic::KBDTABLES* KbdLayerDescriptor()
{
    return &synthetic::KbdTables;
}

extern "C" const synthetic::KBDNLSTABLES* KbdNlsLayerDescriptor()
{
    return &synthetic::KbdNlsTables;
}
