// What Kurd.dll types, read from each built form of it the way the loader
// reads it. Expected values are written out here from the layout's design,
// not taken from the tables, so a wrong table shows up as a failing row; the
// one suite runs on every form.
#include "kbdread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "built_images.h"

namespace {

using kbdread::KeyOutcome;
using kbdread::Layout;
using kbdread::Prefix;

// Published virtual-key codes.
constexpr std::uint16_t VK_CANCEL = 0x03, VK_BACK = 0x08, VK_TAB = 0x09, VK_CLEAR = 0x0C, VK_RETURN = 0x0D,
                        VK_PAUSE = 0x13, VK_CAPITAL = 0x14, VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21,
                        VK_NEXT = 0x22, VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26,
                        VK_RIGHT = 0x27, VK_DOWN = 0x28, VK_SNAPSHOT = 0x2C, VK_INSERT = 0x2D, VK_DELETE = 0x2E,
                        VK_LWIN = 0x5B, VK_RWIN = 0x5C, VK_APPS = 0x5D, VK_NUMPAD0 = 0x60, VK_NUMPAD1 = 0x61,
                        VK_NUMPAD2 = 0x62, VK_NUMPAD3 = 0x63, VK_NUMPAD4 = 0x64, VK_NUMPAD5 = 0x65,
                        VK_NUMPAD6 = 0x66, VK_NUMPAD7 = 0x67, VK_NUMPAD8 = 0x68, VK_NUMPAD9 = 0x69,
                        VK_MULTIPLY = 0x6A, VK_ADD = 0x6B, VK_SUBTRACT = 0x6D, VK_DECIMAL = 0x6E,
                        VK_DIVIDE = 0x6F, VK_F1 = 0x70, VK_F2 = 0x71, VK_F3 = 0x72, VK_F4 = 0x73, VK_F5 = 0x74,
                        VK_F6 = 0x75, VK_F7 = 0x76, VK_F8 = 0x77, VK_F9 = 0x78, VK_F10 = 0x79, VK_F11 = 0x7A,
                        VK_F12 = 0x7B, VK_F13 = 0x7C, VK_NUMLOCK = 0x90, VK_SCROLL = 0x91, VK_LSHIFT = 0xA0,
                        VK_RSHIFT = 0xA1, VK_LCONTROL = 0xA2, VK_RCONTROL = 0xA3, VK_LMENU = 0xA4,
                        VK_RMENU = 0xA5, VK_OEM_1 = 0xBA, VK_OEM_PLUS = 0xBB, VK_OEM_COMMA = 0xBC,
                        VK_OEM_MINUS = 0xBD, VK_OEM_PERIOD = 0xBE, VK_OEM_2 = 0xBF, VK_OEM_3 = 0xC0,
                        VK_ABNT_C2 = 0xC2, VK_OEM_4 = 0xDB, VK_OEM_5 = 0xDC, VK_OEM_6 = 0xDD, VK_OEM_7 = 0xDE,
                        VK_OEM_102 = 0xE2, VK_NONE = 0xFF;

// Flags in the high byte of a scan-code map value.
constexpr std::uint16_t KBDEXT = 0x0100, KBDMULTIVK = 0x0200, KBDSPECIAL = 0x0400, KBDNUMPAD = 0x0800;


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
        char unit[8];
        std::snprintf(unit, sizeof unit, "0x%04X", static_cast<unsigned>(u));
        if (!out.empty())
            out += ' ';
        out += unit;
    }
    return out.empty() ? "(nothing)" : out;
}

const Layout& layoutOf(kbdread::Form form)
{
    static std::map<kbdread::Form, Layout> layouts;
    auto found = layouts.find(form);
    if (found == layouts.end())
        found = layouts.emplace(form, kbdread::readLayout(builtImage(form))).first;
    return found->second;
}

// The characters a key types, or "(nothing)"; dead keys and missing
// ligatures never occur in this layout, so they read as failures.
std::string typedBy(const Layout& layout, std::uint8_t vk, unsigned bits)
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

// The layout of the form under test.
class EveryForm : public testing::TestWithParam<kbdread::Form> {
protected:
    const Layout& kurd() const { return layoutOf(GetParam()); }
    std::string typed(std::uint8_t vk, unsigned bits) const { return typedBy(kurd(), vk, bits); }
};

