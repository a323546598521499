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
// the inserts, each read in the same language; or, where id is 0, a
// literal text that is the same in every language (a path, Windows' text
// for an error).
struct MessageText {
    unsigned id = 0;
    std::wstring literal;
    std::vector<MessageText> inserts;
};

MessageText message(unsigned id, std::vector<MessageText> inserts = {});
MessageText literal(std::wstring text);

// The string `id` of the table of `language`; empty if it has none.
using StringLookup = std::wstring (*)(LanguageId language, unsigned id);

// The text in one language (as the log writes it, in English); empty
// where that table lacks a string it needs.
std::wstring renderedIn(LanguageId language, const MessageText& text, StringLookup lookup);

struct ShownMessage {
    std::wstring caption;
    std::wstring text;
    unsigned extraFlags = 0;  // rightToLeftBoxFlags, or 0
};

// The caption (string captionId) and the text in every language of
// messageLanguages() that has both, joined in that order: the captions
// by " - ", the texts by a blank line. The first language sets the box's
// reading direction; text of the other direction is held in its own with
// directional marks, line by line and word by word, so that a line the
// box wraps still reads in order. A language missing either string is
// left out; where every one is, the caption and text are empty.
ShownMessage composeMessage(LanguageId userInterface, LanguageId locale, unsigned captionId,
                             const MessageText& text, StringLookup lookup);

}  // namespace setup
