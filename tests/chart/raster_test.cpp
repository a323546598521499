#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "image_files.h"
#include "raster.h"

using chart::Colour;
using chart::Raster;

// Half coverage of white over black is half the light, not half the sRGB
// value: 188, not 128.
TEST(Raster, BlendingHappensInLinearLight)
{
    struct Row {
        Colour under, over;
        double coverage;
        Colour expected;
    };
    const Row rows[] = {
        {{0, 0, 0}, {255, 255, 255}, 0.5, {188, 188, 188}},
        {{0, 0, 0}, {255, 255, 255}, 0.0, {0, 0, 0}},
        {{51, 51, 51}, {255, 255, 255}, 1.0, {255, 255, 255}},
        {{255, 0, 0}, {0, 0, 255}, 0.5, {188, 0, 188}},
    };
    for (const Row& row : rows) {
        Raster raster(1, 1, row.under);
        raster.blend(0, 0, row.over, row.coverage);
        const Colour got = raster.pixel(0, 0);
        EXPECT_EQ(got, row.expected) << "coverage " << row.coverage << " gave " << int(got.red) << ","
                                     << int(got.green) << "," << int(got.blue);
    }
}

TEST(Raster, RoundedRectangleFillsItsSidesAndSoftensItsCorners)
{
    Raster raster(20, 20, {0, 0, 0});
    raster.fillRoundedRect(2, 2, 16, 16, 4.0, {255, 255, 255});
    EXPECT_EQ(raster.pixel(2, 10), (Colour{255, 255, 255}));   // left side
    EXPECT_EQ(raster.pixel(10, 17), (Colour{255, 255, 255}));  // bottom side
    EXPECT_EQ(raster.pixel(1, 10), (Colour{0, 0, 0}));         // just outside
    EXPECT_EQ(raster.pixel(2, 2), (Colour{0, 0, 0}));          // the corner is cut off
    const Colour edge = raster.pixel(3, 3);                    // on the corner's arc
    EXPECT_GT(edge.red, 0);
    EXPECT_LT(edge.red, 255);
}

namespace {

// BITMAPFILEHEADER and BITMAPINFOHEADER: the colour table follows at 54.
constexpr std::size_t HeadersSize = 54;

std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", byte);
        text += digits;
    }
    return text;
}

}  // namespace

// What an 8-bit run-length bitmap holds for small pictures, written out
// from the format: (count, index) for a run; 0, count, indices and a pad
// byte to an even length for a literal stretch of three or more; 0 0 at the
// end of each row but the last, 0 1 at the end of the bitmap; rows from the
// bottom up. The colour table lists the colours in ascending order.
TEST(Raster, Rle8BmpEncodesRunsAndStretches)
{
    const Colour K{0, 0, 0}, G{0, 128, 0}, R{255, 0, 0}, W{255, 255, 255};
    std::vector<Colour> alternating;
    std::vector<std::uint8_t> alternatingBytes{0, 255};
    for (int x = 0; x < 300; ++x) {
        alternating.push_back(x % 2 ? W : K);
        if (x == 255)
            alternatingBytes.insert(alternatingBytes.end(), {0, 0, 45});  // pad; the next stretch
        alternatingBytes.push_back(x % 2);
    }
    alternatingBytes.insert(alternatingBytes.end(), {0, 0, 1});
    struct Row {
        const char* picture;
        int width, height;
        std::vector<Colour> pixels;  // top row first
        std::vector<Colour> palette;
        std::vector<std::uint8_t> data;
    };
    const Row rows[] = {
        {"one pixel", 1, 1, {K}, {K}, {1, 0, 0, 1}},
        {"one run", 5, 1, {W, W, W, W, W}, {W}, {5, 0, 0, 1}},
        {"a run of 300", 300, 1, std::vector<Colour>(300, R), {R}, {255, 0, 45, 0, 0, 1}},
        {"two colours, one pixel each", 2, 1, {W, K}, {K, W}, {1, 1, 1, 0, 0, 1}},
        {"three colours: a padded stretch", 3, 1, {K, G, R}, {K, G, R}, {0, 3, 0, 1, 2, 0, 0, 1}},
        {"four colours: a stretch", 4, 1, {R, W, K, G}, {K, G, R, W}, {0, 4, 2, 3, 0, 1, 0, 1}},
        {"a stretch, then a run", 6, 1, {K, G, R, W, W, W}, {K, G, R, W}, {0, 3, 0, 1, 2, 0, 3, 3, 0, 1}},
        {"a run, then a stretch", 6, 1, {W, W, K, G, R, K}, {K, G, R, W}, {2, 3, 0, 4, 0, 1, 2, 0, 0, 1}},
        {"rows bottom-up", 2, 2, {K, K, W, G}, {K, G, W}, {1, 2, 1, 1, 0, 0, 2, 0, 0, 1}},
        {"a stretch of 300", 300, 1, alternating, {K, W}, alternatingBytes},
    };
    for (const Row& row : rows) {
        Raster raster(row.width, row.height, K);
        for (int y = 0; y < row.height; ++y)
            for (int x = 0; x < row.width; ++x)
                raster.setPixel(x, y, row.pixels[static_cast<std::size_t>(y * row.width + x)]);
        const auto bmp = chart::encodeRle8Bmp(raster);
        const std::size_t colours = row.palette.size();
        const std::size_t pixelOffset = HeadersSize + 4 * colours;
        ASSERT_EQ(bmp.size(), pixelOffset + row.data.size()) << row.picture << ": " << hexBytes(bmp);
        const struct {
            const char* field;
            std::size_t at;
            std::uint32_t expected;
        } fields[] = {
            {"file size", 2, static_cast<std::uint32_t>(bmp.size())},
            {"pixel offset", 10, static_cast<std::uint32_t>(pixelOffset)},
            {"width", 18, static_cast<std::uint32_t>(row.width)},
            {"height", 22, static_cast<std::uint32_t>(row.height)},
            {"planes and bits per pixel", 26, 1 | 8 << 16},
            {"compression (BI_RLE8)", 30, 1},
            {"pixel bytes", 34, static_cast<std::uint32_t>(row.data.size())},
            {"colours used", 46, static_cast<std::uint32_t>(colours)},
        };
        for (const auto& field : fields)
            EXPECT_EQ(le32(bmp, field.at), field.expected) << row.picture << ": " << field.field;
        for (std::size_t i = 0; i < colours; ++i) {
            const Colour c = row.palette[i];
            EXPECT_EQ(le32(bmp, HeadersSize + 4 * i), static_cast<std::uint32_t>(c.red << 16 | c.green << 8 | c.blue))
                << row.picture << ": colour " << i;
        }
        const std::vector<std::uint8_t> data(bmp.begin() + static_cast<std::ptrdiff_t>(pixelOffset), bmp.end());
        EXPECT_EQ(data, row.data) << row.picture << ": " << hexBytes(data);
    }
}

TEST(Raster, Rle8BmpRefusesMoreThan256Colours)
{
    Raster raster(257, 1, {0, 0, 0});
    for (int x = 0; x < 257; ++x)
        raster.setPixel(x, 0, {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8), 0});
    EXPECT_THROW(chart::encodeRle8Bmp(raster), std::runtime_error);
}
