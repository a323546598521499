// The chart kurd-chart drew from the built Kurd.dll: its BMP header and the
// PNG holding the same picture (reference_test.cpp compares the picture with
// the reviewed one).
#include <gtest/gtest.h>

#include <png.h>

#include "chart_renderer.h"
#include "kbdread.h"
#include "bytes.h"

using chart::Colour;

namespace {

// Pixels top row first, read independently of the chart's own writer.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Colour> pixels;
};

Picture pictureFromBmp(const std::vector<std::uint8_t>& bmp)
{
    const kbdread::ByteView header(bmp);
    Picture picture;
    picture.width = static_cast<int>(header.u32(18));
    picture.height = static_cast<int>(header.u32(22));
    const std::size_t stride = (static_cast<std::size_t>(picture.width) * 3 + 3) / 4 * 4;
    const std::size_t offset = header.u32(10);
    for (int y = 0; y < picture.height; ++y) {
        const std::size_t row = offset + stride * static_cast<std::size_t>(picture.height - 1 - y);
        for (int x = 0; x < picture.width; ++x) {
            const std::size_t p = row + static_cast<std::size_t>(x) * 3;
            picture.pixels.push_back({bmp[p + 2], bmp[p + 1], bmp[p]});
        }
    }
    return picture;
}

Picture pictureFromPng(const char* path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Picture picture;
    if (!png_image_begin_read_from_file(&image, path))
        return picture;
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        return picture;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        picture.pixels.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
    return picture;
}

class ChartFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        bmp = new std::vector<std::uint8_t>(kbdread::readFileBytes(KURD_CHART_BMP));
        picture = new Picture(pictureFromBmp(*bmp));
    }
    static void TearDownTestSuite()
    {
        delete picture;
        delete bmp;
    }
    static std::vector<std::uint8_t>* bmp;
    static Picture* picture;
};
std::vector<std::uint8_t>* ChartFiles::bmp = nullptr;
Picture* ChartFiles::picture = nullptr;

}  // namespace

TEST_F(ChartFiles, BmpHeaderDescribesA24BitBottomUpPicture)
{
    ASSERT_GE(bmp->size(), 54u);
    struct Row {
        const char* field;
        std::size_t offset;
        int width;
        std::uint32_t expected;
    };
    const std::uint32_t stride = (1006 * 3 + 3) / 4 * 4;
    const Row rows[] = {
        {"magic", 0, 2, 'B' | 'M' << 8},
        {"file size", 2, 4, 54 + stride * 266},
        {"pixel offset", 10, 4, 54},
        {"header size", 14, 4, 40},
        {"width", 18, 4, 1006},
        {"height (positive: bottom-up)", 22, 4, 266},
        {"planes", 26, 2, 1},
        {"bits per pixel", 28, 2, 24},
        {"compression", 30, 4, 0},
        {"image size", 34, 4, stride * 266},
    };
    for (const Row& row : rows)
        EXPECT_EQ(kbdread::ByteView(*bmp).unsignedAt(row.offset, row.width), row.expected) << row.field;
    EXPECT_EQ(bmp->size(), 54 + stride * 266);
}

TEST_F(ChartFiles, PngHoldsTheSamePicture)
{
    const Picture png = pictureFromPng(KURD_CHART_PNG);
    ASSERT_EQ(png.width, 1006);
    ASSERT_EQ(png.height, 266);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < png.pixels.size(); ++i)
        differing += png.pixels[i] == picture->pixels[i] ? 0 : 1;
    EXPECT_EQ(differing, 0u);
}
