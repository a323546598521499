// kbdread against damaged copies of the built Kurd.dll: each kind of damage
// must be reported as its own ErrorKind with a message naming the field, and
// no damage at all may crash the reader.
#include "kbdread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "built_images.h"

namespace {

using kbdread::ErrorKind;
using kbdread::Layout;
using Bytes = std::vector<std::uint8_t>;

const Bytes& pristine()
{
    static const Bytes bytes = kbdread::readFileBytes(KURD_DLL);
    return bytes;
}

const Layout& pristineLayout()
{
    static const Layout layout = kbdread::readLayout(std::span<const std::uint8_t>(pristine()));
    return layout;
}

std::uint32_t le32(const Bytes& b, std::size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24; }

std::size_t peOffset() { return le32(pristine(), 0x3C); }
std::size_t optionalHeader() { return peOffset() + 24; }
std::size_t sectionHeader(std::size_t index)
{
    const std::size_t optionalSize = pristine()[peOffset() + 20] | pristine()[peOffset() + 21] << 8;
    return optionalHeader() + optionalSize + 40 * index;
}

const kbdread::Section& section(const std::string& name)
{
    for (const kbdread::Section& s : pristineLayout().pe.sections)
        if (s.name == name)
            return s;
    throw std::logic_error("no section " + name);
}

// File offset of an RVA in the pristine file.
std::size_t fileOffset(std::uint32_t rva)
{
    for (const kbdread::Section& s : pristineLayout().pe.sections)
        if (rva >= s.virtualAddress && rva < s.virtualAddress + s.rawSize)
            return s.rawOffset + (rva - s.virtualAddress);
    throw std::logic_error("RVA has no file data");
}

std::size_t recordField(std::uint32_t offset) { return fileOffset(pristineLayout().tablesRva + offset); }

using kbdread::hex;

void renameExport(Bytes& b)
{
    const char name[] = "KbdLayerDescriptor";
    const auto at = std::search(b.begin(), b.end(), name, name + std::strlen(name));
    ASSERT_NE(at, b.end());
    *at = 'X';
}

struct Damage {
    const char* name;
    std::function<void(Bytes&)> apply;
    ErrorKind kind;
    std::string messagePart;
};

std::vector<Damage> damages()
{
    const std::uint64_t base = pristineLayout().pe.imageBase;
    const kbdread::Section& data = section(".data");
    const kbdread::Section& reloc = section(".reloc");
    return {
        {"not a PE at all", [](Bytes& b) { b.assign({'h', 'e', 'l', 'l', 'o', '\n'}); }, ErrorKind::NotPe, "MZ"},
        {"empty file", [](Bytes& b) { b.clear(); }, ErrorKind::NotPe, "MZ"},
        {"no PE signature", [](Bytes& b) { put(b, peOffset(), 0x4C45, 2); }, ErrorKind::NotPe, "PE signature"},
        {"PE32 optional header on an AMD64 image", [](Bytes& b) { put(b, optionalHeader(), 0x10B, 2); }, ErrorKind::UnsupportedMachine,
         "AMD64 (0x8664) with a PE32 (0x10B)"},
        {"cut inside the DOS header", [](Bytes& b) { b.resize(0x3E); }, ErrorKind::Truncated, "e_lfanew"},
        {"cut inside the optional header", [](Bytes& b) { b.resize(optionalHeader() + 0x20); },
         ErrorKind::Truncated, "optional header"},
        {"cut inside the section table", [](Bytes& b) { b.resize(sectionHeader(1) + 8); }, ErrorKind::Truncated,
         "section table"},
        {"cut inside the header padding", [](Bytes& b) { b.resize(pristineLayout().pe.sizeOfHeaders - 1); },
         ErrorKind::Truncated, "SizeOfHeaders"},
        {"cut inside .data", [&](Bytes& b) { b.resize(data.rawOffset + 0x100); }, ErrorKind::Truncated,
         "(.data) raw data"},
        {"cut inside .reloc", [&](Bytes& b) { b.resize(reloc.rawOffset + reloc.rawSize - 1); },
         ErrorKind::Truncated, "(.reloc) raw data"},
        {"huge SizeOfImage", [](Bytes& b) { put(b, optionalHeader() + 56, 0xF0000000, 4); }, ErrorKind::BadHeader,
         "SizeOfImage"},
        {"overlapping sections", [](Bytes& b) { put(b, sectionHeader(1) + 12, 0x1000, 4); }, ErrorKind::BadSection,
         "section 1 (.rsrc)"},
        {"relocation block size", [&](Bytes& b) { put(b, reloc.rawOffset + 4, 3, 4); }, ErrorKind::BadRelocation,
         "SizeOfBlock 0x3"},
        {"export renamed", renameExport, ErrorKind::MissingExport, "KbdLayerDescriptor"},
        {"export code without ret", [](Bytes& b) { b.at(fileOffset(pristineLayout().descriptorRva + 7)) = 0x90; },
         ErrorKind::BadExportCode, "48 8D 05"},
        {"export loads outside the image", [](Bytes& b) { put(b, fileOffset(pristineLayout().descriptorRva + 3), 0x40000000, 4); },
         ErrorKind::PointerOutsideImage, "KbdLayerDescriptor's code at RVA"},
        {"pKeyNames outside the image", [=](Bytes& b) { put(b, recordField(0x18), base + 0x9000, 8); },
         ErrorKind::PointerOutsideImage, "pKeyNames (record +0x18) points outside the image: " + hex(base + 0x9000)},
        {"pVSCtoVK_E1 below the image", [=](Bytes& b) { put(b, recordField(0x48), base - 0x10, 8); },
         ErrorKind::PointerOutsideImage, "pVSCtoVK_E1 (record +0x48) points outside the image"},
        {"pCharModifiers null", [](Bytes& b) { put(b, recordField(0x00), 0, 8); }, ErrorKind::NullPointer,
         "pCharModifiers (record +0x0)"},
        {"table 2 cbSize", [](Bytes& b) { b.at(fileOffset(pristineLayout().charTables.at(1).entryRva + 9)) = 9; },
         ErrorKind::BadCount, "character table 2"},
        {"cbLgEntry", [](Bytes& b) { b.at(recordField(0x55)) = 6; }, ErrorKind::BadCount, "cbLgEntry (record +0x55)"},
        {"wMaxModBits", [](Bytes& b) { put(b, fileOffset(pristineLayout().modifiers.rva + 8), 0x1234, 2); },
         ErrorKind::BadCount, "wMaxModBits"},
    };
}

TEST(DamagedImage, EachDamageIsReportedByKindAndField)
{
    for (const Damage& damage : damages()) {
        Bytes bytes = pristine();
        damage.apply(bytes);
        try {
            kbdread::readLayout(std::span<const std::uint8_t>(bytes));
            ADD_FAILURE() << damage.name << ": read without error";
        } catch (const kbdread::ReadError& error) {
            EXPECT_EQ(kbdread::toString(error.kind()), std::string(kbdread::toString(damage.kind)))
                << damage.name << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find(damage.messagePart), std::string::npos)
                << damage.name << ": message \"" << error.what() << "\" lacks \"" << damage.messagePart << "\"";
        }
    }
}

