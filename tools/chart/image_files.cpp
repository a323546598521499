#include "image_files.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>

#include <png.h>

namespace chart {

namespace {

void putLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> encodeBmp(const Raster& raster)
{
    constexpr std::uint32_t HeadersSize = 14 + 40;
    const std::uint32_t rowSize = (static_cast<std::uint32_t>(raster.width()) * 3 + 3) & ~3u;
    const std::uint32_t pixelBytes = rowSize * static_cast<std::uint32_t>(raster.height());

    std::vector<std::uint8_t> out;
    out.reserve(HeadersSize + pixelBytes);
    // BITMAPFILEHEADER
    out.push_back('B');
    out.push_back('M');
    putLe(out, HeadersSize + pixelBytes, 4);
    putLe(out, 0, 4);
    putLe(out, HeadersSize, 4);
    // BITMAPINFOHEADER: positive height, so rows run bottom-up.
    putLe(out, 40, 4);
    putLe(out, static_cast<std::uint32_t>(raster.width()), 4);
    putLe(out, static_cast<std::uint32_t>(raster.height()), 4);
    putLe(out, 1, 2);
    putLe(out, 24, 2);
    putLe(out, 0, 4);  // BI_RGB
    putLe(out, pixelBytes, 4);
    putLe(out, 2835, 4);  // 72 dpi
    putLe(out, 2835, 4);
    putLe(out, 0, 4);
    putLe(out, 0, 4);
    for (int y = raster.height() - 1; y >= 0; --y) {
        for (int x = 0; x < raster.width(); ++x) {
            const Colour c = raster.pixel(x, y);
            out.push_back(c.blue);
            out.push_back(c.green);
            out.push_back(c.red);
        }
        out.resize(out.size() + (rowSize - static_cast<std::uint32_t>(raster.width()) * 3), 0);
    }
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
    std::vector<png_byte> row(static_cast<std::size_t>(raster.width()) * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("cannot write " + path);
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(raster.width()), static_cast<png_uint_32>(raster.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < raster.height(); ++y) {
        for (int x = 0; x < raster.width(); ++x) {
            const Colour c = raster.pixel(x, y);
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
