// kbdletters: writes where the letters are, read from a built layout
// library, into a README.
//
//   kbdletters <layout.dll> <words file> <template> <output>
//
// In the template a line "letter-table LANGUAGE" becomes the letter table as
// plain text in that language (README.txt); the lines between
// "<!-- letter-table LANGUAGE ... -->" and "<!-- /letter-table -->" become
// the table in Markdown, the two marker lines kept, so that a README.md can
// be written over itself. A template without a marker is refused. The output is
// written whole or not at all.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "layout_file_source.h"
#include "letter_table.h"

namespace {

std::string readText(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string filled(const std::string& templateText, const chart::LetterTable& table,
                   const std::map<std::string, chart::Words>& words)
{
    static const std::regex textMarker("letter-table ([a-z]+)");
    static const std::regex markdownStart("<!-- letter-table ([a-z]+)\\b.*-->");
    static const std::string markdownEnd = "<!-- /letter-table -->";
    const auto language = [&](const std::string& tag) -> const chart::Words& {
        const auto found = words.find(tag);
        if (found == words.end())
            throw std::runtime_error("the words file has no language \"" + tag + "\"");
        return found->second;
    };
    std::istringstream lines(templateText);
    std::string out, line;
    int markers = 0;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, textMarker)) {
            out += chart::asText(table, language(match[1]));
            ++markers;
        } else if (std::regex_match(line, match, markdownStart)) {
            out += line + "\n" + chart::asMarkdown(table, language(match[1]));
            while (std::getline(lines, line) && line != markdownEnd) {
            }
            if (line != markdownEnd)
                throw std::runtime_error("\"" + match.str() + "\" has no \"" + markdownEnd + "\" after it");
            out += line + "\n";
            ++markers;
        } else {
            out += line + "\n";
        }
    }
    if (markers == 0)
        throw std::runtime_error("the template has no \"letter-table LANGUAGE\" or \"<!-- letter-table LANGUAGE -->\" line");
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: kbdletters <layout.dll> <words file> <template> <output>\n");
        return 2;
    }
    try {
        const chart::LayoutFileSource layout(kbdread::readLayout(std::filesystem::path(argv[1])));
        const auto places = chart::keyPlaces();
        const auto table = chart::letterTableFor(places, chart::labelsFor(layout, places));
        const std::string text = filled(readText(argv[3]), table, chart::Words::read(argv[2]));
        const std::filesystem::path output = argv[4];
        const std::filesystem::path written = output.string() + ".part";
        std::ofstream file(written, std::ios::binary);
        file << text;
        file.close();
        if (!file) {
            std::filesystem::remove(written);
            throw std::runtime_error("cannot write " + written.string());
        }
        std::filesystem::rename(written, output);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kbdletters: %s\n", error.what());
        return 1;
    }
    return 0;
}