TEST(DamagedImage, MissingFile)
{
    try {
        kbdread::readLayout(std::filesystem::path(KURD_DLL).replace_filename("no-such-file.dll"));
        ADD_FAILURE() << "read a file that does not exist";
    } catch (const kbdread::ReadError& error) {
        EXPECT_EQ(error.kind(), ErrorKind::FileUnreadable) << error.what();
    }
}

TEST(DamagedImage, UnalignedLoadBaseIsTheCallersFault)
{
    EXPECT_THROW(kbdread::readLayout(std::span<const std::uint8_t>(pristine()), 0x180001000), std::invalid_argument);
}

TEST(Checksum, MatchesTheStoredValueAndSeesAChange)
{
    EXPECT_EQ(kbdread::computePeChecksum(pristine()), pristineLayout().pe.checksumStored);
    Bytes changed = pristine();
    changed.at(fileOffset(pristineLayout().tablesRva + 0x50)) ^= 0x01;
    EXPECT_NE(kbdread::computePeChecksum(changed), pristineLayout().pe.checksumStored);
    // The stored checksum itself does not take part in the sum.
    Bytes restamped = pristine();
    put(restamped, pristineLayout().pe.checksumOffset, 0xDEADBEEF, 4);
    EXPECT_EQ(kbdread::computePeChecksum(restamped), pristineLayout().pe.checksumStored);
}