// The groups of the suite, each run on every form.
using Keys = EveryForm;
using Modifiers = EveryForm;
using Tables = EveryForm;
using Record = EveryForm;
using ScanCodes = EveryForm;
using Relocation = EveryForm;
INSTANTIATE_TEST_SUITE_P(Forms, Keys, everyForm(), FormName());
INSTANTIATE_TEST_SUITE_P(Forms, Modifiers, everyForm(), FormName());
INSTANTIATE_TEST_SUITE_P(Forms, Tables, everyForm(), FormName());
INSTANTIATE_TEST_SUITE_P(Forms, Record, everyForm(), FormName());
INSTANTIATE_TEST_SUITE_P(Forms, ScanCodes, everyForm(), FormName());
INSTANTIATE_TEST_SUITE_P(Forms, Relocation, everyForm(), FormName());

// ---------------------------------------------------------------------------
// Every key, as a user meets it: where it sits, the scan code it sends (E0 and
// E1 prefixes as the high byte), the virtual key and flags the scan-code maps
// give it, what it types in each column and the name listed for its scan code.

enum class KeyboardRow { Function, Number, Top, Home, Bottom, Space, Editing, Keypad, Unlabelled };

const char* toString(KeyboardRow row)
{
    switch (row) {
    case KeyboardRow::Function: return "function row";
    case KeyboardRow::Number: return "number row";
    case KeyboardRow::Top: return "top letter row";
    case KeyboardRow::Home: return "home row";
    case KeyboardRow::Bottom: return "bottom letter row";
    case KeyboardRow::Space: return "space bar row";
    case KeyboardRow::Editing: return "editing keys";
    case KeyboardRow::Keypad: return "keypad";
    case KeyboardRow::Unlabelled: return "scan codes of no 101/102 key";
    }
    return "?";
}

constexpr std::uint16_t E0 = 0xE000, E1 = 0xE100;

// Indexed by the modifier bits held: Shift 1, Ctrl 2.
constexpr const char* kColumnNames[] = {"plain", "Shift", "Ctrl", "Shift+Ctrl"};

struct Key {
    KeyboardRow row;
    const char* legend;
    std::uint16_t scanCode;                         // prefix in the high byte
    std::optional<std::uint16_t> mapped;            // nullopt: no map entry for the scan code
    const char16_t* typed[std::size(kColumnNames)]; // u"": the key types nothing
    const char16_t* name;                           // nullptr: the scan code has no name entry
};

constexpr std::optional<std::uint16_t> kNoEntry;
constexpr const char16_t* nothing = u"";

using enum KeyboardRow;

