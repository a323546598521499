// The chart, the first page of the chart to print (as poppler's pdftoppm
// draws it) and the icon the build drew, pixel for pixel against reference
// pictures that a person has looked at (tests/chart/reference). Every run
// leaves the pictures it compared in the build tree (actual/), and where
// they differ a picture of the difference (differences/). When the drawing
// changes on purpose, tests/chart/update_references makes the new pictures
// the reference: look at each before committing it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <png.h>

#include "bytes.h"
#include "kbdread.h"

namespace {

using Rgba = std::array<std::uint8_t, 4>;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgba> pixels;  // top row first
};

Picture readPng(const std::filesystem::path& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        throw std::runtime_error(path.string() + ": " + image.message);
    image.format = PNG_FORMAT_RGBA;
    Picture picture{static_cast<int>(image.width), static_cast<int>(image.height), {}};
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height);
    if (!png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr))
        throw std::runtime_error(path.string() + ": " + image.message);
    return picture;
}

void writePng(const std::filesystem::path& path, const Picture& picture)
{
    std::filesystem::create_directories(path.parent_path());
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&image, path.c_str(), 0, picture.pixels.data(), 0, nullptr))
        throw std::runtime_error(path.string() + ": " + image.message);
}

// An .ico file's first image as its pixels: palette colours, and alpha 0
// where the AND mask lets the screen show through.
Picture decodeIcon(const std::vector<std::uint8_t>& ico)
{
    const kbdread::ByteView file(ico);
    if (!file.fits(0, 22 + 40))
        throw std::runtime_error("too short for an icon");
    const std::size_t info = file.u32(18);  // the first image's BITMAPINFOHEADER
    if (!file.fits(info, 40) || file.u16(info + 14) != 8)
        throw std::runtime_error("not an 8-bit icon image");
    const int width = static_cast<int>(file.u32(info + 4));
    const int height = static_cast<int>(file.u32(info + 8)) / 2;  // the colours, then the mask
    const std::size_t palette = info + file.u32(info);
    const std::size_t tableColours = file.u32(info + 32) ? file.u32(info + 32) : 256;  // biClrUsed, 0 for all
    const std::size_t colours = palette + 4 * tableColours;
    const std::size_t colourRow = (static_cast<std::size_t>(width) + 3) / 4 * 4;
    const std::size_t mask = colours + colourRow * height;
    const std::size_t maskRow = (static_cast<std::size_t>(width) + 31) / 32 * 4;
    if (width <= 0 || height <= 0 || !file.fits(mask, maskRow * height))
        throw std::runtime_error("the icon's pixels run past its end");
    Picture picture{width, height, {}};
    for (int y = 0; y < height; ++y) {
        const std::size_t row = static_cast<std::size_t>(height - 1 - y);  // stored bottom row first
        for (int x = 0; x < width; ++x) {
            const std::size_t index = file.u8(colours + row * colourRow + x);
            if (index >= tableColours)
                throw std::runtime_error("a pixel names no colour of the table");
            const std::size_t entry = palette + 4u * index;
            const bool seeThrough = (file.u8(mask + row * maskRow + x / 8) >> (7 - x % 8)) & 1;
            picture.pixels.push_back({file.u8(entry + 2), file.u8(entry + 1), file.u8(entry),
                                      static_cast<std::uint8_t>(seeThrough ? 0 : 255)});
        }
    }
    return picture;
}

std::string describe(const Rgba& p)
{
    return "(" + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) + " alpha " +
           std::to_string(p[3]) + ")";
}

// Compares `actual` with the reference picture `name`; writes `actual`, and
// where they differ a picture of the difference, to the build tree.
void expectReferencePicture(const std::string& name, const Picture& actual)
{
    const std::filesystem::path output = TEST_OUTPUT_DIR;
    const std::filesystem::path differences = output / "differences" / name;
    std::filesystem::remove(differences);
    writePng(output / "actual" / name, actual);
    const Picture reference = readPng(std::filesystem::path(CHART_REFERENCE_DIR) / name);
    ASSERT_EQ(actual.width, reference.width) << name << ": width";
    ASSERT_EQ(actual.height, reference.height) << name << ": height";

    Picture difference = reference;
    std::size_t differing = 0;
    int left = actual.width, top = actual.height, right = -1, bottom = -1;
    std::string examples;
    for (int y = 0; y < actual.height; ++y) {
        for (int x = 0; x < actual.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * actual.width + x;
            Rgba& shown = difference.pixels[i];
            if (actual.pixels[i] == reference.pixels[i]) {
                shown = {static_cast<std::uint8_t>(shown[0] / 3), static_cast<std::uint8_t>(shown[1] / 3),
                         static_cast<std::uint8_t>(shown[2] / 3), 255};
                continue;
            }
            shown = {255, 0, 255, 255};
            if (++differing <= 5)
                examples += "\n  at " + std::to_string(x) + "," + std::to_string(y) + ": " +
                            describe(actual.pixels[i]) + ", reference " + describe(reference.pixels[i]);
            left = std::min(left, x), top = std::min(top, y);
            right = std::max(right, x), bottom = std::max(bottom, y);
        }
    }
    if (differing == 0)
        return;
    writePng(differences, difference);
    ADD_FAILURE() << name << ": " << differing << " pixels differ from the reference, within x " << left << ".."
                  << right << ", y " << top << ".." << bottom << examples << "\nThe picture drawn: "
                  << (output / "actual" / name).string() << "\nThe differences in magenta: " << differences.string()
                  << "\nIf the drawing changed on purpose, run tests/chart/update_references and look at the "
                     "new reference before committing it.";
}

TEST(ReferencePictures, ChartAsDrawnFromKurdDll)
{
    expectReferencePicture("Kurd-chart.png", readPng(KURD_CHART_PNG));
}

TEST(ReferencePictures, PrintableChartFirstPage)
{
    const std::filesystem::path page = std::filesystem::path(TEST_OUTPUT_DIR) / "printed-page";
    const std::string command =
        std::string("pdftoppm -r 60 -f 1 -l 1 -singlefile -png '") + KURD_CHART_PDF + "' '" + page.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    expectReferencePicture("Kurd-chart-page.png", readPng(page.string() + ".png"));
}

TEST(ReferencePictures, LauncherIcon)
{
    expectReferencePicture("Halvaro-icon.png", decodeIcon(kbdread::readFileBytes(HALVARO_ICON)));
}

}  // namespace
