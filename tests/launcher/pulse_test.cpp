#include "pulse.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvaro {
namespace {

struct TickState {
    int level, step;
    Rgb colour;
};

// Loads a pulse and runs it for the given number of ticks, keeping what
// each tick left behind (index 0 is tick 1).
std::vector<TickState> run(int ticks) {
    Pulse pulse;
    pulse.Form_Load();
    std::vector<TickState> states;
    for (int i = 0; i < ticks; ++i) {
        const Rgb colour = pulse.Timer3_Timer();
        states.push_back({pulse.level(), pulse.step(), colour});
    }
    return states;
}

TEST(Pulse, LoadSeedsTheStepAndLeavesTheLevelAtZero) {
    Pulse pulse;
    pulse.Form_Load();
    EXPECT_EQ(pulse.level(), 0);
    EXPECT_EQ(pulse.step(), 5);
}

TEST(Pulse, KnownTicks) {
    struct Row { int tick, level, step; Rgb colour; };
    const Row rows[] = {
        {1, 5, 5, {152, 150, 150}},    // 152.5 rounds to the even 152
        {2, 10, 5, {155, 150, 150}},
        {3, 15, 5, {158, 150, 150}},   // 157.5 rounds to the even 158
        {4, 20, 5, {160, 150, 150}},
        {5, 25, 5, {162, 150, 150}},   // 162.5 rounds to the even 162
        {30, 150, 5, {225, 150, 150}},
        {31, 150, -10, {225, 150, 150}},
        {32, 140, -10, {220, 150, 150}},
        {46, 0, -10, {150, 150, 150}},
        {47, 0, 2, {150, 150, 150}},
        {48, 2, 2, {151, 150, 150}},
        {49, 4, 2, {152, 150, 150}},
        {122, 150, 2, {225, 150, 150}},
        {123, 150, -10, {225, 150, 150}},
    };
    const std::vector<TickState> states = run(123);
    for (const Row& row : rows) {
        const TickState& got = states[row.tick - 1];
        EXPECT_EQ(got.level, row.level) << "level after tick " << row.tick;
        EXPECT_EQ(got.step, row.step) << "step after tick " << row.tick;
        EXPECT_EQ(got.colour, row.colour)
            << "colour of tick " << row.tick << ": got (" << int(got.colour.red) << ','
            << int(got.colour.green) << ',' << int(got.colour.blue) << ')';
    }
}

TEST(Pulse, RepeatsEvery92TicksAfterTheFirstRise) {
    const std::vector<TickState> states = run(31 + 3 * 92);
    for (std::size_t i = 31; i + 92 < states.size(); ++i) {
        EXPECT_EQ(states[i].level, states[i + 92].level) << "tick " << i + 1 << " vs " << i + 93;
        EXPECT_EQ(states[i].step, states[i + 92].step) << "tick " << i + 1 << " vs " << i + 93;
    }
    // 76 ticks rising (with the hold at the top), 16 falling (with the hold at 0).
    int rising = 0;
    for (std::size_t i = 31; i < 31 + 92; ++i)
        rising += states[i].step > 0 ? 1 : 0;
    EXPECT_EQ(rising, 76);
}

TEST(Pulse, StaysWithinBoundsAndColourRange) {
    const std::vector<TickState> states = run(1000);
    for (std::size_t i = 0; i < states.size(); ++i) {
        const TickState& s = states[i];
        EXPECT_TRUE(s.level >= 0 && s.level <= 150) << "level " << s.level << " at tick " << i + 1;
        EXPECT_TRUE(s.colour.red >= 150 && s.colour.red <= 225)
            << "red " << int(s.colour.red) << " at tick " << i + 1;
        EXPECT_EQ(s.colour.green, 150) << "tick " << i + 1;
        EXPECT_EQ(s.colour.blue, 150) << "tick " << i + 1;
    }
}

}  // namespace
}  // namespace halvaro
