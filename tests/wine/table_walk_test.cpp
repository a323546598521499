// The canonical walk over small hand-built tables in host memory: each rule
// of the walk (missing entries, columns, table order, sentinels, ligatures,
// names, summary) on one key, and the walk's refusal to leave the image.
#include "table_walk.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kAlef = 0x0627;  // ARABIC LETTER ALEF
constexpr std::uint16_t kBeh = 0x0628;   // ARABIC LETTER BEH
constexpr std::uint16_t kLam = 0x0644;   // ARABIC LETTER LAM

// A block of memory to lay records out in, 8-byte aligned like the library.
class Arena {
public:
    unsigned char* take(std::size_t size) {
        used_ = (used_ + 7) & ~std::size_t{7};
        unsigned char* at = bytes_.data() + used_;
        used_ += size;
        return at;
    }
    template <class T>
    static void put(unsigned char* record, std::size_t offset, T value) {
        std::memcpy(record + offset, &value, sizeof value);
    }
    static void put_pointer(unsigned char* record, std::size_t offset, const void* target) {
        put<std::uint64_t>(record, offset, reinterpret_cast<std::uintptr_t>(target));
    }
    const char16_t* string(const std::u16string& text) {
        auto* at = take(2 * (text.size() + 1));
        std::memcpy(at, text.c_str(), 2 * (text.size() + 1));
        return reinterpret_cast<const char16_t*>(at);
    }
    table_walk::Image image() const { return {bytes_.data(), bytes_.data() + bytes_.size()}; }

private:
    alignas(8) std::array<unsigned char, 4096> bytes_{};
    std::size_t used_ = 0;
};

// Two character tables, 3 columns then 2; Shift+Ctrl (bits 3) has no column.
class TableWalk : public testing::Test {
protected:
    void SetUp() override {
        tables = arena.take(0x60);

        auto* vk_to_bit = arena.take(8);
        Arena::put<std::uint8_t>(vk_to_bit, 0, 0x10);
        Arena::put<std::uint8_t>(vk_to_bit, 1, 0x01);
        auto* modifiers = arena.take(0x10);
        Arena::put_pointer(modifiers, 0x0, vk_to_bit);
        Arena::put<std::uint16_t>(modifiers, 0x8, 3);
        const std::uint8_t columns[] = {0, 1, 2, 0x0F};
        std::memcpy(modifiers + 0xA, columns, sizeof columns);

        // 3 columns: 'A' plain letter, ligature, dead; 'B' none, letter, control; 'D' ligatures.
        auto* rows3 = arena.take(4 * 8);
        add_row(rows3, 0, 0x41, {kAlef, 0xF002, 0xF001});
        add_row(rows3, 8, 0x42, {0xF000, kBeh, 0x0001});
        add_row(rows3, 16, 0x44, {0xF002, 0xF002, 0xF000});
        // 2 columns: a second 'A' that the first table hides, and 'C'.
        auto* rows2 = arena.take(3 * 6);
        add_row(rows2, 0, 0x41, {0x0041, 0x0061});
        add_row(rows2, 6, 0x43, {0x0043, 0x0063});
        auto* char_tables = arena.take(3 * 0x10);
        add_table(char_tables, 0, rows3, 3, 8);
        add_table(char_tables, 1, rows2, 2, 6);

        ligatures = arena.take(3 * 8);
        add_ligature(ligatures, 0, 0x41, 1, {kLam, kAlef});
        add_ligature(ligatures, 8, 0x44, 0, {0x0031, 0xF000});

        auto* scan_map = arena.take(3 * 2);
        Arena::put<std::uint16_t>(scan_map, 0, 0x00FF);
        Arena::put<std::uint16_t>(scan_map, 2, 0x0041);
        Arena::put<std::uint16_t>(scan_map, 4, 0x0142);
        // E0: two pairs, the terminator, then a pair the walk must not reach.
        auto* e0 = arena.take(4 * 4);
        add_pair(e0, 0, 0x10, 0x0143);
        add_pair(e0, 4, 0x20, 0x0144);
        add_pair(e0, 12, 0x30, 0x0141);

        auto* names = arena.take(2 * 0x10);
        Arena::put<std::uint8_t>(names, 0, 0x01);
        Arena::put_pointer(names, 8, arena.string(u"Esc"));
        auto* names_ext = arena.take(2 * 0x10);
        Arena::put<std::uint8_t>(names_ext, 0, 0x1C);
        Arena::put_pointer(names_ext, 8, arena.string(u"Ent"));

        Arena::put_pointer(tables, 0x00, modifiers);
        Arena::put_pointer(tables, 0x08, char_tables);
        Arena::put_pointer(tables, 0x18, names);
        Arena::put_pointer(tables, 0x20, names_ext);
        Arena::put_pointer(tables, 0x30, scan_map);
        Arena::put<std::uint8_t>(tables, 0x38, 3);
        Arena::put_pointer(tables, 0x40, e0);
        Arena::put<std::uint32_t>(tables, 0x50, 0x00010000);
        Arena::put<std::uint8_t>(tables, 0x54, 2);
        Arena::put<std::uint8_t>(tables, 0x55, 8);
        Arena::put_pointer(tables, 0x58, ligatures);
    }

