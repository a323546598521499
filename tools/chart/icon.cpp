#include "icon.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace chart {

namespace {

constexpr int Supersampling = 4;

struct Paint {
    double red = 0, green = 0, blue = 0, alpha = 0;  // straight (not premultiplied)

    void over(Colour colour, double opacity)
    {
        const double outAlpha = opacity + alpha * (1 - opacity);
        if (outAlpha <= 0)
            return;
        auto channel = [&](double under, std::uint8_t top) {
            return (top * opacity + under * alpha * (1 - opacity)) / outAlpha;
        };
        red = channel(red, colour.red);
        green = channel(green, colour.green);
        blue = channel(blue, colour.blue);
        alpha = outAlpha;
    }
};

// A shape answers whether a point (in pixels, origin top-left) is inside.
struct Shape {
    std::function<bool(double, double)> contains;
    Colour colour;
    double opacity = 1;
};

std::function<bool(double, double)> roundedRect(double left, double top, double right, double bottom, double radius)
{
    return [=](double x, double y) {
        if (x < left || x > right || y < top || y > bottom)
            return false;
        const double dx = std::max({left + radius - x, x - (right - radius), 0.0});
        const double dy = std::max({top + radius - y, y - (bottom - radius), 0.0});
        return dx * dx + dy * dy <= radius * radius;
    };
}

std::function<bool(double, double)> disc(double centreX, double centreY, double radius)
{
    return [=](double x, double y) { return std::hypot(x - centreX, y - centreY) <= radius; };
}

std::function<bool(double, double)> thickLine(double x0, double y0, double x1, double y1, double halfWidth)
{
    return [=](double x, double y) {
        const double dx = x1 - x0, dy = y1 - y0;
        const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        return std::hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= halfWidth;
    };
}

std::vector<Shape> artwork()
{
    constexpr Colour Outline{48, 48, 48};
    constexpr Colour Body{128, 128, 128};
    constexpr Colour KeyTop{214, 214, 214};
    constexpr Colour Rim{40, 40, 40};
    constexpr Colour Glass{110, 200, 255};
    constexpr Colour Handle{110, 64, 28};

    std::vector<Shape> shapes;
    // The keyboard: a grey slab in the upper left with three rows of keys
    // and a space bar.
    shapes.push_back({roundedRect(0.5, 6.5, 27.5, 24.5, 2.5), Outline});
    shapes.push_back({roundedRect(1.5, 7.5, 26.5, 23.5, 1.8), Body});
    for (int row = 0; row < 3; ++row) {
        const double top = 9.0 + row * 3.5;
        const double shift = row * 0.8;
        for (int column = 0; column < 8; ++column) {
            const double left = 3.0 + shift + column * 2.8;
            if (left + 2.0 > 25.5)
                break;
            shapes.push_back({roundedRect(left, top, left + 2.0, top + 2.4, 0.4), KeyTop});
        }
    }
    shapes.push_back({roundedRect(7.5, 19.6, 20.5, 21.9, 0.6), KeyTop});
    // The magnifying glass over the lower right: a handle, a dark rim and a
    // pale blue lens that lets the keys show through.
    shapes.push_back({thickLine(24.5, 24.5, 30.0, 30.0, 2.0), Handle});
    shapes.push_back({disc(20.0, 19.5, 8.0), Rim});
    shapes.push_back({disc(20.0, 19.5, 6.2), Body});
    shapes.push_back({roundedRect(14.0, 16.0, 18.0, 18.4, 0.4), KeyTop});
    shapes.push_back({roundedRect(19.0, 16.0, 23.0, 18.4, 0.4), KeyTop});
    shapes.push_back({roundedRect(15.0, 20.5, 25.0, 22.9, 0.5), KeyTop});
    shapes.push_back({disc(20.0, 19.5, 6.2), Glass, 0.5});
    shapes.push_back({thickLine(16.5, 16.0, 18.5, 14.5, 0.7), {255, 255, 255}, 0.8});
    return shapes;
}

}  // namespace

std::array<Colour, 256> iconPalette()
{
    std::array<Colour, 256> palette{};
    std::size_t next = 0;
    for (int red = 0; red < 6; ++red)
        for (int green = 0; green < 6; ++green)
            for (int blue = 0; blue < 6; ++blue)
                palette[next++] = {static_cast<std::uint8_t>(red * 51), static_cast<std::uint8_t>(green * 51),
                                   static_cast<std::uint8_t>(blue * 51)};
    // Eight greys inside each of the cube's five grey steps.
    for (int step = 0; step < 5; ++step)
        for (int i = 1; i <= 8; ++i) {
            const auto grey = static_cast<std::uint8_t>(step * 51 + std::lround(i * 51.0 / 9));
            palette[next++] = {grey, grey, grey};
        }
    return palette;
}

