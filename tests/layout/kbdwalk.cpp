// kbdwalk [--tables] <dll> [base]: what the host reader makes of a layout
// library file. By default the canonical walk (each scan code with what it
// types), for comparison with the walk done by the Windows loader path;
// with --tables every table as read, in the statement syntax of Kurd.tables
// (check_layout.py compares the two).
#include "kbdread.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
    return text;
}

std::string joinUnits(const std::u16string& units)
{
    std::string text;
    for (char16_t unit : units) {
        if (!text.empty())
            text += '+';
        text += hex4(unit);
    }
    return text;
}

std::string cellText(const kbdread::KeyResult& result)
{
    switch (result.outcome) {
    case kbdread::KeyOutcome::Nothing: return "-";
    case kbdread::KeyOutcome::Dead: return "dead";
    case kbdread::KeyOutcome::MissingLigature: return "nolig";
    case kbdread::KeyOutcome::Characters: return joinUnits(result.characters);
    }
    return "?";
}

void printScanCodes(const kbdread::Layout& layout)
{
    const struct {
        kbdread::Prefix prefix;
        const char* label;
    } prefixes[] = {{kbdread::Prefix::None, "--"}, {kbdread::Prefix::E0, "E0"}, {kbdread::Prefix::E1, "E1"}};
    for (const auto& [prefix, label] : prefixes) {
        for (unsigned sc = 0; sc <= 0xFF; ++sc) {
            const auto value = layout.mapScanCode(static_cast<std::uint8_t>(sc), prefix);
            std::printf("%s %02X %s", label, sc, value ? hex4(*value).c_str() : "none");
            for (unsigned bits = 0; bits < 8; ++bits) {
                const std::string cell =
                    value ? cellText(layout.characters(static_cast<std::uint8_t>(*value & 0xFF), bits)) : "-";
                std::printf(" %s", cell.c_str());
            }
            std::printf("\n");
        }
    }
}

void printKeyNames(const std::vector<kbdread::KeyName>& names, const char* label)
{
    for (const kbdread::KeyName& name : names)
        std::printf("name %s %02X %s\n", label, name.scanCode, joinUnits(name.text).c_str());
}

void printSummary(const kbdread::Layout& layout)
{
    std::printf("flags %08X lgmax %u lgentry %u maxmodbits %u tables %zu", layout.localeFlags, layout.nLgMax,
                layout.cbLgEntry, layout.modifiers.maxModBits, layout.charTables.size());
    for (const kbdread::CharTable& table : layout.charTables)
        std::printf(" %ux%u", table.nModifications, table.cbSize);
    std::printf("\n");
}

// Table dump, in the syntax of Kurd.tables.

void printHex(unsigned value, int digits) { std::printf(" %0*X", digits, value); }

std::string quoted(const std::u16string& text)
{
    std::string out = "\"";
    for (char16_t unit : text) {
        char escaped[8];
        if (unit >= 0x20 && unit < 0x7F && unit != '"' && unit != '\\')
            out += static_cast<char>(unit);
        else {
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            out += escaped;
        }
    }
    return out + "\"";
}

void printTables(const kbdread::Layout& layout)
{
    std::printf("record fLocaleFlags %08X\n", layout.localeFlags);
    std::printf("record bMaxVSCtoVK %02X\n", layout.maxScanCode);
    std::printf("record nLgMax %02X\n", layout.nLgMax);
    std::printf("record cbLgEntry %02X\n", layout.cbLgEntry);
    std::printf("record pDeadKey %s\n", layout.deadKeyNull ? "null" : "set");
    std::printf("record pKeyNamesDead %s\n", layout.keyNamesDeadNull ? "null" : "set");
    for (const kbdread::VkToBit& pair : layout.modifiers.vkToBit)
        std::printf("vk_to_bit %02X %02X\n", pair.virtualKey, pair.modBits);
    std::printf("modifiers wMaxModBits %04X\n", layout.modifiers.maxModBits);
    std::printf("modifiers ModNumber");
    for (std::uint8_t column : layout.modifiers.modNumber)
        printHex(column, 2);
    std::printf("\n");
    for (std::size_t sc = 0; sc < layout.scanCodeMap.size(); ++sc)
        std::printf("plain %02zX %04X\n", sc, layout.scanCodeMap[sc]);
    for (const auto& [list, label] : {std::pair{&layout.e0, "e0"}, std::pair{&layout.e1, "e1"}})
        for (const kbdread::ScanCodePair& pair : *list)
            std::printf("%s %02X %04X\n", label, pair.scanCode, pair.value);
    for (const kbdread::CharTable& table : layout.charTables) {
        std::printf("table %X %X\n", table.nModifications, table.cbSize);
        for (const kbdread::CharRow& row : table.rows) {
            std::printf("row %02X %02X", row.virtualKey, row.attributes);
            for (std::uint16_t cell : row.cells)
                printHex(cell, 4);
            std::printf("\n");
        }
    }
    for (const kbdread::LigatureRow& row : layout.ligatures) {
        std::printf("ligature %02X %04X", row.virtualKey, row.modificationNumber);
        for (std::uint16_t cell : row.cells)
            printHex(cell, 4);
        std::printf("\n");
    }
    for (const auto& [names, label] : {std::pair{&layout.keyNames, "name"}, std::pair{&layout.keyNamesExt, "name_e0"}})
        for (const kbdread::KeyName& name : *names)
            std::printf("%s %02X %s\n", label, name.scanCode, quoted(name.text).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const bool tables = argc > 1 && std::string(argv[1]) == "--tables";
    const int first = tables ? 2 : 1;
    if (argc - first < 1 || argc - first > 2) {
        std::fprintf(stderr, "usage: kbdwalk [--tables] <layout.dll> [load base]\n");
        return 2;
    }
    const char* file = argv[first];
    std::optional<std::uint64_t> base;
    if (argc - first == 2) {
        char* end = nullptr;
        base = std::strtoull(argv[first + 1], &end, 0);
        if (*end != '\0') {
            std::fprintf(stderr, "kbdwalk: not a number: %s\n", argv[first + 1]);
            return 2;
        }
    }
    try {
        const kbdread::Layout layout = kbdread::readLayout(file, base);
        if (tables) {
            printTables(layout);
            return 0;
        }
        printScanCodes(layout);
        printKeyNames(layout.keyNames, "--");
        printKeyNames(layout.keyNamesExt, "E0");
        printSummary(layout);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kbdwalk: %s: %s\n", file, error.what());
        return 1;
    }
    return 0;
}
