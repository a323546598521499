#include <gtest/gtest.h>

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

// A 3 x 2 picture: rows padded to 12 bytes, stored bottom row first, BGR.
TEST(Raster, BmpRowsRunBottomUpAndArePadded)
{
    Raster raster(3, 2, {0, 0, 0});
    raster.setPixel(0, 0, {1, 2, 3});  // top left
    raster.setPixel(2, 1, {4, 5, 6});  // bottom right
    const auto bmp = chart::encodeBmp(raster);
    ASSERT_EQ(bmp.size(), 54u + 2 * 12);
    const std::size_t bottomRow = 54;
    const std::size_t topRow = 54 + 12;
    EXPECT_EQ(bmp[bottomRow + 6], 6);
    EXPECT_EQ(bmp[bottomRow + 7], 5);
    EXPECT_EQ(bmp[bottomRow + 8], 4);
    EXPECT_EQ(bmp[bottomRow + 9], 0);  // padding
    EXPECT_EQ(bmp[topRow + 0], 3);
    EXPECT_EQ(bmp[topRow + 1], 2);
    EXPECT_EQ(bmp[topRow + 2], 1);
}
