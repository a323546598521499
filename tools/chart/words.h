// The words the letter table and the printed chart show, one set per
// language, read from a words file (tools/chart/words.txt):
//
//   # a comment
//   [ckb]                  the language the entries below are in
//   id: text               one entry
//       more text          a line that starts with a space continues it
//
// Texts stay in their own script in the file; the code only names them.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace chart {

class Words {
public:
    // Every language of the file, by its tag. Throws std::runtime_error
    // naming the line of a malformed entry.
    static std::map<std::string, Words> read(const std::filesystem::path& path);

    const std::string& language() const { return language_; }
    // The entry's text, with each "{name}" replaced by its value. Throws
    // std::runtime_error naming the id and the language when the entry is
    // missing.
    std::string operator()(const std::string& id, const std::map<std::string, std::string>& values = {}) const;
    bool has(const std::string& id) const { return entries_.count(id) != 0; }
    // The language is written right to left ("direction: right-to-left").
    bool rightToLeft() const;

private:
    std::string language_;
    std::map<std::string, std::string> entries_;
};

}  // namespace chart
