#include "pulse.h"

#include <cmath>

namespace halvaro {

namespace {

constexpr int levelTop = 150;
constexpr int levelBottom = 0;
constexpr int stepFromTop = -10;
constexpr int stepFromBottom = 2;
constexpr int seedStep = 5;
constexpr double colourBase = 150;
constexpr double levelDivisor = 2;
constexpr std::uint8_t greyPart = 150;

// Halves go to the even neighbour (152.5 -> 152, 157.5 -> 158), the
// conversion the strip's colour has always used; done by hand so it does
// not depend on the floating-point environment's rounding mode.
std::int16_t roundHalfToEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    double rounded = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0))
        rounded = below + 1.0;
    return static_cast<std::int16_t>(rounded);
}

}  // namespace

void Pulse::Form_Load() {
    PulseStep = seedStep;
}

Rgb Pulse::Timer3_Timer() {
    PulseLevel += PulseStep;
    if (PulseLevel > levelTop) {
        PulseLevel = levelTop;
        PulseStep = stepFromTop;
    }
    if (PulseLevel < levelBottom) {
        PulseLevel = levelBottom;
        PulseStep = stepFromBottom;
    }
    const std::int16_t red = roundHalfToEven(PulseLevel / levelDivisor + colourBase);
    return {static_cast<std::uint8_t>(red), greyPart, greyPart};
}

}  // namespace halvaro