// Keypad keys that carry KBDNUMPAD are read with Num Lock on: the loader then
// turns the key's virtual key into the keypad key at the same place.
const Key kKeys[] = {
    // row       legend              scan code  virtual key + flags                 plain      Shift            Ctrl     Shift+Ctrl name
    {Function,   "Esc",              0x01,      VK_ESCAPE,                          u"\x1B",   u"\x1B",         u"\x1B", nothing,   u"Esc"},
    {Function,   "F1",               0x3B,      VK_F1,                              nothing,   nothing,         nothing, nothing,   u"F1"},
    {Function,   "F2",               0x3C,      VK_F2,                              nothing,   nothing,         nothing, nothing,   u"F2"},
    {Function,   "F3",               0x3D,      VK_F3,                              nothing,   nothing,         nothing, nothing,   u"F3"},
    {Function,   "F4",               0x3E,      VK_F4,                              nothing,   nothing,         nothing, nothing,   u"F4"},
    {Function,   "F5",               0x3F,      VK_F5,                              nothing,   nothing,         nothing, nothing,   u"F5"},
    {Function,   "F6",               0x40,      VK_F6,                              nothing,   nothing,         nothing, nothing,   u"F6"},
    {Function,   "F7",               0x41,      VK_F7,                              nothing,   nothing,         nothing, nothing,   u"F7"},
    {Function,   "F8",               0x42,      VK_F8,                              nothing,   nothing,         nothing, nothing,   u"F8"},
    {Function,   "F9",               0x43,      VK_F9,                              nothing,   nothing,         nothing, nothing,   u"F9"},
    {Function,   "F10",              0x44,      VK_F10,                             nothing,   nothing,         nothing, nothing,   u"F10"},
    {Function,   "F11",              0x57,      VK_F11,                             nothing,   nothing,         nothing, nothing,   u"F11"},
    {Function,   "F12",              0x58,      VK_F12,                             nothing,   nothing,         nothing, nothing,   u"F12"},
    {Function,   "Print Screen",     E0 | 0x37, KBDEXT | VK_SNAPSHOT,               nothing,   nothing,         nothing, nothing,   u"Prnt Scrn"},
    {Function,   "Alt+Print Screen", 0x54,      VK_SNAPSHOT,                        nothing,   nothing,         nothing, nothing,   u"Sys Req"},
    {Function,   "Scroll Lock",      0x46,      KBDMULTIVK | VK_SCROLL,             nothing,   nothing,         nothing, nothing,   u"Scroll Lock"},
    {Function,   "Pause",            E1 | 0x1D, VK_PAUSE,                           nothing,   nothing,         nothing, nothing,   nullptr},
    {Function,   "Ctrl+Pause",       E0 | 0x46, KBDEXT | VK_CANCEL,                 u"\x03",   u"\x03",         u"\x03", nothing,   u"Break"},

    {Number,     "`",                0x29,      VK_OEM_3,                           u"\x0698", u"\x0630",       nothing, nothing,   nullptr}, // JEH, THAL
    {Number,     "1",                0x02,      '1',                                u"1",      u"!",            nothing, u"\x200D", nullptr}, // ZERO WIDTH JOINER
    {Number,     "2",                0x03,      '2',                                u"2",      u"@",            nothing, u"\x200C", nullptr}, // ZERO WIDTH NON-JOINER
    {Number,     "3",                0x04,      '3',                                u"3",      u"#",            nothing, u"\x200E", nullptr}, // LEFT-TO-RIGHT MARK
    {Number,     "4",                0x05,      '4',                                u"4",      u"$",            nothing, u"\x200F", nullptr}, // RIGHT-TO-LEFT MARK
    {Number,     "5",                0x06,      '5',                                u"5",      u"%",            nothing, nothing,   nullptr},
    {Number,     "6",                0x07,      '6',                                u"6",      u"^",            nothing, nothing,   nullptr},
    {Number,     "7",                0x08,      '7',                                u"7",      u"&",            nothing, nothing,   nullptr},
    {Number,     "8",                0x09,      '8',                                u"8",      u"*",            nothing, nothing,   nullptr},
    {Number,     "9",                0x0A,      '9',                                u"9",      u")",            nothing, nothing,   nullptr},
    {Number,     "0",                0x0B,      '0',                                u"0",      u"(",            nothing, nothing,   nullptr},
    {Number,     "-",                0x0C,      VK_OEM_MINUS,                       u"-",      u"_",            nothing, nothing,   nullptr},
    {Number,     "=",                0x0D,      VK_OEM_PLUS,                        u"=",      u"+",            nothing, nothing,   nullptr},
    {Number,     "Backspace",        0x0E,      VK_BACK,                            u"\x08",   u"\x08",         u"\x7F", nothing,   u"Backspace"},

    {Top,        "Tab",              0x0F,      VK_TAB,                             u"\t",     u"\t",           nothing, nothing,   u"Tab"},
    {Top,        "Q",                0x10,      'Q',                                u"\x0686", u"\x0636",       nothing, nothing,   nullptr}, // TCHEH, DAD
    {Top,        "W",                0x11,      'W',                                u"\x06B5", u"\x0635",       nothing, nothing,   nullptr}, // LAM WITH SMALL V, SAD
    {Top,        "E",                0x12,      'E',                                u"\x067E", u"\x062B",       nothing, nothing,   nullptr}, // PEH, THEH
    {Top,        "R",                0x13,      'R',                                u"\x0642", u"\x0642",       nothing, nothing,   nullptr}, // QAF, QAF
    {Top,        "T",                0x14,      'T',                                u"\x0641", u"\x0641",       nothing, nothing,   nullptr}, // FEH, FEH
    {Top,        "Y",                0x15,      'Y',                                u"\x063A", u"\x0625",       nothing, nothing,   nullptr}, // GHAIN, ALEF WITH HAMZA BELOW
    {Top,        "U",                0x16,      'U',                                u"\x0639", u"\x2019",       nothing, nothing,   nullptr}, // AIN, RIGHT SINGLE QUOTATION MARK
    {Top,        "I",                0x17,      'I',                                u"\x0647", u"\x00F7",       nothing, nothing,   nullptr}, // HEH, DIVISION SIGN
    {Top,        "O",                0x18,      'O',                                u"\x062E", u"\x00D7",       nothing, nothing,   nullptr}, // KHAH, MULTIPLICATION SIGN
    {Top,        "P",                0x19,      'P',                                u"\x062D", u"\x061B",       nothing, nothing,   nullptr}, // HAH, ARABIC SEMICOLON
    {Top,        "[",                0x1A,      VK_OEM_4,                           u"\x062C", u"<",            u"\x1B", nothing,   nullptr}, // JEEM
    {Top,        "]",                0x1B,      VK_OEM_6,                           u"\x062F", u">",            u"\x1D", nothing,   nullptr}, // DAL
    {Top,        "\\",               0x2B,      VK_OEM_5,                           u"\\",     u"\x061F",       u"\x1C", nothing,   nullptr}, // ARABIC QUESTION MARK

    {Home,       "Caps Lock",        0x3A,      VK_CAPITAL,                         nothing,   nothing,         nothing, nothing,   u"Caps Lock"},
    {Home,       "A",                0x1E,      'A',                                u"\x0634", u"\x0650",       nothing, nothing,   nullptr}, // SHEEN, KASRA
    {Home,       "S",                0x1F,      'S',                                u"\x0633", u"\x064D",       nothing, nothing,   nullptr}, // SEEN, KASRATAN
    {Home,       "D",                0x20,      'D',                                u"\x06CC", u"]",            nothing, nothing,   nullptr}, // FARSI YEH
    {Home,       "F",                0x21,      'F',                                u"\x0628", u"[",            nothing, nothing,   nullptr}, // BEH
    {Home,       "G",                0x22,      'G',                                u"\x0644", u"\x06B5",       nothing, nothing,   nullptr}, // LAM, LAM WITH SMALL V
    {Home,       "H",                0x23,      'H',                                u"\x0627", u"\x0623",       nothing, nothing,   nullptr}, // ALEF, ALEF WITH HAMZA ABOVE
    {Home,       "J",                0x24,      'J',                                u"\x062A", u"\x0640",       nothing, nothing,   nullptr}, // TEH, TATWEEL
    {Home,       "K",                0x25,      'K',                                u"\x0646", u"\x060C",       nothing, nothing,   nullptr}, // NOON, ARABIC COMMA
    {Home,       "L",                0x26,      'L',                                u"\x0645", u"/",            nothing, nothing,   nullptr}, // MEEM
    {Home,       ";",                0x27,      VK_OEM_1,                           u"\x06A9", u":",            nothing, nothing,   nullptr}, // KEHEH
    {Home,       "'",                0x28,      VK_OEM_7,                           u"\x06AF", u"\x0637",       u"\x1C", nothing,   nullptr}, // GAF, TAH
    {Home,       "Enter",            0x1C,      VK_RETURN,                          u"\r",     u"\r",           u"\n",   nothing,   u"Enter"},

    {Bottom,     "Shift",            0x2A,      VK_LSHIFT,                          nothing,   nothing,         nothing, nothing,   u"Shift"},
    {Bottom,     "102nd key",        0x56,      VK_OEM_102,                         u"\\",     u"|",            nothing, nothing,   nullptr},
    {Bottom,     "Z",                0x2C,      'Z',                                u"\x0626", u"~",            nothing, nothing,   nullptr}, // YEH WITH HAMZA ABOVE
    {Bottom,     "X",                0x2D,      'X',                                u"\x0621", u"\x0652",       nothing, nothing,   nullptr}, // HAMZA, SUKUN
    {Bottom,     "C",                0x2E,      'C',                                u"\x06C6", u"\x0624",       nothing, nothing,   nullptr}, // OE, WAW WITH HAMZA ABOVE
    {Bottom,     "V",                0x2F,      'V',                                u"\x0631", u"\x0695",       nothing, nothing,   nullptr}, // REH, REH WITH SMALL V BELOW
    {Bottom,     "B",                0x30,      'B',                                u"\x0695", u"\x0644\x0627", nothing, nothing,   nullptr}, // REH WITH SMALL V BELOW; LAM then ALEF
    {Bottom,     "N",                0x31,      'N',                                u"\x06CE", u"\x064A",       nothing, nothing,   nullptr}, // YEH WITH SMALL V, YEH
    {Bottom,     "M",                0x32,      'M',                                u"\x06D5", u"\x0629",       nothing, nothing,   nullptr}, // AE, TEH MARBUTA
    {Bottom,     ",",                0x33,      VK_OEM_COMMA,                       u"\x0648", u",",            nothing, nothing,   nullptr}, // WAW
    {Bottom,     ".",                0x34,      VK_OEM_PERIOD,                      u"\x0632", u".",            nothing, nothing,   nullptr}, // ZAIN
    {Bottom,     "/",                0x35,      VK_OEM_2,                           u"\x06A4", u"\x0638",       nothing, nothing,   nullptr}, // VEH, ZAH
    {Bottom,     "Right Shift",      0x36,      KBDEXT | VK_RSHIFT,                 nothing,   nothing,         nothing, nothing,   u"Right Shift"},

    {Space,      "Ctrl",             0x1D,      VK_LCONTROL,                        nothing,   nothing,         nothing, nothing,   u"Ctrl"},
    {Space,      "Left Windows",     E0 | 0x5B, KBDEXT | VK_LWIN,                   nothing,   nothing,         nothing, nothing,   u"Left Windows"},
    {Space,      "Alt",              0x38,      VK_LMENU,                           nothing,   nothing,         nothing, nothing,   u"Alt"},
    {Space,      "Space",            0x39,      VK_SPACE,                           u" ",      u" ",            u" ",    nothing,   u"Space"},
    {Space,      "Right Alt",        E0 | 0x38, KBDEXT | VK_RMENU,                  nothing,   nothing,         nothing, nothing,   u"Right Alt"},
    {Space,      "Right Windows",    E0 | 0x5C, KBDEXT | VK_RWIN,                   nothing,   nothing,         nothing, nothing,   u"Right Windows"},
    {Space,      "Application",      E0 | 0x5D, KBDEXT | VK_APPS,                   nothing,   nothing,         nothing, nothing,   u"Application"},
    {Space,      "Right Ctrl",       E0 | 0x1D, KBDEXT | VK_RCONTROL,               nothing,   nothing,         nothing, nothing,   u"Right Ctrl"},

    {Editing,    "Insert",           E0 | 0x52, KBDEXT | VK_INSERT,                 nothing,   nothing,         nothing, nothing,   u"Insert"},
    {Editing,    "Home",             E0 | 0x47, KBDEXT | VK_HOME,                   nothing,   nothing,         nothing, nothing,   u"Home"},
    {Editing,    "Page Up",          E0 | 0x49, KBDEXT | VK_PRIOR,                  nothing,   nothing,         nothing, nothing,   u"Page Up"},
    {Editing,    "Delete",           E0 | 0x53, KBDEXT | VK_DELETE,                 nothing,   nothing,         nothing, nothing,   u"Delete"},
    {Editing,    "End",              E0 | 0x4F, KBDEXT | VK_END,                    nothing,   nothing,         nothing, nothing,   u"End"},
    {Editing,    "Page Down",        E0 | 0x51, KBDEXT | VK_NEXT,                   nothing,   nothing,         nothing, nothing,   u"Page Down"},
    {Editing,    "Up",               E0 | 0x48, KBDEXT | VK_UP,                     nothing,   nothing,         nothing, nothing,   u"Up"},
    {Editing,    "Left",             E0 | 0x4B, KBDEXT | VK_LEFT,                   nothing,   nothing,         nothing, nothing,   u"Left"},
    {Editing,    "Down",             E0 | 0x50, KBDEXT | VK_DOWN,                   nothing,   nothing,         nothing, nothing,   u"Down"},
    {Editing,    "Right",            E0 | 0x4D, KBDEXT | VK_RIGHT,                  nothing,   nothing,         nothing, nothing,   u"Right"},

    // Plain 0x45 is listed as "Pause": the loader reports Pause (E1 1D 45) as
    // 0x45 and Num Lock, flagged KBDEXT, as E0 45.
    {Keypad,     "Num Lock",         0x45,      KBDEXT | KBDMULTIVK | VK_NUMLOCK,   nothing,   nothing,         nothing, nothing,   u"Pause"},
    {Keypad,     "/",                E0 | 0x35, KBDEXT | VK_DIVIDE,                 u"/",      u"/",            nothing, nothing,   u"Num /"},
    {Keypad,     "*",                0x37,      KBDMULTIVK | VK_MULTIPLY,           u"*",      u"*",            nothing, nothing,   u"Num *"},
    {Keypad,     "-",                0x4A,      VK_SUBTRACT,                        u"-",      u"-",            nothing, nothing,   u"Num -"},
    {Keypad,     "7",                0x47,      KBDSPECIAL | KBDNUMPAD | VK_HOME,   u"7",      nothing,         nothing, nothing,   u"Num 7"},
    {Keypad,     "8",                0x48,      KBDSPECIAL | KBDNUMPAD | VK_UP,     u"8",      nothing,         nothing, nothing,   u"Num 8"},
    {Keypad,     "9",                0x49,      KBDSPECIAL | KBDNUMPAD | VK_PRIOR,  u"9",      nothing,         nothing, nothing,   u"Num 9"},
    {Keypad,     "+",                0x4E,      VK_ADD,                             u"+",      u"+",            nothing, nothing,   u"Num +"},
    {Keypad,     "4",                0x4B,      KBDSPECIAL | KBDNUMPAD | VK_LEFT,   u"4",      nothing,         nothing, nothing,   u"Num 4"},
    {Keypad,     "5",                0x4C,      KBDSPECIAL | KBDNUMPAD | VK_CLEAR,  u"5",      nothing,         nothing, nothing,   u"Num 5"},
    {Keypad,     "6",                0x4D,      KBDSPECIAL | KBDNUMPAD | VK_RIGHT,  u"6",      nothing,         nothing, nothing,   u"Num 6"},
    {Keypad,     "1",                0x4F,      KBDSPECIAL | KBDNUMPAD | VK_END,    u"1",      nothing,         nothing, nothing,   u"Num 1"},
    {Keypad,     "2",                0x50,      KBDSPECIAL | KBDNUMPAD | VK_DOWN,   u"2",      nothing,         nothing, nothing,   u"Num 2"},
    {Keypad,     "3",                0x51,      KBDSPECIAL | KBDNUMPAD | VK_NEXT,   u"3",      nothing,         nothing, nothing,   u"Num 3"},
    {Keypad,     "Enter",            E0 | 0x1C, KBDEXT | VK_RETURN,                 u"\r",     u"\r",           u"\n",   nothing,   u"Num Enter"},
    {Keypad,     "0",                0x52,      KBDSPECIAL | KBDNUMPAD | VK_INSERT, u"0",      nothing,         nothing, nothing,   u"Num 0"},
    {Keypad,     "Del",              0x53,      KBDSPECIAL | KBDNUMPAD | VK_DELETE, u".",      u".",            nothing, nothing,   u"Num Del"},

    // The F13-F24 names sit at 0x7C-0x87, not where the map puts F13-F24.
    {Unlabelled, "second Tab",       0x7C,      VK_TAB,                             u"\t",     u"\t",           nothing, nothing,   u"F13"},
    {Unlabelled, "unmapped",         0x7D,      VK_NONE,                            nothing,   nothing,         nothing, nothing,   u"F14"},
    {Unlabelled, "ABNT C2",          0x7E,      VK_ABNT_C2,                         nothing,   nothing,         nothing, nothing,   u"F15"},
    {Unlabelled, "beyond the map",   0x7F,      kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"F16"},
    {Unlabelled, "beyond the map",   0x80,      kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"F17"},
    {Unlabelled, "beyond the map",   0x81,      kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"F18"},
    {Unlabelled, "beyond the map",   0x82,      kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"F19"},
    {Unlabelled, "beyond the map",   0x83,      kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"F20"},
    {Unlabelled, "beyond the map",   0x84,      kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"F21"},
    {Unlabelled, "beyond the map",   0x85,      kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"F22"},
    {Unlabelled, "beyond the map",   0x86,      kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"F23"},
    {Unlabelled, "beyond the map",   0x87,      kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"F24"},
    {Unlabelled, "Num Lock's name",  E0 | 0x45, kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"Num Lock"},
    {Unlabelled, "no E0 pair",       E0 | 0x54, kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"<00>"},
    {Unlabelled, "no E0 pair",       E0 | 0x56, kNoEntry,                           nothing,   nothing,         nothing, nothing,   u"Help"},
};

