// Readable names for what a keyboard layout holds: virtual keys and the
// characters its cells type.
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

} // namespace kbdcheck
