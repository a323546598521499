#include "table_walk.h"

namespace kbdread {
namespace {

[[noreturn]] void fail(ErrorKind kind, Problem problem)
{
    throw ReadError(kind, std::move(problem));
}

class TableWalker {
public:
    TableWalker(Layout& layout, const ImageMap& map)
        : out_(layout), map_(map), pe_(map.pe()), form_(layout.description()), t_(form_.tables)
    {}

    void walk()
    {
        out_.tablesRva = findRecord();
        const std::uint32_t r = out_.tablesRva;
        decodeModifiers(followRecord(r, PointerRole::CharModifiers, t_.charModifiers, t_.modNumber));
        decodeCharTables(followRecord(r, PointerRole::VkToWcharTable, t_.vkToWcharTable, t_.charTableEntrySize));
        out_.deadKeyNull = checkOptional(r, PointerRole::DeadKey, t_.deadKey);
        out_.keyNames = decodeKeyNames(followRecord(r, PointerRole::KeyNames, t_.keyNames, t_.keyNameEntrySize),
                                       PointerRole::KeyNameString, "pKeyNames");
        out_.keyNamesExt = decodeKeyNames(followRecord(r, PointerRole::KeyNamesExt, t_.keyNamesExt, t_.keyNameEntrySize),
                                          PointerRole::KeyNameExtString, "pKeyNamesExt");
        out_.keyNamesDeadNull = checkOptional(r, PointerRole::KeyNamesDead, t_.keyNamesDead);

        out_.maxScanCode = map_.u8(r + t_.maxVscToVk);
        const std::uint32_t scanMap = followRecord(r, PointerRole::VSCtoVK, t_.vscToVk, 2u * out_.maxScanCode);
        for (std::uint32_t sc = 0; sc < out_.maxScanCode; ++sc)
            out_.scanCodeMap.push_back(map_.u16(scanMap + 2 * sc));

        out_.e0 = decodeScanPairs(followRecord(r, PointerRole::VSCtoVK_E0, t_.vscToVkE0, 4), "pVSCtoVK_E0");
        out_.e1 = decodeScanPairs(followRecord(r, PointerRole::VSCtoVK_E1, t_.vscToVkE1, 4), "pVSCtoVK_E1");
        out_.localeFlags = map_.u32(r + t_.localeFlags);
        out_.nLgMax = map_.u8(r + t_.lgMax);
        out_.cbLgEntry = map_.u8(r + t_.lgEntry);
        decodeLigatures(r);
    }

private:
    // The record KbdLayerDescriptor's code returns, which must fit in one section.
    std::uint32_t findRecord()
    {
        const std::uint32_t codeRva = out_.descriptorRva;
        const Section* s = pe_.sectionAt(codeRva);
        if (!s || codeRva + std::uint64_t{form_.codeSize} > s->end())
            fail(ErrorKind::BadExportCode, pe_.at(codeRva, "KbdLayerDescriptor's code at RVA " + hex(codeRva) +
                                                               " does not lie inside a section"));
        const DescriptorCode code = form_.decodeDescriptor(map_.bytes(), pe_, codeRva, out_.loadBase);
        const std::int64_t target = code.tablesRva;
        const Section* ts = target >= 0 ? pe_.sectionAt(static_cast<std::uint64_t>(target)) : nullptr;
        if (!ts || target + t_.tablesSize > static_cast<std::int64_t>(ts->end())) {
            std::string loaded = hex(static_cast<std::uint64_t>(target < 0 ? -target : target));
            if (target < 0)
                loaded.insert(loaded.begin(), '-');
            fail(ErrorKind::PointerOutsideImage,
                 pe_.at(codeRva, "KbdLayerDescriptor's code at RVA " + hex(codeRva) + " loads RVA " + loaded +
                                     ", where no " + hex(t_.tablesSize) + "-byte KBDTABLES record fits inside a section"));
        }
        const auto rva = static_cast<std::uint32_t>(target);
        if (code.addressSite)
            out_.pointerSites.push_back({*code.addressSite, out_.loadBase + rva, rva, t_.tablesSize,
                                         PointerRole::RecordAddress, 0});
        return rva;
    }

    struct Stored {
        std::uint64_t value;
        std::uint32_t upperHalf;
    };

    // The address a pointer field holds; in the WOW64 form, the lower half
    // of the field, which is all a 32-bit reader takes.
    Stored stored(std::uint32_t siteRva) const
    {
        if (form_.addressWidth == t_.pointer)
            return {map_.bytes().unsignedAt(siteRva, t_.pointer), 0};
        return {map_.u32(siteRva), map_.u32(siteRva + 4)};
    }

    bool fieldIsZero(std::uint32_t rva) const { return map_.bytes().unsignedAt(rva, t_.pointer) == 0; }

    std::string recordField(PointerRole role, std::uint32_t offset) const
    {
        return std::string(toString(role)) + " (record +" + hex(offset) + ")";
    }

