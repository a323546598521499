// The canonical walk over small hand-built tables in host memory: each rule
// of the walk (missing entries, columns, table order, sentinels, ligatures,
// names, summary) on one key, and the walk's refusal to leave the image; in
// records with 8-byte pointer fields and in records with 4-byte ones.
#include "table_walk.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

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

using table_walk::PointerWidth;

// Where the records keep their fields, for each pointer width.
struct Offsets {
    std::size_t tables_size, pVkToWcharTable, pKeyNames, pKeyNamesExt, pusVSCtoVK, bMaxVSCtoVK,
        pVSCtoVK_E0, fLocaleFlags, nLgMax, cbLgEntry, pLigature;
    std::size_t modifiers_size, wMaxModBits, ModNumber;
    std::size_t char_table_size, nModifications, cbSize;
    std::size_t key_name_size, pwsz;
};
constexpr Offsets kWide = {0x60, 0x08, 0x18, 0x20, 0x30, 0x38, 0x40, 0x50, 0x54, 0x55, 0x58,
                           0x10, 0x08, 0x0A, 0x10, 0x08, 0x09, 0x10, 0x08};
constexpr Offsets kNarrow = {0x34, 0x04, 0x0C, 0x10, 0x18, 0x1C, 0x20, 0x28, 0x2C, 0x2D, 0x30,
                             0x0C, 0x04, 0x06, 0x08, 0x04, 0x05, 0x08, 0x04};

// Memory to lay records out in, 8-byte aligned like the library, below 4 GB
// so that 4-byte pointer fields can hold its addresses. The image is its
// first half; the second half lies outside it.
class Arena {
public:
    explicit Arena(PointerWidth width) : width_(width) {
        void* block = mmap(nullptr, 2 * kImageSize, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
        if (block == MAP_FAILED) throw std::runtime_error("no memory below 4 GB");
        bytes_ = static_cast<unsigned char*>(block);
    }
    ~Arena() { munmap(bytes_, 2 * kImageSize); }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    unsigned char* take(std::size_t size) {
        used_ = (used_ + 7) & ~std::size_t{7};
        unsigned char* at = bytes_ + used_;
        used_ += size;
        return at;
    }
    template <class T>
    static void put(unsigned char* record, std::size_t offset, T value) {
        std::memcpy(record + offset, &value, sizeof value);
    }
    void put_pointer(unsigned char* record, std::size_t offset, const void* target) const {
        const auto address = reinterpret_cast<std::uintptr_t>(target);
        if (width_ == PointerWidth::Wide)
            put<std::uint64_t>(record, offset, address);
        else
            put<std::uint32_t>(record, offset, static_cast<std::uint32_t>(address));
    }
    const char16_t* string(const std::u16string& text) {
        auto* at = take(2 * (text.size() + 1));
        std::memcpy(at, text.c_str(), 2 * (text.size() + 1));
        return reinterpret_cast<const char16_t*>(at);
    }
    table_walk::Image image() const { return {bytes_, bytes_ + kImageSize}; }
    const unsigned char* outside() const { return bytes_ + kImageSize; }

private:
    static constexpr std::size_t kImageSize = 4096;
    PointerWidth width_;
    unsigned char* bytes_ = nullptr;
    std::size_t used_ = 0;
};

// Two character tables, 3 columns then 2; Shift+Ctrl (bits 3) has no column.
class TableWalk : public testing::TestWithParam<PointerWidth> {
protected:
    void SetUp() override {
        tables = arena.take(at.tables_size);

        auto* vk_to_bit = arena.take(8);
        Arena::put<std::uint8_t>(vk_to_bit, 0, 0x10);
        Arena::put<std::uint8_t>(vk_to_bit, 1, 0x01);
        auto* modifiers = arena.take(at.modifiers_size);
        arena.put_pointer(modifiers, 0x0, vk_to_bit);
        Arena::put<std::uint16_t>(modifiers, at.wMaxModBits, 3);
        const std::uint8_t columns[] = {0, 1, 2, 0x0F};
        std::memcpy(modifiers + at.ModNumber, columns, sizeof columns);

        // 3 columns: 'A' plain letter, ligature, dead; 'B' none, letter, control; 'D' ligatures.
        auto* rows3 = arena.take(4 * 8);
        add_row(rows3, 0, 0x41, {kAlef, 0xF002, 0xF001});
        add_row(rows3, 8, 0x42, {0xF000, kBeh, 0x0001});
        add_row(rows3, 16, 0x44, {0xF002, 0xF002, 0xF000});
        // 2 columns: a second 'A' that the first table hides, and 'C'.
        auto* rows2 = arena.take(3 * 6);
        add_row(rows2, 0, 0x41, {0x0041, 0x0061});
        add_row(rows2, 6, 0x43, {0x0043, 0x0063});
        auto* char_tables = arena.take(3 * at.char_table_size);
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

        auto* names = arena.take(2 * at.key_name_size);
        Arena::put<std::uint8_t>(names, 0, 0x01);
        arena.put_pointer(names, at.pwsz, arena.string(u"Esc"));
        auto* names_ext = arena.take(2 * at.key_name_size);
        Arena::put<std::uint8_t>(names_ext, 0, 0x1C);
        arena.put_pointer(names_ext, at.pwsz, arena.string(u"Ent"));

        arena.put_pointer(tables, 0x00, modifiers);
        arena.put_pointer(tables, at.pVkToWcharTable, char_tables);
        arena.put_pointer(tables, at.pKeyNames, names);
        arena.put_pointer(tables, at.pKeyNamesExt, names_ext);
        arena.put_pointer(tables, at.pusVSCtoVK, scan_map);
        Arena::put<std::uint8_t>(tables, at.bMaxVSCtoVK, 3);
        arena.put_pointer(tables, at.pVSCtoVK_E0, e0);
        Arena::put<std::uint32_t>(tables, at.fLocaleFlags, 0x00010000);
        Arena::put<std::uint8_t>(tables, at.nLgMax, 2);
        Arena::put<std::uint8_t>(tables, at.cbLgEntry, 8);
        arena.put_pointer(tables, at.pLigature, ligatures);
    }

