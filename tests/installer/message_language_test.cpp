// The message box's languages: which tables a user sees for their display
// language and regional format, and the caption, text and reading
// direction made from them, with the directional marks that keep each
// language's lines and words in order.
#include "message_language.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>

namespace setup {
namespace {

constexpr LanguageId kurdish = 0x0492;  // Central Kurdish (Iraq)
constexpr LanguageId english = 0x0409;  // English (United States)
constexpr unsigned rightToLeftReading = 0x00100000 | 0x00080000;  // MB_RTLREADING | MB_RIGHT

// The directional formatting characters, by name.
const std::wstring lrm = L"\u200E";  // LEFT-TO-RIGHT MARK
const std::wstring rlm = L"\u200F";  // RIGHT-TO-LEFT MARK
const std::wstring lre = L"\u202A";  // LEFT-TO-RIGHT EMBEDDING
const std::wstring rle = L"\u202B";  // RIGHT-TO-LEFT EMBEDDING
const std::wstring pdf = L"\u202C";  // POP DIRECTIONAL FORMATTING

// Kurdish words, spelled by code point.
const std::wstring kurdishWord = L"\u06A9\u0648\u0631\u062F\u06CC";  // KEHEH WAW REH DAL FARSI YEH: "Kurdish"
const std::wstring installedWord =
    L"\u062F\u0627\u0645\u06D5\u0632\u0631\u0627";  // DAL ALEF MEEM AE ZAIN REH ALEF: "installed"
const std::wstring oursWord = L"\u0647\u06CC \u0626\u06CE\u0645\u06D5";  // HEH FARSI YEH, HAMZA YEH E MEEM AE: "ours"

std::string narrow(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char code[12];
            std::snprintf(code, sizeof code, "<%04X>", static_cast<unsigned>(c));
            out += code;
        }
    }
    return out;
}