std::uint8_t nearestPaletteIndex(const std::array<Colour, 256>& palette, Colour colour)
{
    std::size_t best = 0;
    long bestDistance = -1;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const long dr = palette[i].red - colour.red;
        const long dg = palette[i].green - colour.green;
        const long db = palette[i].blue - colour.blue;
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<std::uint8_t>(best);
}

PalettedIcon drawIcon()
{
    PalettedIcon icon;
    icon.palette = iconPalette();
    const auto shapes = artwork();
    for (int y = 0; y < IconSize; ++y) {
        for (int x = 0; x < IconSize; ++x) {
            double red = 0, green = 0, blue = 0, alpha = 0;
            for (int sy = 0; sy < Supersampling; ++sy) {
                for (int sx = 0; sx < Supersampling; ++sx) {
                    const double px = x + (sx + 0.5) / Supersampling;
                    const double py = y + (sy + 0.5) / Supersampling;
                    Paint paint;
                    for (const Shape& shape : shapes)
                        if (shape.contains(px, py))
                            paint.over(shape.colour, shape.opacity);
                    red += paint.red * paint.alpha;
                    green += paint.green * paint.alpha;
                    blue += paint.blue * paint.alpha;
                    alpha += paint.alpha;
                }
            }
            const auto at = static_cast<std::size_t>(y * IconSize + x);
            // The mask is one bit: pixels at least half covered are drawn
            // in their own colour, the rest are transparent.
            if (alpha < Supersampling * Supersampling / 2.0) {
                icon.transparent[at] = true;
                icon.indices[at] = 0;
                continue;
            }
            auto channel = [&](double sum) { return static_cast<std::uint8_t>(std::lround(sum / alpha)); };
            icon.indices[at] = nearestPaletteIndex(icon.palette, {channel(red), channel(green), channel(blue)});
        }
    }
    return icon;
}

std::vector<std::uint8_t> encodeIco(const PalettedIcon& icon)
{
    // The colour table holds only the palette's colours that pixels use,
    // in the palette's order: a few dozen rather than 256.
    std::array<bool, 256> used{};
    for (const std::uint8_t index : icon.indices)
        used[index] = true;
    std::array<std::uint8_t, 256> tableIndex{};
    std::vector<Colour> table;
    for (std::size_t i = 0; i < used.size(); ++i) {
        if (!used[i])
            continue;
        tableIndex[i] = static_cast<std::uint8_t>(table.size());
        table.push_back(icon.palette[i]);
    }

    constexpr std::uint32_t DirectorySize = 6 + 16;
    constexpr std::uint32_t InfoSize = 40;
    const auto tableSize = static_cast<std::uint32_t>(table.size());
    constexpr std::uint32_t MaskRowSize = 4;  // 32 bits, already a whole number of dwords
    const std::uint32_t ImageSize = InfoSize + tableSize * 4 + IconPixels + MaskRowSize * IconSize;

    std::vector<std::uint8_t> out;
    auto put = [&out](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    // ICONDIR, one ICONDIRENTRY.
    put(0, 2);
    put(1, 2);  // icon
    put(1, 2);
    put(IconSize, 1);
    put(IconSize, 1);
    put(0, 1);  // 256 colours are written as 0
    put(0, 1);
    put(1, 2);  // planes
    put(8, 2);  // bits per pixel
    put(ImageSize, 4);
    put(DirectorySize, 4);
    // BITMAPINFOHEADER: the height counts the colour image and the mask.
    put(InfoSize, 4);
    put(IconSize, 4);
    put(IconSize * 2, 4);
    put(1, 2);
    put(8, 2);
    put(0, 4);  // BI_RGB
    put(IconPixels + MaskRowSize * IconSize, 4);
    put(0, 4);
    put(0, 4);
    put(tableSize, 4);  // colours in the table
    put(0, 4);
    for (const Colour& c : table) {
        out.push_back(c.blue);
        out.push_back(c.green);
        out.push_back(c.red);
        out.push_back(0);
    }
    for (int y = IconSize - 1; y >= 0; --y)
        for (int x = 0; x < IconSize; ++x)
            out.push_back(tableIndex[icon.indices[static_cast<std::size_t>(y * IconSize + x)]]);
    for (int y = IconSize - 1; y >= 0; --y) {
        std::uint32_t bits = 0;
        for (int x = 0; x < IconSize; ++x)
            if (icon.transparent[static_cast<std::size_t>(y * IconSize + x)])
                bits |= 0x80000000u >> x;
        put(bits >> 24, 1);
        put((bits >> 16) & 0xFF, 1);
        put((bits >> 8) & 0xFF, 1);
        put(bits & 0xFF, 1);
    }
    return out;
}

}  // namespace chart
