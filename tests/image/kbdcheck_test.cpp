// The validator on the built Kurd.dll and on damaged copies of it. Each
// damage is made in memory, the checksum is then recomputed (so only the
// damage itself is reported), and the findings must carry exactly the codes
// the damage calls for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "built_images.h"
#include "kbdcheck.h"
#include "names.h"
#include "render.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kbdread::Layout;
using kbdread::PointerRole;

const Bytes& original()
{
    static const Bytes bytes = kbdread::readFileBytes(KURD_DLL);
    return bytes;
}

const Layout& layout()
{
    static const Layout read = kbdread::readLayout(std::span<const std::uint8_t>(original()));
    return read;
}

std::uint32_t fileOffset(std::uint32_t rva)
{
    for (const auto& s : layout().pe.sections)
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize)
            return s.rawOffset + (rva - s.virtualAddress);
    throw std::logic_error("RVA not backed by file data");
}

std::uint32_t optionalHeader()
{
    std::uint32_t pe;
    std::memcpy(&pe, &original()[0x3C], 4);
    return pe + 24;
}

std::uint32_t sectionHeader(std::size_t index)
{
    std::uint16_t optionalSize;
    std::memcpy(&optionalSize, &original()[optionalHeader() - 4], 2);
    return optionalHeader() + optionalSize + 40 * static_cast<std::uint32_t>(index);
}

template <typename T>
void put(Bytes& bytes, std::uint32_t offset, T value)
{
    std::memcpy(&bytes[offset], &value, sizeof value);
}

template <typename T>
T get(const Bytes& bytes, std::uint32_t offset)
{
    T value;
    std::memcpy(&value, &bytes[offset], sizeof value);
    return value;
}

const kbdread::PointerSite& site(PointerRole role)
{
    for (const auto& s : layout().pointerSites)
        if (s.role == role)
            return s;
    throw std::logic_error("no such pointer site");
}

const kbdread::CharRow& row(std::uint8_t virtualKey)
{
    for (const auto& table : layout().charTables)
        for (const auto& r : table.rows)
            if (r.virtualKey == virtualKey)
                return r;
    throw std::logic_error("no row for the key");
}

std::uint32_t relocationBlock()
{
    return fileOffset(layout().pe.dataDirectories[kbdread::kBaseRelocationDirectory].rva);
}

// File offset of the relocation entry for a stored pointer.
std::uint32_t relocationEntry(std::uint32_t siteRva)
{
    const Bytes& bytes = original();
    const std::uint32_t block = relocationBlock();
    const auto pageRva = get<std::uint32_t>(bytes, block);
    const auto blockSize = get<std::uint32_t>(bytes, block + 4);
    for (std::uint32_t at = block + 8; at < block + blockSize; at += 2)
        if (pageRva + (get<std::uint16_t>(bytes, at) & 0x0FFF) == siteRva)
            return at;
    throw std::logic_error("no relocation for the site");
}

// The first scan-code pair list whose terminator is followed at once by
// another record: cutting its terminator makes it run on into that record.
const kbdread::PointerSite& scanListBeforeAnotherRecord()
{
    for (PointerRole role : {PointerRole::VSCtoVK_E0, PointerRole::VSCtoVK_E1}) {
        const auto& list = site(role);
        for (const auto& other : layout().pointerSites)
            if (!other.isNull() && other.targetRva == list.targetRva + list.targetSize)
                return list;
    }
    throw std::logic_error("no scan-code list adjoins another record");
}

std::uint32_t versionRva()
{
    for (const auto& entry : kbdread::readResources(kbdread::ByteView(layout().image), layout().pe).entries)
        if (entry.type == kbdread::kResourceTypeVersion)
            return entry.rva;
    throw std::logic_error("no version resource");
}

std::uint32_t tablesField(std::uint32_t offset)
{
    return fileOffset(layout().tablesRva + offset);
}

struct Damage {
    std::string name;
    std::function<void(Bytes&)> apply;
    std::set<std::string> codes;                    // exactly these codes are reported
    std::function<std::uint32_t()> rva = nullptr;   // where the first finding must point, if given
};

namespace code = kbdcheck::code;