TEST(MessageLanguages, KurdishAloneForKurdishUsersElseKurdishThenEnglish) {
    struct Row {
        const char* user;
        LanguageId userInterface, locale;
        std::vector<LanguageId> languages;
    };
    const Row rows[] = {
        {"Kurdish display and format", 0x0492, 0x0492, {kurdish}},
        {"English display, Kurdish format", 0x0409, 0x0492, {kurdish}},
        {"Kurdish display, English format", 0x0492, 0x0409, {kurdish}},
        {"Kurdish without a region", 0x0092, 0x0409, {kurdish}},
        {"Kurdish with another sublanguage", 0x0409, 0x7C92, {kurdish}},
        {"English display and format", 0x0409, 0x0409, {kurdish, english}},
        {"Arabic (Iraq)", 0x0801, 0x0801, {kurdish, english}},
        {"Persian", 0x0429, 0x0429, {kurdish, english}},
        {"Arabic display, Kurdish format", 0x0801, 0x0492, {kurdish}},
        {"neutral", 0x0000, 0x0000, {kurdish, english}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(messageLanguages(row.userInterface, row.locale), row.languages) << row.user;
}

// Ids of the tables below.
constexpr unsigned titleId = 1, installedId = 2, failedId = 3, foreignId = 4, stepId = 5, usageId = 6,
                   englishOnlyId = 7;

// Two small string tables; Kurdish lacks englishOnlyId.
std::wstring lookUp(LanguageId language, unsigned id) {
    static const std::map<std::pair<LanguageId, unsigned>, std::wstring> tables = {
        {{english, titleId}, L"Keyboard Layout"},
        {{english, installedId}, L"Installed.\n\nSwitch with Win+Space."},
        {{english, failedId}, L"Not installed:\n\n%1"},
        {{english, foreignId}, L"%1 is not ours."},
        {{english, stepId}, L"%1: %2"},
        {{english, usageId}, L"Exit codes: 0 done, 87 bad arguments\n/quiet\tno windows"},
        {{english, englishOnlyId}, L"Cannot read %1."},
        {{kurdish, titleId}, kurdishWord},
        {{kurdish, installedId}, installedWord + L".\n\nWin+Space"},
        {{kurdish, failedId}, installedWord + L":\n\n%1"},
        {{kurdish, foreignId}, L"%1 " + oursWord},
        {{kurdish, stepId}, L"%1: %2"},
        {{kurdish, usageId}, kurdishWord + L": 0"},
    };
    const auto found = tables.find({language, id});
    return found == tables.end() ? std::wstring() : found->second;
}

TEST(ComposeMessage, CaptionTextAndDirection) {
    const std::wstring path = L"C:\\Program Files (x86)\\Kurd\\setup.exe";
    const std::wstring heldPath = lre + L"C:\\Program Files " + lrm + L"(x86)\\Kurd\\setup.exe" + pdf;
    const std::wstring kurdishFolder = L"C:\\" + kurdishWord + L"\\1";
    struct Row {
        const char* name;
        LanguageId userInterface, locale;
        MessageText text;
        std::wstring caption, body;
        unsigned flags;
    };
    const Row rows[] = {
        {"a Kurdish user reads Kurdish alone, right to left", kurdish, kurdish, message(installedId),
         kurdishWord, installedWord + L".\n\nWin+Space", rightToLeftReading},
        {"others read Kurdish, then English held left to right word by word", english, english,
         message(installedId), kurdishWord + L" - " + lre + L"Keyboard Layout" + pdf,
         installedWord + L".\n\nWin+Space\n\n" + lre + L"Installed." + lrm + pdf + L"\n\n" + lre +
             L"Switch with Win+Space." + lrm + pdf,
         rightToLeftReading},
        {"a path in Kurdish text keeps its order", kurdish, kurdish, message(failedId, {literal(path)}),
         kurdishWord, installedWord + L":\n\n" + heldPath, rightToLeftReading},
        {"a path inside a reason inside a message, in both languages", english, english,
         message(failedId, {message(foreignId, {literal(path)})}),
         kurdishWord + L" - " + lre + L"Keyboard Layout" + pdf,
         installedWord + L":\n\n" + heldPath + L" " + oursWord + L"\n\n" + lre + L"Not installed:" + lrm + pdf +
             L"\n\n" + lre + L"C:\\Program Files " + lrm + L"(x86)\\Kurd\\setup.exe is not ours." + lrm + pdf,
         rightToLeftReading},
        {"each line of a literal is held on its own", kurdish, kurdish,
         message(failedId, {literal(L"HKLM\\Software\\Kurd\n\nC:\\Kurd.dll")}), kurdishWord,
         installedWord + L":\n\n" + lre + L"HKLM\\Software\\Kurd" + pdf + L"\n\n" + lre + L"C:\\Kurd.dll" + pdf,
         rightToLeftReading},
        {"a Kurdish folder in an English path is held by the path", english, english,
         message(foreignId, {literal(kurdishFolder)}), kurdishWord + L" - " + lre + L"Keyboard Layout" + pdf,
         lre + L"C:\\" + kurdishWord + L"\\1" + lrm + pdf + L" " + oursWord + L"\n\n" + lre + L"C:\\" +
             kurdishWord + L"\\1" + lrm + L" is not ours." + lrm + pdf,
         rightToLeftReading},
        {"digits, punctuation, slashes and tabs of English under Kurdish", english, english, message(usageId),
         kurdishWord + L" - " + lre + L"Keyboard Layout" + pdf,
         kurdishWord + L": 0\n\n" + lre + L"Exit codes:" + lrm + L" " + lrm + L"0" + lrm + L" done," + lrm + L" " +
             lrm + L"87" + lrm + L" bad arguments" + pdf + L"\n" + lre + lrm + L"/quiet\tno windows" + pdf,
         rightToLeftReading},
        {"English alone, left to right, where Kurdish lacks the string; a Kurdish insert held", english, english,
         message(englishOnlyId, {literal(kurdishWord + L" 1")}), L"Keyboard Layout",
         L"Cannot read " + rle + kurdishWord + L" " + rlm + L"1" + rlm + pdf + L".", 0},
        {"one pass: an insert's %1 stays, and so does a number with no insert", kurdish, kurdish,
         message(stepId, {literal(L"50%1")}), kurdishWord, L"50%1: %2", rightToLeftReading},
        {"nothing to show where no language has the string", kurdish, kurdish, message(englishOnlyId), L"", L"",
         0},
        {"nor where a reason's string is missing", kurdish, kurdish, message(failedId, {message(englishOnlyId)}),
         L"", L"", 0},
    };
    for (const Row& row : rows) {
        const ShownMessage shown = composeMessage(row.userInterface, row.locale, titleId, row.text, lookUp);
        EXPECT_EQ(narrow(shown.caption), narrow(row.caption)) << row.name;
        EXPECT_EQ(narrow(shown.text), narrow(row.body)) << row.name;
        EXPECT_EQ(shown.extraFlags, row.flags) << row.name;
    }
}

}  // namespace
}  // namespace setup
