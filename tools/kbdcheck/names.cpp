#include "names.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

#include "bytes.h"

namespace kbdcheck {
namespace {

using kbdread::bareHex;

// Published virtual-key names, sorted by code; letters and digits are
// handled apart.
constexpr std::pair<std::uint8_t, const char*> kVirtualKeys[] = {
    {0x01, "VK_LBUTTON"}, {0x02, "VK_RBUTTON"}, {0x03, "VK_CANCEL"}, {0x04, "VK_MBUTTON"},
    {0x05, "VK_XBUTTON1"}, {0x06, "VK_XBUTTON2"}, {0x08, "VK_BACK"}, {0x09, "VK_TAB"},
    {0x0C, "VK_CLEAR"}, {0x0D, "VK_RETURN"}, {0x10, "VK_SHIFT"}, {0x11, "VK_CONTROL"},
    {0x12, "VK_MENU"}, {0x13, "VK_PAUSE"}, {0x14, "VK_CAPITAL"}, {0x15, "VK_KANA"},
    {0x16, "VK_IME_ON"}, {0x17, "VK_JUNJA"}, {0x18, "VK_FINAL"}, {0x19, "VK_KANJI"},
    {0x1A, "VK_IME_OFF"}, {0x1B, "VK_ESCAPE"}, {0x1C, "VK_CONVERT"}, {0x1D, "VK_NONCONVERT"},
    {0x1E, "VK_ACCEPT"}, {0x1F, "VK_MODECHANGE"}, {0x20, "VK_SPACE"}, {0x21, "VK_PRIOR"},
    {0x22, "VK_NEXT"}, {0x23, "VK_END"}, {0x24, "VK_HOME"}, {0x25, "VK_LEFT"},
    {0x26, "VK_UP"}, {0x27, "VK_RIGHT"}, {0x28, "VK_DOWN"}, {0x29, "VK_SELECT"},
    {0x2A, "VK_PRINT"}, {0x2B, "VK_EXECUTE"}, {0x2C, "VK_SNAPSHOT"}, {0x2D, "VK_INSERT"},
    {0x2E, "VK_DELETE"}, {0x2F, "VK_HELP"}, {0x5B, "VK_LWIN"}, {0x5C, "VK_RWIN"},
    {0x5D, "VK_APPS"}, {0x5F, "VK_SLEEP"}, {0x60, "VK_NUMPAD0"}, {0x61, "VK_NUMPAD1"},
    {0x62, "VK_NUMPAD2"}, {0x63, "VK_NUMPAD3"}, {0x64, "VK_NUMPAD4"}, {0x65, "VK_NUMPAD5"},
    {0x66, "VK_NUMPAD6"}, {0x67, "VK_NUMPAD7"}, {0x68, "VK_NUMPAD8"}, {0x69, "VK_NUMPAD9"},
    {0x6A, "VK_MULTIPLY"}, {0x6B, "VK_ADD"}, {0x6C, "VK_SEPARATOR"}, {0x6D, "VK_SUBTRACT"},
    {0x6E, "VK_DECIMAL"}, {0x6F, "VK_DIVIDE"}, {0x70, "VK_F1"}, {0x71, "VK_F2"},
    {0x72, "VK_F3"}, {0x73, "VK_F4"}, {0x74, "VK_F5"}, {0x75, "VK_F6"},
    {0x76, "VK_F7"}, {0x77, "VK_F8"}, {0x78, "VK_F9"}, {0x79, "VK_F10"},
    {0x7A, "VK_F11"}, {0x7B, "VK_F12"}, {0x7C, "VK_F13"}, {0x7D, "VK_F14"},
    {0x7E, "VK_F15"}, {0x7F, "VK_F16"}, {0x80, "VK_F17"}, {0x81, "VK_F18"},
    {0x82, "VK_F19"}, {0x83, "VK_F20"}, {0x84, "VK_F21"}, {0x85, "VK_F22"},
    {0x86, "VK_F23"}, {0x87, "VK_F24"}, {0x90, "VK_NUMLOCK"}, {0x91, "VK_SCROLL"},
    {0x92, "VK_OEM_FJ_JISHO"}, {0x93, "VK_OEM_FJ_MASSHOU"}, {0x94, "VK_OEM_FJ_TOUROKU"},
    {0x95, "VK_OEM_FJ_LOYA"}, {0x96, "VK_OEM_FJ_ROYA"}, {0xA0, "VK_LSHIFT"},
    {0xA1, "VK_RSHIFT"}, {0xA2, "VK_LCONTROL"}, {0xA3, "VK_RCONTROL"}, {0xA4, "VK_LMENU"},
    {0xA5, "VK_RMENU"}, {0xA6, "VK_BROWSER_BACK"}, {0xA7, "VK_BROWSER_FORWARD"},
    {0xA8, "VK_BROWSER_REFRESH"}, {0xA9, "VK_BROWSER_STOP"}, {0xAA, "VK_BROWSER_SEARCH"},
    {0xAB, "VK_BROWSER_FAVORITES"}, {0xAC, "VK_BROWSER_HOME"}, {0xAD, "VK_VOLUME_MUTE"},
    {0xAE, "VK_VOLUME_DOWN"}, {0xAF, "VK_VOLUME_UP"}, {0xB0, "VK_MEDIA_NEXT_TRACK"},
    {0xB1, "VK_MEDIA_PREV_TRACK"}, {0xB2, "VK_MEDIA_STOP"}, {0xB3, "VK_MEDIA_PLAY_PAUSE"},
    {0xB4, "VK_LAUNCH_MAIL"}, {0xB5, "VK_LAUNCH_MEDIA_SELECT"}, {0xB6, "VK_LAUNCH_APP1"},
    {0xB7, "VK_LAUNCH_APP2"}, {0xBA, "VK_OEM_1"}, {0xBB, "VK_OEM_PLUS"},
    {0xBC, "VK_OEM_COMMA"}, {0xBD, "VK_OEM_MINUS"}, {0xBE, "VK_OEM_PERIOD"},
    {0xBF, "VK_OEM_2"}, {0xC0, "VK_OEM_3"}, {0xC1, "VK_ABNT_C1"}, {0xC2, "VK_ABNT_C2"},
    {0xDB, "VK_OEM_4"}, {0xDC, "VK_OEM_5"}, {0xDD, "VK_OEM_6"}, {0xDE, "VK_OEM_7"},
    {0xDF, "VK_OEM_8"}, {0xE1, "VK_OEM_AX"}, {0xE2, "VK_OEM_102"}, {0xE3, "VK_ICO_HELP"},
    {0xE4, "VK_ICO_00"}, {0xE5, "VK_PROCESSKEY"}, {0xE6, "VK_ICO_CLEAR"}, {0xE7, "VK_PACKET"},
    {0xE9, "VK_OEM_RESET"}, {0xEA, "VK_OEM_JUMP"}, {0xEB, "VK_OEM_PA1"}, {0xEC, "VK_OEM_PA2"},
    {0xED, "VK_OEM_PA3"}, {0xEE, "VK_OEM_WSCTRL"}, {0xEF, "VK_OEM_CUSEL"},
    {0xF0, "VK_OEM_ATTN"}, {0xF1, "VK_OEM_FINISH"}, {0xF2, "VK_OEM_COPY"},
    {0xF3, "VK_OEM_AUTO"}, {0xF4, "VK_OEM_ENLW"}, {0xF5, "VK_OEM_BACKTAB"},
    {0xF6, "VK_ATTN"}, {0xF7, "VK_CRSEL"}, {0xF8, "VK_EXSEL"}, {0xF9, "VK_EREOF"},
    {0xFA, "VK_PLAY"}, {0xFB, "VK_ZOOM"}, {0xFC, "VK_NONAME"}, {0xFD, "VK_PA1"},
    {0xFE, "VK_OEM_CLEAR"}, {0xFF, "no virtual key"},
};

// ASCII 0x20-0x7E, except letters and digits, which are named by rule.
constexpr std::pair<char16_t, const char*> kAsciiPunctuation[] = {
    {0x20, "SPACE"}, {0x21, "EXCLAMATION MARK"}, {0x22, "QUOTATION MARK"},
    {0x23, "NUMBER SIGN"}, {0x24, "DOLLAR SIGN"}, {0x25, "PERCENT SIGN"},
    {0x26, "AMPERSAND"}, {0x27, "APOSTROPHE"}, {0x28, "LEFT PARENTHESIS"},
    {0x29, "RIGHT PARENTHESIS"}, {0x2A, "ASTERISK"}, {0x2B, "PLUS SIGN"}, {0x2C, "COMMA"},
    {0x2D, "HYPHEN-MINUS"}, {0x2E, "FULL STOP"}, {0x2F, "SOLIDUS"}, {0x3A, "COLON"},
    {0x3B, "SEMICOLON"}, {0x3C, "LESS-THAN SIGN"}, {0x3D, "EQUALS SIGN"},
    {0x3E, "GREATER-THAN SIGN"}, {0x3F, "QUESTION MARK"}, {0x40, "COMMERCIAL AT"},
    {0x5B, "LEFT SQUARE BRACKET"}, {0x5C, "REVERSE SOLIDUS"}, {0x5D, "RIGHT SQUARE BRACKET"},
    {0x5E, "CIRCUMFLEX ACCENT"}, {0x5F, "LOW LINE"}, {0x60, "GRAVE ACCENT"},
    {0x7B, "LEFT CURLY BRACKET"}, {0x7C, "VERTICAL LINE"}, {0x7D, "RIGHT CURLY BRACKET"},
    {0x7E, "TILDE"},
};

// Everything else the table knows, sorted by code unit. Controls carry
// their usual aliases, as they have no character names of their own.
constexpr std::pair<char16_t, const char*> kOtherCharacters[] = {
    {0x0003, "END OF TEXT"}, {0x0008, "BACKSPACE"}, {0x0009, "CHARACTER TABULATION"},
    {0x000A, "LINE FEED"}, {0x000D, "CARRIAGE RETURN"}, {0x001B, "ESCAPE"},
    {0x001C, "INFORMATION SEPARATOR FOUR"}, {0x001D, "INFORMATION SEPARATOR THREE"},
    {0x001E, "INFORMATION SEPARATOR TWO"}, {0x001F, "INFORMATION SEPARATOR ONE"},
    {0x007F, "DELETE"}, {0x00A0, "NO-BREAK SPACE"}, {0x00AB, "LEFT-POINTING DOUBLE ANGLE QUOTATION MARK"},
    {0x00BB, "RIGHT-POINTING DOUBLE ANGLE QUOTATION MARK"}, {0x00D7, "MULTIPLICATION SIGN"},
    {0x00F7, "DIVISION SIGN"},
    {0x060C, "ARABIC COMMA"}, {0x061B, "ARABIC SEMICOLON"}, {0x061F, "ARABIC QUESTION MARK"},
    {0x0621, "ARABIC LETTER HAMZA"}, {0x0622, "ARABIC LETTER ALEF WITH MADDA ABOVE"},
    {0x0623, "ARABIC LETTER ALEF WITH HAMZA ABOVE"}, {0x0624, "ARABIC LETTER WAW WITH HAMZA ABOVE"},
    {0x0625, "ARABIC LETTER ALEF WITH HAMZA BELOW"}, {0x0626, "ARABIC LETTER YEH WITH HAMZA ABOVE"},
    {0x0627, "ARABIC LETTER ALEF"}, {0x0628, "ARABIC LETTER BEH"},
    {0x0629, "ARABIC LETTER TEH MARBUTA"}, {0x062A, "ARABIC LETTER TEH"},
    {0x062B, "ARABIC LETTER THEH"}, {0x062C, "ARABIC LETTER JEEM"}, {0x062D, "ARABIC LETTER HAH"},
    {0x062E, "ARABIC LETTER KHAH"}, {0x062F, "ARABIC LETTER DAL"}, {0x0630, "ARABIC LETTER THAL"},
    {0x0631, "ARABIC LETTER REH"}, {0x0632, "ARABIC LETTER ZAIN"}, {0x0633, "ARABIC LETTER SEEN"},
    {0x0634, "ARABIC LETTER SHEEN"}, {0x0635, "ARABIC LETTER SAD"}, {0x0636, "ARABIC LETTER DAD"},
    {0x0637, "ARABIC LETTER TAH"}, {0x0638, "ARABIC LETTER ZAH"}, {0x0639, "ARABIC LETTER AIN"},
    {0x063A, "ARABIC LETTER GHAIN"}, {0x0640, "ARABIC TATWEEL"}, {0x0641, "ARABIC LETTER FEH"},
    {0x0642, "ARABIC LETTER QAF"}, {0x0643, "ARABIC LETTER KAF"}, {0x0644, "ARABIC LETTER LAM"},
    {0x0645, "ARABIC LETTER MEEM"}, {0x0646, "ARABIC LETTER NOON"}, {0x0647, "ARABIC LETTER HEH"},
    {0x0648, "ARABIC LETTER WAW"}, {0x0649, "ARABIC LETTER ALEF MAKSURA"},
    {0x064A, "ARABIC LETTER YEH"}, {0x064B, "ARABIC FATHATAN"}, {0x064C, "ARABIC DAMMATAN"},
    {0x064D, "ARABIC KASRATAN"}, {0x064E, "ARABIC FATHA"}, {0x064F, "ARABIC DAMMA"},
    {0x0650, "ARABIC KASRA"}, {0x0651, "ARABIC SHADDA"}, {0x0652, "ARABIC SUKUN"},
    {0x066A, "ARABIC PERCENT SIGN"}, {0x066B, "ARABIC DECIMAL SEPARATOR"},
    {0x066C, "ARABIC THOUSANDS SEPARATOR"}, {0x0670, "ARABIC LETTER SUPERSCRIPT ALEF"},
    {0x0679, "ARABIC LETTER TTEH"}, {0x067E, "ARABIC LETTER PEH"}, {0x0686, "ARABIC LETTER TCHEH"},
    {0x0688, "ARABIC LETTER DDAL"}, {0x0691, "ARABIC LETTER RREH"},
    {0x0695, "ARABIC LETTER REH WITH SMALL V BELOW"}, {0x0698, "ARABIC LETTER JEH"},
    {0x06A4, "ARABIC LETTER VEH"}, {0x06A9, "ARABIC LETTER KEHEH"}, {0x06AF, "ARABIC LETTER GAF"},
    {0x06B5, "ARABIC LETTER LAM WITH SMALL V"}, {0x06BA, "ARABIC LETTER NOON GHUNNA"},
    {0x06BE, "ARABIC LETTER HEH DOACHASHMEE"}, {0x06C0, "ARABIC LETTER HEH WITH YEH ABOVE"},
    {0x06C1, "ARABIC LETTER HEH GOAL"}, {0x06C6, "ARABIC LETTER OE"},
    {0x06CC, "ARABIC LETTER FARSI YEH"}, {0x06CE, "ARABIC LETTER YEH WITH SMALL V"},
    {0x06D2, "ARABIC LETTER YEH BARREE"}, {0x06D4, "ARABIC FULL STOP"}, {0x06D5, "ARABIC LETTER AE"},
    {0x200C, "ZERO WIDTH NON-JOINER"}, {0x200D, "ZERO WIDTH JOINER"},
    {0x200E, "LEFT-TO-RIGHT MARK"}, {0x200F, "RIGHT-TO-LEFT MARK"}, {0x2013, "EN DASH"},
    {0x2014, "EM DASH"}, {0x2018, "LEFT SINGLE QUOTATION MARK"},
    {0x2019, "RIGHT SINGLE QUOTATION MARK"}, {0x201C, "LEFT DOUBLE QUOTATION MARK"},
    {0x201D, "RIGHT DOUBLE QUOTATION MARK"}, {0x2026, "HORIZONTAL ELLIPSIS"},
};

template <typename Key, std::size_t N>
const char* lookup(const std::pair<Key, const char*> (&table)[N], Key key)
{
    const auto* found = std::lower_bound(std::begin(table), std::end(table), key,
                                         [](const auto& entry, Key k) { return entry.first < k; });
    return found != std::end(table) && found->first == key ? found->second : nullptr;
}

constexpr std::array<const char*, 10> kDigitNames = {
    "ZERO", "ONE", "TWO", "THREE", "FOUR", "FIVE", "SIX", "SEVEN", "EIGHT", "NINE"};

} // namespace

std::string virtualKeyName(std::uint8_t virtualKey)
{
    if ((virtualKey >= '0' && virtualKey <= '9') || (virtualKey >= 'A' && virtualKey <= 'Z'))
        return std::string{'\'', static_cast<char>(virtualKey), '\''};
    if (const char* name = lookup(kVirtualKeys, virtualKey))
        return name;
    return "VK 0x" + bareHex(virtualKey, 2);
}

std::string characterName(char16_t unit)
{
    if (unit >= u'0' && unit <= u'9')
        return std::string("DIGIT ") + kDigitNames[unit - u'0'];
    if (unit >= u'A' && unit <= u'Z')
        return std::string("LATIN CAPITAL LETTER ") + static_cast<char>(unit);
    if (unit >= u'a' && unit <= u'z')
        return std::string("LATIN SMALL LETTER ") + static_cast<char>(unit - u'a' + 'A');
    if (const char* name = lookup(kAsciiPunctuation, unit))
        return name;
    if (const char* name = lookup(kOtherCharacters, unit))
        return name;
    if (unit >= 0x0660 && unit <= 0x0669)
        return std::string("ARABIC-INDIC DIGIT ") + kDigitNames[unit - 0x0660];
    if (unit >= 0x06F0 && unit <= 0x06F9)
        return std::string("EXTENDED ARABIC-INDIC DIGIT ") + kDigitNames[unit - 0x06F0];
    return {};
}

std::string codePoint(char16_t unit)
{
    return "U+" + bareHex(unit, 4);
}

} // namespace kbdcheck