const std::vector<Damage>& damages()
{
    static const std::vector<Damage> all = {
        {"writable .data section",
         [](Bytes& b) { put(b, sectionHeader(0) + 36, get<std::uint32_t>(b, sectionHeader(0) + 36) | 0x80000000u); },
         {code::kWritableSection}},
        {"relocation of pKeyNames removed",
         [](Bytes& b) {
             const std::uint32_t entry = relocationEntry(layout().tablesRva + 0x18);
             const std::uint32_t end = relocationBlock() + get<std::uint32_t>(b, relocationBlock() + 4);
             std::memmove(&b[entry], &b[entry + 2], end - entry - 2);
             put<std::uint16_t>(b, end - 2, 0); // padding entry in the freed slot
         },
         {code::kMissingRelocation}, [] { return layout().tablesRva + 0x18; }},
        {"terminator of a scan-code list cut",
         [](Bytes& b) {
             const auto& list = scanListBeforeAnotherRecord();
             put<std::uint32_t>(b, fileOffset(list.targetRva + list.targetSize - 4), 0x01FF007Fu);
         },
         {code::kUnterminated},
         [] { return scanListBeforeAnotherRecord().targetRva + scanListBeforeAnotherRecord().targetSize; }},
        {"0xF002 cell without a ligature row",
         [](Bytes& b) { put<std::uint16_t>(b, fileOffset(row('Q').rva + 2 + 2), 0xF002); },
         {code::kMissingLigature}, [] { return row('Q').rva + 4; }},
        {"entry point set to the descriptor's code",
         [](Bytes& b) { put<std::uint32_t>(b, optionalHeader() + 16, layout().descriptorRva); },
         {code::kEntryPoint}, [] { return layout().descriptorRva; }},
        {"entry point outside any executable section",
         [](Bytes& b) { put<std::uint32_t>(b, optionalHeader() + 16, layout().pe.sections[1].virtualAddress); },
         {code::kEntryPoint}},
        {"relocation of pKeyNames moved onto the null pDeadKey",
         [](Bytes& b) {
             const std::uint32_t entry = relocationEntry(layout().tablesRva + 0x18);
             put<std::uint16_t>(b, entry, static_cast<std::uint16_t>(get<std::uint16_t>(b, entry) - 8));
         },
         {code::kMissingRelocation, code::kStrayRelocation}},
        {"relocation of pKeyNames overwritten by a second one for pCharModifiers",
         [](Bytes& b) {
             put(b, relocationEntry(layout().tablesRva + 0x18),
                 get<std::uint16_t>(b, relocationEntry(layout().tablesRva + 0x00)));
         },
         {code::kMissingRelocation, code::kDuplicateRelocation}},
        {"0xF001 cell with no dead-key tables and no second row",
         [](Bytes& b) { put<std::uint16_t>(b, fileOffset(row('Q').rva + 2), 0xF001); },
         {code::kDeadWithoutTables, code::kDeadKeyRow}},
        {"VK_TO_BIT entry owning two bits",
         [](Bytes& b) { b[fileOffset(site(PointerRole::VkToBit).targetRva + 1)] = 0x03; },
         {code::kModifierBits}},
        {"ligature row moved to a column no cell leads to",
         [](Bytes& b) { put<std::uint16_t>(b, fileOffset(layout().ligatures[0].rva + 2), 3); },
         {code::kMissingLigature, code::kUnusedLigature}},
        {"a row shadowed by an earlier table",
         [](Bytes& b) { b[fileOffset(layout().charTables[2].rows[0].rva)] = layout().charTables[0].rows[0].virtualKey; },
         {code::kShadowedRow}},
        {"scan-code map laid over the descriptor record",
         [](Bytes& b) {
             put<std::uint64_t>(b, tablesField(0x30), layout().loadBase + layout().tablesRva + 0x40);
         },
         {code::kOverlap}},
        {".data mapped without execute permission",
         [](Bytes& b) { put(b, sectionHeader(0) + 36, get<std::uint32_t>(b, sectionHeader(0) + 36) & ~0x20000000u); },
         {code::kExportNotExecutable}, [] { return layout().descriptorRva; }},
        {".data marked discardable",
         [](Bytes& b) { put(b, sectionHeader(0) + 36, get<std::uint32_t>(b, sectionHeader(0) + 36) | 0x02000000u); },
         {code::kDiscardableTarget}, [] { return layout().tablesRva; }},
        {"stored checksum wrong", [](Bytes& b) { put<std::uint32_t>(b, optionalHeader() + 64, 1); },
         {code::kChecksum}},
        {"pKeyNames points outside the image",
         [](Bytes& b) { put<std::uint64_t>(b, tablesField(0x18), layout().loadBase + 0x90000); },
         {code::kPointerOutside}},
        {"pKeyNames null", [](Bytes& b) { put<std::uint64_t>(b, tablesField(0x18), 0); }, {code::kNullPointer}},
        {"row size of the first table wrong",
         [](Bytes& b) { b[fileOffset(layout().charTables[0].entryRva + 9)] = 9; }, {code::kBadCount}},
        {"export renamed",
         [](Bytes& b) {
             const std::string name = "KbdLayerDescriptor";
             const auto at = std::search(b.begin(), b.end(), name.begin(), name.end());
             *(at + name.size() - 1) = 'X';
         },
         {code::kMissingExport}},
        {"export code changed",
         [](Bytes& b) { b[fileOffset(layout().descriptorRva)] = 0x90; }, {code::kExportCode}},
        {"relocation block size broken",
         [](Bytes& b) { put<std::uint32_t>(b, relocationBlock() + 4, 3); }, {code::kBadRelocations}},
        {"version block longer than its resource",
         [](Bytes& b) { put<std::uint16_t>(b, fileOffset(versionRva()), 0xFFF0); },
         {code::kResources}},
        {"file cut inside the last section",
         [](Bytes& b) { b.resize(layout().pe.sections.back().rawOffset + 4); }, {code::kTruncated}},
    };
    return all;
}

