// The shape of the built Kurd.dll, read by our own reader: headers, sections,
// relocations, export, where the tables sit, and the resources. The same
// properties are cross-checked by pefile in pe_crosscheck.py.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "kbdcheck.h"
#include "version.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes& file()
{
    static const Bytes bytes = kbdread::readFileBytes(KURD_DLL);
    return bytes;
}

const kbdread::Layout& layout()
{
    static const kbdread::Layout read = kbdread::readLayout(std::span<const std::uint8_t>(file()));
    return read;
}

const kbdread::PeInfo& pe()
{
    return layout().pe;
}

constexpr std::uint32_t kScnInitializedData = 0x00000040;
constexpr std::uint32_t kScnDiscardable = 0x02000000;
constexpr std::uint32_t kScnExecute = 0x20000000;
constexpr std::uint32_t kScnRead = 0x40000000;

std::uint32_t alignUp(std::uint32_t value, std::uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

bool inData(std::uint64_t rva, std::uint64_t size)
{
    const auto& data = pe().sections.at(0);
    return rva >= data.virtualAddress && rva + size <= std::uint64_t{data.virtualAddress} + data.virtualSize;
}

std::string narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

TEST(Image, HeaderFields)
{
    const struct {
        const char* field;
        std::uint64_t actual;
        std::uint64_t expected;
    } fields[] = {
        {"Machine (x86-64)", pe().machine, 0x8664},
        {"optional header Magic (PE32+)", pe().optionalMagic, 0x20B},
        {"Characteristics (executable, large-address-aware, DLL)", pe().characteristics, 0x0002 | 0x0020 | 0x2000},
        {"TimeDateStamp", pe().timeDateStamp, 0},
        {"ImageBase", pe().imageBase, 0x180000000},
        {"Subsystem (native)", pe().subsystem, 1},
        {"subsystem version major", pe().subsystemVersionMajor, 5},
        {"subsystem version minor", pe().subsystemVersionMinor, 2},
        {"OS version major", pe().osVersionMajor, 4},
        {"OS version minor", pe().osVersionMinor, 0},
        {"image version major", pe().imageVersionMajor, 4},
        {"image version minor", pe().imageVersionMinor, 0},
        {"AddressOfEntryPoint", pe().entryPointRva, 0},
        {"DllCharacteristics", pe().dllCharacteristics, 0},
        {"SectionAlignment", pe().sectionAlignment, 0x1000},
        {"FileAlignment", pe().fileAlignment, 0x200},
        {"CheckSum", pe().checksumStored, kbdread::computePeChecksum(file())},
        {"import directory present", pe().hasImports(), false},
    };
    for (const auto& f : fields)
        EXPECT_EQ(f.actual, f.expected) << f.field;
    EXPECT_NE(pe().checksumStored, 0u) << "CheckSum is filled in";
}

TEST(Image, SectionsInOrderWithTheirFlagsAndNoSpareBytes)
{
    const struct {
        const char* name;
        std::uint32_t characteristics;
    } expected[] = {
        {".data", kScnInitializedData | kScnRead | kScnExecute},
        {".rsrc", kScnInitializedData | kScnRead | kScnDiscardable},
        {".reloc", kScnInitializedData | kScnRead | kScnDiscardable},
    };
    ASSERT_EQ(pe().sections.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& section = pe().sections[i];
        SCOPED_TRACE(section.name);
        EXPECT_EQ(section.name, expected[i].name);
        EXPECT_EQ(section.characteristics, expected[i].characteristics);
        EXPECT_EQ(section.rawSize, alignUp(section.virtualSize, pe().fileAlignment));
    }
    const auto& last = pe().sections.back();
    EXPECT_EQ(file().size(), std::size_t{last.rawOffset} + last.rawSize) << "the file ends with the last section";
}

TEST(Image, DataSectionHoldsTheRecordTablesExportAndCode)
{
    EXPECT_EQ(layout().tablesRva, pe().sections.at(0).virtualAddress) << "KBDTABLES opens .data";
    const auto& exportDir = pe().dataDirectories.at(kbdread::kExportDirectory);
    EXPECT_TRUE(inData(exportDir.rva, exportDir.size)) << "export directory";
    EXPECT_TRUE(inData(layout().descriptorRva, 8)) << "KbdLayerDescriptor";
    const std::uint8_t* code = &layout().image.at(layout().descriptorRva);
    EXPECT_EQ((std::vector<std::uint8_t>{code[0], code[1], code[2], code[7]}),
              (std::vector<std::uint8_t>{0x48, 0x8D, 0x05, 0xC3}))
        << "lea rax,[rip+disp32]; ret";
    for (const auto& site : layout().pointerSites) {
        if (site.isNull())
            continue;
        EXPECT_TRUE(inData(site.targetRva, site.targetSize)) << kbdread::toString(site.role) << " " << site.index;
    }
}

TEST(Image, OneRelocationBlockOfDir64EntriesOnePerStoredPointer)
{
    std::set<std::uint32_t> relocated;
    std::set<std::uint32_t> pages;
    for (const auto& relocation : pe().relocations) {
        EXPECT_EQ(relocation.type, kbdread::kRelocDir64) << "relocation at RVA " << relocation.rva;
        relocated.insert(relocation.rva);
        pages.insert(relocation.rva & ~0xFFFu);
    }
    std::set<std::uint32_t> stored;
    for (const auto& site : layout().pointerSites)
        if (!site.isNull())
            stored.insert(site.siteRva);
    EXPECT_EQ(pe().relocations.size(), 86u);
    EXPECT_EQ(relocated, stored);
    EXPECT_EQ(pages.size(), 1u);
    EXPECT_EQ(pe().dataDirectories.at(kbdread::kBaseRelocationDirectory).size, 8u + 2u * 86u)
        << "one block header and 86 entries, no padding";
}

TEST(Image, ExportDirectory)
{
    const auto& exports = pe().exports;
    EXPECT_EQ(exports.moduleName, "Kurd.dll");
    EXPECT_EQ(exports.ordinalBase, 1u);
    ASSERT_EQ(exports.functionRvas.size(), 1u);
    ASSERT_EQ(exports.names.size(), 1u);
    EXPECT_EQ(exports.names[0].name, "KbdLayerDescriptor");
    EXPECT_EQ(exports.names[0].ordinalIndex, 0u);
    EXPECT_EQ(exports.functionRvas[0], layout().descriptorRva);
}

TEST(Image, VersionResource)
{
    const auto resources = kbdread::readResources(kbdread::ByteView(layout().image), layout().pe);
    ASSERT_EQ(resources.versions.size(), 1u);
    const auto& version = resources.versions[0];
    const auto& fixed = version.fixed;
    // The first two parts in one DWORD's high and low words, the last two
    // in the next.
    constexpr std::uint32_t versionMS = PRODUCT_VERSION_MAJOR << 16 | PRODUCT_VERSION_MINOR;
    constexpr std::uint32_t versionLS = PRODUCT_VERSION_BUILD << 16 | PRODUCT_VERSION_REVISION;
    const struct {
        const char* field;
        std::uint32_t actual;
        std::uint32_t expected;
    } fields[] = {
        {"resource id", version.id, 1},
        {"language", version.language, 0x0409},
        {"signature", fixed.signature, 0xFEEF04BD},
        {"file version MS", fixed.fileVersionMS, versionMS},
        {"file version LS", fixed.fileVersionLS, versionLS},
        {"product version MS", fixed.productVersionMS, versionMS},
        {"product version LS", fixed.productVersionLS, versionLS},
        {"flags mask", fixed.flagsMask, 0x3F},
        {"flags", fixed.flags, 0},
        {"OS", fixed.os, 0x00040004},
        {"type (DLL)", fixed.type, 2},
        {"subtype (keyboard driver)", fixed.subtype, 2},
    };
    for (const auto& f : fields)
        EXPECT_EQ(f.actual, f.expected) << f.field;

    // "1, 2, 3, 4" for 1.2.3.4, and "3.4" in the internal name.
    const std::string versionList = std::to_string(PRODUCT_VERSION_MAJOR) + ", " +
                                    std::to_string(PRODUCT_VERSION_MINOR) + ", " +
                                    std::to_string(PRODUCT_VERSION_BUILD) + ", " +
                                    std::to_string(PRODUCT_VERSION_REVISION);
    const std::string release =
        std::to_string(PRODUCT_VERSION_BUILD) + "." + std::to_string(PRODUCT_VERSION_REVISION);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"CompanyName", "Central Kurdish Keyboard Layout Team"},
        {"FileDescription", "Arabic (101) - Halvaro Layout"},
        {"FileVersion", versionList},
        {"InternalName", "kurd (" + release + ")"},
        {"ProductName", "kbd tables built with LLVM 16"},
        {"Release Information", "kbd tables built with LLVM 16"},
        {"LegalCopyright", "Copyright (C) 2026 Central Kurdish Keyboard Layout Team"},
        {"OriginalFilename", "kurd"},
        {"ProductVersion", versionList},
    };
    ASSERT_EQ(version.stringTables.size(), 1u);
    EXPECT_EQ(narrow(version.stringTables[0].key), "000004B0");
    std::vector<std::pair<std::string, std::string>> actual;
    for (const auto& [key, value] : version.stringTables[0].values)
        actual.emplace_back(narrow(key), narrow(value));
    EXPECT_EQ(actual, expected) << "keys, in order, with their values";

    ASSERT_EQ(version.vars.size(), 1u);
    EXPECT_EQ(narrow(version.vars[0].first), "Translation");
    EXPECT_EQ(version.vars[0].second, (std::vector<std::uint16_t>{0x0000, 0x04B0}));
}

TEST(Image, StringResources)
{
    const auto resources = kbdread::readResources(kbdread::ByteView(layout().image), layout().pe);
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::string>> actual;
    for (const auto& string : resources.strings)
        actual.emplace_back(string.id, string.language, narrow(string.text));
    const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::string>> expected = {
        {1000, 0x0409, "Arabic (101) - Kurdish"},
        {1100, 0x0409, "Arabic (Jordan)"},
        {1200, 0x0409, "ar-JO"},
    };
    EXPECT_EQ(actual, expected);
}

} // namespace
