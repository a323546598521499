#include "geometry.h"

namespace halvaro {

namespace {

// n / d rounded to nearest, halves away from zero; d > 0.
int divideRounded(long long n, long long d) {
    const long long half = d / 2;
    return static_cast<int>(n >= 0 ? (n + half) / d : -((-n + half) / d));
}

}  // namespace

int twipsToPixels(int twips, int dpi) {
    return divideRounded(static_cast<long long>(twips) * dpi, twipsPerInch);
}

PixelRect toPixels(const TwipRect& rect, int dpi) {
    return {twipsToPixels(rect.left, dpi), twipsToPixels(rect.top, dpi),
            twipsToPixels(rect.width, dpi), twipsToPixels(rect.height, dpi)};
}

PixelSize clientSizePixels(int dpi) {
    return {twipsToPixels(clientWidthTwips, dpi), twipsToPixels(clientHeightTwips, dpi)};
}

int buttonFontHeight(int dpi) {
    constexpr int centipointsPerInch = 72 * 100;
    return -divideRounded(static_cast<long long>(buttonFontCentipoints) * dpi, centipointsPerInch);
}

}  // namespace halvaro