Prefix prefixOf(const Key& key)
{
    switch (key.scanCode >> 8) {
    case E0 >> 8: return Prefix::E0;
    case E1 >> 8: return Prefix::E1;
    default: return Prefix::None;
    }
}

std::uint8_t codeOf(const Key& key) { return static_cast<std::uint8_t>(key.scanCode & 0xFF); }

// "home row key 4 'F' (scan code 0x21)", for failure messages.
std::string describe(const Key& key)
{
    const auto first = std::find_if(std::begin(kKeys), std::end(kKeys), [&](const Key& k) { return k.row == key.row; });
    const std::string prefix = prefixOf(key) == Prefix::E0 ? "E0 " : prefixOf(key) == Prefix::E1 ? "E1 " : "";
    return std::string(toString(key.row)) + " key " + std::to_string(&key - first + 1) + " '" + key.legend +
           "' (scan code " + prefix + hex(codeOf(key)) + ")";
}

std::string mapText(std::optional<std::uint16_t> value)
{
    if (!value)
        return "no entry";
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", *value);
    return text;
}

// The keypad key the loader reads a KBDNUMPAD key as, with Num Lock on.
std::uint8_t withNumLock(std::uint8_t vk)
{
    static const std::map<std::uint8_t, std::uint8_t> keypad = {
        {VK_INSERT, VK_NUMPAD0}, {VK_END, VK_NUMPAD1},  {VK_DOWN, VK_NUMPAD2},  {VK_NEXT, VK_NUMPAD3},
        {VK_LEFT, VK_NUMPAD4},   {VK_CLEAR, VK_NUMPAD5}, {VK_RIGHT, VK_NUMPAD6}, {VK_HOME, VK_NUMPAD7},
        {VK_UP, VK_NUMPAD8},     {VK_PRIOR, VK_NUMPAD9}, {VK_DELETE, VK_DECIMAL},
    };
    const auto found = keypad.find(vk);
    return found == keypad.end() ? vk : found->second;
}