// ---------------------------------------------------------------------------
// Every form: the form found from the image, a form forced on it, and damage
// to what differs between the forms (the code, the pointer widths, the
// machine).

using kbdread::Form;

// A built image of one form, read at its preferred base.
struct FormImage : BuiltImage {
    std::size_t recordField(std::uint32_t offset) const { return at(layout.tablesRva + offset); }
    std::uint64_t base() const { return layout.pe.imageBase; }
};

const FormImage& formImage(Form form) { return readBuiltImage<FormImage>(form); }

class EveryForm : public testing::TestWithParam<Form> {};
INSTANTIATE_TEST_SUITE_P(Forms, EveryForm, everyForm(), FormName());

TEST_P(EveryForm, IsFoundFromTheImageAndNoOtherFormFits)
{
    const FormImage& image = formImage(GetParam());
    const std::span<const std::uint8_t> bytes(image.bytes);
    EXPECT_STREQ(image.layout.description().name, kbdread::describe(GetParam()).name);
    EXPECT_FALSE(image.layout.formForced);
    for (const kbdread::FormDescription& other : kbdread::allForms()) {
        SCOPED_TRACE(std::string("forced ") + other.name);
        if (other.form == GetParam()) {
            EXPECT_TRUE(kbdread::readLayout(bytes, std::nullopt, other.form).formForced);
            continue;
        }
        try {
            kbdread::readLayout(bytes, std::nullopt, other.form);
            ADD_FAILURE() << "read in a form that does not fit";
        } catch (const kbdread::ReadError& error) {
            EXPECT_STREQ(kbdread::toString(error.kind()), "FormMismatch") << error.what();
        }
    }
}

struct FormDamage {
    const char* name;
    std::set<Form> forms;
    std::function<void(const FormImage&, Bytes&)> apply;
    ErrorKind kind;
    std::string messagePart;
};

constexpr std::uint32_t kArm64AdrpX0Back2Pages = 0xD0FFFFE0; // adrp x0, -2 pages (immlo 2, immhi all ones)
constexpr std::uint32_t kArm64AdrpX0Up17Pages = 0xB0000080;   // adrp x0, +17 pages (immlo 1, immhi 4), past the image
constexpr std::uint32_t kArm64AddX0Lo12_234 = 0x9108D000;     // add x0, x0, #0x234

