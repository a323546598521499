// Writes a picture as an 8-bit run-length BMP (the launcher's resource)
// and as a PNG: indexed, with the bitmap's colour table, where the picture
// has at most 256 colours, else 8 bits per channel RGB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raster.h"

namespace chart {

// A BI_RLE8 bitmap, which GDI draws on every Windows without another
// library. Its colour table holds each of the picture's colours once, in
// ascending order of red, then green, then blue; its rows run bottom-up,
// each a sequence of runs of one colour and of literal stretches, ended by
// an end of line (the last by the end of the bitmap). Throws when the
// picture has more than 256 colours.
std::vector<std::uint8_t> encodeRle8Bmp(const Raster& raster);
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
void writePng(const Raster& raster, const std::string& path);

}  // namespace chart