TEST_P(Keys, EveryKeyTypesItsCharacters)
{
    std::set<std::uint8_t> reached;
    for (const Key& key : kKeys) {
        const std::optional<std::uint16_t> mapped = kurd().mapScanCode(codeOf(key), prefixOf(key));
        EXPECT_EQ(mapText(mapped), mapText(key.mapped)) << describe(key) << ": virtual key and flags";
        auto vk = static_cast<std::uint8_t>(mapped.value_or(VK_NONE) & 0xFF);
        if (mapped && (*mapped & KBDNUMPAD)) {
            for (unsigned bits = 0; bits < std::size(kColumnNames); ++bits)
                EXPECT_EQ(typed(vk, bits), "(nothing)")
                    << describe(key) << ", " << kColumnNames[bits] << ", Num Lock off (moves the caret)";
            vk = withNumLock(vk);
        }
        reached.insert(vk);
        for (unsigned bits = 0; bits < std::size(kColumnNames); ++bits)
            EXPECT_EQ(typed(vk, bits), units(key.typed[bits])) << describe(key) << ", " << kColumnNames[bits];
    }
    for (std::size_t t = 0; t < kurd().charTables.size(); ++t)
        for (const kbdread::CharRow& row : kurd().charTables[t].rows)
            EXPECT_TRUE(reached.contains(row.virtualKey))
                << "table " << t + 1 << " row vk " << hex(row.virtualKey) << ": no key reaches it";
}