    static void add_row(unsigned char* rows, std::size_t offset, std::uint8_t vk, std::vector<std::uint16_t> cells) {
        Arena::put(rows, offset, vk);
        for (std::size_t i = 0; i < cells.size(); ++i) Arena::put(rows, offset + 2 + 2 * i, cells[i]);
    }
    void add_table(unsigned char* list, std::size_t index, const void* rows, std::uint8_t width, std::uint8_t size) {
        unsigned char* entry = list + at.char_table_size * index;
        arena.put_pointer(entry, 0, rows);
        Arena::put(entry, at.nModifications, width);
        Arena::put(entry, at.cbSize, size);
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
        std::istringstream text(walk());
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }

    std::string walk() const { return table_walk::canonical_walk(tables, arena.image(), GetParam()); }

    // A pointer field of the record, to change and put back.
    std::vector<unsigned char> field(std::size_t offset) const {
        return {tables + offset, tables + offset + static_cast<std::size_t>(GetParam())};
    }
    void restore(std::size_t offset, const std::vector<unsigned char>& saved) {
        std::memcpy(tables + offset, saved.data(), saved.size());
    }

    const Offsets& at = GetParam() == PointerWidth::Wide ? kWide : kNarrow;
    Arena arena{GetParam()};
    unsigned char* tables = nullptr;
    unsigned char* ligatures = nullptr;
};

// The line whose first fields are `key`, or "" when there is none.
std::string line_for(const std::vector<std::string>& lines, const std::string& key) {
    for (const auto& line : lines)
        if (line.rfind(key + ' ', 0) == 0) return line;
    return "";
}

TEST_P(TableWalk, KeyLinesFollowEachRule) {
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

TEST_P(TableWalk, OrderNamesAndSummary) {
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

TEST_P(TableWalk, LigatureCellWithoutLigatureTable) {
    arena.put_pointer(tables, at.pLigature, nullptr);
    EXPECT_EQ(line_for(walk_lines(), "-- 01"), "-- 01 0041 0627 nolig dead - - - - -");
}

TEST_P(TableWalk, StopsAtPointersOutsideTheImage) {
    struct Row {
        const char* rule;
        std::size_t field;
    };
    const Row rows[] = {{"E0 list", at.pVSCtoVK_E0}, {"ligature table", at.pLigature}, {"key names", at.pKeyNames}};
    for (const auto& row : rows) {
        const auto saved = field(row.field);
        arena.put_pointer(tables, row.field, arena.outside());
        EXPECT_THROW(walk(), table_walk::WalkError) << row.rule;
        restore(row.field, saved);
    }
}

TEST_P(TableWalk, RequiresTheCoreTables) {
    for (std::size_t offset : {std::size_t{0}, at.pVkToWcharTable, at.pusVSCtoVK}) {
        const auto saved = field(offset);
        arena.put_pointer(tables, offset, nullptr);
        EXPECT_THROW(walk(), table_walk::WalkError) << "field " << offset;
        restore(offset, saved);
    }
}

// Reading a record in the other width finds none of its tables where they are.
TEST_P(TableWalk, RecordsOfTheOtherWidthDoNotWalk) {
    const auto other = GetParam() == PointerWidth::Wide ? PointerWidth::Narrow : PointerWidth::Wide;
    EXPECT_THROW(table_walk::canonical_walk(tables, arena.image(), other), table_walk::WalkError);
}

INSTANTIATE_TEST_SUITE_P(PointerWidths, TableWalk, testing::Values(PointerWidth::Wide, PointerWidth::Narrow),
                         [](const auto& info) { return info.param == PointerWidth::Wide ? "wide" : "narrow"; });

}  // namespace
