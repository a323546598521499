// The languages of the installer's message box: the choice of string
// tables, the filling of %1, %2... with inserts of each kind, and the
// directional marks that keep text of one reading direction in order
// inside a box of the other.
#include "message_language.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "resource.h"
#include "text.h"

namespace setup {
namespace {

enum class Direction { LeftToRight, RightToLeft };

constexpr LanguageId primaryLanguage(LanguageId language) { return language & 0x3FF; }

Direction directionOf(LanguageId language) {
    return primaryLanguage(language) == primaryLanguage(centralKurdishIraq) ? Direction::RightToLeft
                                                                            : Direction::LeftToRight;
}

constexpr wchar_t leftToRightMark = 0x200E;           // LEFT-TO-RIGHT MARK
constexpr wchar_t rightToLeftMark = 0x200F;           // RIGHT-TO-LEFT MARK
constexpr wchar_t leftToRightEmbedding = 0x202A;      // LEFT-TO-RIGHT EMBEDDING
constexpr wchar_t rightToLeftEmbedding = 0x202B;      // RIGHT-TO-LEFT EMBEDDING
constexpr wchar_t popDirectionalFormatting = 0x202C;  // POP DIRECTIONAL FORMATTING

// The direction a character sets for the text around it: the strong
// classes of the Unicode bidirectional algorithm, as far as the texts of a
// message go (Latin and Arabic script, digits, punctuation, paths). Every
// other character takes its direction from its neighbours.
std::optional<Direction> strongDirection(wchar_t c) {
    if (c == leftToRightMark)
        return Direction::LeftToRight;
    if (c == rightToLeftMark)
        return Direction::RightToLeft;
    if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'))
        return Direction::LeftToRight;
    // ASCII and the Latin-1 signs; the combining diacritics.
    if (c < 0x00C0 || c == 0x00D7 || c == 0x00F7 || (c >= 0x0300 && c <= 0x036F))
        return std::nullopt;
    // Hebrew to NKo and their presentation forms, less the Arabic digits,
    // the Arabic comma and the Arabic combining marks.
    if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFE)) {
        const bool digitOrSeparator = (c >= 0x0660 && c <= 0x066C) || (c >= 0x06F0 && c <= 0x06F9) || c == 0x060C;
        const bool combining = (c >= 0x064B && c <= 0x065F) || c == 0x0670 || (c >= 0x06D6 && c <= 0x06ED);
        if (digitOrSeparator || combining)
            return std::nullopt;
        return Direction::RightToLeft;
    }
    // Punctuation, symbols and formatting characters; the surrogates of
    // characters beyond the first plane.
    if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xD800 && c <= 0xDFFF) ||
        (c >= 0xFE00 && c <= 0xFE6F) || (c >= 0xFF00 && c <= 0xFF20))
        return std::nullopt;
    return Direction::LeftToRight;
}

std::optional<Direction> firstStrongDirection(std::wstring_view text) {
    for (const wchar_t c : text) {
        if (const auto direction = strongDirection(c))
            return direction;
    }
    return std::nullopt;
}

// Text of direction `own` held in that direction inside a paragraph of the
// other. Each line is embedded in its own direction. A message box lays
// out each line it wraps on its own, without the embedding, so each word
// that begins or ends with a character of no strong direction (a slash,
// a digit, a full stop) also gets the direction's mark on that side. A
// word's edge of the other direction is left alone: words of that
// direction side by side (a folder name in a path) read as one run.
std::wstring holdDirection(std::wstring_view text, Direction own) {
    const bool leftToRight = own == Direction::LeftToRight;
    const wchar_t embedding = leftToRight ? leftToRightEmbedding : rightToLeftEmbedding;
    const wchar_t mark = leftToRight ? leftToRightMark : rightToLeftMark;
    std::wstring held;
    std::size_t lineStart = 0;
    for (;;) {
        const std::size_t lineEnd = std::min(text.find(L'\n', lineStart), text.size());
        const std::wstring_view line = text.substr(lineStart, lineEnd - lineStart);
        if (!line.empty()) {
            held += embedding;
            std::size_t wordStart = 0;
            while (wordStart <= line.size()) {
                const std::size_t wordEnd = std::min(line.find(L' ', wordStart), line.size());
                const std::wstring_view word = line.substr(wordStart, wordEnd - wordStart);
                if (!word.empty()) {
                    if (!strongDirection(word.front()))
                        held += mark;
                    held += word;
                    if (!strongDirection(word.back()))
                        held += mark;
                }
                if (wordEnd < line.size())
                    held += L' ';
                wordStart = wordEnd + 1;
            }
            held += popDirectionalFormatting;
        }
        if (lineEnd == text.size())
            return held;
        held += L'\n';
        lineStart = lineEnd + 1;
    }
}

