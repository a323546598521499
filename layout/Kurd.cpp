// Central Kurdish (Arabic script) on the Arabic (101) key arrangement.
//
// Everything here is constant data that the keyboard-layout loader reads in
// place; the one function hands it the address of the descriptor record.

#include <iterator>

#include "kbd.h"

namespace kbd {
namespace {

// Column 0 plain, 1 Shift, 2 Ctrl, 3 Shift+Ctrl; nothing with Alt.
constexpr std::uint16_t MaxModBits = KBDSHIFT | KBDCTRL;

using ImageRecords = Records<ImagePointer, MaxModBits + 1>;
using MODIFIERS = ImageRecords::MODIFIERS;
using VSC_LPWSTR = ImageRecords::VSC_LPWSTR;
using VK_TO_WCHAR_TABLE = ImageRecords::VK_TO_WCHAR_TABLE;
using KBDTABLES = ImageRecords::KBDTABLES;

// ---------------------------------------------------------------------------
// Scan code to virtual key
// ---------------------------------------------------------------------------

// Indexed by plain scan code 0x00-0x7E.
const std::uint16_t ScanCodeToVk[] = {
    /* 0x00 */ VK_NONE_MAPPED,
    /* 0x01 */ VK_ESCAPE,
    /* 0x02 */ '1',
    /* 0x03 */ '2',
    /* 0x04 */ '3',
    /* 0x05 */ '4',
    /* 0x06 */ '5',
    /* 0x07 */ '6',
    /* 0x08 */ '7',
    /* 0x09 */ '8',
    /* 0x0A */ '9',
    /* 0x0B */ '0',
    /* 0x0C */ VK_OEM_MINUS,
    /* 0x0D */ VK_OEM_PLUS,
    /* 0x0E */ VK_BACK,
    /* 0x0F */ VK_TAB,
    /* 0x10 */ 'Q',
    /* 0x11 */ 'W',
    /* 0x12 */ 'E',
    /* 0x13 */ 'R',
    /* 0x14 */ 'T',
    /* 0x15 */ 'Y',
    /* 0x16 */ 'U',
    /* 0x17 */ 'I',
    /* 0x18 */ 'O',
    /* 0x19 */ 'P',
    /* 0x1A */ VK_OEM_4,
    /* 0x1B */ VK_OEM_6,
    /* 0x1C */ VK_RETURN,
    /* 0x1D */ VK_LCONTROL,
    /* 0x1E */ 'A',
    /* 0x1F */ 'S',
    /* 0x20 */ 'D',
    /* 0x21 */ 'F',
    /* 0x22 */ 'G',
    /* 0x23 */ 'H',
    /* 0x24 */ 'J',
    /* 0x25 */ 'K',
    /* 0x26 */ 'L',
    /* 0x27 */ VK_OEM_1,
    /* 0x28 */ VK_OEM_7,
    /* 0x29 */ VK_OEM_3,
    /* 0x2A */ VK_LSHIFT,
    /* 0x2B */ VK_OEM_5,
    /* 0x2C */ 'Z',
    /* 0x2D */ 'X',
    /* 0x2E */ 'C',
    /* 0x2F */ 'V',
    /* 0x30 */ 'B',
    /* 0x31 */ 'N',
    /* 0x32 */ 'M',
    /* 0x33 */ VK_OEM_COMMA,
    /* 0x34 */ VK_OEM_PERIOD,
    /* 0x35 */ VK_OEM_2,
    /* 0x36 */ VK_RSHIFT | KBDEXT,
    /* 0x37 */ VK_MULTIPLY | KBDMULTIVK,
    /* 0x38 */ VK_LMENU,
    /* 0x39 */ VK_SPACE,
    /* 0x3A */ VK_CAPITAL,
    /* 0x3B */ VK_F1,
    /* 0x3C */ VK_F2,
    /* 0x3D */ VK_F3,
    /* 0x3E */ VK_F4,
    /* 0x3F */ VK_F5,
    /* 0x40 */ VK_F6,
    /* 0x41 */ VK_F7,
    /* 0x42 */ VK_F8,
    /* 0x43 */ VK_F9,
    /* 0x44 */ VK_F10,
    /* 0x45 */ VK_NUMLOCK | KBDEXT | KBDMULTIVK,
    /* 0x46 */ VK_SCROLL | KBDMULTIVK,
    /* 0x47 */ VK_HOME | KBDSPECIAL | KBDNUMPAD,
    /* 0x48 */ VK_UP | KBDSPECIAL | KBDNUMPAD,
    /* 0x49 */ VK_PRIOR | KBDSPECIAL | KBDNUMPAD,
    /* 0x4A */ VK_SUBTRACT,
    /* 0x4B */ VK_LEFT | KBDSPECIAL | KBDNUMPAD,
    /* 0x4C */ VK_CLEAR | KBDSPECIAL | KBDNUMPAD,
    /* 0x4D */ VK_RIGHT | KBDSPECIAL | KBDNUMPAD,
    /* 0x4E */ VK_ADD,
    /* 0x4F */ VK_END | KBDSPECIAL | KBDNUMPAD,
    /* 0x50 */ VK_DOWN | KBDSPECIAL | KBDNUMPAD,
    /* 0x51 */ VK_NEXT | KBDSPECIAL | KBDNUMPAD,
    /* 0x52 */ VK_INSERT | KBDSPECIAL | KBDNUMPAD,
    /* 0x53 */ VK_DELETE | KBDSPECIAL | KBDNUMPAD,
    /* 0x54 */ VK_SNAPSHOT,
    /* 0x55 */ VK_NONE_MAPPED,
    /* 0x56 */ VK_OEM_102,
    /* 0x57 */ VK_F11,
    /* 0x58 */ VK_F12,
    /* 0x59 */ VK_CLEAR,
    /* 0x5A */ VK_OEM_WSCTRL,
    /* 0x5B */ VK_OEM_FINISH,
    /* 0x5C */ VK_OEM_JUMP,
    /* 0x5D */ VK_EREOF,
    /* 0x5E */ VK_OEM_BACKTAB,
    /* 0x5F */ VK_OEM_AUTO,
    /* 0x60 */ VK_NONE_MAPPED,
    /* 0x61 */ VK_NONE_MAPPED,
    /* 0x62 */ VK_ZOOM,
    /* 0x63 */ VK_HELP,
    /* 0x64 */ VK_F13,
    /* 0x65 */ VK_F14,
    /* 0x66 */ VK_F15,
    /* 0x67 */ VK_F16,
    /* 0x68 */ VK_F17,
    /* 0x69 */ VK_F18,
    /* 0x6A */ VK_F19,
    /* 0x6B */ VK_F20,
    /* 0x6C */ VK_F21,
    /* 0x6D */ VK_F22,
    /* 0x6E */ VK_F23,
    /* 0x6F */ VK_OEM_PA3,
    /* 0x70 */ VK_NONE_MAPPED,
    /* 0x71 */ VK_OEM_RESET,
    /* 0x72 */ VK_NONE_MAPPED,
    /* 0x73 */ VK_ABNT_C1,
    /* 0x74 */ VK_NONE_MAPPED,
    /* 0x75 */ VK_NONE_MAPPED,
    /* 0x76 */ VK_F24,
    /* 0x77 */ VK_NONE_MAPPED,
    /* 0x78 */ VK_NONE_MAPPED,
    /* 0x79 */ VK_NONE_MAPPED,
    /* 0x7A */ VK_NONE_MAPPED,
    /* 0x7B */ VK_OEM_PA1,
    /* 0x7C */ VK_TAB,
    /* 0x7D */ VK_NONE_MAPPED,
    /* 0x7E */ VK_ABNT_C2,
};
static_assert(std::size(ScanCodeToVk) == 0x7F);

// Num Enter and Break stand after the media and browser keys.
const VSC_VK E0ScanCodeToVk[] = {
    {.Vsc = 0x10, .Vk = VK_MEDIA_PREV_TRACK | KBDEXT},
    {.Vsc = 0x19, .Vk = VK_MEDIA_NEXT_TRACK | KBDEXT},
    {.Vsc = 0x1D, .Vk = VK_RCONTROL | KBDEXT},
    {.Vsc = 0x20, .Vk = VK_VOLUME_MUTE | KBDEXT},
    {.Vsc = 0x21, .Vk = VK_LAUNCH_APP2 | KBDEXT},
    {.Vsc = 0x22, .Vk = VK_MEDIA_PLAY_PAUSE | KBDEXT},
    {.Vsc = 0x24, .Vk = VK_MEDIA_STOP | KBDEXT},
    {.Vsc = 0x2E, .Vk = VK_VOLUME_DOWN | KBDEXT},
    {.Vsc = 0x30, .Vk = VK_VOLUME_UP | KBDEXT},
    {.Vsc = 0x32, .Vk = VK_BROWSER_HOME | KBDEXT},
    {.Vsc = 0x35, .Vk = VK_DIVIDE | KBDEXT},
    {.Vsc = 0x37, .Vk = VK_SNAPSHOT | KBDEXT},
    {.Vsc = 0x38, .Vk = VK_RMENU | KBDEXT},
    {.Vsc = 0x47, .Vk = VK_HOME | KBDEXT},
    {.Vsc = 0x48, .Vk = VK_UP | KBDEXT},
    {.Vsc = 0x49, .Vk = VK_PRIOR | KBDEXT},
    {.Vsc = 0x4B, .Vk = VK_LEFT | KBDEXT},
    {.Vsc = 0x4D, .Vk = VK_RIGHT | KBDEXT},
    {.Vsc = 0x4F, .Vk = VK_END | KBDEXT},
    {.Vsc = 0x50, .Vk = VK_DOWN | KBDEXT},
    {.Vsc = 0x51, .Vk = VK_NEXT | KBDEXT},
    {.Vsc = 0x52, .Vk = VK_INSERT | KBDEXT},
    {.Vsc = 0x53, .Vk = VK_DELETE | KBDEXT},
    {.Vsc = 0x5B, .Vk = VK_LWIN | KBDEXT},
    {.Vsc = 0x5C, .Vk = VK_RWIN | KBDEXT},
    {.Vsc = 0x5D, .Vk = VK_APPS | KBDEXT},
    {.Vsc = 0x5F, .Vk = VK_SLEEP | KBDEXT},
    {.Vsc = 0x65, .Vk = VK_BROWSER_SEARCH | KBDEXT},
    {.Vsc = 0x66, .Vk = VK_BROWSER_FAVORITES | KBDEXT},
    {.Vsc = 0x67, .Vk = VK_BROWSER_REFRESH | KBDEXT},
    {.Vsc = 0x68, .Vk = VK_BROWSER_STOP | KBDEXT},
    {.Vsc = 0x69, .Vk = VK_BROWSER_FORWARD | KBDEXT},
    {.Vsc = 0x6A, .Vk = VK_BROWSER_BACK | KBDEXT},
    {.Vsc = 0x6B, .Vk = VK_LAUNCH_APP1 | KBDEXT},
    {.Vsc = 0x6C, .Vk = VK_LAUNCH_MAIL | KBDEXT},
    {.Vsc = 0x6D, .Vk = VK_LAUNCH_MEDIA_SELECT | KBDEXT},
    {.Vsc = 0x1C, .Vk = VK_RETURN | KBDEXT},
    {.Vsc = 0x46, .Vk = VK_CANCEL | KBDEXT},
    {.Vsc = 0, .Vk = 0},
};

const VSC_VK E1ScanCodeToVk[] = {
    {.Vsc = 0x1D, .Vk = VK_PAUSE},
    {.Vsc = 0, .Vk = 0},
};

// ---------------------------------------------------------------------------
// Key names
// ---------------------------------------------------------------------------

// F13-F24 are named at 0x7C-0x87 whatever the scan-code map gives them.
constinit const VSC_LPWSTR KeyNames[] = {
    {.vsc = 0x01, .pwsz = u"Esc"},
    {.vsc = 0x0E, .pwsz = u"Backspace"},
    {.vsc = 0x0F, .pwsz = u"Tab"},
    {.vsc = 0x1C, .pwsz = u"Enter"},
    {.vsc = 0x1D, .pwsz = u"Ctrl"},
    {.vsc = 0x2A, .pwsz = u"Shift"},
    {.vsc = 0x36, .pwsz = u"Right Shift"},
    {.vsc = 0x37, .pwsz = u"Num *"},
    {.vsc = 0x38, .pwsz = u"Alt"},
    {.vsc = 0x39, .pwsz = u"Space"},
    {.vsc = 0x3A, .pwsz = u"Caps Lock"},
    {.vsc = 0x3B, .pwsz = u"F1"},
    {.vsc = 0x3C, .pwsz = u"F2"},
    {.vsc = 0x3D, .pwsz = u"F3"},
    {.vsc = 0x3E, .pwsz = u"F4"},
    {.vsc = 0x3F, .pwsz = u"F5"},
    {.vsc = 0x40, .pwsz = u"F6"},
    {.vsc = 0x41, .pwsz = u"F7"},
    {.vsc = 0x42, .pwsz = u"F8"},
    {.vsc = 0x43, .pwsz = u"F9"},
    {.vsc = 0x44, .pwsz = u"F10"},
    {.vsc = 0x45, .pwsz = u"Pause"},
    {.vsc = 0x46, .pwsz = u"Scroll Lock"},
    {.vsc = 0x47, .pwsz = u"Num 7"},
    {.vsc = 0x48, .pwsz = u"Num 8"},
    {.vsc = 0x49, .pwsz = u"Num 9"},
    {.vsc = 0x4A, .pwsz = u"Num -"},
    {.vsc = 0x4B, .pwsz = u"Num 4"},
    {.vsc = 0x4C, .pwsz = u"Num 5"},
    {.vsc = 0x4D, .pwsz = u"Num 6"},
    {.vsc = 0x4E, .pwsz = u"Num +"},
    {.vsc = 0x4F, .pwsz = u"Num 1"},
    {.vsc = 0x50, .pwsz = u"Num 2"},
    {.vsc = 0x51, .pwsz = u"Num 3"},
    {.vsc = 0x52, .pwsz = u"Num 0"},
    {.vsc = 0x53, .pwsz = u"Num Del"},
    {.vsc = 0x54, .pwsz = u"Sys Req"},
    {.vsc = 0x57, .pwsz = u"F11"},
    {.vsc = 0x58, .pwsz = u"F12"},
    {.vsc = 0x7C, .pwsz = u"F13"},
    {.vsc = 0x7D, .pwsz = u"F14"},
    {.vsc = 0x7E, .pwsz = u"F15"},
    {.vsc = 0x7F, .pwsz = u"F16"},
    {.vsc = 0x80, .pwsz = u"F17"},
    {.vsc = 0x81, .pwsz = u"F18"},
    {.vsc = 0x82, .pwsz = u"F19"},
    {.vsc = 0x83, .pwsz = u"F20"},
    {.vsc = 0x84, .pwsz = u"F21"},
    {.vsc = 0x85, .pwsz = u"F22"},
    {.vsc = 0x86, .pwsz = u"F23"},
    {.vsc = 0x87, .pwsz = u"F24"},
    {.vsc = 0, .pwsz = nullptr},
};

constinit const VSC_LPWSTR KeyNamesExt[] = {
    {.vsc = 0x1C, .pwsz = u"Num Enter"},
    {.vsc = 0x1D, .pwsz = u"Right Ctrl"},
    {.vsc = 0x35, .pwsz = u"Num /"},
    {.vsc = 0x37, .pwsz = u"Prnt Scrn"},
    {.vsc = 0x38, .pwsz = u"Right Alt"},
    {.vsc = 0x45, .pwsz = u"Num Lock"},
    {.vsc = 0x46, .pwsz = u"Break"},
    {.vsc = 0x47, .pwsz = u"Home"},
    {.vsc = 0x48, .pwsz = u"Up"},
    {.vsc = 0x49, .pwsz = u"Page Up"},
    {.vsc = 0x4B, .pwsz = u"Left"},
    {.vsc = 0x4D, .pwsz = u"Right"},
    {.vsc = 0x4F, .pwsz = u"End"},
    {.vsc = 0x50, .pwsz = u"Down"},
    {.vsc = 0x51, .pwsz = u"Page Down"},
    {.vsc = 0x52, .pwsz = u"Insert"},
    {.vsc = 0x53, .pwsz = u"Delete"},
    {.vsc = 0x54, .pwsz = u"<00>"},
    {.vsc = 0x56, .pwsz = u"Help"},
    {.vsc = 0x5B, .pwsz = u"Left Windows"},
    {.vsc = 0x5C, .pwsz = u"Right Windows"},
    {.vsc = 0x5D, .pwsz = u"Application"},
    {.vsc = 0, .pwsz = nullptr},
};

// ---------------------------------------------------------------------------
// Modifiers and columns
// ---------------------------------------------------------------------------

const VK_TO_BIT VkToBit[] = {
    {.Vk = VK_SHIFT, .ModBits = KBDSHIFT},
    {.Vk = VK_CONTROL, .ModBits = KBDCTRL},
    {.Vk = VK_MENU, .ModBits = KBDALT},
    {.Vk = 0, .ModBits = 0},
};

constinit const MODIFIERS CharModifiers = {
    .pVkToBit = VkToBit,
    .wMaxModBits = MaxModBits,
    .ModNumber = {0, 1, 2, 3},
};

// ---------------------------------------------------------------------------
// Characters
// ---------------------------------------------------------------------------

constexpr char16_t NONE = WCH_NONE;
constexpr char16_t LGTR = WCH_LGTR;

// Editing keys.
//                       VirtualKey  Attr  Plain   Shift   Ctrl
const VK_TO_WCHARS3 VkToWchars3[] = {
    {.VirtualKey = VK_BACK,   .Attributes = 0, .wch = {0x0008, 0x0008, 0x007F}},
    {.VirtualKey = VK_ESCAPE, .Attributes = 0, .wch = {0x001B, 0x001B, 0x001B}},
    {.VirtualKey = VK_RETURN, .Attributes = 0, .wch = {0x000D, 0x000D, 0x000A}},
    {.VirtualKey = VK_CANCEL, .Attributes = 0, .wch = {0x0003, 0x0003, 0x0003}},
    {.VirtualKey = 0,         .Attributes = 0, .wch = {0, 0, 0}},
};

// Main typing keys.
//                           VirtualKey     Attr  Plain   Shift   Ctrl    Shift+Ctrl
const VK_TO_WCHARS4 VkToWchars4[] = {
    {.VirtualKey = '1',           .Attributes = 0, .wch = {u'1', u'!', NONE, 0x200D}},    // zero width joiner
    {.VirtualKey = '2',           .Attributes = 0, .wch = {u'2', u'@', NONE, 0x200C}},    // zero width non-joiner
    {.VirtualKey = '3',           .Attributes = 0, .wch = {u'3', u'#', NONE, 0x200E}},    // left-to-right mark
    {.VirtualKey = '4',           .Attributes = 0, .wch = {u'4', u'$', NONE, 0x200F}},    // right-to-left mark
    {.VirtualKey = '5',           .Attributes = 0, .wch = {u'5', u'%', NONE, NONE}},
    {.VirtualKey = '6',           .Attributes = 0, .wch = {u'6', u'^', NONE, NONE}},
    {.VirtualKey = '7',           .Attributes = 0, .wch = {u'7', u'&', NONE, NONE}},
    {.VirtualKey = '8',           .Attributes = 0, .wch = {u'8', u'*', NONE, NONE}},
    {.VirtualKey = '9',           .Attributes = 0, .wch = {u'9', u')', NONE, NONE}},
    {.VirtualKey = '0',           .Attributes = 0, .wch = {u'0', u'(', NONE, NONE}},
    {.VirtualKey = VK_OEM_MINUS,  .Attributes = 0, .wch = {u'-', u'_', NONE, NONE}},
    {.VirtualKey = VK_OEM_PLUS,   .Attributes = 0, .wch = {u'=', u'+', NONE, NONE}},
    {.VirtualKey = 'Q',           .Attributes = 0, .wch = {0x0686, 0x0636, NONE, NONE}},  // tcheh, dad
    {.VirtualKey = 'W',           .Attributes = 0, .wch = {0x06B5, 0x0635, NONE, NONE}},  // lam with small v, sad
    {.VirtualKey = 'E',           .Attributes = 0, .wch = {0x067E, 0x062B, NONE, NONE}},  // peh, theh
    {.VirtualKey = 'R',           .Attributes = 0, .wch = {0x0642, 0x0642, NONE, NONE}},  // qaf, qaf
    {.VirtualKey = 'T',           .Attributes = 0, .wch = {0x0641, 0x0641, NONE, NONE}},  // feh, feh
    {.VirtualKey = 'Y',           .Attributes = 0, .wch = {0x063A, 0x0625, NONE, NONE}},  // ghain, alef with hamza below
    {.VirtualKey = 'U',           .Attributes = 0, .wch = {0x0639, 0x2019, NONE, NONE}},  // ain, right single quotation mark
    {.VirtualKey = 'I',           .Attributes = 0, .wch = {0x0647, 0x00F7, NONE, NONE}},  // heh, division sign
    {.VirtualKey = 'O',           .Attributes = 0, .wch = {0x062E, 0x00D7, NONE, NONE}},  // khah, multiplication sign
    {.VirtualKey = 'P',           .Attributes = 0, .wch = {0x062D, 0x061B, NONE, NONE}},  // hah, Arabic semicolon
    {.VirtualKey = VK_OEM_4,      .Attributes = 0, .wch = {0x062C, u'<', 0x001B, NONE}},  // jeem
    {.VirtualKey = VK_OEM_6,      .Attributes = 0, .wch = {0x062F, u'>', 0x001D, NONE}},  // dal
    {.VirtualKey = 'A',           .Attributes = 0, .wch = {0x0634, 0x0650, NONE, NONE}},  // sheen, kasra
    {.VirtualKey = 'S',           .Attributes = 0, .wch = {0x0633, 0x064D, NONE, NONE}},  // seen, kasratan
    {.VirtualKey = 'D',           .Attributes = 0, .wch = {0x06CC, u']', NONE, NONE}},    // Farsi yeh
    {.VirtualKey = 'F',           .Attributes = 0, .wch = {0x0628, u'[', NONE, NONE}},    // beh
    {.VirtualKey = 'G',           .Attributes = 0, .wch = {0x0644, 0x06B5, NONE, NONE}},  // lam, lam with small v
    {.VirtualKey = 'H',           .Attributes = 0, .wch = {0x0627, 0x0623, NONE, NONE}},  // alef, alef with hamza above
    {.VirtualKey = 'J',           .Attributes = 0, .wch = {0x062A, 0x0640, NONE, NONE}},  // teh, tatweel
    {.VirtualKey = 'K',           .Attributes = 0, .wch = {0x0646, 0x060C, NONE, NONE}},  // noon, Arabic comma
    {.VirtualKey = 'L',           .Attributes = 0, .wch = {0x0645, u'/', NONE, NONE}},    // meem
    {.VirtualKey = VK_OEM_1,      .Attributes = 0, .wch = {0x06A9, u':', NONE, NONE}},    // keheh
    {.VirtualKey = VK_OEM_7,      .Attributes = 0, .wch = {0x06AF, 0x0637, 0x001C, NONE}}, // gaf, tah
    {.VirtualKey = VK_OEM_3,      .Attributes = 0, .wch = {0x0698, 0x0630, NONE, NONE}},  // jeh, thal
    {.VirtualKey = VK_OEM_5,      .Attributes = 0, .wch = {u'\\', 0x061F, 0x001C, NONE}}, // Arabic question mark
    {.VirtualKey = 'Z',           .Attributes = 0, .wch = {0x0626, u'~', NONE, NONE}},    // yeh with hamza above
    {.VirtualKey = 'X',           .Attributes = 0, .wch = {0x0621, 0x0652, NONE, NONE}},  // hamza, sukun
    {.VirtualKey = 'C',           .Attributes = 0, .wch = {0x06C6, 0x0624, NONE, NONE}},  // oe, waw with hamza above
    {.VirtualKey = 'V',           .Attributes = 0, .wch = {0x0631, 0x0695, NONE, NONE}},  // reh, reh with small v below
    {.VirtualKey = 'B',           .Attributes = 0, .wch = {0x0695, LGTR, NONE, NONE}},    // reh with small v below
    {.VirtualKey = 'N',           .Attributes = 0, .wch = {0x06CE, 0x064A, NONE, NONE}},  // yeh with small v, yeh
    {.VirtualKey = 'M',           .Attributes = 0, .wch = {0x06D5, 0x0629, NONE, NONE}},  // ae, teh marbuta
    {.VirtualKey = VK_OEM_COMMA,  .Attributes = 0, .wch = {0x0648, u',', NONE, NONE}},    // waw
    {.VirtualKey = VK_OEM_PERIOD, .Attributes = 0, .wch = {0x0632, u'.', NONE, NONE}},    // zain
    {.VirtualKey = VK_OEM_2,      .Attributes = 0, .wch = {0x06A4, 0x0638, NONE, NONE}},  // veh, zah
    {.VirtualKey = VK_SPACE,      .Attributes = 0, .wch = {u' ', u' ', u' ', NONE}},
    {.VirtualKey = VK_OEM_102,    .Attributes = 0, .wch = {u'\\', u'|', NONE, NONE}},
    {.VirtualKey = VK_DECIMAL,    .Attributes = 0, .wch = {u'.', u'.', NONE, NONE}},
    {.VirtualKey = 0,             .Attributes = 0, .wch = {0, 0, 0, 0}},
};

// Tab and the keypad operators.
//                           VirtualKey   Attr  Plain  Shift
const VK_TO_WCHARS2 VkToWchars2[] = {
    {.VirtualKey = VK_TAB,      .Attributes = 0, .wch = {u'\t', u'\t'}},
    {.VirtualKey = VK_ADD,      .Attributes = 0, .wch = {u'+', u'+'}},
    {.VirtualKey = VK_DIVIDE,   .Attributes = 0, .wch = {u'/', u'/'}},
    {.VirtualKey = VK_MULTIPLY, .Attributes = 0, .wch = {u'*', u'*'}},
    {.VirtualKey = VK_SUBTRACT, .Attributes = 0, .wch = {u'-', u'-'}},
    {.VirtualKey = 0,           .Attributes = 0, .wch = {0, 0}},
};

// Keypad digits; searched last.
//                           VirtualKey  Attr  Plain
const VK_TO_WCHARS1 VkToWchars1[] = {
    {.VirtualKey = VK_NUMPAD0, .Attributes = 0, .wch = {u'0'}},
    {.VirtualKey = VK_NUMPAD1, .Attributes = 0, .wch = {u'1'}},
    {.VirtualKey = VK_NUMPAD2, .Attributes = 0, .wch = {u'2'}},
    {.VirtualKey = VK_NUMPAD3, .Attributes = 0, .wch = {u'3'}},
    {.VirtualKey = VK_NUMPAD4, .Attributes = 0, .wch = {u'4'}},
    {.VirtualKey = VK_NUMPAD5, .Attributes = 0, .wch = {u'5'}},
    {.VirtualKey = VK_NUMPAD6, .Attributes = 0, .wch = {u'6'}},
    {.VirtualKey = VK_NUMPAD7, .Attributes = 0, .wch = {u'7'}},
    {.VirtualKey = VK_NUMPAD8, .Attributes = 0, .wch = {u'8'}},
    {.VirtualKey = VK_NUMPAD9, .Attributes = 0, .wch = {u'9'}},
    {.VirtualKey = 0,          .Attributes = 0, .wch = {0}},
};

// The entry for a table of rows of N columns.
template <std::size_t N>
constexpr VK_TO_WCHAR_TABLE TableOf(const VK_TO_WCHARS<N>* rows)
{
    return {.pVkToWchars = rows,
            .nModifications = std::size(VK_TO_WCHARS<N>{}.wch),
            .cbSize = sizeof(VK_TO_WCHARS<N>)};
}

// The reader searches in this order, so the keypad digits stand last.
constinit const VK_TO_WCHAR_TABLE VkToWcharTable[] = {
    TableOf(VkToWchars3),
    TableOf(VkToWchars4),
    TableOf(VkToWchars2),
    TableOf(VkToWchars1),
    {.pVkToWchars = nullptr, .nModifications = 0, .cbSize = 0},
};

// Shift+B types lam then alef, not a presentation-form ligature.
//                       VirtualKey  Column  Characters
const LIGATURE2 Ligature[] = {
    {.VirtualKey = 'B', .ModificationNumber = 1, .wch = {0x0644, 0x0627}},  // lam, alef
    {.VirtualKey = 0,   .ModificationNumber = 0, .wch = {0, 0}},
};

// ---------------------------------------------------------------------------
// The descriptor
// ---------------------------------------------------------------------------

// The descriptor opens the image's data section: the linker lays out .data
// contributions before the export directory, the merged read-only data and
// the code.
[[gnu::section(".data")]] constinit const KBDTABLES KbdTables = {
    .pCharModifiers = &CharModifiers,
    .pVkToWcharTable = VkToWcharTable,
    .pDeadKey = nullptr,
    .pKeyNames = KeyNames,
    .pKeyNamesExt = KeyNamesExt,
    .pKeyNamesDead = nullptr,
    .pusVSCtoVK = ScanCodeToVk,
    .bMaxVSCtoVK = std::size(ScanCodeToVk),
    .pVSCtoVK_E0 = E0ScanCodeToVk,
    .pVSCtoVK_E1 = E1ScanCodeToVk,
    .fLocaleFlags = KBD_VERSION << 16,
    .nLgMax = std::size(Ligature[0].wch),
    .cbLgEntry = sizeof(LIGATURE2),
    .pLigature = Ligature,
};

}  // namespace
}  // namespace kbd

extern "C" const kbd::KBDTABLES* KbdLayerDescriptor()
{
    return &kbd::KbdTables;
}
