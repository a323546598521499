#include "image_files.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>

#include <png.h>

namespace chart {

namespace {

constexpr std::size_t MostColours = 256;
constexpr int LongestRun = 255;
// Absolute mode carries three pixels at least; shorter stretches go as
// runs of one.
constexpr int ShortestLiteral = 3;

void putLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t colourKey(Colour c)
{
    return static_cast<std::uint32_t>(c.red) << 16 | static_cast<std::uint32_t>(c.green) << 8 | c.blue;
}

// How many pixels from x on have the colour of x, at most LongestRun.
int runLength(const std::vector<std::uint8_t>& row, int x)
{
    int end = x + 1;
    while (end < static_cast<int>(row.size()) && end - x < LongestRun && row[end] == row[x])
        ++end;
    return end - x;
}

// One row of colour indices: runs of two or more pixels as (count, index);
// everything between runs of three or more as literal stretches.
void encodeRow(const std::vector<std::uint8_t>& row, std::vector<std::uint8_t>& out)
{
    const int width = static_cast<int>(row.size());
    int x = 0;
    while (x < width) {
        const int run = runLength(row, x);
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(row[x]);
            x += run;
            continue;
        }
        int end = x + 1;
        while (end < width && end - x < LongestRun && runLength(row, end) < ShortestLiteral)
            ++end;
        if (end - x < ShortestLiteral) {
            for (; x < end; ++x) {
                out.push_back(1);
                out.push_back(row[x]);
            }
            continue;
        }
        out.push_back(0);
        out.push_back(static_cast<std::uint8_t>(end - x));
        out.insert(out.end(), row.begin() + x, row.begin() + end);
        // Each stretch ends on a 16-bit boundary.
        if ((end - x) % 2)
            out.push_back(0);
        x = end;
    }
}

// Each colour of the picture once, in ascending order of red, then green,
// then blue, with its index in that order; empty when there are more than
// MostColours.
std::map<std::uint32_t, std::uint8_t> palette(const Raster& raster)
{
    std::map<std::uint32_t, std::uint8_t> indices;
    for (int y = 0; y < raster.height(); ++y)
        for (int x = 0; x < raster.width(); ++x) {
            indices.emplace(colourKey(raster.pixel(x, y)), 0);
            if (indices.size() > MostColours)
                return {};
        }
    std::uint8_t next = 0;
    for (auto& [key, index] : indices)
        index = next++;
    return indices;
}

}  // namespace

std::vector<std::uint8_t> encodeRle8Bmp(const Raster& raster)
{
    const std::map<std::uint32_t, std::uint8_t> indices = palette(raster);
    if (indices.empty())
        throw std::runtime_error("the picture has more than 256 colours; an 8-bit bitmap holds at most 256");

    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(raster.width()));
    for (int y = raster.height() - 1; y >= 0; --y) {
        for (int x = 0; x < raster.width(); ++x)
            row[static_cast<std::size_t>(x)] = indices.at(colourKey(raster.pixel(x, y)));
        encodeRow(row, pixels);
        pixels.push_back(0);
        pixels.push_back(y > 0 ? 0 : 1);  // end of line; end of bitmap after the top row
    }

    constexpr std::uint32_t HeadersSize = 14 + 40;
    const auto colours = static_cast<std::uint32_t>(indices.size());
    const std::uint32_t pixelOffset = HeadersSize + 4 * colours;
    const auto pixelBytes = static_cast<std::uint32_t>(pixels.size());

    std::vector<std::uint8_t> out;
    out.reserve(pixelOffset + pixelBytes);
    // BITMAPFILEHEADER
    out.push_back('B');
    out.push_back('M');
    putLe(out, pixelOffset + pixelBytes, 4);
    putLe(out, 0, 4);
    putLe(out, pixelOffset, 4);
    // BITMAPINFOHEADER: positive height, so rows run bottom-up, as a
    // run-length bitmap's must.
    putLe(out, 40, 4);
    putLe(out, static_cast<std::uint32_t>(raster.width()), 4);
    putLe(out, static_cast<std::uint32_t>(raster.height()), 4);
    putLe(out, 1, 2);
    putLe(out, 8, 2);
    putLe(out, 1, 4);  // BI_RLE8
    putLe(out, pixelBytes, 4);
    putLe(out, 2835, 4);  // 72 dpi
    putLe(out, 2835, 4);
    putLe(out, colours, 4);
    putLe(out, 0, 4);
    // The colour table, as RGBQUADs.
    for (const auto& [key, index] : indices)
        putLe(out, key, 4);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file.flush())
        throw std::runtime_error("cannot write " + path);
}

void writePng(const Raster& raster, const std::string& path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file)
        throw std::runtime_error("cannot create " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::runtime_error("libpng could not start");
    }
    const std::map<std::uint32_t, std::uint8_t> indices = palette(raster);
    const bool indexed = !indices.empty();
    std::vector<png_color> colours;
    for (const auto& [key, index] : indices)
        colours.push_back({static_cast<png_byte>(key >> 16), static_cast<png_byte>(key >> 8), static_cast<png_byte>(key)});
    std::vector<png_byte> row(static_cast<std::size_t>(raster.width()) * (indexed ? 1 : 3));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("cannot write " + path);
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(raster.width()), static_cast<png_uint_32>(raster.height()), 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed)
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    for (int y = 0; y < raster.height(); ++y) {
        for (int x = 0; x < raster.width(); ++x) {
            const Colour c = raster.pixel(x, y);
            if (indexed) {
                row[static_cast<std::size_t>(x)] = indices.at(colourKey(c));
                continue;
            }
            row[static_cast<std::size_t>(x) * 3] = c.red;
            row[static_cast<std::size_t>(x) * 3 + 1] = c.green;
            row[static_cast<std::size_t>(x) * 3 + 2] = c.blue;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.get()) != 0)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace chart
