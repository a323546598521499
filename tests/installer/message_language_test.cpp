// The message box's languages: which tables a user sees for their display
// language and regional format, and the caption, text and reading
// direction made from them. Whether the directional marks keep them in
// order is judged by a bidirectional-text engine (check_reading_order.py).
#include "message_language.h"
#include "resource.h"

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

// Kurdish words, spelled by code point.
const std::wstring kurdishWord = L"\u06A9\u0648\u0631\u062F\u06CC";  // KEHEH WAW REH DAL FARSI YEH: "Kurdish"
const std::wstring installedWord =
    L"\u062F\u0627\u0645\u06D5\u0632\u0631\u0627";  // DAL ALEF MEEM AE ZAIN REH ALEF: "installed"
const std::wstring errorWord = L"\u0647\u06D5\u06B5\u06D5";  // HEH AE LAM WITH SMALL V AE: "error"
const std::wstring deniedWord = L"\u0695\u06D5\u062A";  // REH WITH SMALL V BELOW AE TEH: "denied"

// The text without its directional marks and embeddings, with every
// character beyond ASCII by its code.
std::string narrow(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text) {
        if (c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E))
            continue;
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

// Ids of the tables below, besides the patterns of a Windows error.
constexpr unsigned titleId = 1, installedId = 2, failedId = 3, stepId = 5, englishOnlyId = 7;

// Two small string tables; Kurdish lacks englishOnlyId.
std::wstring lookUp(LanguageId language, unsigned id) {
    static const std::map<std::pair<LanguageId, unsigned>, std::wstring> tables = {
        {{english, titleId}, L"Keyboard Layout"},
        {{english, installedId}, L"Installed.\n\nSwitch with Win+Space."},
        {{english, failedId}, L"Not installed:\n\n%1"},
        {{english, stepId}, L"%1: %2"},
        {{english, englishOnlyId}, L"Cannot read %1."},
        {{english, IDS_WINDOWS_ERROR}, L"%2 (error %1)"},
        {{english, IDS_ERROR_NUMBER}, L"error %1"},
        {{kurdish, titleId}, kurdishWord},
        {{kurdish, installedId}, installedWord + L".\n\nWin+Space"},
        {{kurdish, failedId}, installedWord + L":\n\n%1"},
        {{kurdish, stepId}, L"%1: %2"},
        {{kurdish, IDS_WINDOWS_ERROR}, L"%2 (" + errorWord + L" %1)"},
        {{kurdish, IDS_ERROR_NUMBER}, errorWord + L" %1"},
    };
    const auto found = tables.find({language, id});
    return found == tables.end() ? std::wstring() : found->second;
}

// Windows' words for errors 5 and 3: in Kurdish for 5 only, and in the
// user's own language (asked for as 0) for both; never in English by name.
std::wstring windowsWords(LanguageId language, std::uint32_t error) {
    if (language == kurdish && error == 5)
        return deniedWord + L".";
    if (language == 0 && (error == 5 || error == 3))
        return error == 5 ? L"Access is denied." : L"The path is not found.";
    return {};
}

TEST(ComposeMessage, CaptionTextAndDirection) {
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
        {"others read Kurdish, then English", english, english, message(installedId),
         kurdishWord + L" - Keyboard Layout", installedWord + L".\n\nWin+Space\n\nInstalled.\n\nSwitch with Win+Space.",
         rightToLeftReading},
        {"a name and a reason in both languages", english, english,
         message(failedId, {message(stepId, {name(L"C:\\Kurd\\" + kurdishWord), literal(L"1")})}),
         kurdishWord + L" - Keyboard Layout",
         installedWord + L":\n\nC:\\Kurd\\" + kurdishWord + L": 1\n\nNot installed:\n\nC:\\Kurd\\" + kurdishWord + L": 1",
         rightToLeftReading},
        {"Windows' words: Kurdish where Windows has them, the user's own beside", english, english,
         message(stepId, {name(L"C:\\x"), windowsError(5)}), kurdishWord + L" - Keyboard Layout",
         L"C:\\x: " + deniedWord + L". (" + errorWord + L" 5)\n\nC:\\x: Access is denied. (error 5)", rightToLeftReading},
        {"no Kurdish words for an error: a Kurdish word and the number, no English", kurdish, kurdish,
         message(stepId, {name(L"C:\\x"), windowsError(3)}), kurdishWord, L"C:\\x: " + errorWord + L" 3",
         rightToLeftReading},
        {"English alone, left to right, where Kurdish lacks the string", english, english,
         message(englishOnlyId, {literal(kurdishWord + L" 1")}), L"Keyboard Layout",
         L"Cannot read " + kurdishWord + L" 1.", 0},
        {"one pass: an insert's %1 stays, and so does a number with no insert", kurdish, kurdish,
         message(stepId, {literal(L"50%1")}), kurdishWord, L"50%1: %2", rightToLeftReading},
        {"nothing to show where no language has the string", kurdish, kurdish, message(englishOnlyId), L"", L"",
         0},
        {"nor where a reason's string is missing", kurdish, kurdish, message(failedId, {message(englishOnlyId)}),
         L"", L"", 0},
    };
    for (const Row& row : rows) {
        const ShownMessage shown =
            composeMessage(row.userInterface, row.locale, titleId, row.text, {lookUp, windowsWords});
        EXPECT_EQ(narrow(shown.caption), narrow(row.caption)) << row.name;
        EXPECT_EQ(narrow(shown.text), narrow(row.body)) << row.name;
        EXPECT_EQ(shown.extraFlags, row.flags) << row.name;
    }
}

}  // namespace
}  // namespace setup