const std::vector<FormDamage>& formDamages()
{
    const std::set<Form> i386{Form::X86, Form::Wow64};
    static const std::vector<FormDamage> all = {
        {"x86-64 code changed", {Form::X64}, [](const FormImage& i, Bytes& b) { b.at(i.at(i.layout.descriptorRva)) = 0x90; },
         ErrorKind::BadExportCode, "not lea rax,[rip+disp32]"},
        {"i386 code without ret", i386, [](const FormImage& i, Bytes& b) { b.at(i.at(i.layout.descriptorRva + 5)) = 0x90; },
         ErrorKind::BadExportCode, "not mov eax,imm32 (B8) followed by ret (C3)"},
        {"ARM64 add with a shifted immediate", {Form::Arm64},
         [](const FormImage& i, Bytes& b) { b.at(i.at(i.layout.descriptorRva + 6)) |= 0x40; },
         ErrorKind::BadExportCode, "not adrp x0,page; add x0,x0,#lo12; ret"},
        {"ARM64 adrp into x1", {Form::Arm64},
         [](const FormImage& i, Bytes& b) { b.at(i.at(i.layout.descriptorRva)) |= 0x01; },
         ErrorKind::BadExportCode, "not adrp x0"},
        {"i386 record address above the image", i386,
         [](const FormImage& i, Bytes& b) { put(b, i.at(i.layout.descriptorRva + 1), i.base() + 0x100000, 4); },
         ErrorKind::PointerOutsideImage, "KbdLayerDescriptor's code at RVA"},
        {"ARM64 adrp a page below the image", {Form::Arm64},
         [](const FormImage& i, Bytes& b) { put(b, i.at(i.layout.descriptorRva), kArm64AdrpX0Back2Pages, 4); },
         ErrorKind::PointerOutsideImage, "loads RVA -0x"},
        {"ARM64 adrp 17 pages up and add 0x234", {Form::Arm64},
         [](const FormImage& i, Bytes& b) {
             put(b, i.at(i.layout.descriptorRva), kArm64AdrpX0Up17Pages, 4);
             put(b, i.at(i.layout.descriptorRva + 4), kArm64AddX0Lo12_234, 4);
         },
         ErrorKind::PointerOutsideImage, "loads RVA " + hex((formImage(Form::Arm64).layout.descriptorRva & ~0xFFFu) + 0x11000 + 0x234)},
        {"x86 pKeyNames above the image", {Form::X86},
         [](const FormImage& i, Bytes& b) { put(b, i.recordField(i.tables().keyNames), i.base() + 0x900000, 4); },
         ErrorKind::PointerOutsideImage, "pKeyNames (record +0xC) points outside the image"},
        {"x86 pVkToWcharTable null", {Form::X86},
         [](const FormImage& i, Bytes& b) { put(b, i.recordField(i.tables().vkToWcharTable), 0, 4); },
         ErrorKind::NullPointer, "pVkToWcharTable (record +0x4)"},
        {"WOW64 pKeyNames lower half above the image", {Form::Wow64},
         [](const FormImage& i, Bytes& b) { put(b, i.recordField(i.tables().keyNames), i.base() + 0x900000, 4); },
         ErrorKind::PointerOutsideImage, "pKeyNames (record +0x18) points outside the image"},
        {"x86 key-name entry string null", {Form::X86},
         [](const FormImage& i, Bytes& b) {
             put(b, i.at(i.layout.keyNames.at(3).entryRva + i.tables().keyNameString), 0, 4);
         },
         ErrorKind::NullPointer, "string of pKeyNames entry 3"},
        {"x86 table 2 cbSize", {Form::X86},
         [](const FormImage& i, Bytes& b) { b.at(i.at(i.layout.charTables.at(1).entryRva + i.tables().cbSize)) = 9; },
         ErrorKind::BadCount, "character table 2"},
        {"machine none of the forms have", {Form::X86},
         [](const FormImage& i, Bytes& b) { put(b, i.layout.pe.optionalHeaderOffset - 20, 0x01C4, 2); },
         ErrorKind::UnsupportedMachine, "machine 0x1C4 is none"},
        {"i386 machine with a PE32+ header", {Form::X86},
         [](const FormImage& i, Bytes& b) { put(b, i.layout.pe.optionalHeaderOffset, 0x20B, 2); },
         ErrorKind::UnsupportedMachine, "i386 (0x14C) with a PE32+ (0x20B)"},
        {"ARM64 machine with a PE32 header", {Form::Arm64},
         [](const FormImage& i, Bytes& b) { put(b, i.layout.pe.optionalHeaderOffset, 0x10B, 2); },
         ErrorKind::UnsupportedMachine, "ARM64 (0xAA64) with a PE32 (0x10B)"},
    };
    return all;
}

TEST_P(EveryForm, EachDamageIsReportedByKindAndField)
{
    const FormImage& image = formImage(GetParam());
    for (const FormDamage& damage : formDamages()) {
        if (!damage.forms.contains(GetParam()))
            continue;
        Bytes bytes = image.bytes;
        damage.apply(image, bytes);
        try {
            kbdread::readLayout(std::span<const std::uint8_t>(bytes));
            ADD_FAILURE() << damage.name << ": read without error";
        } catch (const kbdread::ReadError& error) {
            EXPECT_STREQ(kbdread::toString(error.kind()), kbdread::toString(damage.kind))
                << damage.name << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find(damage.messagePart), std::string::npos)
                << damage.name << ": message \"" << error.what() << "\" lacks \"" << damage.messagePart << "\"";
        }
    }
}