void fixChecksum(Bytes& bytes)
{
    if (bytes.size() >= optionalHeader() + 68)
        put(bytes, optionalHeader() + 64, kbdread::computePeChecksum(bytes));
}

std::set<std::string> codesOf(const kbdcheck::Report& report)
{
    std::set<std::string> codes;
    for (const auto& finding : report.findings)
        codes.insert(finding.code);
    return codes;
}

TEST(Kbdcheck, BuiltLayoutHasNoFindings)
{
    const auto report = kbdcheck::check(original());
    EXPECT_EQ(kbdcheck::findingsText(report), "no findings\n");
    ASSERT_TRUE(report.layout.has_value());
}

// Damages a copy of the library as the row says and checks the findings
// against it.
void expectFindings(const Damage& damage)
{
    SCOPED_TRACE(damage.name);
    Bytes bytes = original();
    damage.apply(bytes);
    if (damage.codes.count(code::kChecksum) == 0)
        fixChecksum(bytes);
    const auto report = kbdcheck::check(bytes);
    EXPECT_EQ(codesOf(report), damage.codes) << kbdcheck::findingsText(report);
    if (damage.rva && !report.findings.empty()) {
        EXPECT_EQ(report.findings.front().rva, damage.rva()) << kbdcheck::findingsText(report);
        EXPECT_TRUE(report.findings.front().fileOffset.has_value()) << kbdcheck::findingsText(report);
    }
}

TEST(Kbdcheck, EachDamageGivesItsOwnFinding)
{
    for (const auto& damage : damages())
        expectFindings(damage);
}

// Each kind of damage at its edge as well as at a far-off value.

// The relocation of a stored 64-bit pointer must be DIR64; ABSOLUTE leaves
// the pointer unrelocated, HIGHLOW moves only its low half, and the loader
// applies no other type to an image.
TEST(KbdcheckBoundaries, EveryRelocationTypeOnAStoredPointer)
{
    for (std::uint16_t type = 0; type < 16; ++type) {
        std::set<std::string> codes;
        if (type == kbdread::kRelocAbsolute)
            codes = {code::kMissingRelocation};
        else if (type == kbdread::kRelocHighLow)
            codes = {code::kRelocationType};
        else if (type != kbdread::kRelocDir64)
            codes = {code::kBadRelocations};
        expectFindings({"pKeyNames relocated with type " + std::to_string(type),
                        [type](Bytes& b) {
                            const std::uint32_t entry = relocationEntry(layout().tablesRva + 0x18);
                            put<std::uint16_t>(b, entry, static_cast<std::uint16_t>(
                                                             (get<std::uint16_t>(b, entry) & 0x0FFF) | type << 12));
                        },
                        codes});
    }
}

// The pointer site of a list, by role and position.
const kbdread::PointerSite& listSite(PointerRole role, std::size_t index)
{
    for (const auto& s : layout().pointerSites)
        if (s.role == role && s.index == index && !s.isNull())
            return s;
    throw std::logic_error("no such list");
}

