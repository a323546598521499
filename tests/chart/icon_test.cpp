// The launcher icon mkicon wrote: one 32 x 32, 8-bit image with its AND
// mask, its colour table holding just the colours its pixels use
// (reference_test.cpp compares the pixels with the reviewed ones).
#include <gtest/gtest.h>

#include <set>

#include "kbdread.h"
#include "bytes.h"


namespace {

std::vector<std::uint8_t> readIcon() { return kbdread::readFileBytes(HALVARO_ICON); }

constexpr std::size_t Info = 22;
constexpr std::size_t Palette = Info + 40;

// The colours in the table (biClrUsed), which the sizes after it follow.
std::size_t tableColours(const std::vector<std::uint8_t>& ico)
{
    return kbdread::ByteView(ico).unsignedAt(Info + 32, 4);
}

}  // namespace

TEST(Icon, HeadersDescribeOne32x32ImageWithItsColours)
{
    const auto ico = readIcon();
    ASSERT_GE(ico.size(), Palette);
    const std::size_t colours = tableColours(ico);
    ASSERT_TRUE(colours >= 2 && colours <= 256) << colours;
    const std::size_t fileSize = Palette + 4 * colours + 32 * 32 + 32 * 4;
    ASSERT_EQ(ico.size(), fileSize);
    struct Row {
        const char* field;
        std::size_t offset;
        int width;
        std::uint32_t expected;
    };
    const Row rows[] = {
        {"reserved", 0, 2, 0},
        {"type (icon)", 2, 2, 1},
        {"image count", 4, 2, 1},
        {"entry width", 6, 1, 32},
        {"entry height", 7, 1, 32},
        {"entry colour count (0 at 8 bits)", 8, 1, 0},
        {"entry reserved", 9, 1, 0},
        {"entry planes", 10, 2, 1},
        {"entry bits per pixel", 12, 2, 8},
        {"entry bytes", 14, 4, static_cast<std::uint32_t>(fileSize - Info)},
        {"entry offset", 18, 4, Info},
        {"info header size", Info, 4, 40},
        {"info width", Info + 4, 4, 32},
        {"info height (image and mask)", Info + 8, 4, 64},
        {"info planes", Info + 12, 2, 1},
        {"info bits per pixel", Info + 14, 2, 8},
        {"info compression", Info + 16, 4, 0},
        {"info important colours (all)", Info + 36, 4, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(kbdread::ByteView(ico).unsignedAt(row.offset, row.width), row.expected) << row.field;
}

TEST(Icon, TableHoldsEachColourThePixelsUseOnce)
{
    const auto ico = readIcon();
    const std::size_t colours = tableColours(ico);
    const std::size_t pixels = Palette + 4 * colours;
    ASSERT_EQ(ico.size(), pixels + 32 * 32 + 32 * 4);
    std::set<std::uint32_t> distinct;
    for (std::size_t i = 0; i < colours; ++i) {
        EXPECT_EQ(ico[Palette + i * 4 + 3], 0) << "reserved byte of entry " << i;
        distinct.insert(kbdread::ByteView(ico).unsignedAt(Palette + i * 4, 3));
    }
    EXPECT_EQ(distinct.size(), colours) << "a colour is in the table twice";
    std::set<std::uint8_t> used(ico.begin() + static_cast<std::ptrdiff_t>(pixels),
                                ico.begin() + static_cast<std::ptrdiff_t>(pixels + 32 * 32));
    EXPECT_EQ(used.size(), colours) << "the table holds a colour no pixel uses, or pixels name no colour";
    EXPECT_LT(*used.rbegin(), colours);
}