// The reader's errors say where: a fault inside the tables comes with its
// RVA and the file offset of the same byte.
TEST_P(EveryForm, ErrorsCarryTheirRvaAndFileOffset)
{
    const FormImage& image = formImage(GetParam());
    Bytes bytes = image.bytes;
    const std::uint32_t site = image.layout.tablesRva + image.tables().keyNames;
    put(bytes, image.at(site), 0, image.layout.description().addressWidth);
    try {
        kbdread::readLayout(std::span<const std::uint8_t>(bytes));
        ADD_FAILURE() << "read a null pKeyNames";
    } catch (const kbdread::ReadError& error) {
        EXPECT_EQ(error.problem().rva, site) << error.what();
        EXPECT_EQ(error.problem().fileOffset, image.at(site)) << error.what();
    }
}

// Reads one damaged copy away from its preferred base; anything but success
// or ReadError is a failure.
void readSurvives(const Bytes& bytes, std::uint64_t loadBase, const std::string& what)
{
    try {
        kbdread::readLayout(std::span<const std::uint8_t>(bytes), loadBase);
    } catch (const kbdread::ReadError&) {
    } catch (const std::exception& other) {
        ADD_FAILURE() << what << ": unexpected exception " << other.what();
    }
}

TEST_P(EveryForm, FlippedZeroedAndTruncatedBytesNeverCrash)
{
    const Bytes& original = formImage(GetParam()).bytes;
    const bool image32 = formImage(GetParam()).layout.pe.optionalMagic == kbdread::kPe32Magic;
    const std::uint64_t loadBase = image32 ? 0x6A120000 : 0x7FF612340000;
    Bytes bytes = original;
    for (std::size_t at = 0; at < original.size(); ++at) {
        for (std::uint8_t replacement : {static_cast<std::uint8_t>(original[at] ^ 0xFF), std::uint8_t{0}}) {
            bytes[at] = replacement;
            readSurvives(bytes, loadBase, "byte " + hex(at) + " set to " + hex(replacement));
        }
        bytes[at] = original[at];
    }
    for (std::size_t length = 0; length < original.size(); length += 64)
        readSurvives(Bytes(original.begin(), original.begin() + length), loadBase, "cut at " + hex(length));
}

// ---------------------------------------------------------------------------
// Boundaries on every form, for every list and record the reader walks in
// our layout and in the synthetic one (which has the dead-key and far-east
// tables): each ending on its section's last byte, and one byte or one
// entry past it; and the relocation types the reader takes.

const FormImage& syntheticImage(Form form) { return readBuiltImage<FormImage>(form, SYNTHETIC_IMAGES_MANIFEST); }

// Makes the export's code at codeRva (of its form's shape, its bytes at
// file offset `code`) return the record at recordRva.
void returnRecord(const FormImage& image, Bytes& b, std::size_t code, std::uint32_t codeRva, std::uint32_t recordRva)
{
    switch (image.layout.form) {
    case Form::X64: put(b, code + 3, recordRva - (codeRva + 7), 4); break;  // lea rax,[rip+disp32]
    case Form::X86:
    case Form::Wow64: put(b, code + 1, image.base() + recordRva, 4); break; // mov eax,imm32
    case Form::Arm64: {                                                      // adrp x0,page; add x0,x0,#lo12
        const std::uint32_t pages = (recordRva >> 12) - (codeRva >> 12);
        put(b, code, 0x90000000u | (pages & 3) << 29 | (pages >> 2 & 0x7FFFF) << 5, 4);
        put(b, code + 4, 0x91000000u | (recordRva & 0xFFF) << 10, 4);
        break;
    }
    }
}

// What a row moves to its section's end: a list, a record or an export's
// code; the bytes of one entry (a record is one entry, a list ends with its
// terminator); and how to make what leads to it lead to a new place, given
// the file offset of the moved bytes.
struct Movable {
    std::uint32_t rva;
    std::uint32_t size;
    std::uint32_t entrySize;
    std::function<void(Bytes&, std::size_t, std::uint32_t)> leadTo;
};

