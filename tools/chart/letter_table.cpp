#include "letter_table.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "text_renderer.h"

namespace chart {

namespace {

// The letters Kurdish writes that the Arabic alphabet does not have.
constexpr char32_t KurdishLetters[] = {
    0x06B5,  // ARABIC LETTER LAM WITH SMALL V
    0x0695,  // ARABIC LETTER REH WITH SMALL V BELOW
    0x06C6,  // ARABIC LETTER OE
    0x06CE,  // ARABIC LETTER YEH WITH SMALL V
    0x06D5,  // ARABIC LETTER AE
    0x06A4,  // ARABIC LETTER VEH
    0x067E,  // ARABIC LETTER PEH
    0x0686,  // ARABIC LETTER TCHEH
    0x0698,  // ARABIC LETTER JEH
    0x06AF,  // ARABIC LETTER GAF
};

constexpr char32_t WesternDigits[] = U"0123456789";
constexpr char32_t LeftToRightMark = 0x200E;  // LEFT-TO-RIGHT MARK
constexpr char32_t RightToLeftMark = 0x200F;  // RIGHT-TO-LEFT MARK
constexpr std::size_t LineWidth = 72;
constexpr std::size_t KeyColumn = 6;
const std::string Indent = "    ";

// Every key and level at which the key types `wanted` alone.
std::vector<KeyAt> keysTyping(const LetterTable& table, std::u32string_view wanted)
{
    std::vector<KeyAt> found;
    for (const auto& key : table.keys)
        for (std::size_t level : table.levels)
            if (key.label.typed[level] == wanted)
                found.push_back({key.place, level});
    return found;
}

// The characters typed alone at some level that `wanted` picks, each once,
// in ascending order.
template <typename Wanted>
std::vector<Finding> findingsOf(const LetterTable& table, Wanted wanted)
{
    std::vector<char32_t> characters;
    for (const auto& key : table.keys)
        for (std::size_t level : table.levels)
            if (const auto& typed = key.label.typed[level]; typed.size() == 1 && wanted(typed[0], key.label.shown[level]))
                characters.push_back(typed[0]);
    std::sort(characters.begin(), characters.end());
    characters.erase(std::unique(characters.begin(), characters.end()), characters.end());
    std::vector<Finding> findings;
    for (char32_t c : characters)
        findings.push_back({displayTextFor(std::u32string(1, c)), keysTyping(table, std::u32string(1, c))});
    return findings;
}

bool hasArabicScript(std::u32string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char32_t c) { return c >= 0x0600 && c <= 0x06FF; });
}

// How a text reads in the words' language: in a right-to-left one, a
// piece without Arabic script between left-to-right marks, so that its
// neutral signs (brackets, slashes) keep their place and shape.
std::string piece(const Words& words, std::u32string_view text)
{
    if (!words.rightToLeft() || hasArabicScript(text))
        return toUtf8(text);
    const std::u32string mark(1, LeftToRightMark);
    return toUtf8(mark + std::u32string(text) + mark);
}

// What stands between two pieces: in a right-to-left language after a
// right-to-left mark, so that each piece, Latin or not, takes its own place
// in the line's right-to-left order rather than joining a Latin neighbour.
std::string gap(const Words& words, const std::string& between)
{
    return words.rightToLeft() ? toUtf8(std::u32string(1, RightToLeftMark)) + between : between;
}

std::string keyName(const Words& words, const KeyPlace& place)
{
    return place.legend.empty() ? words("iso-key") : place.legend;
}

std::string keyAtName(const Words& words, const KeyAt& key)
{
    const std::string level = Levels[key.level].name;
    return (level.empty() ? "" : level + "+") + keyName(words, key.place);
}

// The keys that type a finding, each written by `write`.
template <typename Write>
std::string keysOf(const Words& words, const Finding& finding, Write write)
{
    std::string list;
    for (const KeyAt& key : finding.keys)
        list += (list.empty() ? "" : gap(words, words("comma") + " ")) + write(toCodePoints(keyAtName(words, key)));
    return list;
}

std::size_t columns(const std::string& utf8)
{
    const std::u32string text = toCodePoints(utf8);
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char32_t c) { return c != LeftToRightMark && c != RightToLeftMark; }));
}

// The text and a gap of at least two spaces, up to `width` columns.
std::string padded(const Words& words, const std::string& text, std::size_t width)
{
    return text + gap(words, std::string(std::max<std::size_t>(width, columns(text) + 2) - columns(text), ' '));
}

// The paragraph broken into lines of at most LineWidth columns, after
// `first` on the first line and `indent` on the others.
std::string wrapped(const std::string& paragraph, const std::string& first = {}, std::size_t indent = 0)
{
    std::istringstream words(paragraph);
    std::string out, line = first, word;
    bool empty = true;
    while (words >> word) {
        if (!empty && columns(line) + 1 + columns(word) > LineWidth) {
            out += line + "\n";
            line = std::string(indent, ' ');
            empty = true;
        }
        line += (empty ? "" : " ") + word;
        empty = false;
    }
    return out + line + "\n";
}

std::string digitsParagraph(const LetterTable& table, const Words& words)
{
    std::string text = words("digits-typed", {{"digits", toUtf8(table.digits)}});
    if (table.digits == WesternDigits)
        text.append(" ").append(words("western-digits"));
    return text;
}

