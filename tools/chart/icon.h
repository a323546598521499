// The launcher's icon: a grey keyboard under a magnifying glass, drawn
// from simple shapes at 32 x 32 in 256 colours, and its .ico encoding.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "raster.h"

namespace chart {

inline constexpr int IconSize = 32;
inline constexpr int IconPixels = IconSize * IconSize;

struct PalettedIcon {
    std::array<Colour, 256> palette{};
    std::array<std::uint8_t, IconPixels> indices{};  // row-major, top row first
    std::array<bool, IconPixels> transparent{};      // the AND mask
};

// A fixed palette: the 6 x 6 x 6 colour cube, then 40 greys between its
// own grey steps.
std::array<Colour, 256> iconPalette();
std::uint8_t nearestPaletteIndex(const std::array<Colour, 256>& palette, Colour colour);

PalettedIcon drawIcon();

// One 32 x 32, 8-bit image in an .ico file: directory, BITMAPINFOHEADER
// with doubled height, a colour table of the palette's colours the pixels
// use (in the palette's order), bottom-up indices into that table, then
// the 1-bit AND mask.
std::vector<std::uint8_t> encodeIco(const PalettedIcon& icon);

}  // namespace chart
