#include "words.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "text.h"

namespace chart {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::map<std::string, Words> Words::read(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path.string());
    std::map<std::string, Words> languages;
    Words* current = nullptr;
    std::string* last = nullptr;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        auto fail = [&](const std::string& why) {
            throw std::runtime_error(path.string() + ":" + std::to_string(number) + ": " + why);
        };
        try {
            kbdread::toCodePoints(line);
        } catch (const std::runtime_error& error) {
            fail(error.what());
        }
        const std::string text = trimmed(line);
        if (text.empty() || text.front() == '#') {
            last = nullptr;
        } else if (text.front() == '[' && text.back() == ']') {
            current = &languages[text.substr(1, text.size() - 2)];
            current->language_ = text.substr(1, text.size() - 2);
            last = nullptr;
        } else if (line.front() == ' ' && last) {
            *last += " " + text;
        } else {
            const auto colon = text.find(':');
            if (!current || colon == std::string::npos || line.front() == ' ')
                fail("expected \"[language]\" or \"id: text\"");
            const std::string id = trimmed(text.substr(0, colon));
            if (current->has(id))
                fail("a second \"" + id + "\" in [" + current->language_ + "]");
            last = &(current->entries_[id] = trimmed(text.substr(colon + 1)));
        }
    }
    return languages;
}

std::string Words::operator()(const std::string& id, const std::map<std::string, std::string>& values) const
{
    const auto found = entries_.find(id);
    if (found == entries_.end())
        throw std::runtime_error("the words file has no \"" + id + "\" in [" + language_ + "]");
    std::string text = found->second;
    for (const auto& [name, value] : values) {
        const std::string placeholder = "{" + name + "}";
        for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size()))
            text.replace(at, placeholder.size(), value);
    }
    return text;
}

bool Words::rightToLeft() const { return has("direction") && (*this)("direction") == "right-to-left"; }

}  // namespace chart