Movable listOf(const FormImage& image, kbdread::PointerRole role, std::size_t index = 0)
{
    const kbdread::PointerSite& site = image.site(role, index);
    return {site.targetRva, site.targetSize, site.entrySize ? site.entrySize : site.targetSize,
            [&image, &site](Bytes& b, std::size_t, std::uint32_t rva) {
                put(b, image.at(site.siteRva), image.base() + rva, image.layout.description().addressWidth);
            }};
}

// The record an export's code returns, or (`code`) that code itself.
Movable exportOf(const FormImage& image, const char* name, bool code)
{
    const bool nls = std::string(name) == kbdread::kNlsDescriptorExport;
    const std::uint32_t codeRva = nls ? image.layout.nls->descriptorRva : image.layout.descriptorRva;
    const std::uint32_t record = nls ? image.layout.nls->rva : image.layout.tablesRva;
    const kbdread::TableFormat& t = image.tables();
    const std::uint32_t size = code ? image.layout.description().codeSize : nls ? t.nlsTablesSize : t.tablesSize;
    if (!code)
        return {record, size, size, [&image, codeRva](Bytes& b, std::size_t, std::uint32_t rva) {
                    returnRecord(image, b, image.at(codeRva), codeRva, rva);
                }};
    return {codeRva, size, size, [&image, name, record](Bytes& b, std::size_t moved, std::uint32_t rva) {
                put(b, exportAddressEntry(image, name), rva, 4);
                returnRecord(image, b, moved, rva, record);
            }};
}

// Copies the last entries of what is moved (a list with its terminator, or
// a whole record or code) into the slack after the content of its section,
// so that its last byte is the section's last byte, makes what leads to it
// lead there, then cuts the section by `shortBy` bytes. Returns its new RVA
// and size.
std::pair<std::uint32_t, std::uint32_t> moveToSectionEnd(const FormImage& image, Bytes& b, const Movable& what,
                                                         std::uint32_t shortBy)
{
    const kbdread::PeInfo& pe = image.layout.pe;
    const kbdread::Section& s = *pe.sectionAt(what.rva);
    const std::uint32_t end = s.virtualAddress + s.rawSize;
    const std::uint32_t size = std::min(what.size, (s.rawSize - s.virtualSize) / what.entrySize * what.entrySize);
    EXPECT_GE(size, what.size == what.entrySize ? what.size : 2 * what.entrySize)
        << "no room for it after the content of section " << s.name;
    const std::size_t moved = s.rawOffset + (end - size - s.virtualAddress);
    std::copy_n(image.bytes.begin() + image.at(what.rva + what.size - size), size, b.begin() + moved);
    what.leadTo(b, moved, end - size);
    put(b, pe.sectionHeaderOffset(&s - pe.sections.data()) + 8, s.rawSize - shortBy, 4);
    return {end - size, size};
}

// Whether the layout read has what was moved at `rva`, a list read to its
// terminator with its `size` bytes.
bool foundAt(const Layout& layout, std::uint32_t rva, std::uint32_t size)
{
    for (const kbdread::PointerSite& s : layout.pointerSites)
        if (s.targetRva == rva && !s.isNull())
            return s.targetSize == size;
    return layout.tablesRva == rva || layout.descriptorRva == rva ||
           (layout.nls && (layout.nls->rva == rva || layout.nls->descriptorRva == rva));
}

