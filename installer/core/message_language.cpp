// The languages of the installer's message box: the choice of string
// tables, the filling of %1, %2..., and the directional marks that keep
// text of one reading direction in order inside a box of the other.
#include "message_language.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

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
// a digit, a full stop) also gets the direction's mark on that side.
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
                const std::size_t wordEnd = std::min(line.find_first_of(L" \t", wordStart), line.size());
                const std::wstring_view word = line.substr(wordStart, wordEnd - wordStart);
                if (!word.empty()) {
                    if (strongDirection(word.front()) != own)
                        held += mark;
                    held += word;
                    if (strongDirection(word.back()) != own)
                        held += mark;
                }
                if (wordEnd < line.size())
                    held += line[wordEnd];
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

// The text in one language; nothing if a string it needs is missing there.
std::optional<std::wstring> render(LanguageId language, const MessageText& text, StringLookup lookup) {
    if (text.id == 0)
        return text.literal;
    const std::wstring pattern = lookup(language, text.id);
    if (pattern.empty())
        return std::nullopt;
    std::vector<std::wstring> inserts;
    for (const MessageText& insert : text.inserts) {
        std::optional<std::wstring> rendered = render(language, insert, lookup);
        if (!rendered)
            return std::nullopt;
        // A path or a Windows error text keeps its own direction; an
        // insert from the same table is already in the language's.
        const std::optional<Direction> own = firstStrongDirection(*rendered);
        if (insert.id == 0 && own && *own != directionOf(language))
            rendered = holdDirection(*rendered, *own);
        inserts.push_back(std::move(*rendered));
    }
    return fill(pattern, inserts);
}

}  // namespace

std::vector<LanguageId> messageLanguages(LanguageId userInterface, LanguageId locale) {
    const LanguageId kurdish = primaryLanguage(centralKurdishIraq);
    if (primaryLanguage(userInterface) == kurdish || primaryLanguage(locale) == kurdish)
        return {centralKurdishIraq};
    return {centralKurdishIraq, englishUnitedStates};
}

MessageText message(unsigned id, std::vector<MessageText> inserts) { return {id, {}, std::move(inserts)}; }

MessageText literal(std::wstring text) { return {0, std::move(text), {}}; }

std::wstring renderedIn(LanguageId language, const MessageText& text, StringLookup lookup) {
    return render(language, text, lookup).value_or(L"");
}

ShownMessage composeMessage(LanguageId userInterface, LanguageId locale, unsigned captionId,
                            const MessageText& text, StringLookup lookup) {
    ShownMessage shown;
    std::optional<Direction> boxDirection;
    for (const LanguageId language : messageLanguages(userInterface, locale)) {
        std::wstring caption = lookup(language, captionId);
        std::optional<std::wstring> body = render(language, text, lookup);
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