// A non-zero byte in the entry that ends a list, at the first and the last
// byte the reader does not look at to find the end, for every kind of list.
TEST(KbdcheckBoundaries, DirtyTerminatorOfEveryList)
{
    struct Row {
        PointerRole role;
        std::size_t index;
        std::vector<int> bytes; // offsets in the terminator; negative ones count from its end
    };
    std::vector<Row> rows = {
        {PointerRole::VkToBit, 0, {1}},                  // modifier bits
        {PointerRole::VkToWcharTable, 0, {8, 9, 10, -1}}, // counts and fill
        {PointerRole::KeyNames, 0, {1, 7}},              // fill before the pointer
        {PointerRole::KeyNamesExt, 0, {1, 7}},
        {PointerRole::VSCtoVK_E0, 0, {1}},               // fill before the value
        {PointerRole::VSCtoVK_E1, 0, {1}},
        {PointerRole::Ligature, 0, {1, 2, 4, -1}},       // fill, column, first and last cell
    };
    for (std::size_t table = 0; table < layout().charTables.size(); ++table)
        rows.push_back({PointerRole::CharTableRows, table, {1, 2, -1}}); // attributes, first and last cell
    for (const Row& row : rows) {
        const auto& list = listSite(row.role, row.index);
        const std::uint32_t terminator = list.targetRva + list.targetSize - list.entrySize;
        for (const int offset : row.bytes) {
            const std::uint32_t at = terminator + (offset < 0 ? list.entrySize + offset : offset);
            expectFindings({std::string(kbdread::toString(row.role)) + " " + std::to_string(row.index + 1) +
                                ", byte " + std::to_string(at - terminator) + " of its terminator",
                            [at](Bytes& b) { b[fileOffset(at)] = 0x80; }, {code::kDirtyTerminator},
                            [at] { return at; }});
        }
    }
}

// ModNumber may name any column up to the widest table's last, or
// SHFT_INVALID; anything else is reported.
TEST(KbdcheckBoundaries, ModNumberAgainstTheWidestTable)
{
    std::uint8_t widest = 0;
    for (const auto& table : layout().charTables)
        widest = std::max(widest, table.nModifications);
    struct Row {
        unsigned bits;
        std::uint8_t column;
        bool reported;
    };
    const Row rows[] = {
        {0, static_cast<std::uint8_t>(widest - 1), false},
        {3, widest, true},
        {3, 7, true},
        {1, kbdread::kShiftInvalid, false},
        {1, kbdread::kShiftInvalid - 1, true},
    };
    for (const Row& row : rows) {
        const std::uint32_t at = layout().modifiers.rva + 10 + row.bits;
        expectFindings({"ModNumber[" + std::to_string(row.bits) + "] = " + std::to_string(row.column),
                        [=](Bytes& b) { b[fileOffset(at)] = row.column; },
                        row.reported ? std::set<std::string>{code::kModifierNumber} : std::set<std::string>{},
                        [=] { return at; }});
    }
}

// A layout library imports nothing: neither import, bound-import nor
// delay-import directory may be filled, not even by its address or its
// size alone.
TEST(KbdcheckBoundaries, EveryImportDirectory)
{
    struct Row {
        const char* name;
        std::uint32_t index; // the data directory, as the PE format numbers them
        std::uint32_t rva;
        std::uint32_t size;
    };
    const Row rows[] = {
        {"import", 1, layout().tablesRva, 20},
        {"bound-import", 11, layout().tablesRva, 20},
        {"delay-import", 13, layout().tablesRva, 32},
        {"delay-import, address only", 13, layout().tablesRva, 0},
        {"delay-import, size only", 13, 0, 32},
    };
    for (const Row& row : rows)
        expectFindings({std::string(row.name) + " directory filled",
                        [&row](Bytes& b) {
                            put<std::uint32_t>(b, optionalHeader() + 112 + 8 * row.index, row.rva);
                            put<std::uint32_t>(b, optionalHeader() + 116 + 8 * row.index, row.size);
                        },
                        {code::kImports}});
}

TEST(Kbdcheck, EntryPointThatOnlyReturnsIsAccepted)
{
    Bytes bytes = original();
    ASSERT_EQ(bytes[fileOffset(layout().descriptorRva + 7)], 0xC3); // ret
    put<std::uint32_t>(bytes, optionalHeader() + 16, layout().descriptorRva + 7);
    fixChecksum(bytes);
    EXPECT_EQ(kbdcheck::findingsText(kbdcheck::check(bytes)), "no findings\n");
}