// A Markdown cell: each sign that Markdown reads (a cell's end, code,
// emphasis, links, HTML, math) escaped, so that a typed | or ` stays text.
std::string cell(std::u32string_view text)
{
    static constexpr std::u32string_view Escaped = U"\\`*_[]<>|&!~$#";
    std::u32string out;
    for (char32_t c : text) {
        if (Escaped.find(c) != std::u32string_view::npos)
            out += U'\\';
        out += c;
    }
    return toUtf8(out);
}

std::string row(const std::vector<std::string>& cells)
{
    std::string line = "|";
    for (const std::string& text : cells)
        line.append(" ").append(text).append(" |");
    return line + "\n";
}

}  // namespace

LetterTable letterTableFor(const std::vector<KeyPlace>& places, const std::vector<KeyLabel>& labels)
{
    if (places.size() != labels.size())
        throw std::logic_error("one label per key place");
    LetterTable table;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const bool types = std::any_of(labels[i].shown.begin(), labels[i].shown.end(),
                                       [](const DisplayText& shown) { return !shown.empty(); });
        if (places[i].block == Block::Main && types)
            table.keys.push_back({places[i], labels[i]});
    }
    for (std::size_t level = 0; level < LevelCount; ++level)
        if (std::any_of(table.keys.begin(), table.keys.end(), [&](const auto& key) { return !key.label.shown[level].empty(); }))
            table.levels.push_back(level);

    for (char32_t letter : KurdishLetters) {
        const std::u32string typed(1, letter);
        auto keys = keysTyping(table, typed);
        if (keys.empty())
            throw std::runtime_error("the layout types " + codePointName(letter) + " on no key");
        table.kurdishLetters.push_back({{typed, false}, std::move(keys)});
    }
    table.marks = findingsOf(table, [](char32_t c, const DisplayText&) { return isMark(c); });
    table.invisibles = findingsOf(table, [](char32_t, const DisplayText& shown) { return shown.isTag; });
    for (const auto& key : table.keys)
        for (std::size_t level : table.levels)
            for (char32_t c : key.label.typed[level])
                if (isDecimalDigit(c) && table.digits.find(c) == std::u32string::npos)
                    table.digits += c;
    std::sort(table.digits.begin(), table.digits.end());
    return table;
}

std::string asText(const LetterTable& table, const Words& words)
{
    std::string out = words("heading") + "\n\n" + wrapped(words("intro")) + wrapped(words("pdf")) + "\n";
    for (const auto& key : table.keys) {
        std::string line = Indent + padded(words, piece(words, toCodePoints(keyName(words, key.place))), KeyColumn);
        for (std::size_t level : table.levels) {
            const DisplayText& shown = key.label.shown[level];
            if (shown.empty())
                continue;
            if (level != PlainLevel)
                line += gap(words, Indent) + piece(words, toCodePoints(Levels[level].name)) + gap(words, " ");
            line += piece(words, shown.text);
        }
        out += line + "\n";
    }
    const auto findings = [&](const std::string& heading, const std::vector<Finding>& list) {
        if (list.empty())
            return;
        out.append("\n").append(words(heading)).append("\n\n");
        for (const Finding& finding : list) {
            std::string line = Indent + padded(words, piece(words, finding.shown.text), KeyColumn) +
                               keysOf(words, finding, [&](std::u32string_view name) { return piece(words, name); });
            if (!finding.shown.isTag)
                out += line + "\n";
            else  // what the invisible character does, under its keys where the line runs long
                out += wrapped(words(toUtf8(finding.shown.text)), line + gap(words, Indent), Indent.size() + KeyColumn);
        }
    };
    findings("kurdish-letters", table.kurdishLetters);
    findings("marks", table.marks);
    findings("invisible", table.invisibles);
    if (!table.digits.empty())
        out.append("\n").append(words("digits")).append("\n\n").append(wrapped(digitsParagraph(table, words)));
    return out;
}

std::string asMarkdown(const LetterTable& table, const Words& words)
{
    std::string out = "## " + words("heading") + "\n\n" + wrapped(words("intro") + " " + words("pdf")) + "\n";
    std::vector<std::string> heads{words("column-key")};
    for (std::size_t level : table.levels)
        heads.push_back(level == PlainLevel ? words("column-alone") : Levels[level].name);
    out += row(heads) + row(std::vector<std::string>(heads.size(), "---"));
    for (const auto& key : table.keys) {
        std::vector<std::string> cells{cell(toCodePoints(keyName(words, key.place)))};
        for (std::size_t level : table.levels)
            cells.push_back(cell(key.label.shown[level].text));
        out += row(cells);
    }
    const auto findings = [&](const std::string& heading, const std::string& column, const std::vector<Finding>& list) {
        if (list.empty())
            return;
        const bool tags = list.front().shown.isTag;
        std::vector<std::string> heads{words(column), words("column-keys")};
        if (tags)
            heads.push_back(words("column-meaning"));
        out.append("\n**").append(words(heading)).append("**\n\n");
        out += row(heads) + row(std::vector<std::string>(heads.size(), "---"));
        for (const Finding& finding : list) {
            std::vector<std::string> cells{cell(finding.shown.text), keysOf(words, finding, cell)};
            if (tags)
                cells.push_back(words(toUtf8(finding.shown.text)));
            out += row(cells);
        }
    };
    findings("kurdish-letters", "column-letter", table.kurdishLetters);
    findings("marks", "column-mark", table.marks);
    findings("invisible", "column-character", table.invisibles);
    if (!table.digits.empty())
        out.append("\n**").append(words("digits")).append("**\n\n").append(wrapped(digitsParagraph(table, words)));
    return out;
}

}  // namespace chart
