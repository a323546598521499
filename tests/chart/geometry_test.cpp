#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "chart_geometry.h"

using chart::Block;
using chart::KeySlot;

namespace {

std::string describe(const KeySlot& slot)
{
    return (slot.scan.extended ? "E0 " : "") + std::to_string(slot.scan.code) + " at " +
           std::to_string(slot.face.x) + "," + std::to_string(slot.face.y);
}

}  // namespace

TEST(ChartGeometry, EveryKeyLiesInsideThePicture)
{
    for (const KeySlot& slot : chart::keyboardSlots()) {
        SCOPED_TRACE(describe(slot));
        EXPECT_GE(slot.face.x, 0);
        EXPECT_GE(slot.face.y, 0);
        EXPECT_LE(slot.face.right(), chart::ChartWidth);
        EXPECT_LE(slot.face.bottom(), chart::ChartHeight);
        EXPECT_GT(slot.face.width, 20);
        EXPECT_GT(slot.face.height, 20);
    }
}

TEST(ChartGeometry, NoTwoKeysOverlap)
{
    const auto slots = chart::keyboardSlots();
    for (std::size_t i = 0; i < slots.size(); ++i)
        for (std::size_t j = i + 1; j < slots.size(); ++j)
            EXPECT_FALSE(slots[i].face.overlaps(slots[j].face)) << describe(slots[i]) << " and " << describe(slots[j]);
}

TEST(ChartGeometry, NavigationBlockStandsRightOfTheMainBlock)
{
    double mainRight = 0;
    double navigationLeft = chart::ChartWidth;
    for (const KeySlot& slot : chart::keyboardSlots()) {
        if (slot.block == Block::Main)
            mainRight = std::max(mainRight, slot.face.right());
        else
            navigationLeft = std::min(navigationLeft, slot.face.x);
    }
    EXPECT_LT(mainRight + 10, navigationLeft);
}

// Each physical key appears once; the main block carries all 102-key
// typing keys and the navigation block the ten editing and arrow keys.
TEST(ChartGeometry, EachKeyOfBothBlocksAppearsOnce)
{
    std::map<std::pair<int, bool>, int> seen;
    std::map<Block, int> perBlock;
    for (const KeySlot& slot : chart::keyboardSlots()) {
        ++seen[{slot.scan.code, slot.scan.extended}];
        ++perBlock[slot.block];
    }
    for (const auto& [key, count] : seen)
        EXPECT_EQ(count, 1) << "scan code " << key.first << (key.second ? " (E0)" : "");

    std::vector<std::pair<int, bool>> expected;
    for (int code = 0x02; code <= 0x0D; ++code)  // digits, minus, equals
        expected.push_back({code, false});
    for (int code = 0x10; code <= 0x1B; ++code)  // Q .. ]
        expected.push_back({code, false});
    for (int code = 0x1E; code <= 0x29; ++code)  // A .. ', and `
        expected.push_back({code, false});
    for (int code = 0x2B; code <= 0x35; ++code)  // \, Z .. /
        expected.push_back({code, false});
    for (int code : {0x0E, 0x0F, 0x1C, 0x1D, 0x2A, 0x36, 0x38, 0x39, 0x3A, 0x56})
        expected.push_back({code, false});
    for (int code : {0x1D, 0x38, 0x5B, 0x5C, 0x5D, 0x47, 0x48, 0x49, 0x4B, 0x4D, 0x4F, 0x50, 0x51, 0x52, 0x53})
        expected.push_back({code, true});
    for (const auto& key : expected)
        EXPECT_EQ(seen.count(key), 1u) << "missing scan code " << key.first << (key.second ? " (E0)" : "");
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_EQ(perBlock[Block::Navigation], 10);
}

// The five main rows are each 15 key units wide, so their right ends line up.
TEST(ChartGeometry, MainRowsEndAtTheSameEdge)
{
    std::map<double, double> rightEndByRow;
    for (const KeySlot& slot : chart::keyboardSlots())
        if (slot.block == Block::Main)
            rightEndByRow[slot.face.y] = std::max(rightEndByRow[slot.face.y], slot.face.right());
    ASSERT_EQ(rightEndByRow.size(), 5u);
    for (const auto& [top, right] : rightEndByRow)
        EXPECT_EQ(right, rightEndByRow.begin()->second) << "row at y=" << top;
}
