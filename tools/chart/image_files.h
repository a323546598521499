// Writes a picture as a 24-bit bottom-up BMP (what Windows resources hold)
// and as an 8-bit-per-channel RGB PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raster.h"

namespace chart {

std::vector<std::uint8_t> encodeBmp(const Raster& raster);
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
void writePng(const Raster& raster, const std::string& path);

}  // namespace chart
