#include "raster.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace chart {

namespace {

double srgbToLinear(std::uint8_t value)
{
    const double v = value / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

std::uint8_t linearToSrgb(double linear)
{
    const double v = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

const std::array<double, 256>& linearTable()
{
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = srgbToLinear(static_cast<std::uint8_t>(i));
        return t;
    }();
    return table;
}

std::uint8_t mix(std::uint8_t under, std::uint8_t over, double coverage)
{
    const auto& linear = linearTable();
    return linearToSrgb(linear[under] + (linear[over] - linear[under]) * coverage);
}

}  // namespace

Raster::Raster(int width, int height, Colour background)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height, background)
{
}

Colour Raster::pixel(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }

void Raster::setPixel(int x, int y, Colour colour) { pixels_[static_cast<std::size_t>(y) * width_ + x] = colour; }

void Raster::blend(int x, int y, Colour colour, double coverage)
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || coverage <= 0)
        return;
    if (coverage >= 1) {
        setPixel(x, y, colour);
        return;
    }
    const Colour under = pixel(x, y);
    setPixel(x, y, {mix(under.red, colour.red, coverage), mix(under.green, colour.green, coverage),
                    mix(under.blue, colour.blue, coverage)});
}

void Raster::blendMask(const CoverageMask& mask, int left, int top, Colour colour)
{
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x)
            blend(left + x, top + y, colour, mask.at(x, y) / 255.0);
}

void Raster::fillRoundedRect(int x, int y, int width, int height, double radius, Colour colour)
{
    // Signed distance from each pixel centre to the rounded outline, with a
    // one-pixel ramp across the edge.
    const double halfWidth = width / 2.0;
    const double halfHeight = height / 2.0;
    const double centreX = x + halfWidth;
    const double centreY = y + halfHeight;
    for (int py = y; py < y + height; ++py) {
        for (int px = x; px < x + width; ++px) {
            const double dx = std::max(std::abs(px + 0.5 - centreX) - (halfWidth - radius), 0.0);
            const double dy = std::max(std::abs(py + 0.5 - centreY) - (halfHeight - radius), 0.0);
            const double distance = std::hypot(dx, dy) - radius;
            blend(px, py, colour, std::clamp(0.5 - distance, 0.0, 1.0));
        }
    }
}

}  // namespace chart
