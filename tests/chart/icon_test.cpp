// The launcher icon mkicon wrote: one 32 x 32, 256-colour image with its
// AND mask (reference_test.cpp compares its pixels with the reviewed ones).
#include <gtest/gtest.h>

#include <set>

#include "kbdread.h"
#include "bytes.h"


namespace {

std::vector<std::uint8_t> readIcon() { return kbdread::readFileBytes(HALVARO_ICON); }

constexpr std::size_t Info = 22;
constexpr std::size_t Palette = Info + 40;
constexpr std::size_t Pixels = Palette + 256 * 4;
constexpr std::size_t Mask = Pixels + 32 * 32;
constexpr std::size_t FileSize = Mask + 32 * 4;

}  // namespace

TEST(Icon, HeadersDescribeOne32x32ImageIn256Colours)
{
    const auto ico = readIcon();
    ASSERT_EQ(ico.size(), FileSize);
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
        {"entry colour count (256 as 0)", 8, 1, 0},
        {"entry reserved", 9, 1, 0},
        {"entry planes", 10, 2, 1},
        {"entry bits per pixel", 12, 2, 8},
        {"entry bytes", 14, 4, FileSize - Info},
        {"entry offset", 18, 4, Info},
        {"info header size", Info, 4, 40},
        {"info width", Info + 4, 4, 32},
        {"info height (image and mask)", Info + 8, 4, 64},
        {"info planes", Info + 12, 2, 1},
        {"info bits per pixel", Info + 14, 2, 8},
        {"info compression", Info + 16, 4, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(kbdread::ByteView(ico).unsignedAt(row.offset, row.width), row.expected) << row.field;
}

TEST(Icon, PaletteHas256DistinctColours)
{
    const auto ico = readIcon();
    ASSERT_EQ(ico.size(), FileSize);
    std::set<std::uint32_t> colours;
    for (std::size_t i = 0; i < 256; ++i) {
        EXPECT_EQ(ico[Palette + i * 4 + 3], 0) << "reserved byte of entry " << i;
        colours.insert(kbdread::ByteView(ico).unsignedAt(Palette + i * 4, 3));
    }
    EXPECT_EQ(colours.size(), 256u);
}