// The pattern with %1 to %9 replaced by the inserts, in one pass: an
// insert's own text is never read as a pattern. A number with no insert
// stays as it is written.
std::wstring fill(std::wstring_view pattern, const std::vector<std::wstring>& inserts) {
    std::wstring filled;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t next = i + 1 < pattern.size() ? pattern[i + 1] : L'\0';
        const std::size_t number = next >= L'1' && next <= L'9' ? static_cast<std::size_t>(next - L'0') : 0;
        if (pattern[i] == L'%' && number != 0 && number <= inserts.size()) {
            filled += inserts[number - 1];
            ++i;
        } else {
            filled += pattern[i];
        }
    }
    return filled;
}

// Text held in its own direction where that is not the paragraph's.
std::wstring heldInParagraph(std::wstring_view text, Direction paragraph) {
    const std::optional<Direction> own = firstStrongDirection(text);
    return own && *own != paragraph ? holdDirection(text, *own) : std::wstring(text);
}

// The text in one language; nothing if a string it needs is missing there.
std::optional<std::wstring> render(LanguageId language, const MessageText& text, TextSources sources) {
    const Direction paragraph = directionOf(language);
    unsigned pattern = text.id;
    std::vector<std::wstring> inserts;
    switch (text.kind) {
    case MessageText::Kind::Literal:
        return heldInParagraph(text.literal, paragraph);
    case MessageText::Kind::Name: {
        // A mark after each separator ends a part of the other direction
        // there: two folder names in a row keep their order.
        std::wstring marked;
        for (const wchar_t c : text.literal) {
            marked += c;
            if (c == L'\\')
                marked += leftToRightMark;
        }
        return paragraph == Direction::LeftToRight ? marked : holdDirection(marked, Direction::LeftToRight);
    }
    case MessageText::Kind::WindowsError: {
        // Only English, the table of every user who does not read Kurdish,
        // takes Windows' words in the user's own language; every other
        // table's text stays in its language, with the number alone where
        // Windows has no words in it.
        const std::wstring words = sources.windowsError(language == englishUnitedStates ? 0 : language, text.id);
        pattern = words.empty() ? IDS_ERROR_NUMBER : IDS_WINDOWS_ERROR;
        inserts.push_back(decimal(text.id));
        inserts.push_back(heldInParagraph(words, paragraph));
        break;
    }
    case MessageText::Kind::String:
        for (const MessageText& insert : text.inserts) {
            std::optional<std::wstring> rendered = render(language, insert, sources);
            if (!rendered)
                return std::nullopt;
            inserts.push_back(std::move(*rendered));
        }
        break;
    }
    const std::wstring filled = sources.string(language, pattern);
    if (filled.empty())
        return std::nullopt;
    return fill(filled, inserts);
}

}  // namespace

std::vector<LanguageId> messageLanguages(LanguageId userInterface, LanguageId locale) {
    const LanguageId kurdish = primaryLanguage(centralKurdishIraq);
    if (primaryLanguage(userInterface) == kurdish || primaryLanguage(locale) == kurdish)
        return {centralKurdishIraq};
    return {centralKurdishIraq, englishUnitedStates};
}

MessageText message(unsigned id, std::vector<MessageText> inserts) {
    return {MessageText::Kind::String, id, {}, std::move(inserts)};
}
MessageText literal(std::wstring text) { return {MessageText::Kind::Literal, 0, std::move(text), {}}; }
MessageText name(std::wstring text) { return {MessageText::Kind::Name, 0, std::move(text), {}}; }
MessageText windowsError(std::uint32_t error) { return {MessageText::Kind::WindowsError, error, {}, {}}; }

std::wstring plainText(LanguageId language, const MessageText& text, TextSources sources) {
    std::wstring rendered = render(language, text, sources).value_or(L"");
    std::erase_if(rendered, [](wchar_t c) {
        return c == leftToRightMark || c == rightToLeftMark || (c >= leftToRightEmbedding && c <= popDirectionalFormatting);
    });
    return rendered;
}

ShownMessage composeMessage(LanguageId userInterface, LanguageId locale, unsigned captionId,
                            const MessageText& text, TextSources sources) {
    ShownMessage shown;
    std::optional<Direction> boxDirection;
    for (const LanguageId language : messageLanguages(userInterface, locale)) {
        std::wstring caption = sources.string(language, captionId);
        std::optional<std::wstring> body = render(language, text, sources);
        if (caption.empty() || !body)
            continue;
        const Direction own = directionOf(language);
        if (!boxDirection) {
            boxDirection = own;
            shown.extraFlags = own == Direction::RightToLeft ? rightToLeftBoxFlags : 0;
        } else {
            shown.caption += L" - ";
            shown.text += L"\n\n";
        }
        if (own != *boxDirection) {
            caption = holdDirection(caption, own);
            body = holdDirection(*body, own);
        }
        shown.caption += caption;
        shown.text += *body;
    }
    return shown;
}

}  // namespace setup