    // Validates the pointer stored at siteRva, which must reach `size` bytes
    // inside one section, records the site and returns the target RVA.
    std::uint32_t follow(std::uint32_t siteRva, PointerRole role, std::size_t index, const std::string& what,
                         std::uint64_t size)
    {
        const Stored pointer = stored(siteRva);
        const std::uint64_t value = pointer.value;
        if (value == 0)
            fail(ErrorKind::NullPointer, pe_.at(siteRva, what + " at RVA " + hex(siteRva) + " is null"));
        const std::uint64_t rva = value - out_.loadBase;
        const Section* s = value >= out_.loadBase ? pe_.sectionAt(rva) : nullptr;
        if (!s)
            fail(ErrorKind::PointerOutsideImage, pe_.at(siteRva, what + " points outside the image: " + hex(value)));
        if (size > s->end() - rva)
            fail(ErrorKind::PointerOutsideImage,
                 pe_.at(siteRva, what + " points to " + hex(value) + ", where " + hex(size) +
                                     " bytes do not fit before the end of section " + s->name));
        out_.pointerSites.push_back({siteRva, value, static_cast<std::uint32_t>(rva), static_cast<std::uint32_t>(size),
                                     role, index, pointer.upperHalf});
        return static_cast<std::uint32_t>(rva);
    }

    std::uint32_t followRecord(std::uint32_t record, PointerRole role, std::uint32_t offset, std::uint64_t size)
    {
        return follow(record + offset, role, 0, recordField(role, offset), size);
    }

    // A pointer the layout may leave null; non-null ones are still range-checked.
    bool checkOptional(std::uint32_t record, PointerRole role, std::uint32_t offset)
    {
        const Stored pointer = stored(record + offset);
        if (pointer.value == 0) {
            out_.pointerSites.push_back({record + offset, 0, 0, 0, role, 0, pointer.upperHalf});
            return true;
        }
        followRecord(record, role, offset, 0);
        return false;
    }

    // Counts the entries of a list before its terminator; the terminator must
    // lie inside the section the list starts in. Widens the recorded size of
    // the pointer site last followed to the whole list and records its entry
    // size.
    template <typename IsTerminator>
    std::uint32_t countList(std::uint32_t start, std::uint32_t entrySize, const std::string& what,
                            IsTerminator isTerminator)
    {
        const Section* s = pe_.sectionAt(start);
        const std::uint64_t end = s->end();
        std::uint32_t count = 0;
        for (std::uint32_t p = start;; p += entrySize, ++count) {
            if (entrySize > end - p)
                fail(ErrorKind::Unterminated, pe_.at(start, what + " at RVA " + hex(start) +
                                                                " runs to the end of section " + s->name + " (RVA " +
                                                                hex(end) + ") without a terminator"));
            if (isTerminator(p))
                break;
        }
        out_.pointerSites.back().targetSize = (count + 1) * entrySize;
        out_.pointerSites.back().entrySize = entrySize;
        return count;
    }

    void decodeModifiers(std::uint32_t rva)
    {
        Modifiers& m = out_.modifiers;
        m.rva = rva;
        m.maxModBits = map_.u16(rva + t_.maxModBits);
        if (m.maxModBits > 0xFF)
            fail(ErrorKind::BadCount, pe_.at(rva + t_.maxModBits,
                                             "wMaxModBits (modifier record +" + hex(t_.maxModBits) + " at RVA " +
                                                 hex(rva + t_.maxModBits) + ") is " + std::to_string(m.maxModBits) +
                                                 ", above the highest 8-bit combination"));
        const Section* s = pe_.sectionAt(rva);
        if (t_.modNumber + m.maxModBits + 1u > s->end() - rva)
            fail(ErrorKind::PointerOutsideImage,
                 pe_.at(rva + t_.modNumber, "ModNumber (modifier record +" + hex(t_.modNumber) + " at RVA " +
                                                hex(rva + t_.modNumber) + ", " + std::to_string(m.maxModBits + 1) +
                                                " entries) runs past the end of section " + s->name));
        out_.pointerSites.back().targetSize = t_.modNumber + m.maxModBits + 1;
        for (unsigned i = 0; i <= m.maxModBits; ++i)
            m.modNumber.push_back(map_.u8(rva + t_.modNumber + i));

        const std::uint32_t bits = follow(rva, PointerRole::VkToBit, 0, "pVkToBit (modifier record +0x0)", 2);
        const std::uint32_t n = countList(bits, 2, "pVkToBit list", [&](std::uint32_t p) { return map_.u8(p) == 0; });
        for (std::uint32_t i = 0; i < n; ++i)
            m.vkToBit.push_back({map_.u8(bits + 2 * i), map_.u8(bits + 2 * i + 1)});
    }

    CharRow readRow(std::uint32_t rva, std::uint8_t columns) const
    {
        CharRow row{rva, map_.u8(rva), map_.u8(rva + 1), {}};
        for (std::uint8_t c = 0; c < columns; ++c)
            row.cells.push_back(map_.u16(rva + 2 + 2 * c));
        return row;
    }

