// Text from length-returning calls, through stand-ins that answer as the
// two kinds of Win32 call do when the buffer is too small: cut off at the
// buffer's end (GetModuleFileNameW), or asking for the capacity needed
// (GetSystemDirectoryW, GetTempPathW).
#include "growing_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace win32 {
namespace {

constexpr std::size_t maxPath = 260;
// The longest path Windows has.
constexpr std::size_t longestPath = 32767;

enum class WhenTooSmall { CutsOff, AsksForMore };

const char* name(WhenTooSmall kind) {
    return kind == WhenTooSmall::CutsOff ? "cut off at the buffer's end" : "asking for more";
}

// A call whose text is `text`.
struct StandIn {
    std::wstring text;
    WhenTooSmall kind;

    std::uint32_t operator()(wchar_t* buffer, std::uint32_t capacity) const {
        if (text.size() < capacity) {
            std::copy(text.begin(), text.end(), buffer);
            buffer[text.size()] = L'\0';
            return static_cast<std::uint32_t>(text.size());
        }
        if (kind == WhenTooSmall::AsksForMore)
            return static_cast<std::uint32_t>(text.size() + 1);
        // As Vista and later do; XP leaves out the terminator.
        std::copy(text.begin(), text.begin() + (capacity - 1), buffer);
        buffer[capacity - 1] = L'\0';
        return capacity;
    }
};

// A path of `length` characters whose every character tells where it is.
std::wstring pathOfLength(std::size_t length) {
    std::wstring path = L"C:\\";
    while (path.size() < length)
        path += static_cast<wchar_t>(L'a' + path.size() % 26);
    path.resize(length);
    return path;
}

TEST(GrowingText, WholeTextOfAnyLength) {
    const std::size_t lengths[] = {1, maxPath - 1, maxPath, maxPath + 1, 2 * maxPath - 1,
                                   2 * maxPath, 2 * maxPath + 1, longestPath};
    for (const WhenTooSmall kind : {WhenTooSmall::CutsOff, WhenTooSmall::AsksForMore}) {
        for (const std::size_t length : lengths) {
            const StandIn call{pathOfLength(length), kind};
            const std::wstring text = growingText(call);
            EXPECT_EQ(text.size(), length) << name(kind) << ", " << length << " characters";
            EXPECT_TRUE(text == call.text) << name(kind) << ", " << length << " characters";
        }
    }
}

// A call that fails, or never finds the buffer big enough: the helper must
// neither make up a text nor grow the buffer without end.
TEST(GrowingText, EmptyWhenTheCallFails) {
    struct Row {
        const char* call;
        std::uint32_t (*answer)(std::uint32_t capacity);
    };
    const Row rows[] = {
        {"fails", [](std::uint32_t) { return std::uint32_t{0}; }},
        {"always cut off", [](std::uint32_t capacity) { return capacity; }},
        {"always asks for one more", [](std::uint32_t capacity) { return capacity + 1; }},
        {"asks for more than any path", [](std::uint32_t) { return std::uint32_t{0x7FFFFFFF}; }},
    };
    for (const Row& row : rows) {
        int calls = 0;
        std::size_t largest = 0;
        const std::wstring text = growingText([&](wchar_t*, std::uint32_t capacity) {
            ++calls;
            largest = std::max<std::size_t>(largest, capacity);
            return row.answer(capacity);
        });
        EXPECT_EQ(text, L"") << row.call;
        EXPECT_LE(largest, longestPath + 1) << row.call;
        EXPECT_LT(calls, 20) << row.call;
    }
}

}  // namespace
}  // namespace win32
