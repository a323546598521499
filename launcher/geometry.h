// Where the window's parts go. Positions and sizes are kept in twips
// (1/1440 inch, relative to the client area) and turned into pixels for
// the DPI the window is shown at, so the window looks the same at any
// scale instead of being bitmap-stretched by the system.
#pragma once

namespace halvaro {

struct TwipRect {
    int left, top, width, height;
};

struct PixelRect {
    int left, top, width, height;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

struct PixelSize {
    int width, height;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

constexpr int twipsPerInch = 1440;

constexpr int clientWidthTwips = 13200;
constexpr int clientHeightTwips = 4845;

// Image3 hangs past the top, left and right edges: its picture is
// stretched to exactly this rectangle, width and height independently.
constexpr TwipRect image3Twips{-60, -60, 13305, 3855};
constexpr TwipRect command2Twips{60, 3840, 3975, 615};
constexpr TwipRect command1Twips{4080, 3840, 3735, 615};
constexpr TwipRect command3Twips{11220, 3840, 1815, 615};
constexpr TwipRect picture4Twips{0, 4470, 13200, 375};

// The buttons' font size, 8.25 pt, in hundredths of a point.
constexpr int buttonFontCentipoints = 825;

// round(twips * dpi / 1440), halves away from zero.
int twipsToPixels(int twips, int dpi);

PixelRect toPixels(const TwipRect& rect, int dpi);

PixelSize clientSizePixels(int dpi);

// The LOGFONT height (negative: character height without internal
// leading) of the buttons' font at this DPI.
int buttonFontHeight(int dpi);

}  // namespace halvaro
