#include "geometry.h"

#include <gtest/gtest.h>

namespace halvaro {
namespace {

TEST(TwipsToPixels, RoundsToNearestAtEachDpi) {
    struct Row { int twips, dpi, pixels; };
    const Row rows[] = {
        {15, 96, 1},     {1440, 96, 96},    {13200, 96, 880},   {4845, 96, 323},
        {-60, 96, -4},   {7, 96, 0},        {8, 96, 1},         {-8, 96, -1},
        {4845, 120, 404}, {615, 120, 51},   {3975, 120, 331},   {-60, 120, -5},
        {4845, 144, 485}, {375, 144, 38},   {13305, 144, 1331}, {0, 144, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(twipsToPixels(row.twips, row.dpi), row.pixels)
            << "twipsToPixels(" << row.twips << ", " << row.dpi << ")";
}

TEST(ControlGeometry, MatchesTheLayoutAt96Dpi) {
    struct Row { const char* name; TwipRect twips; PixelRect pixels; };
    const Row rows[] = {
        {"Image3", image3Twips, {-4, -4, 887, 257}},
        {"Command2", command2Twips, {4, 256, 265, 41}},
        {"Command1", command1Twips, {272, 256, 249, 41}},
        {"Command3", command3Twips, {748, 256, 121, 41}},
        {"Picture4", picture4Twips, {0, 298, 880, 25}},
    };
    for (const Row& row : rows) {
        const PixelRect got = toPixels(row.twips, 96);
        EXPECT_EQ(got, row.pixels) << row.name << " at 96 DPI: got " << got.left << ','
                                   << got.top << ' ' << got.width << 'x' << got.height;
    }
    EXPECT_EQ(clientSizePixels(96), (PixelSize{880, 323}));
}

// At 144 DPI everything is half as large again; halves round outwards.
TEST(ControlGeometry, ScalesByOneAndAHalfAt144Dpi) {
    struct Row { const char* name; TwipRect twips; PixelRect pixels; };
    const Row rows[] = {
        {"Image3", image3Twips, {-6, -6, 1331, 386}},
        {"Command2", command2Twips, {6, 384, 398, 62}},
        {"Command1", command1Twips, {408, 384, 374, 62}},
        {"Command3", command3Twips, {1122, 384, 182, 62}},
        {"Picture4", picture4Twips, {0, 447, 1320, 38}},
    };
    for (const Row& row : rows) {
        const PixelRect got = toPixels(row.twips, 144);
        EXPECT_EQ(got, row.pixels) << row.name << " at 144 DPI: got " << got.left << ','
                                   << got.top << ' ' << got.width << 'x' << got.height;
    }
    EXPECT_EQ(clientSizePixels(144), (PixelSize{1320, 485}));
    EXPECT_EQ(clientSizePixels(120), (PixelSize{1100, 404}));
}

// The strip must reach the bottom edge and the picture must cover the
// client area's top-left corner and right edge at every scale.
TEST(ControlGeometry, StripEndsAtBottomAndPictureCoversTopAtCommonDpis) {
    for (const int dpi : {96, 120, 144, 192}) {
        const PixelSize client = clientSizePixels(dpi);
        const PixelRect strip = toPixels(picture4Twips, dpi);
        const PixelRect picture = toPixels(image3Twips, dpi);
        EXPECT_EQ(strip.top + strip.height, client.height) << "dpi " << dpi;
        EXPECT_EQ(strip.width, client.width) << "dpi " << dpi;
        EXPECT_LT(picture.left, 0) << "dpi " << dpi;
        EXPECT_LT(picture.top, 0) << "dpi " << dpi;
        EXPECT_GT(picture.left + picture.width, client.width) << "dpi " << dpi;
    }
}

TEST(ButtonFont, HeightFollowsDpi) {
    struct Row { int dpi, height; };
    const Row rows[] = {{96, -11}, {120, -14}, {144, -17}, {192, -22}};
    for (const Row& row : rows)
        EXPECT_EQ(buttonFontHeight(row.dpi), row.height) << "buttonFontHeight(" << row.dpi << ")";
}

}  // namespace
}  // namespace halvaro