    void decodeCharTables(std::uint32_t list)
    {
        const std::uint32_t entrySize = t_.charTableEntrySize;
        const std::uint32_t n = countList(list, entrySize, "pVkToWcharTable list",
                                          [&](std::uint32_t p) { return fieldIsZero(p); });
        for (std::uint32_t i = 0; i < n; ++i) {
            CharTable table;
            table.entryRva = list + entrySize * i;
            table.nModifications = map_.u8(table.entryRva + t_.nModifications);
            table.cbSize = map_.u8(table.entryRva + t_.cbSize);
            const std::string where = "character table " + std::to_string(i + 1) + " (entry at RVA " +
                                      hex(table.entryRva) + ")";
            if (table.nModifications == 0 || table.cbSize != 2 + 2 * table.nModifications)
                fail(ErrorKind::BadCount,
                     pe_.at(table.entryRva + t_.nModifications,
                            where + ": cbSize " + std::to_string(table.cbSize) + " with nModifications " +
                                std::to_string(table.nModifications) + ", expected cbSize " +
                                std::to_string(2 + 2 * table.nModifications) + " and at least one modification"));
            table.rowsRva = follow(table.entryRva, PointerRole::CharTableRows, i, "pVkToWchars of " + where,
                                   table.cbSize);
            const std::uint32_t rows = countList(table.rowsRva, table.cbSize, "rows of " + where,
                                                 [&](std::uint32_t p) { return map_.u8(p) == 0; });
            for (std::uint32_t row = 0; row < rows; ++row)
                table.rows.push_back(readRow(table.rowsRva + table.cbSize * row, table.nModifications));
            out_.charTables.push_back(std::move(table));
        }
    }

    std::vector<KeyName> decodeKeyNames(std::uint32_t list, PointerRole stringRole, const std::string& what)
    {
        const std::uint32_t entrySize = t_.keyNameEntrySize;
        const std::uint32_t n = countList(list, entrySize, what + " list", [&](std::uint32_t p) {
            return map_.u8(p) == 0 && fieldIsZero(p + t_.keyNameString);
        });
        std::vector<KeyName> names;
        for (std::uint32_t i = 0; i < n; ++i) {
            KeyName k{map_.u8(list + entrySize * i), list + entrySize * i, 0, {}};
            const std::string entry = "string of " + what + " entry " + std::to_string(i) + " (scan code " +
                                      hex(k.scanCode) + ")";
            k.stringRva = follow(k.entryRva + t_.keyNameString, stringRole, i, entry, 2);
            const std::uint32_t units = countList(k.stringRva, 2, entry, [&](std::uint32_t p) { return map_.u16(p) == 0; });
            for (std::uint32_t u = 0; u < units; ++u)
                k.text.push_back(static_cast<char16_t>(map_.u16(k.stringRva + 2 * u)));
            names.push_back(std::move(k));
        }
        return names;
    }

    std::vector<ScanCodePair> decodeScanPairs(std::uint32_t list, const std::string& what)
    {
        const std::uint32_t n = countList(list, 4, what + " list", [&](std::uint32_t p) {
            return map_.u8(p) == 0 && map_.u16(p + 2) == 0;
        });
        std::vector<ScanCodePair> pairs;
        for (std::uint32_t i = 0; i < n; ++i)
            pairs.push_back({map_.u8(list + 4 * i), map_.u8(list + 4 * i + 1), map_.u16(list + 4 * i + 2)});
        return pairs;
    }

    LigatureRow readLigature(std::uint32_t rva) const
    {
        LigatureRow row{rva, map_.u8(rva), map_.u8(rva + 1), map_.u16(rva + 2), {}};
        for (std::uint8_t c = 0; c < out_.nLgMax; ++c)
            row.cells.push_back(map_.u16(rva + 4 + 2 * c));
        return row;
    }

    void decodeLigatures(std::uint32_t record)
    {
        if (stored(record + t_.ligature).value == 0) {
            checkOptional(record, PointerRole::Ligature, t_.ligature);
            return;
        }
        if (out_.cbLgEntry != 4 + 2 * out_.nLgMax)
            fail(ErrorKind::BadCount, pe_.at(record + t_.lgEntry,
                                             "cbLgEntry (record +" + hex(t_.lgEntry) + ") is " +
                                                 std::to_string(out_.cbLgEntry) + ", expected " +
                                                 std::to_string(4 + 2 * out_.nLgMax) + " for nLgMax " +
                                                 std::to_string(out_.nLgMax)));
        const std::uint32_t list = followRecord(record, PointerRole::Ligature, t_.ligature, out_.cbLgEntry);
        const std::uint32_t n = countList(list, out_.cbLgEntry, "pLigature list", [&](std::uint32_t p) { return map_.u8(p) == 0; });
        for (std::uint32_t i = 0; i < n; ++i)
            out_.ligatures.push_back(readLigature(list + out_.cbLgEntry * i));
    }

    Layout& out_;
    const ImageMap& map_;
    const PeInfo& pe_;
    const FormDescription& form_;
    const TableFormat& t_;
};

} // namespace

void walkTables(Layout& layout, const ImageMap& map)
{
    TableWalker(layout, map).walk();
}

} // namespace kbdread
