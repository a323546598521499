// kbdwalk <dll> [base]: prints the canonical walk of a layout library read
// from its file, for comparison with the walk done by the Windows loader path.
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

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: kbdwalk <layout.dll> [load base]\n");
        return 2;
    }
    std::optional<std::uint64_t> base;
    if (argc == 3) {
        char* end = nullptr;
        base = std::strtoull(argv[2], &end, 0);
        if (*end != '\0') {
            std::fprintf(stderr, "kbdwalk: not a number: %s\n", argv[2]);
            return 2;
        }
    }
    try {
        const kbdread::Layout layout = kbdread::readLayout(argv[1], base);
        printScanCodes(layout);
        printKeyNames(layout.keyNames, "--");
        printKeyNames(layout.keyNamesExt, "E0");
        printSummary(layout);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kbdwalk: %s: %s\n", argv[1], error.what());
        return 1;
    }
    return 0;
}
