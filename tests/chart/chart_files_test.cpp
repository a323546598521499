// The chart kurd-chart drew from the built Kurd.dll: colours at known
// places of its PNG. The BMP beside it is the launcher's resource, which
// launcher.resources decodes and compares with the PNG pixel for pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include <png.h>

#include "chart_geometry.h"
#include "chart_renderer.h"

using chart::Colour;

namespace {

constexpr Colour Background{26, 26, 26};
constexpr Colour Face{51, 51, 51};
constexpr Colour White{255, 255, 255};

// Pixels top row first, read independently of the chart's own writer.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Colour> pixels;
    Colour at(int x, int y) const { return pixels.at(static_cast<std::size_t>(y) * width + x); }
};

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

const chart::KeySlot& slotFor(const std::vector<chart::KeySlot>& slots, std::uint8_t code, bool extended = false)
{
    for (const auto& slot : slots)
        if (slot.scan.code == code && slot.scan.extended == extended)
            return slot;
    throw std::runtime_error("no slot for scan code " + std::to_string(code));
}

std::string text(Colour c)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "(%d,%d,%d)", c.red, c.green, c.blue);
    return buffer;
}

class ChartFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        picture = new Picture(pictureFromPng(KURD_CHART_PNG));
    }
    static void TearDownTestSuite()
    {
        delete picture;
    }
    static Picture* picture;
};
Picture* ChartFiles::picture = nullptr;

}  // namespace

TEST_F(ChartFiles, BackgroundAndFacesHaveTheirColours)
{
    const auto slots = chart::keyboardSlots();
    const auto& q = slotFor(slots, 0x10);
    const auto& insert = slotFor(slots, 0x52, true);
    const auto& up = slotFor(slots, 0x48, true);
    struct Row {
        const char* place;
        int x, y;
        Colour expected;
    };
    const Row rows[] = {
        {"top left corner", 0, 0, Background},
        {"bottom right corner", 1005, 265, Background},
        {"between main and navigation blocks", 820, 130, Background},
        {"left of the Up key", up.face.x - 10, up.face.y + 20, Background},
        {"between Q and W", q.face.right() + 1, q.face.y + 20, Background},
        {"Q face, left edge", q.face.x + 2, q.face.y + q.face.height / 2, Face},
        {"Q face, right edge", q.face.right() - 3, q.face.y + q.face.height / 2, Face},
        {"Insert face, top", insert.face.x + insert.face.width / 2, insert.face.y + 3, Face},
    };
    for (const Row& row : rows)
        EXPECT_EQ(picture->at(row.x, row.y), row.expected)
            << row.place << " at " << row.x << "," << row.y << " is " << text(picture->at(row.x, row.y));
}

// The plain letter is white in the lower part of a letter key, the Shift
// letter grey in its upper part (its thin strokes reach the grey itself
// only here and there, so nearly-grey counts too).
TEST_F(ChartFiles, LetterKeysShowWhitePlainBelowGreyShiftAbove)
{
    const auto slots = chart::keyboardSlots();
    const int grey = chart::ShiftColour.red;
    for (std::uint8_t code : {0x10, 0x1E, 0x2C, 0x30, 0x35}) {  // Q, A, Z, B, /
        const auto& face = slotFor(slots, code).face;
        const int middle = face.y + face.height * 2 / 5;
        int whiteBelow = 0, greyAbove = 0, brightestAbove = 0;
        for (int y = face.y; y < face.bottom(); ++y) {
            for (int x = face.x; x < face.right(); ++x) {
                const Colour c = picture->at(x, y);
                if (y >= middle) {
                    whiteBelow += c == White ? 1 : 0;
                    continue;
                }
                brightestAbove = std::max({brightestAbove, int(c.red), int(c.green), int(c.blue)});
                greyAbove += c.red == c.green && c.green == c.blue && c.red >= grey - 40 ? 1 : 0;
            }
        }
        EXPECT_GT(whiteBelow, 10) << "scan code " << int(code);
        EXPECT_LE(brightestAbove, grey) << "scan code " << int(code);
        EXPECT_GE(brightestAbove, grey - 20) << "scan code " << int(code);
        EXPECT_GT(greyAbove, 5) << "scan code " << int(code);
    }
}

// Every key carries ink: characters on typing keys, names on the others.
TEST_F(ChartFiles, EveryKeyHasALabelDrawnOnIt)
{
    for (const auto& slot : chart::keyboardSlots()) {
        int inked = 0;
        // Stay clear of the rounded corners, where the face meets the ground.
        for (int y = slot.face.y + 4; y < slot.face.bottom() - 4; ++y)
            for (int x = slot.face.x + 4; x < slot.face.right() - 4; ++x)
                inked += picture->at(x, y).red > 120 ? 1 : 0;
        EXPECT_GT(inked, 8) << "scan code " << int(slot.scan.code) << (slot.scan.extended ? " (E0)" : "");
    }
}
