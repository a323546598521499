// The texts a layout library holds (UTF-16) as code points, and code
// points as UTF-8, for the tools that print or draw them.
#pragma once

#include <string>
#include <string_view>

namespace kbdread {

// A surrogate pair becomes one code point; a lone surrogate stays as it is.
std::u32string toCodePoints(std::u16string_view utf16);
// Throws std::runtime_error on bytes that are not UTF-8.
std::u32string toCodePoints(std::string_view utf8);
// A code point UTF-8 cannot carry (a surrogate, or one past U+10FFFF)
// becomes U+FFFD.
std::string toUtf8(std::u32string_view text);

} // namespace kbdread
