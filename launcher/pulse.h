// The status strip's pulse: on every timer tick the level climbs by the
// step, is held for a tick at either bound while the step turns, and gives
// the strip's colour. The window only paints what this returns.
#pragma once

#include <cstdint>

namespace halvaro {

struct Rgb {
    std::uint8_t red, green, blue;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The strip's colour before the first tick.
constexpr Rgb stripStartColour{255, 128, 0};

class Pulse {
public:
    // Seeds the step; run once before the window is first shown.
    void Form_Load();

    // One timer tick: moves the level and returns the strip's new colour,
    // which the caller writes on every tick, changed or not.
    Rgb Timer3_Timer();

    int level() const { return PulseLevel; }
    int step() const { return PulseStep; }

private:
    int PulseLevel = 0;
    int PulseStep = 0;
};

}  // namespace halvaro