TEST(Kbdcheck, NotA64BitImageIsUnreadableNotAFinding)
{
    struct Case {
        const char* name;
        std::function<void(Bytes&)> apply;
        kbdread::ErrorKind kind;
    };
    const Case cases[] = {
        {"text file", [](Bytes& b) { b.assign({'h', 'e', 'l', 'l', 'o', '\n'}); }, kbdread::ErrorKind::NotPe},
        {"PE32 header", [](Bytes& b) { put<std::uint16_t>(b, optionalHeader(), 0x10B); }, kbdread::ErrorKind::UnsupportedMachine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = original();
        c.apply(bytes);
        try {
            kbdcheck::check(bytes);
            ADD_FAILURE() << "no ReadError";
        } catch (const kbdread::ReadError& error) {
            EXPECT_EQ(error.kind(), c.kind);
            EXPECT_TRUE(kbdcheck::isUnreadable(error.kind()));
        }
    }
}

// Whatever byte is damaged, the validator reports or refuses and renders
// what it read; it never crashes or hangs (run under a sanitizer to see
// out-of-range reads).
TEST(Kbdcheck, SurvivesDamageAnywhere)
{
    for (std::size_t offset = 0; offset < original().size(); offset += 5) {
        for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(original()[offset] ^ 0x80)}) {
            Bytes bytes = original();
            bytes[offset] = value;
            try {
                const auto report = kbdcheck::check(bytes);
                kbdcheck::dumpText(report);
                kbdcheck::reportJson({"damaged", bytes.size()}, report);
            } catch (const kbdread::ReadError& error) {
                EXPECT_TRUE(kbdcheck::isUnreadable(error.kind()))
                    << "offset " << offset << " value " << int{value} << ": " << error.what();
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Every form: the built image has no findings, and damage to it (the findings
// every form shares, at the offsets of its own pointer width, and those only
// the new forms can have) gives exactly its findings.

using kbdread::Form;

// A built image of one form, read at its preferred base.
struct FormImage : BuiltImage {
    const kbdread::FormDescription& form() const { return layout.description(); }
    std::uint32_t site(PointerRole role) const
    {
        for (const auto& s : layout.pointerSites)
            if (s.role == role)
                return s.siteRva;
        throw std::logic_error("no such pointer site");
    }
    const kbdread::Relocation& relocationOf(std::uint32_t siteRva) const
    {
        for (const auto& r : layout.pe.relocations)
            if (r.rva == siteRva && r.type != kbdread::kRelocAbsolute)
                return r;
        throw std::logic_error("no relocation for the site");
    }
    // Rewrites the type of the relocation of a stored pointer.
    void retype(Bytes& b, std::uint32_t siteRva, std::uint8_t type) const
    {
        const std::uint32_t entry = at(relocationOf(siteRva).entryRva);
        put<std::uint16_t>(b, entry, static_cast<std::uint16_t>((get<std::uint16_t>(b, entry) & 0x0FFF) | type << 12));
    }
    std::uint32_t versionResource() const
    {
        for (const auto& entry : kbdread::readResources(kbdread::ByteView(layout.image), layout.pe).entries)
            if (entry.type == kbdread::kResourceTypeVersion)
                return entry.rva;
        throw std::logic_error("no version resource");
    }
    // Rewrites the export name in place, using the zero padding after it.
    void renameExport(Bytes& b, const std::string& name) const
    {
        const std::uint32_t text = at(layout.pe.exports.names.at(0).nameRva);
        for (std::size_t i = std::strlen(kbdread::kDescriptorExport); i <= name.size(); ++i)
            if (b.at(text + i) != 0)
                throw std::logic_error("no room after the export name");
        std::memcpy(&b[text], name.c_str(), name.size() + 1);
    }
};

const FormImage& formImage(Form form) { return readBuiltImage<FormImage>(form); }

class KbdcheckEveryForm : public testing::TestWithParam<Form> {};
INSTANTIATE_TEST_SUITE_P(Forms, KbdcheckEveryForm, everyForm(), FormName());

TEST_P(KbdcheckEveryForm, BuiltImageHasNoFindings)
{
    const auto report = kbdcheck::check(formImage(GetParam()).bytes);
    EXPECT_EQ(kbdcheck::findingsText(report), "no findings\n");
    ASSERT_TRUE(report.layout.has_value());
    EXPECT_STREQ(report.layout->description().name, kbdread::describe(GetParam()).name);
}

struct FormDamage {
    const char* name;
    std::set<Form> forms;
    std::function<void(const FormImage&, Bytes&)> apply;
    std::set<std::string> codes;                                  // exactly these codes are reported
    std::function<std::uint32_t(const FormImage&)> rva = nullptr; // where the first finding must point, if given
};

const std::set<Form> kAllForms{Form::X64, Form::X86, Form::Wow64, Form::Arm64};
const std::set<Form> kI386Forms{Form::X86, Form::Wow64};

std::uint8_t otherRelocationType(const FormImage& image)
{
    return image.form().relocationType == kbdread::kRelocDir64 ? kbdread::kRelocHighLow : kbdread::kRelocDir64;
}

const std::vector<FormDamage>& formDamages()
{
    static const std::vector<FormDamage> all = {
        {"writable section", kAllForms,
         [](const FormImage& i, Bytes& b) {
             const std::uint32_t flags = i.layout.pe.sectionHeaderOffset(0) + 36;
             put(b, flags, get<std::uint32_t>(b, flags) | 0x80000000u);
         },
         {code::kWritableSection}},
        {"import directory added", kAllForms,
         [](const FormImage& i, Bytes& b) {
             put<std::uint32_t>(b, i.layout.pe.dataDirectoryOffset(kbdread::kImportDirectory), i.layout.tablesRva);
             put<std::uint32_t>(b, i.layout.pe.dataDirectoryOffset(kbdread::kImportDirectory) + 4, 20);
         },
         {code::kImports}},
        {"relocation of pKeyNames turned into padding", kAllForms,
         [](const FormImage& i, Bytes& b) { i.retype(b, i.site(PointerRole::KeyNames), kbdread::kRelocAbsolute); },
         {code::kMissingRelocation}, [](const FormImage& i) { return i.site(PointerRole::KeyNames); }},
        {"pKeyNames relocated with the other machine's type", kAllForms,
         [](const FormImage& i, Bytes& b) { i.retype(b, i.site(PointerRole::KeyNames), otherRelocationType(i)); },
         {code::kRelocationType}, [](const FormImage& i) { return i.site(PointerRole::KeyNames); }},
        {"a key-name string relocated with the other machine's type", kAllForms,
         [](const FormImage& i, Bytes& b) { i.retype(b, i.site(PointerRole::KeyNameExtString), otherRelocationType(i)); },
         {code::kRelocationType}, [](const FormImage& i) { return i.site(PointerRole::KeyNameExtString); }},
        {"x86 record without the relocations that tell its width", {Form::X86},
         [](const FormImage& i, Bytes& b) {
             for (PointerRole role : {PointerRole::VkToWcharTable, PointerRole::KeyNames, PointerRole::VSCtoVK_E1})
                 i.retype(b, i.site(role), kbdread::kRelocAbsolute);
         },
         {code::kMissingRelocation}},
        {"record address in the code without its relocation", kI386Forms,
         [](const FormImage& i, Bytes& b) { i.retype(b, i.layout.descriptorRva + 1, kbdread::kRelocAbsolute); },
         {code::kMissingRelocation}, [](const FormImage& i) { return i.layout.descriptorRva + 1; }},
        {"record address in the code relocated as DIR64", kI386Forms,
         [](const FormImage& i, Bytes& b) { i.retype(b, i.layout.descriptorRva + 1, kbdread::kRelocDir64); },
         {code::kRelocationType}, [](const FormImage& i) { return i.layout.descriptorRva + 1; }},
        {"upper half of pKeyNames set", {Form::Wow64},
         [](const FormImage& i, Bytes& b) { put<std::uint32_t>(b, i.at(i.site(PointerRole::KeyNames) + 4), 1); },
         {code::kUpperHalf}, [](const FormImage& i) { return i.site(PointerRole::KeyNames) + 4; }},
        {"upper half of the null pDeadKey set", {Form::Wow64},
         [](const FormImage& i, Bytes& b) { put<std::uint32_t>(b, i.at(i.site(PointerRole::DeadKey) + 4), 0x80000000u); },
         {code::kUpperHalf}, [](const FormImage& i) { return i.site(PointerRole::DeadKey) + 4; }},
        {"upper half of a row pointer set", {Form::Wow64},
         [](const FormImage& i, Bytes& b) { put<std::uint32_t>(b, i.at(i.site(PointerRole::CharTableRows) + 4), 0xFFFFFFFFu); },
         {code::kUpperHalf}},
        {"export named _KbdLayerDescriptor", kAllForms,
         [](const FormImage& i, Bytes& b) { i.renameExport(b, "_KbdLayerDescriptor"); }, {code::kDecoratedExport},
         [](const FormImage& i) { return i.layout.pe.exports.names.at(0).nameRva; }},
        {"export named KbdLayerDescriptor@0", kAllForms,
         [](const FormImage& i, Bytes& b) { i.renameExport(b, "KbdLayerDescriptor@0"); }, {code::kDecoratedExport}},
        {"export named _KbdLayerDescriptor@0 is not missing", kI386Forms,
         [](const FormImage& i, Bytes& b) {
             i.renameExport(b, "KbdLayerDescriptor@0");
             b[i.at(i.layout.pe.exports.names.at(0).nameRva)] = '_'; // "_bdLayerDescriptor@0": no longer ours
         },
         {code::kMissingExport}},
        {"entry point set to the KBDTABLES record", kAllForms,
         [](const FormImage& i, Bytes& b) { put<std::uint32_t>(b, i.layout.pe.entryPointOffset(), i.layout.tablesRva); },
         {code::kEntryPoint}, [](const FormImage& i) { return i.layout.tablesRva; }},
        {"entry point set to the descriptor's code", {Form::X64, Form::Arm64},
         [](const FormImage& i, Bytes& b) { put<std::uint32_t>(b, i.layout.pe.entryPointOffset(), i.layout.descriptorRva); },
         {code::kEntryPoint}, [](const FormImage& i) { return i.layout.descriptorRva; }},
        {"ModNumber selects a column no table has", kAllForms,
         [](const FormImage& i, Bytes& b) { b[i.at(i.layout.modifiers.rva + i.form().tables.modNumber + 3)] = 4; },
         {code::kModifierNumber},
         [](const FormImage& i) { return i.layout.modifiers.rva + i.form().tables.modNumber + 3; }},
        {"stored checksum wrong", kAllForms,
         [](const FormImage& i, Bytes& b) { put<std::uint32_t>(b, i.layout.pe.checksumOffset, 1); }, {code::kChecksum}},
        {"scan-code map laid over the descriptor record", kAllForms,
         [](const FormImage& i, Bytes& b) {
             const auto& t = i.form().tables;
             put<std::uint32_t>(b, i.at(i.layout.tablesRva + t.vscToVk),
                                static_cast<std::uint32_t>(i.layout.loadBase + i.layout.tablesRva + t.vscToVkE0));
         },
         {code::kOverlap}},
        {"version block longer than its resource", kAllForms,
         [](const FormImage& i, Bytes& b) { put<std::uint16_t>(b, i.at(i.versionResource()), 0xFFF0); },
         {code::kResources}, [](const FormImage& i) { return i.versionResource(); }},
        {"pKeyNames null", kAllForms,
         [](const FormImage& i, Bytes& b) {
             std::fill_n(&b[i.at(i.site(PointerRole::KeyNames))], i.form().addressWidth, 0);
         },
         {code::kNullPointer}, [](const FormImage& i) { return i.site(PointerRole::KeyNames); }},
        {"VK_TO_BIT entry owning no bit", kAllForms,
         [](const FormImage& i, Bytes& b) {
             for (const auto& s : i.layout.pointerSites)
                 if (s.role == PointerRole::VkToBit)
                     b[i.at(s.targetRva + 1)] = 0;
         },
         {code::kModifierBits}},
        {"SectionAlignment 0", kAllForms,
         [](const FormImage& i, Bytes& b) { put<std::uint32_t>(b, i.layout.pe.optionalHeaderOffset + 32, 0); },
         {code::kBadHeader}},
        {"FileAlignment 0", kAllForms,
         [](const FormImage& i, Bytes& b) { put<std::uint32_t>(b, i.layout.pe.optionalHeaderOffset + 36, 0); },
         {code::kBadHeader}},
        {"FileAlignment above SectionAlignment", kAllForms,
         [](const FormImage& i, Bytes& b) { put<std::uint32_t>(b, i.layout.pe.optionalHeaderOffset + 36, 0x2000); },
         {code::kBadHeader}},
        {"TLS directory outside the image", kAllForms,
         [](const FormImage& i, Bytes& b) {
             put<std::uint32_t>(b, i.layout.pe.dataDirectoryOffset(9), 0x100000);
             put<std::uint32_t>(b, i.layout.pe.dataDirectoryOffset(9) + 4, 0x18);
         },
         {code::kBadHeader}},
        {"load-configuration directory running past the image", kAllForms,
         [](const FormImage& i, Bytes& b) {
             put<std::uint32_t>(b, i.layout.pe.dataDirectoryOffset(10), i.layout.pe.sizeOfImage - 8);
             put<std::uint32_t>(b, i.layout.pe.dataDirectoryOffset(10) + 4, 0x40);
         },
         {code::kBadHeader}},
        {"version block's fixed part with a broken signature", kAllForms,
         // VS_VERSION_INFO: 6 bytes of header, the key's 16 UTF-16 units, then the fixed part at +40
         [](const FormImage& i, Bytes& b) { b[i.at(i.versionResource() + 40)] ^= 0x01; }, {code::kResources},
         [](const FormImage& i) { return i.versionResource() + 40; }},
        {"import directory whose only descriptor is all zero", kAllForms,
         [](const FormImage& i, Bytes& b) {
             const std::uint32_t zeros = (static_cast<std::uint32_t>(i.layout.pe.sections.at(0).end()) + 3) & ~3u;
             put<std::uint32_t>(b, i.layout.pe.dataDirectoryOffset(kbdread::kImportDirectory), zeros);
             put<std::uint32_t>(b, i.layout.pe.dataDirectoryOffset(kbdread::kImportDirectory) + 4, 20);
         },
         {}},
    };
    return all;
}

TEST_P(KbdcheckEveryForm, EachDamageGivesItsOwnFinding)
{
    const FormImage& image = formImage(GetParam());
    for (const auto& damage : formDamages()) {
        if (!damage.forms.contains(GetParam()))
            continue;
        SCOPED_TRACE(damage.name);
        Bytes bytes = image.bytes;
        damage.apply(image, bytes);
        if (!damage.codes.contains(code::kChecksum))
            put(bytes, image.layout.pe.checksumOffset, kbdread::computePeChecksum(bytes));
        const auto report = kbdcheck::check(bytes);
        EXPECT_EQ(codesOf(report), damage.codes) << kbdcheck::findingsText(report);
        if (report.layout) {
            EXPECT_STREQ(report.layout->description().name, image.form().name) << "the form read";
        }
        if (damage.rva && !report.findings.empty()) {
            EXPECT_EQ(report.findings.front().rva, damage.rva(image)) << kbdcheck::findingsText(report);
            EXPECT_EQ(report.findings.front().fileOffset, image.layout.pe.fileOffsetOf(damage.rva(image)))
                << kbdcheck::findingsText(report);
        }
    }
}

// The ret that ends the descriptor's code, and in the 32-bit forms the whole
// code (mov eax,imm32; ret), do nothing but return.
TEST_P(KbdcheckEveryForm, EntryPointThatOnlyReturnsIsAccepted)
{
    const FormImage& image = formImage(GetParam());
    const std::uint32_t retSize = GetParam() == Form::Arm64 ? 4 : 1;
    std::vector<std::uint32_t> entries{image.layout.descriptorRva + image.form().codeSize - retSize};
    if (kI386Forms.contains(GetParam()))
        entries.push_back(image.layout.descriptorRva);
    for (const std::uint32_t entry : entries) {
        SCOPED_TRACE("entry point RVA " + std::to_string(entry));
        Bytes bytes = image.bytes;
        put<std::uint32_t>(bytes, image.layout.pe.entryPointOffset(), entry);
        put(bytes, image.layout.pe.checksumOffset, kbdread::computePeChecksum(bytes));
        EXPECT_EQ(kbdcheck::findingsText(kbdcheck::check(bytes)), "no findings\n");
    }
}

// A checksum of 0 means none was computed: the loader checks no checksum of
// a layout library, so that is no finding.
TEST_P(KbdcheckEveryForm, ZeroChecksumIsAccepted)
{
    Bytes bytes = formImage(GetParam()).bytes;
    put<std::uint32_t>(bytes, formImage(GetParam()).layout.pe.checksumOffset, 0);
    EXPECT_EQ(kbdcheck::findingsText(kbdcheck::check(bytes)), "no findings\n");
}

// Names from the Unicode Character Database: listed ones at the edges of
// the encoding (one- and two-byte word indices, names ending in their own
// code point), the ranges named by rule, control aliases, and code points
// that have no name.
TEST(UnicodeNames, EveryKindOfName)
{
    struct Row {
        char32_t codePoint;
        const char* name;
    };
    const Row rows[] = {
        {0x0000, "NULL"},
        {0x000A, "LINE FEED"},
        {0x0020, "SPACE"},
        {0x06B5, "ARABIC LETTER LAM WITH SMALL V"},
        {0x0378, ""},                                    // unassigned
        {0x3400, "CJK UNIFIED IDEOGRAPH-3400"},
        {0x9FFF, "CJK UNIFIED IDEOGRAPH-9FFF"},
        {0xAC00, "HANGUL SYLLABLE GA"},
        {0xAC01, "HANGUL SYLLABLE GAG"},
        {0xD4DB, "HANGUL SYLLABLE PWILH"},
        {0xD7A3, "HANGUL SYLLABLE HIH"},
        {0xD800, ""},                                    // surrogate
        {0xE000, ""},                                    // private use
        {0xF900, "CJK COMPATIBILITY IDEOGRAPH-F900"},
        {0xFDD0, ""},                                    // noncharacter
        {0xFFFD, "REPLACEMENT CHARACTER"},
        {0x17000, "TANGUT IDEOGRAPH-17000"},
        {0x1B170, "NUSHU CHARACTER-1B170"},
        {0x1F600, "GRINNING FACE"},
        {0x2F800, "CJK COMPATIBILITY IDEOGRAPH-2F800"},
        {0xE0001, "LANGUAGE TAG"},
        {0x10FFFF, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(kbdcheck::characterName(row.codePoint), row.name) << kbdcheck::codePoint(row.codePoint);
}

} // namespace