TEST_P(EveryForm, WhatEndsOnTheSectionsLastByteReadsAndCutShortDoesNot)
{
    using kbdread::PointerRole;
    struct Row {
        std::string name;
        const FormImage& (*image)(Form);
        std::function<Movable(const FormImage&)> movable;
        ErrorKind kind;          // when the section is cut short
        std::string messagePart; // names it in the error
    };
    const auto list = [](PointerRole role, std::size_t index = 0) {
        return [=](const FormImage& i) { return listOf(i, role, index); };
    };
    const auto exported = [](const char* name, bool code) {
        return [=](const FormImage& i) { return exportOf(i, name, code); };
    };
    std::vector<Row> rows = {
        {"pVkToBit list", formImage, list(PointerRole::VkToBit), ErrorKind::Unterminated, "pVkToBit list"},
        {"pVkToWcharTable list", formImage, list(PointerRole::VkToWcharTable), ErrorKind::Unterminated,
         "pVkToWcharTable list"},
        {"pKeyNames list", formImage, list(PointerRole::KeyNames), ErrorKind::Unterminated, "pKeyNames list"},
        {"pKeyNamesExt list", formImage, list(PointerRole::KeyNamesExt), ErrorKind::Unterminated, "pKeyNamesExt list"},
        {"key name", formImage, list(PointerRole::KeyNameString), ErrorKind::Unterminated, "string of pKeyNames entry 0"},
        {"extended key name", formImage, list(PointerRole::KeyNameExtString), ErrorKind::Unterminated,
         "string of pKeyNamesExt entry 0"},
        {"pVSCtoVK_E0 list", formImage, list(PointerRole::VSCtoVK_E0), ErrorKind::Unterminated, "pVSCtoVK_E0 list"},
        {"pVSCtoVK_E1 list", formImage, list(PointerRole::VSCtoVK_E1), ErrorKind::Unterminated, "pVSCtoVK_E1 list"},
        {"pLigature list", formImage, list(PointerRole::Ligature), ErrorKind::Unterminated, "pLigature list"},
        {"pDeadKey list", syntheticImage, list(PointerRole::DeadKey), ErrorKind::Unterminated, "pDeadKey list"},
        {"pKeyNamesDead list", syntheticImage, list(PointerRole::KeyNamesDead), ErrorKind::Unterminated,
         "pKeyNamesDead list"},
        {"dead-key name", syntheticImage, list(PointerRole::DeadKeyNameString, 4), ErrorKind::Unterminated,
         "string of pKeyNamesDead entry 4"},
        {"MODIFIERS record", syntheticImage, list(PointerRole::CharModifiers), ErrorKind::PointerOutsideImage,
         "ModNumber (modifier record"},
        {"KBDTABLES record", formImage, exported(kbdread::kDescriptorExport, false), ErrorKind::PointerOutsideImage,
         "KBDTABLES record fits"},
        {"KBDNLSTABLES record", syntheticImage, exported(kbdread::kNlsDescriptorExport, false),
         ErrorKind::PointerOutsideImage, "KBDNLSTABLES record fits"},
        {"KbdLayerDescriptor's code", formImage, exported(kbdread::kDescriptorExport, true), ErrorKind::BadExportCode,
         "does not lie inside a section"},
        {"KbdNlsLayerDescriptor's code", syntheticImage, exported(kbdread::kNlsDescriptorExport, true),
         ErrorKind::BadExportCode, "does not lie inside a section"},
    };
    for (std::size_t t = 0; t < formImage(GetParam()).layout.charTables.size(); ++t)
        rows.push_back({"rows of table " + std::to_string(t + 1), formImage, list(PointerRole::CharTableRows, t),
                        ErrorKind::Unterminated, "rows of character table " + std::to_string(t + 1)});

    for (const Row& row : rows) {
        const FormImage& image = row.image(GetParam());
        const Movable what = row.movable(image);
        std::vector<std::uint32_t> cuts{0, 1}; // and one entry, for a list
        if (what.entrySize < what.size)
            cuts.push_back(what.entrySize);
        for (const std::uint32_t shortBy : cuts) {
            SCOPED_TRACE(row.name + ", section cut by " + std::to_string(shortBy) + " bytes");
            Bytes bytes = image.bytes;
            const auto [rva, size] = moveToSectionEnd(image, bytes, what, shortBy);
            try {
                const Layout layout = kbdread::readLayout(std::span<const std::uint8_t>(bytes), {}, GetParam());
                EXPECT_EQ(shortBy, 0u) << "read what runs past the end of its section";
                EXPECT_TRUE(foundAt(layout, rva, size)) << "not read whole at its new place";
            } catch (const kbdread::ReadError& error) {
                EXPECT_NE(shortBy, 0u) << "refused what ends on its section's last byte: " << error.what();
                EXPECT_EQ(error.kind(), row.kind) << error.what();
                EXPECT_NE(std::string(error.what()).find(row.messagePart), std::string::npos) << error.what();
            }
        }
    }
}

