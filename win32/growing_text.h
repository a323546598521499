// Text from a Win32 call that writes into a buffer the caller sizes and
// answers with a length: GetModuleFileNameW, GetSystemDirectoryW,
// GetTempPathW and their kind. It includes no Windows header, so it is
// tested on the host with stand-in calls.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace win32 {

// Room for the longest path Windows has: 32,767 characters and the
// terminator.
inline constexpr std::size_t longestText = 32768;

// MAX_PATH: enough for nearly every path, so one call usually does.
inline constexpr std::size_t firstTextCapacity = 260;

// call(buffer, capacity) writes into a buffer of `capacity` characters and
// answers
//  - 0 when it fails;
//  - the text's length, which is below `capacity`, when the text and its
//    terminator fit;
//  - anything else when they do not: GetModuleFileNameW answers `capacity`
//    (the text cut off at the buffer's end, on XP without a terminator),
//    GetSystemDirectoryW and most others the capacity they need.
// Then the buffer grows to what the call asked for, or at least twice the
// size, and the call runs again. Empty when the call fails, or finds no
// room even in longestText characters.
template <typename Call>
std::wstring growingText(Call call, std::size_t capacity = firstTextCapacity) {
    std::wstring text;
    for (;;) {
        text.resize(capacity);
        const std::size_t length = call(text.data(), static_cast<std::uint32_t>(capacity));
        if (length == 0)
            return {};
        if (length < capacity) {
            text.resize(length);
            return text;
        }
        if (capacity >= longestText)
            return {};
        capacity = std::min(std::max(length, capacity * 2), longestText);
    }
}

}  // namespace win32
