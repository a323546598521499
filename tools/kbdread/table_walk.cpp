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
        out_.tablesRva = findRecord(out_.descriptorRva, kDescriptorExport, t_.tablesSize, "KBDTABLES",
                                    PointerRole::RecordAddress);
        const std::uint32_t r = out_.tablesRva;
        decodeModifiers(followRecord(r, PointerRole::CharModifiers, t_.charModifiers, t_.modNumber));
        decodeCharTables(followRecord(r, PointerRole::VkToWcharTable, t_.vkToWcharTable, t_.charTableEntrySize));
        out_.deadKeyNull = !followOptional(r, PointerRole::DeadKey, t_.deadKey, kDeadKeyEntrySize);
        if (!out_.deadKeyNull)
            decodeDeadKeys(out_.pointerSites.back().targetRva);
        out_.keyNames = decodeKeyNames(followRecord(r, PointerRole::KeyNames, t_.keyNames, t_.keyNameEntrySize),
                                       PointerRole::KeyNameString, "pKeyNames");
        out_.keyNamesExt = decodeKeyNames(followRecord(r, PointerRole::KeyNamesExt, t_.keyNamesExt, t_.keyNameEntrySize),
                                          PointerRole::KeyNameExtString, "pKeyNamesExt");
        out_.keyNamesDeadNull = !followOptional(r, PointerRole::KeyNamesDead, t_.keyNamesDead, t_.pointer);
        if (!out_.keyNamesDeadNull)
            decodeDeadKeyNames(out_.pointerSites.back().targetRva);

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
        decodeNlsTables();
    }

