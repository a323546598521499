// The languages of the installer's message box: which string tables it
// shows for the user's display language and regional format, in which
// order, and how one or two languages make one caption, one text and the
// box's reading direction. No Windows header: the program's edge looks
// the strings up and calls MessageBoxW.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

// A Windows language id (LANGID): the primary language in the low ten
// bits, the sublanguage above them.
using LanguageId = std::uint16_t;

inline constexpr LanguageId englishUnitedStates = 0x0409;
inline constexpr LanguageId centralKurdishIraq = 0x0492;

// MB_RTLREADING | MB_RIGHT: a box whose first text reads right to left.
inline constexpr unsigned rightToLeftBoxFlags = 0x00100000 | 0x00080000;

// The string tables a message shows, first to last. Central Kurdish alone
// where the user's display language or regional format is Central Kurdish
// (any sublanguage); elsewhere Central Kurdish first, then English.
std::vector<LanguageId> messageLanguages(LanguageId userInterface, LanguageId locale);

// A text to show: a string of the tables whose %1, %2... are filled with
// the inserts, each read in the same language, or an insert that knows
// how it reads inside a paragraph of either direction.
struct MessageText {
    enum class Kind {
        String,        // the string `id` of the tables, filled with `inserts`
        Literal,       // `literal` as it is, in the direction of its first letter
        Name,          // `literal`, a path, a registry key or a switch: a name,
                       // not words, so left to right in every language
        WindowsError,  // the Windows error `id`, in Windows' words and by number
    };
    Kind kind = Kind::String;
    unsigned id = 0;
    std::wstring literal;
    std::vector<MessageText> inserts;
};

MessageText message(unsigned id, std::vector<MessageText> inserts = {});
MessageText literal(std::wstring text);
MessageText name(std::wstring text);
MessageText windowsError(std::uint32_t error);

// Where the words come from. string: the string `id` of the table of
// `language`; empty if it has none. windowsError: Windows' own text for an
// error in exactly `language`, or, where that is 0, in the language Windows
// chooses for the user; empty if Windows has none.
struct TextSources {
    std::wstring (*string)(LanguageId language, unsigned id);
    std::wstring (*windowsError)(LanguageId language, std::uint32_t error);
};

// The text in one language as plain text, without the marks that hold
// directions in a box (as the log writes it, in English); empty where
// that table lacks a string it needs.
std::wstring plainText(LanguageId language, const MessageText& text, TextSources sources);

struct ShownMessage {
    std::wstring caption;
    std::wstring text;
    unsigned extraFlags = 0;  // rightToLeftBoxFlags, or 0
};

// The caption (string captionId) and the text in every language of
// messageLanguages() that has both, joined in that order: the captions
// by " - ", the texts by a blank line. The first language sets the box's
// reading direction. Text of the other direction is held in its own with
// directional marks and embeddings that old text engines know (Windows
// before 8 has no isolates), line by line and word by word, so that a
// line the box wraps still reads in order; a name keeps each of its
// backslash-separated parts in its own order. A language missing either
// string is left out; where every one is, the caption and text are empty.
ShownMessage composeMessage(LanguageId userInterface, LanguageId locale, unsigned captionId,
                             const MessageText& text, TextSources sources);

}  // namespace setup