// A record the reader takes whole, whatever its entries hold (the scan-code
// map, the far-east key functions and mouse keys), ending on its section's
// last byte reads; one byte further does not.
TEST_P(EveryForm, RecordOnTheSectionsLastBytesReadsAndOneByteFurtherDoesNot)
{
    struct Row {
        const FormImage& (*image)(Form);
        kbdread::PointerRole role;
        std::uint32_t (*size)(const Layout&); // of the record, by the format
    };
    const Row rows[] = {
        {formImage, kbdread::PointerRole::VSCtoVK, [](const Layout& l) { return 2u * l.maxScanCode; }},
        {syntheticImage, kbdread::PointerRole::VkToF,
         [](const Layout& l) -> std::uint32_t { return 0x84 * l.nls->vkToF.size(); }},
        {syntheticImage, kbdread::PointerRole::MouseVKey,
         [](const Layout& l) -> std::uint32_t { return 2 * l.nls->mouseVKeys.size(); }},
    };
    for (const Row& row : rows) {
        const FormImage& image = row.image(GetParam());
        const kbdread::PointerSite& site = image.site(row.role);
        const kbdread::Section& s = *image.layout.pe.sectionAt(site.targetRva);
        const std::uint32_t size = row.size(image.layout);
        for (const std::uint32_t over : {0u, 1u}) {
            SCOPED_TRACE(std::string(kbdread::toString(row.role)) + " ending " + std::to_string(over) +
                         " bytes past the section");
            Bytes bytes = image.bytes;
            const std::uint32_t rva = static_cast<std::uint32_t>(s.end()) - size + over;
            put(bytes, image.at(site.siteRva), image.base() + rva, image.layout.description().addressWidth);
            try {
                const Layout layout = kbdread::readLayout(std::span<const std::uint8_t>(bytes), {}, GetParam());
                EXPECT_EQ(over, 0u) << "read a record that runs past its section";
                EXPECT_TRUE(foundAt(layout, rva, size));
            } catch (const kbdread::ReadError& error) {
                EXPECT_EQ(over, 1u) << error.what();
                EXPECT_EQ(error.kind(), ErrorKind::PointerOutsideImage) << error.what();
                EXPECT_NE(std::string(error.what()).find(kbdread::toString(row.role)), std::string::npos)
                    << error.what();
            }
        }
    }
}

// The base relocation types a layout image may hold: ABSOLUTE (padding),
// HIGHLOW and DIR64 (which one a stored pointer needs is the validator's
// concern). Every other type is refused, whatever it targets.
TEST_P(EveryForm, OnlyAbsoluteHighLowAndDir64RelocationsAreRead)
{
    const FormImage& image = formImage(GetParam());
    const auto& relocations = image.layout.pe.relocations;
    const std::uint32_t pKeyNames = image.layout.tablesRva + image.tables().keyNames;
    const auto found = std::find_if(relocations.begin(), relocations.end(),
                                    [&](const kbdread::Relocation& r) { return r.rva == pKeyNames; });
    ASSERT_NE(found, relocations.end());
    const std::size_t entry = image.at(found->entryRva);

    for (std::uint8_t type = 0; type < 16; ++type) {
        SCOPED_TRACE("type " + std::to_string(type));
        Bytes bytes = image.bytes;
        put(bytes, entry, ((image.bytes[entry] | image.bytes[entry + 1] << 8) & 0x0FFF) | type << 12, 2);
        const bool known =
            type == kbdread::kRelocAbsolute || type == kbdread::kRelocHighLow || type == kbdread::kRelocDir64;
        try {
            kbdread::readLayout(std::span<const std::uint8_t>(bytes), {}, GetParam());
            EXPECT_TRUE(known) << "type accepted";
        } catch (const kbdread::ReadError& error) {
            EXPECT_FALSE(known) << error.what();
            EXPECT_EQ(error.kind(), ErrorKind::BadRelocation) << error.what();
            EXPECT_NE(std::string(error.what()).find("type " + std::to_string(type)), std::string::npos)
                << error.what();
        }
    }
}

} // namespace
