#include "unicode_names.h"

#include <algorithm>

#include "bytes.h"

namespace kbdcheck::unicode_names {
namespace {

constexpr std::size_t kCheckpointEvery = 32;

// Reads the entries from a checkpoint on. Every read is bounded by the
// data, so even a damaged table cannot read past it.
class EntryReader {
public:
    explicit EntryReader(std::size_t offset) : at_(offset) {}

    bool more() const { return at_ < data.entries.size(); }
    std::uint8_t byte() { return more() ? data.entries[at_++] : 0; }

    std::uint32_t distance()
    {
        std::uint32_t value = 0;
        for (unsigned shift = 0; more() && shift < 28; shift += 7) {
            const std::uint8_t b = byte();
            value |= std::uint32_t{b & 0x7Fu} << shift;
            if (!(b & 0x80))
                break;
        }
        return value;
    }

    std::uint32_t wordIndex()
    {
        const std::uint8_t first = byte();
        return first < 0x80 ? first : (first & 0x7Fu) << 8 | byte();
    }

private:
    std::size_t at_;
};

std::string word(std::uint32_t index)
{
    if (index >= data.wordStarts.size())
        return "?";
    const std::uint32_t start = data.wordStarts[index];
    const auto end = std::find(data.words.begin() + start, data.words.end(), '\0');
    return std::string(data.words.begin() + start, end);
}

// The Hangul syllables' names follow from their jamo.
std::string hangulSyllable(char32_t codePoint)
{
    const std::uint32_t index = codePoint - 0xAC00;
    const std::size_t trails = data.trailJamo.size();
    const std::size_t perLead = data.vowelJamo.size() * trails;
    return std::string("HANGUL SYLLABLE ") + data.leadJamo[index / perLead] +
           data.vowelJamo[index % perLead / trails] + data.trailJamo[index % trails];
}

std::string listedName(char32_t codePoint)
{
    const auto after = std::upper_bound(data.checkpoints.begin(), data.checkpoints.end(), codePoint,
                                        [](char32_t cp, const Checkpoint& c) { return cp < c.codePoint; });
    if (after == data.checkpoints.begin())
        return {};
    EntryReader reader(std::prev(after)->offset);
    std::uint32_t current = std::prev(after)->codePoint;
    for (std::size_t n = 0; n < kCheckpointEvery && reader.more(); ++n) {
        const std::uint32_t distance = reader.distance();
        if (n > 0)
            current += distance;
        if (current > codePoint)
            return {};
        const std::uint8_t header = reader.byte();
        std::string name;
        for (unsigned i = 0; i < (header & 0x7Fu); ++i) {
            const std::uint32_t index = reader.wordIndex();
            if (current != codePoint)
                continue;
            if (i > 0)
                name += ' ';
            name += word(index);
        }
        if (current == codePoint) {
            if (header & 0x80)
                name += kbdread::bareHex(codePoint, 4);
            return name;
        }
    }
    return {};
}

} // namespace

std::string name(char32_t codePoint)
{
    for (const DerivedRange& range : data.ranges) {
        if (codePoint < range.first || codePoint > range.last)
            continue;
        return range.prefix ? range.prefix + kbdread::bareHex(codePoint, 4) : hangulSyllable(codePoint);
    }
    return listedName(codePoint);
}

} // namespace kbdcheck::unicode_names
