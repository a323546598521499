// Readable names for what a keyboard layout holds: virtual keys, the
// characters its cells type, and its strings as UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace kbdcheck {

// The published name of a virtual key ("VK_OEM_4"); letters and digits are
// named by their character ("'Q'"); unknown codes as "VK 0xNN".
std::string virtualKeyName(std::uint8_t virtualKey);

// The Unicode name of a character (for a control character, its control
// alias); empty for code points without one, such as a lone surrogate.
std::string characterName(char32_t codePoint);

// "U+06B5", "U+1F600".
std::string codePoint(char32_t codePoint);

// UTF-16 text as UTF-8; a surrogate pair is one character, a lone
// surrogate becomes U+FFFD.
std::string utf8(const std::u16string& text);

} // namespace kbdcheck