private:
    // The record of `size` bytes that the code of the export `function`
    // returns, which must fit in one section.
    std::uint32_t findRecord(std::uint32_t codeRva, const char* function, std::uint32_t size, const char* record,
                             PointerRole addressRole)
    {
        const Section* s = pe_.sectionAt(codeRva);
        if (!s || codeRva + std::uint64_t{form_.codeSize} > s->end())
            fail(ErrorKind::BadExportCode, pe_.at(codeRva, std::string(function) + "'s code at RVA " + hex(codeRva) +
                                                               " does not lie inside a section"));
        const DescriptorCode code = form_.decodeDescriptor(map_.bytes(), pe_, codeRva, out_.loadBase, function);
        const std::int64_t target = code.tablesRva;
        const Section* ts = target >= 0 ? pe_.sectionAt(static_cast<std::uint64_t>(target)) : nullptr;
        if (!ts || target + size > static_cast<std::int64_t>(ts->end())) {
            std::string loaded = hex(static_cast<std::uint64_t>(target < 0 ? -target : target));
            if (target < 0)
                loaded.insert(loaded.begin(), '-');
            fail(ErrorKind::PointerOutsideImage,
                 pe_.at(codeRva, std::string(function) + "'s code at RVA " + hex(codeRva) + " loads RVA " + loaded +
                                     ", where no " + hex(size) + "-byte " + record + " record fits inside a section"));
        }
        const auto rva = static_cast<std::uint32_t>(target);
        if (code.addressSite)
            out_.pointerSites.push_back({*code.addressSite, out_.loadBase + rva, rva, size, addressRole, 0});
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

    // A pointer the layout may leave null, recorded as such; a non-null one
    // is followed to `size` bytes. Returns whether it was followed.
    bool followOptional(std::uint32_t siteRva, PointerRole role, const std::string& what, std::uint64_t size)
    {
        const Stored pointer = stored(siteRva);
        if (pointer.value == 0) {
            out_.pointerSites.push_back({siteRva, 0, 0, 0, role, 0, pointer.upperHalf});
            return false;
        }
        follow(siteRva, role, 0, what, size);
        return true;
    }

    bool followOptional(std::uint32_t record, PointerRole role, std::uint32_t offset, std::uint64_t size)
    {
        return followOptional(record + offset, role, recordField(role, offset), size);
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
            for (std::uint32_t row = 0; row < rows; ++row) {
                table.rows.push_back(readRow(table.rowsRva + table.cbSize * row, table.nModifications));
                table.rows.back().continuation = row > 0 && table.rows[row - 1].hasContinuation() &&
                                                 table.rows.back().virtualKey == kContinuationKey;
            }
            out_.charTables.push_back(std::move(table));
        }
    }

    // A key-name list ends at the entry whose scan code and string pointer
    // are both zero. Readers differ on an entry with scan code 0 and a
    // string: some end the list there, others read on to the null pointer.
    // The names after such an entry are read when they read cleanly up to
    // an all-zero entry; otherwise the entry is the list's terminator, one
    // whose pointer field is not zero (which the validator reports).
    std::vector<KeyName> decodeKeyNames(std::uint32_t list, PointerRole stringRole, const std::string& what)
    {
        const std::uint32_t entrySize = t_.keyNameEntrySize;
        const std::size_t listSite = out_.pointerSites.size() - 1;
        const std::uint32_t zeroScanCode =
            countList(list, entrySize, what + " list", [&](std::uint32_t p) { return map_.u8(p) == 0; });
        if (!fieldIsZero(list + entrySize * zeroScanCode + t_.keyNameString)) {
            const PointerSite shortList = out_.pointerSites[listSite];
            try {
                const std::uint32_t n = countList(list, entrySize, what + " list", [&](std::uint32_t p) {
                    return map_.u8(p) == 0 && fieldIsZero(p + t_.keyNameString);
                });
                return readKeyNames(list, n, stringRole, what);
            } catch (const ReadError&) {
                out_.pointerSites.resize(listSite + 1);
                out_.pointerSites[listSite] = shortList;
            }
        }
        return readKeyNames(list, zeroScanCode, stringRole, what);
    }

    std::vector<KeyName> readKeyNames(std::uint32_t list, std::uint32_t n, PointerRole stringRole,
                                      const std::string& what)
    {
        const std::uint32_t entrySize = t_.keyNameEntrySize;
        std::vector<KeyName> names;
        for (std::uint32_t i = 0; i < n; ++i) {
            KeyName k{map_.u8(list + entrySize * i), list + entrySize * i, 0, {}};
            const std::string entry = "string of " + what + " entry " + std::to_string(i) + " (scan code " +
                                      hex(k.scanCode) + ")";
            k.stringRva = follow(k.entryRva + t_.keyNameString, stringRole, i, entry, 2);
            k.text = readString(k.stringRva, entry);
            names.push_back(std::move(k));
        }
        return names;
    }

    std::vector<ScanCodePair> decodeScanPairs(std::uint32_t list, const std::string& what)
    {
        const std::uint32_t n = countList(list, 4, what + " list", [&](std::uint32_t p) { return map_.u8(p) == 0; });
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
            followOptional(record, PointerRole::Ligature, t_.ligature, 0);
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

    // A zero-terminated UTF-16 string that must end inside its section.
    std::u16string readString(std::uint32_t rva, const std::string& what)
    {
        const std::uint32_t units = countList(rva, 2, what, [&](std::uint32_t p) { return map_.u16(p) == 0; });
        std::u16string text;
        for (std::uint32_t u = 0; u < units; ++u)
            text.push_back(static_cast<char16_t>(map_.u16(rva + 2 * u)));
        return text;
    }

    // DEADKEY entries up to the one whose dwBoth is 0.
    void decodeDeadKeys(std::uint32_t list)
    {
        const std::uint32_t n = countList(list, kDeadKeyEntrySize, "pDeadKey list",
                                          [&](std::uint32_t p) { return map_.u32(p) == 0; });
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint32_t at = list + kDeadKeyEntrySize * i;
            out_.deadKeys.push_back({at, static_cast<char16_t>(map_.u16(at)), static_cast<char16_t>(map_.u16(at + 2)),
                                     static_cast<char16_t>(map_.u16(at + kDeadKeyComposed)),
                                     map_.u16(at + kDeadKeyFlags)});
        }
    }

    // String pointers up to the null one.
    void decodeDeadKeyNames(std::uint32_t list)
    {
        const std::uint32_t n = countList(list, t_.pointer, "pKeyNamesDead list",
                                          [&](std::uint32_t p) { return fieldIsZero(p); });
        for (std::uint32_t i = 0; i < n; ++i) {
            DeadKeyName name{list + t_.pointer * i, 0, {}};
            const std::string entry = "string of pKeyNamesDead entry " + std::to_string(i);
            name.stringRva = follow(name.entryRva, PointerRole::DeadKeyNameString, i, entry, 2);
            name.text = readString(name.stringRva, entry);
            out_.deadKeyNames.push_back(std::move(name));
        }
    }

    std::string nlsField(const char* field, std::uint32_t offset) const
    {
        return std::string("KBDNLSTABLES.") + field + " (record +" + hex(offset) + ")";
    }

    // The far-east tables, when the image exports KbdNlsLayerDescriptor:
    // the record it returns and its two counted lists, either of which may
    // be absent.
    void decodeNlsTables()
    {
        const std::optional<std::uint32_t> code = exportedCode(pe_, kNlsDescriptorExport);
        if (!code)
            return;
        NlsTables nls;
        nls.descriptorRva = *code;
        nls.rva = findRecord(*code, kNlsDescriptorExport, t_.nlsTablesSize, "KBDNLSTABLES",
                             PointerRole::NlsRecordAddress);
        const std::uint32_t r = nls.rva;
        nls.oemIdentifier = map_.u16(r);
        nls.layoutInformation = map_.u16(r + t_.nlsLayoutInformation);

        const std::uint32_t functions = map_.u32(r + t_.nlsVkToFCount);
        const std::string vkToF = nlsField("pVkToF", t_.nlsVkToF);
        if (followOptional(r + t_.nlsVkToF, PointerRole::VkToF, vkToF, std::uint64_t{functions} * kVkFunctionSize)) {
            const std::uint32_t list = out_.pointerSites.back().targetRva;
            for (std::uint32_t i = 0; i < functions; ++i)
                nls.vkToF.push_back(readVkFunction(list + kVkFunctionSize * i));
        } else if (functions != 0) {
            fail(ErrorKind::NullPointer, pe_.at(r + t_.nlsVkToF, vkToF + " at RVA " + hex(r + t_.nlsVkToF) +
                                                                     " is null, but NumOfVkToF is " +
                                                                     std::to_string(functions)));
        }

        const auto mice = static_cast<std::int32_t>(map_.u32(r + t_.nlsMouseVKeyCount));
        if (mice < 0)
            fail(ErrorKind::BadCount, pe_.at(r + t_.nlsMouseVKeyCount,
                                             nlsField("NumOfMouseVKey", t_.nlsMouseVKeyCount) + " is " +
                                                 std::to_string(mice) + ", below zero"));
        const std::string mouse = nlsField("pusMouseVKey", t_.nlsMouseVKey);
        nls.mouseVKeyNull = !followOptional(r + t_.nlsMouseVKey, PointerRole::MouseVKey, mouse, 2ull * mice);
        if (!nls.mouseVKeyNull) {
            const std::uint32_t list = out_.pointerSites.back().targetRva;
            for (std::int32_t i = 0; i < mice; ++i)
                nls.mouseVKeys.push_back(map_.u16(list + 2 * static_cast<std::uint32_t>(i)));
        }
        out_.nls = std::move(nls);
    }

    VkFunction readVkFunction(std::uint32_t rva) const
    {
        VkFunction f{rva, map_.u8(rva), map_.u8(rva + 1), map_.u8(rva + 2), map_.u8(rva + 3), {}, {}};
        for (std::uint32_t i = 0; i < kFunctionParams; ++i) {
            const std::uint32_t proc = rva + kVkFunctionProc + kFunctionParamSize * i;
            const std::uint32_t alt = rva + kVkFunctionProcAlt + kFunctionParamSize * i;
            f.proc[i] = {map_.u8(proc), map_.u32(proc + 4)};
            f.procAlt[i] = {map_.u8(alt), map_.u32(alt + 4)};
        }
        return f;
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