std::string nameEntry(std::uint8_t scanCode, const std::u16string& text)
{
    std::string out = hex(scanCode) + " \"";
    for (char16_t c : text)
        out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : "\\u" + hex(c);
    return out + "\"";
}

TEST_P(Keys, NameListsInFull)
{
    for (const Prefix prefix : {Prefix::None, Prefix::E0}) {
        const char* list = prefix == Prefix::None ? "plain key-name list" : "E0 key-name list";
        std::vector<const Key*> named;
        for (const Key& key : kKeys)
            if (key.name && prefixOf(key) == prefix)
                named.push_back(&key);
        // Each list runs in ascending scan-code order.
        std::sort(named.begin(), named.end(), [](const Key* a, const Key* b) { return codeOf(*a) < codeOf(*b); });
        const std::vector<kbdread::KeyName>& names = prefix == Prefix::None ? kurd().keyNames : kurd().keyNamesExt;
        EXPECT_EQ(names.size(), named.size()) << list << ": entries";
        for (std::size_t i = 0; i < std::max(names.size(), named.size()); ++i) {
            const std::string actual = i < names.size() ? nameEntry(names[i].scanCode, names[i].text) : "(none)";
            const std::string expected = i < named.size() ? nameEntry(codeOf(*named[i]), named[i]->name) : "(none)";
            EXPECT_EQ(actual, expected) << list << " entry " << i
                                        << (i < named.size() ? ", for " + describe(*named[i]) : std::string());
        }
    }
}