    static void add_row(unsigned char* rows, std::size_t offset, std::uint8_t vk, std::vector<std::uint16_t> cells) {
        Arena::put(rows, offset, vk);
        for (std::size_t i = 0; i < cells.size(); ++i) Arena::put(rows, offset + 2 + 2 * i, cells[i]);
    }
    static void add_table(unsigned char* list, std::size_t index, const void* rows, std::uint8_t width, std::uint8_t size) {
        Arena::put_pointer(list, 0x10 * index, rows);
        Arena::put(list, 0x10 * index + 8, width);
        Arena::put(list, 0x10 * index + 9, size);
    }
    static void add_ligature(unsigned char* rows, std::size_t offset, std::uint8_t vk, std::uint16_t column,
                             std::array<std::uint16_t, 2> cells) {
        Arena::put(rows, offset, vk);
        Arena::put(rows, offset + 2, column);
        Arena::put(rows, offset + 4, cells[0]);
        Arena::put(rows, offset + 6, cells[1]);
    }
    static void add_pair(unsigned char* list, std::size_t offset, std::uint8_t sc, std::uint16_t vk) {
        Arena::put(list, offset, sc);
        Arena::put(list, offset + 2, vk);
    }

    std::vector<std::string> walk_lines() const {
        std::vector<std::string> lines;
        std::istringstream text(table_walk::canonical_walk(tables, arena.image()));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }

    Arena arena;
    unsigned char* tables = nullptr;
    unsigned char* ligatures = nullptr;
};

// The line whose first fields are `key`, or "" when there is none.
std::string line_for(const std::vector<std::string>& lines, const std::string& key) {
    for (const auto& line : lines)
        if (line.rfind(key + ' ', 0) == 0) return line;
    return "";
}

TEST_F(TableWalk, KeyLinesFollowEachRule) {
    struct Row {
        const char* rule;
        const char* line;
    };
    const Row rows[] = {
        {"value 00FF has no row", "-- 00 00FF - - - - - - - -"},
        {"letter, ligature, dead; invalid column and Alt bits", "-- 01 0041 0627 0644+0627 dead - - - - -"},
        {"flags in the high byte; 0xF000 is nothing", "-- 02 0142 - 0628 0001 - - - - -"},
        {"scan code at bMaxVSCtoVK", "-- 03 none - - - - - - - -"},
        {"last scan code", "-- FF none - - - - - - - -"},
        {"column beyond a 2-column table", "E0 10 0143 0043 0063 - - - - - -"},
        {"ligature stops at 0xF000; missing ligature row", "E0 20 0144 0031 nolig - - - - - -"},
        {"pair after the terminator", "E0 30 none - - - - - - - -"},
        {"scan code 00 matches no pair", "E0 00 none - - - - - - - -"},
        {"null E1 list", "E1 1D none - - - - - - - -"},
    };
    const auto lines = walk_lines();
    for (const auto& row : rows) {
        const std::string key = std::string(row.line).substr(0, 5);
        EXPECT_EQ(line_for(lines, key), row.line) << row.rule;
    }
}

TEST_F(TableWalk, OrderNamesAndSummary) {
    const auto lines = walk_lines();
    ASSERT_EQ(lines.size(), 768u + 2u + 1u);
    EXPECT_EQ(lines[0].substr(0, 5), "-- 00");
    EXPECT_EQ(lines[255].substr(0, 5), "-- FF");
    EXPECT_EQ(lines[256].substr(0, 5), "E0 00");
    EXPECT_EQ(lines[512].substr(0, 5), "E1 00");
    EXPECT_EQ(lines[768], "name -- 01 0045+0073+0063");
    EXPECT_EQ(lines[769], "name E0 1C 0045+006E+0074");
    EXPECT_EQ(lines[770], "flags 00010000 lgmax 2 lgentry 8 maxmodbits 3 tables 2 3x8 2x6");
}

TEST_F(TableWalk, LigatureCellWithoutLigatureTable) {
    Arena::put_pointer(tables, 0x58, nullptr);
    EXPECT_EQ(line_for(walk_lines(), "-- 01"), "-- 01 0041 0627 nolig dead - - - - -");
}

TEST_F(TableWalk, StopsAtPointersOutsideTheImage) {
    struct Row {
        const char* rule;
        std::size_t field;
    };
    static const unsigned char elsewhere[64] = {};
    const Row rows[] = {{"E0 list", 0x40}, {"ligature table", 0x58}, {"key names", 0x18}};
    for (const auto& row : rows) {
        std::uint64_t saved;
        std::memcpy(&saved, tables + row.field, sizeof saved);
        Arena::put_pointer(tables, row.field, elsewhere);
        EXPECT_THROW(table_walk::canonical_walk(tables, arena.image()), table_walk::WalkError) << row.rule;
        Arena::put(tables, row.field, saved);
    }
}

TEST_F(TableWalk, RequiresTheCoreTables) {
    for (std::size_t field : {0x00, 0x08, 0x30}) {
        std::uint64_t saved;
        std::memcpy(&saved, tables + field, sizeof saved);
        Arena::put_pointer(tables, field, nullptr);
        EXPECT_THROW(table_walk::canonical_walk(tables, arena.image()), table_walk::WalkError) << "field " << field;
        Arena::put(tables, field, saved);
    }
}

}  // namespace
