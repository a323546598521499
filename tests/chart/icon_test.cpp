// The launcher icon mkicon wrote: one 32 x 32, 256-colour image with its
// AND mask.
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

// Pixel (x, y), top row first: its palette index, and whether the mask
// makes it transparent.
std::uint8_t indexAt(const std::vector<std::uint8_t>& ico, int x, int y)
{
    return ico[Pixels + static_cast<std::size_t>(31 - y) * 32 + x];
}

bool transparentAt(const std::vector<std::uint8_t>& ico, int x, int y)
{
    return (ico[Mask + static_cast<std::size_t>(31 - y) * 4 + x / 8] >> (7 - x % 8)) & 1;
}

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

// Corners are see-through, the keyboard and the lens are drawn, and the
// picture really is a grey keyboard with a coloured lens on it.
TEST(Icon, MaskAndColoursMatchTheArtwork)
{
    const auto ico = readIcon();
    ASSERT_EQ(ico.size(), FileSize);
    for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}})
        EXPECT_TRUE(transparentAt(ico, x, y)) << x << "," << y;
    for (auto [x, y] : {std::pair{5, 15}, {20, 19}, {29, 29}})
        EXPECT_FALSE(transparentAt(ico, x, y)) << x << "," << y;

    int greys = 0, bluish = 0, opaque = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (transparentAt(ico, x, y)) {
                EXPECT_EQ(indexAt(ico, x, y), 0) << "transparent pixel " << x << "," << y;
                continue;
            }
            ++opaque;
            const std::size_t entry = Palette + indexAt(ico, x, y) * 4u;
            const int blue = ico[entry], green = ico[entry + 1], red = ico[entry + 2];
            if (red == green && green == blue && red > 60)
                ++greys;
            if (blue > red + 40)
                ++bluish;
        }
    }
    EXPECT_GT(opaque, 400);
    EXPECT_LT(opaque, 1000);
    EXPECT_GT(greys, 200);
    EXPECT_GT(bluish, 30);
}