TEST_P(Modifiers, AltHasNoColumn)
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

TEST_P(Tables, OrderWidthsAndNoCapsLockAttribute)
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

TEST_P(Record, FlagsAndNullPointers)
{
    EXPECT_TRUE(kurd().deadKeyNull);
    EXPECT_TRUE(kurd().keyNamesDeadNull);
    EXPECT_EQ(kurd().localeFlags, 0x00010000u);
    EXPECT_EQ(kurd().nLgMax, 2);
    EXPECT_EQ(kurd().cbLgEntry, 8);
    EXPECT_EQ(kurd().maxScanCode, 127);
}

// Scan codes no key of the table sends.
TEST_P(ScanCodes, EdgeCases)
{
    struct Row {
        Prefix prefix;
        std::uint8_t scanCode;
        std::optional<std::uint16_t> value;
        const char* why;
    };
    const Row rows[] = {
        {Prefix::None, 0x00, VK_NONE, "unmapped"},
        {Prefix::None, 0x55, VK_NONE, "unmapped"},
        {Prefix::None, 0x60, VK_NONE, "unmapped"},
        {Prefix::None, 0x61, VK_NONE, "unmapped"},
        {Prefix::None, 0x70, VK_NONE, "unmapped"},
        {Prefix::None, 0x72, VK_NONE, "unmapped"},
        {Prefix::None, 0x74, VK_NONE, "unmapped"},
        {Prefix::None, 0x75, VK_NONE, "unmapped"},
        {Prefix::None, 0x77, VK_NONE, "unmapped"},
        {Prefix::None, 0x78, VK_NONE, "unmapped"},
        {Prefix::None, 0x79, VK_NONE, "unmapped"},
        {Prefix::None, 0x7A, VK_NONE, "unmapped"},
        {Prefix::None, 0xFF, kNoEntry, "beyond bMaxVSCtoVK"},
        {Prefix::None, 0x59, VK_CLEAR, "plain Clear, unlike keypad 5"},
        {Prefix::None, 0x64, VK_F13, "F13"},
        {Prefix::E0, 0x00, kNoEntry, "no E0 pair"},
        {Prefix::E0, 0x1E, kNoEntry, "no E0 pair"},
        {Prefix::E0, 0x6E, kNoEntry, "no E0 pair"},
        {Prefix::E1, 0x00, kNoEntry, "no E1 pair"},
        {Prefix::E1, 0x45, kNoEntry, "no E1 pair"},
    };
    const char* prefixNames[] = {"--", "E0", "E1"};
    for (const Row& row : rows)
        EXPECT_EQ(mapText(kurd().mapScanCode(row.scanCode, row.prefix)), mapText(row.value))
            << prefixNames[static_cast<int>(row.prefix)] << " " << hex(row.scanCode) << " (" << row.why << ")";

    EXPECT_EQ(kurd().e0.size(), 38u);
    for (const kbdread::ScanCodePair& pair : kurd().e0)
        EXPECT_EQ(pair.value & KBDEXT, KBDEXT) << "E0 " << hex(pair.scanCode) << " lacks KBDEXT";
}

