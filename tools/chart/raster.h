// A 24-bit picture in memory and the few drawing operations the chart and
// the icon need. Coverage is blended in linear light so that anti-aliased
// edges keep their weight on any background.
#pragma once

#include <cstdint>
#include <vector>

namespace chart {

struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(Colour, Colour) = default;
};

// 8-bit coverage over a rectangle: 0 leaves the picture, 255 paints fully.
struct CoverageMask {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> coverage;  // row-major, top row first

    std::uint8_t at(int x, int y) const { return coverage[static_cast<std::size_t>(y) * width + x]; }
};

class Raster {
public:
    Raster(int width, int height, Colour background);

    int width() const { return width_; }
    int height() const { return height_; }
    Colour pixel(int x, int y) const;
    void setPixel(int x, int y, Colour colour);

    // Blends `colour` over the pixel; coverage 0..1. Outside the picture
    // nothing happens.
    void blend(int x, int y, Colour colour, double coverage);
    void blendMask(const CoverageMask& mask, int left, int top, Colour colour);
    // A filled rectangle with rounded corners, its outline anti-aliased.
    void fillRoundedRect(int x, int y, int width, int height, double radius, Colour colour);

private:
    int width_;
    int height_;
    std::vector<Colour> pixels_;  // row-major, top row first
};

}  // namespace chart
