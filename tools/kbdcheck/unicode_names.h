// The Unicode name of every character, from data generated at build time
// out of the Unicode Character Database (make_unicode_names.py), so that
// kbdcheck needs no file at run time.
//
// The encoding, for the names the database lists one by one:
//   - words[]: every distinct word of the names, most frequent first, each
//     ended by a NUL; wordStarts[i] is where word i begins.
//   - entries[]: one entry per named code point, in code-point order: the
//     distance from the previous entry's code point (7 bits a byte, low
//     bits first, the high bit set on every byte but the last); a byte
//     holding the number of words (bits 0-6) and whether the code point's
//     own hex digits follow the last word (bit 7, for names such as
//     "CJK COMPATIBILITY IDEOGRAPH-F900"); then each word's index, in one
//     byte below 0x80, else in two bytes (0x80 | index >> 8, index & 0xFF).
//   - checkpoints[]: the code point and offset of every 32nd entry, so a
//     lookup decodes at most 32 entries. At a checkpoint the distance is
//     skipped: the checkpoint gives the code point.
// Ranges the database lists by their ends are named by rule: a prefix and
// the code point's hex digits, or the Hangul syllables' jamo names.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kbdcheck::unicode_names {

struct Checkpoint {
    std::uint32_t codePoint;
    std::uint32_t offset; // into entries
};

struct DerivedRange {
    std::uint32_t first;
    std::uint32_t last;
    const char* prefix; // nullptr for the Hangul syllables
};

struct Data {
    std::span<const char> words;
    std::span<const std::uint32_t> wordStarts;
    std::span<const std::uint8_t> entries;
    std::span<const Checkpoint> checkpoints;
    std::span<const DerivedRange> ranges;
    std::span<const char* const> leadJamo;   // choseong 0x1100-0x1112
    std::span<const char* const> vowelJamo;  // jungseong 0x1161-0x1175
    std::span<const char* const> trailJamo;  // none, then jongseong 0x11A8-0x11C2
};

// The generated data.
extern const Data data;

// The character's name ("ARABIC LETTER REH WITH SMALL V BELOW"); a control
// character's first control alias ("LINE FEED"); empty for code points
// without a name (unassigned, surrogates, private use).
std::string name(char32_t codePoint);

} // namespace kbdcheck::unicode_names
