// Readable names for what a keyboard layout holds: virtual keys and the
// characters its cells type.
#pragma once

#include <cstdint>
#include <string>

namespace kbdcheck {

// The published name of a virtual key ("VK_OEM_4"); letters and digits are
// named by their character ("'Q'"); unknown codes as "VK 0xNN".
std::string virtualKeyName(std::uint8_t virtualKey);

// The Unicode name of a UTF-16 code unit as far as the built-in table knows
// it (the Arabic block, ASCII, common punctuation, the controls a layout
// types, the joiners and direction marks); otherwise empty.
std::string characterName(char16_t unit);

// "U+06B5".
std::string codePoint(char16_t unit);

} // namespace kbdcheck