// Loaded away from its preferred base, every form still types exactly what
// the x86-64 image types at home: the same scan codes, characters and names.
TEST_P(Relocation, AnotherLoadBaseGivesTheSameLayoutAsX64)
{
    const bool image32 = kurd().pe.optionalMagic == kbdread::kPe32Magic;
    const std::uint64_t otherBase = image32 ? 0x6A120000 : 0x7FF612340000;
    const Layout moved = kbdread::readLayout(builtImage(GetParam()), otherBase);
    const Layout& home = kurd();
    const Layout& x64 = layoutOf(kbdread::Form::X64);
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
    // The record, pVkToBit, table and key-name string pointers, and in the
    // 32-bit forms the record's address inside the code.
    EXPECT_EQ(nonNull, image32 ? 87u : 86u);

    for (unsigned prefix = 0; prefix < 3; ++prefix)
        for (unsigned sc = 0; sc < 256; ++sc)
            EXPECT_EQ(moved.mapScanCode(static_cast<std::uint8_t>(sc), Prefix(prefix)),
                      x64.mapScanCode(static_cast<std::uint8_t>(sc), Prefix(prefix)))
                << "prefix " << prefix << " scan code " << hex(sc);
    for (unsigned vk = 1; vk < 0xFF; ++vk)
        for (unsigned bits = 0; bits < 8; ++bits)
            EXPECT_EQ(typedBy(moved, static_cast<std::uint8_t>(vk), bits), typedBy(x64, static_cast<std::uint8_t>(vk), bits))
                << "vk " << hex(vk) << " bits " << bits;
    for (const auto& [list, names, x64Names] : {std::tuple{"plain", &moved.keyNames, &x64.keyNames},
                                                std::tuple{"E0", &moved.keyNamesExt, &x64.keyNamesExt}}) {
        ASSERT_EQ(names->size(), x64Names->size()) << list << " names";
        for (std::size_t i = 0; i < names->size(); ++i)
            EXPECT_EQ(nameEntry((*names)[i].scanCode, (*names)[i].text), nameEntry((*x64Names)[i].scanCode, (*x64Names)[i].text))
                << list << " name entry " << i;
    }
}

} // namespace
