#include "kbdread.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

namespace kbdread {

const char* toString(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::FileUnreadable: return "FileUnreadable";
    case ErrorKind::NotPe: return "NotPe";
    case ErrorKind::NotPe32Plus: return "NotPe32Plus";
    case ErrorKind::Truncated: return "Truncated";
    case ErrorKind::BadHeader: return "BadHeader";
    case ErrorKind::BadSection: return "BadSection";
    case ErrorKind::BadRelocation: return "BadRelocation";
    case ErrorKind::MissingExport: return "MissingExport";
    case ErrorKind::BadExportCode: return "BadExportCode";
    case ErrorKind::NullPointer: return "NullPointer";
    case ErrorKind::PointerOutsideImage: return "PointerOutsideImage";
    case ErrorKind::Unterminated: return "Unterminated";
    case ErrorKind::BadCount: return "BadCount";
    }
    return "?";
}

const char* toString(PointerRole role)
{
    switch (role) {
    case PointerRole::CharModifiers: return "pCharModifiers";
    case PointerRole::VkToWcharTable: return "pVkToWcharTable";
    case PointerRole::DeadKey: return "pDeadKey";
    case PointerRole::KeyNames: return "pKeyNames";
    case PointerRole::KeyNamesExt: return "pKeyNamesExt";
    case PointerRole::KeyNamesDead: return "pKeyNamesDead";
    case PointerRole::VSCtoVK: return "pusVSCtoVK";
    case PointerRole::VSCtoVK_E0: return "pVSCtoVK_E0";
    case PointerRole::VSCtoVK_E1: return "pVSCtoVK_E1";
    case PointerRole::Ligature: return "pLigature";
    case PointerRole::VkToBit: return "pVkToBit";
    case PointerRole::CharTableRows: return "pVkToWchars";
    case PointerRole::KeyNameString: return "key name string";
    case PointerRole::KeyNameExtString: return "extended key name string";
    }
    return "?";
}

ReadError::ReadError(ErrorKind kind, const std::string& message)
    : std::runtime_error(message), kind_(kind)
{
}

namespace {

std::string hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

[[noreturn]] void fail(ErrorKind kind, const std::string& message)
{
    throw ReadError(kind, message);
}

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) { return le16(p) | static_cast<std::uint32_t>(le16(p + 2)) << 16; }
std::uint64_t le64(const std::uint8_t* p) { return le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32; }

// Upper bound on SizeOfImage: a layout library is a few kilobytes, and a
// damaged header must not make the reader allocate gigabytes.
constexpr std::uint32_t kMaxImageSize = 64u << 20;
constexpr std::uint16_t kMaxSections = 96; // the loader's own limit
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint32_t kOptionalFixedSize = 112; // PE32+ optional header up to the data directories
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kTablesRecordSize = 0x60;
constexpr std::uint32_t kDescriptorCodeSize = 8; // lea rax,[rip+disp32] (7) + ret (1)

// Bounds-checked reads of the file's headers; running off the end means the
// file was cut short.
class FileView {
public:
    explicit FileView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    void require(std::uint64_t offset, std::uint64_t size, const std::string& what) const
    {
        if (offset > bytes_.size() || size > bytes_.size() - offset)
            fail(ErrorKind::Truncated, what + " at file offset " + hex(offset) + " (" + hex(size) +
                                           " bytes) runs past the end of the file (size " +
                                           hex(bytes_.size()) + ")");
    }
    std::uint16_t u16(std::uint64_t offset, const std::string& what) const
    {
        require(offset, 2, what);
        return le16(&bytes_[offset]);
    }
    std::uint32_t u32(std::uint64_t offset, const std::string& what) const
    {
        require(offset, 4, what);
        return le32(&bytes_[offset]);
    }
    std::uint64_t u64(std::uint64_t offset, const std::string& what) const
    {
        require(offset, 8, what);
        return le64(&bytes_[offset]);
    }
    std::size_t size() const { return bytes_.size(); }
    const std::uint8_t* at(std::uint64_t offset) const { return bytes_.data() + offset; }

private:
    std::span<const std::uint8_t> bytes_;
};

std::uint32_t sectionExtent(const Section& section)
{
    return section.virtualSize != 0 ? section.virtualSize : section.rawSize;
}

// Returns the file offset of the PE signature.
std::uint32_t locatePeHeader(const FileView& file)
{
    if (file.size() < 2 || file.at(0)[0] != 'M' || file.at(0)[1] != 'Z')
        fail(ErrorKind::NotPe, "no MZ signature at file offset 0x0");
    const std::uint32_t peOffset = file.u32(0x3C, "DOS header e_lfanew");
    file.require(peOffset, 4, "PE signature (e_lfanew " + hex(peOffset) + ")");
    const std::uint8_t* sig = file.at(peOffset);
    if (sig[0] != 'P' || sig[1] != 'E' || sig[2] != 0 || sig[3] != 0)
        fail(ErrorKind::NotPe, "no PE signature at file offset " + hex(peOffset) + " (e_lfanew)");
    return peOffset;
}

PeInfo parseHeaders(const FileView& file)
{
    PeInfo pe;
    const std::uint32_t peOffset = locatePeHeader(file);
    const std::uint64_t coff = peOffset + 4ull;
    file.require(coff, 20, "COFF file header");
    pe.machine = file.u16(coff + 0, "Machine");
    const std::uint16_t sectionCount = file.u16(coff + 2, "NumberOfSections");
    pe.timeDateStamp = file.u32(coff + 4, "TimeDateStamp");
    const std::uint16_t optionalSize = file.u16(coff + 16, "SizeOfOptionalHeader");
    pe.characteristics = file.u16(coff + 18, "Characteristics");

    const std::uint64_t opt = coff + 20;
    pe.optionalMagic = file.u16(opt, "optional header Magic");
    if (pe.optionalMagic != kPe32PlusMagic)
        fail(ErrorKind::NotPe32Plus,
             "optional header Magic at file offset " + hex(opt) + " is " + hex(pe.optionalMagic) +
                 (pe.optionalMagic == kPe32Magic ? " (PE32, a 32-bit image)" : "") +
                 ", expected 0x20B (PE32+)");
    if (optionalSize < kOptionalFixedSize)
        fail(ErrorKind::BadHeader, "SizeOfOptionalHeader " + hex(optionalSize) + " at file offset " +
                                       hex(coff + 16) + " is smaller than a PE32+ optional header (0x70)");
    file.require(opt, optionalSize, "optional header");

    pe.entryPointRva = file.u32(opt + 16, "AddressOfEntryPoint");
    pe.imageBase = file.u64(opt + 24, "ImageBase");
    pe.sectionAlignment = file.u32(opt + 32, "SectionAlignment");
    pe.fileAlignment = file.u32(opt + 36, "FileAlignment");
    pe.osVersionMajor = file.u16(opt + 40, "MajorOperatingSystemVersion");
    pe.osVersionMinor = file.u16(opt + 42, "MinorOperatingSystemVersion");
    pe.imageVersionMajor = file.u16(opt + 44, "MajorImageVersion");
    pe.imageVersionMinor = file.u16(opt + 46, "MinorImageVersion");
    pe.subsystemVersionMajor = file.u16(opt + 48, "MajorSubsystemVersion");
    pe.subsystemVersionMinor = file.u16(opt + 50, "MinorSubsystemVersion");
    pe.sizeOfImage = file.u32(opt + 56, "SizeOfImage");
    pe.sizeOfHeaders = file.u32(opt + 60, "SizeOfHeaders");
    pe.checksumOffset = static_cast<std::uint32_t>(opt + 64);
    pe.checksumStored = file.u32(opt + 64, "CheckSum");
    pe.subsystem = file.u16(opt + 68, "Subsystem");
    pe.dllCharacteristics = file.u16(opt + 70, "DllCharacteristics");
    const std::uint32_t directoryCount = file.u32(opt + 108, "NumberOfRvaAndSizes");

    if (directoryCount > 16 || kOptionalFixedSize + 8ull * directoryCount > optionalSize)
        fail(ErrorKind::BadHeader, "NumberOfRvaAndSizes " + hex(directoryCount) + " at file offset " +
                                       hex(opt + 108) + " does not fit SizeOfOptionalHeader " +
                                       hex(optionalSize));
    for (std::uint32_t i = 0; i < directoryCount; ++i)
        pe.dataDirectories.push_back({file.u32(opt + 112 + 8 * i, "data directory RVA"),
                                      file.u32(opt + 116 + 8 * i, "data directory size")});

    if (pe.sizeOfImage == 0 || pe.sizeOfImage > kMaxImageSize)
        fail(ErrorKind::BadHeader, "SizeOfImage " + hex(pe.sizeOfImage) + " at file offset " +
                                       hex(opt + 56) + " is zero or implausibly large");
    if (pe.sizeOfHeaders > pe.sizeOfImage)
        fail(ErrorKind::BadHeader, "SizeOfHeaders " + hex(pe.sizeOfHeaders) + " exceeds SizeOfImage " +
                                       hex(pe.sizeOfImage));
    if (sectionCount > kMaxSections)
        fail(ErrorKind::BadHeader, "NumberOfSections " + std::to_string(sectionCount) + " exceeds " +
                                       std::to_string(kMaxSections));

    const std::uint64_t table = opt + optionalSize;
    file.require(table, std::uint64_t{kSectionHeaderSize} * sectionCount, "section table");
    file.require(0, pe.sizeOfHeaders, "headers (SizeOfHeaders " + hex(pe.sizeOfHeaders) + ")");
    std::uint64_t previousEnd = pe.sizeOfHeaders;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t h = table + std::uint64_t{kSectionHeaderSize} * i;
        Section s;
        const char* name = reinterpret_cast<const char*>(file.at(h));
        s.name.assign(name, std::find(name, name + 8, '\0'));
        s.virtualSize = file.u32(h + 8, "VirtualSize");
        s.virtualAddress = file.u32(h + 12, "VirtualAddress");
        s.rawSize = file.u32(h + 16, "SizeOfRawData");
        s.rawOffset = file.u32(h + 20, "PointerToRawData");
        s.characteristics = file.u32(h + 36, "section Characteristics");
        const std::string where = "section " + std::to_string(i) + " (" + s.name + ")";
        const std::uint64_t end = std::uint64_t{s.virtualAddress} + sectionExtent(s);
        if (s.virtualAddress < previousEnd)
            fail(ErrorKind::BadSection, where + " at RVA " + hex(s.virtualAddress) +
                                            " overlaps the headers or the section before it (ends at " +
                                            hex(previousEnd) + ")");
        if (end > pe.sizeOfImage)
            fail(ErrorKind::BadSection, where + " ends at RVA " + hex(end) + ", beyond SizeOfImage " +
                                            hex(pe.sizeOfImage));
        if (s.rawSize != 0)
            file.require(s.rawOffset, s.rawSize, where + " raw data");
        previousEnd = end;
        pe.sections.push_back(s);
    }
    return pe;
}

// The image as the loader maps it, with bounds-checked access by RVA.
class ImageMap {
public:
    ImageMap(std::vector<std::uint8_t>& image, const PeInfo& pe) : image_(image), pe_(pe) {}

    const Section* sectionAt(std::uint64_t rva) const
    {
        for (const Section& s : pe_.sections)
            if (rva >= s.virtualAddress && rva < std::uint64_t{s.virtualAddress} + sectionExtent(s))
                return &s;
        return nullptr;
    }
    bool fits(std::uint64_t rva, std::uint64_t size) const
    {
        return rva <= image_.size() && size <= image_.size() - rva;
    }
    std::uint8_t u8(std::uint32_t rva) const { return image_[rva]; }
    std::uint16_t u16(std::uint32_t rva) const { return le16(&image_[rva]); }
    std::uint32_t u32(std::uint32_t rva) const { return le32(&image_[rva]); }
    std::uint64_t u64(std::uint32_t rva) const { return le64(&image_[rva]); }
    std::uint8_t* at(std::uint32_t rva) { return &image_[rva]; }

    // A zero-terminated byte string that must end inside the section it starts in.
    std::string cString(std::uint32_t rva, const std::string& what) const
    {
        const Section* s = sectionAt(rva);
        if (!s)
            fail(ErrorKind::PointerOutsideImage, what + " at RVA " + hex(rva) + " is not inside any section");
        const std::uint32_t end = s->virtualAddress + sectionExtent(*s);
        std::string text;
        for (std::uint32_t p = rva; p < end; ++p) {
            if (image_[p] == 0)
                return text;
            text.push_back(static_cast<char>(image_[p]));
        }
        fail(ErrorKind::Unterminated, what + " at RVA " + hex(rva) + " runs off the end of section " +
                                          s->name + " (RVA " + hex(end) + ") without a terminating NUL");
    }

private:
    std::vector<std::uint8_t>& image_;
    const PeInfo& pe_;
};

void mapSections(std::span<const std::uint8_t> file, const PeInfo& pe, std::vector<std::uint8_t>& image)
{
    image.assign(pe.sizeOfImage, 0);
    std::copy_n(file.begin(), pe.sizeOfHeaders, image.begin());
    for (const Section& s : pe.sections) {
        const std::uint32_t size = std::min(s.rawSize, sectionExtent(s));
        std::copy_n(file.begin() + s.rawOffset, size, image.begin() + s.virtualAddress);
    }
}

const DataDirectory* directory(const PeInfo& pe, std::size_t index)
{
    if (index >= pe.dataDirectories.size())
        return nullptr;
    const DataDirectory& d = pe.dataDirectories[index];
    return d.rva == 0 && d.size == 0 ? nullptr : &d;
}

void applyRelocations(ImageMap& map, PeInfo& pe, std::uint64_t loadBase)
{
    const DataDirectory* dir = directory(pe, kBaseRelocationDirectory);
    if (!dir)
        return;
    if (!map.fits(dir->rva, dir->size))
        fail(ErrorKind::BadRelocation, "base relocation directory (RVA " + hex(dir->rva) + ", size " +
                                           hex(dir->size) + ") lies outside the image");
    const std::uint64_t delta = loadBase - pe.imageBase; // wraps modulo 2^64, as the loader's does
    std::uint32_t block = dir->rva;
    const std::uint32_t end = dir->rva + dir->size;
    while (block < end) {
        if (end - block < 8)
            fail(ErrorKind::BadRelocation, "relocation block header at RVA " + hex(block) +
                                               " runs past the end of the directory");
        const std::uint32_t page = map.u32(block);
        const std::uint32_t blockSize = map.u32(block + 4);
        if (blockSize < 8 || blockSize % 2 != 0 || blockSize > end - block)
            fail(ErrorKind::BadRelocation, "relocation block at RVA " + hex(block) + " has SizeOfBlock " +
                                               hex(blockSize) + " (directory ends at " + hex(end) + ")");
        for (std::uint32_t e = block + 8; e < block + blockSize; e += 2) {
            const std::uint16_t entry = map.u16(e);
            const Relocation r{page + (entry & 0x0FFFu), static_cast<std::uint8_t>(entry >> 12)};
            pe.relocations.push_back(r);
            const std::uint32_t width = r.type == kRelocDir64 ? 8 : r.type == kRelocHighLow ? 4 : 0;
            if (r.type != kRelocAbsolute && width == 0)
                fail(ErrorKind::BadRelocation, "relocation entry at RVA " + hex(e) + " has unsupported type " +
                                                   std::to_string(r.type));
            if (width == 0)
                continue;
            if (!map.fits(r.rva, width))
                fail(ErrorKind::BadRelocation, "relocation entry at RVA " + hex(e) + " targets RVA " +
                                                   hex(r.rva) + ", outside the image");
            if (r.type == kRelocDir64) {
                const std::uint64_t v = map.u64(r.rva) + delta;
                for (int i = 0; i < 8; ++i)
                    map.at(r.rva)[i] = static_cast<std::uint8_t>(v >> (8 * i));
            } else {
                const std::uint32_t v = map.u32(r.rva) + static_cast<std::uint32_t>(delta);
                for (int i = 0; i < 4; ++i)
                    map.at(r.rva)[i] = static_cast<std::uint8_t>(v >> (8 * i));
            }
        }
        block += blockSize;
    }
}

// Reads the export directory and returns the RVA of KbdLayerDescriptor.
std::uint32_t readExports(const ImageMap& map, PeInfo& pe)
{
    const DataDirectory* dir = directory(pe, kExportDirectory);
    if (!dir)
        fail(ErrorKind::MissingExport, "the image has no export directory");
    if (!map.fits(dir->rva, 40) || !map.sectionAt(dir->rva))
        fail(ErrorKind::BadHeader, "export directory at RVA " + hex(dir->rva) + " lies outside the image");
    ExportDirectory& ex = pe.exports;
    ex.present = true;
    const std::uint32_t d = dir->rva;
    ex.moduleName = map.cString(map.u32(d + 12), "export module name");
    ex.ordinalBase = map.u32(d + 16);
    const std::uint32_t functionCount = map.u32(d + 20);
    const std::uint32_t nameCount = map.u32(d + 24);
    const std::uint32_t functions = map.u32(d + 28);
    const std::uint32_t names = map.u32(d + 32);
    const std::uint32_t ordinals = map.u32(d + 36);
    if (!map.fits(functions, 4ull * functionCount))
        fail(ErrorKind::BadHeader, "export address table (RVA " + hex(functions) + ", " +
                                       std::to_string(functionCount) + " entries) lies outside the image");
    if (!map.fits(names, 4ull * nameCount) || !map.fits(ordinals, 2ull * nameCount))
        fail(ErrorKind::BadHeader, "export name tables (RVA " + hex(names) + " and " + hex(ordinals) + ", " +
                                       std::to_string(nameCount) + " entries) lie outside the image");
    for (std::uint32_t i = 0; i < functionCount; ++i)
        ex.functionRvas.push_back(map.u32(functions + 4 * i));
    std::optional<std::uint32_t> descriptor;
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        ExportName n{map.cString(map.u32(names + 4 * i), "export name " + std::to_string(i)),
                     map.u16(ordinals + 2 * i)};
        if (n.ordinalIndex >= functionCount)
            fail(ErrorKind::BadHeader, "export name \"" + n.name + "\" has ordinal index " +
                                           std::to_string(n.ordinalIndex) + " beyond the " +
                                           std::to_string(functionCount) + " exported functions");
        if (n.name == "KbdLayerDescriptor" && !descriptor)
            descriptor = ex.functionRvas[n.ordinalIndex];
        ex.names.push_back(std::move(n));
    }
    if (!descriptor)
        fail(ErrorKind::MissingExport, "no export named KbdLayerDescriptor among the " +
                                           std::to_string(nameCount) + " export names");
    if (*descriptor >= d && *descriptor < std::uint64_t{d} + dir->size)
        fail(ErrorKind::BadExportCode, "KbdLayerDescriptor (RVA " + hex(*descriptor) + ") is a forwarder");
    return *descriptor;
}

// The export's code is `lea rax,[rip+disp32]; ret`; returns the RVA it loads.
std::uint32_t decodeDescriptor(const ImageMap& map, std::uint32_t codeRva)
{
    const Section* s = map.sectionAt(codeRva);
    if (!s || codeRva + std::uint64_t{kDescriptorCodeSize} > std::uint64_t{s->virtualAddress} + sectionExtent(*s))
        fail(ErrorKind::BadExportCode, "KbdLayerDescriptor's code at RVA " + hex(codeRva) +
                                           " does not lie inside a section");
    const bool leaRaxRip = map.u8(codeRva) == 0x48 && map.u8(codeRva + 1) == 0x8D && map.u8(codeRva + 2) == 0x05;
    if (!leaRaxRip || map.u8(codeRva + 7) != 0xC3) {
        std::string bytes;
        for (std::uint32_t i = 0; i < kDescriptorCodeSize; ++i) {
            char b[4];
            std::snprintf(b, sizeof b, "%02X ", map.u8(codeRva + i));
            bytes += b;
        }
        bytes.pop_back();
        fail(ErrorKind::BadExportCode, "KbdLayerDescriptor's code at RVA " + hex(codeRva) + " is " + bytes +
                                           ", not lea rax,[rip+disp32] (48 8D 05) followed by ret (C3)");
    }
    const auto disp = static_cast<std::int32_t>(map.u32(codeRva + 3));
    const std::int64_t target = std::int64_t{codeRva} + 7 + disp;
    const Section* ts = target >= 0 ? map.sectionAt(static_cast<std::uint64_t>(target)) : nullptr;
    if (!ts || target + kTablesRecordSize > std::int64_t{ts->virtualAddress} + sectionExtent(*ts))
        fail(ErrorKind::PointerOutsideImage, "KbdLayerDescriptor's lea at RVA " + hex(codeRva) +
                                                 " loads RVA " + (target < 0 ? "-" + hex(-target) : hex(target)) +
                                                 ", where no 0x60-byte KBDTABLES record fits inside a section");
    return static_cast<std::uint32_t>(target);
}

// Decodes the tables reachable from KBDTABLES into a Layout.
class TableDecoder {
public:
    TableDecoder(Layout& layout, const ImageMap& map) : out_(layout), map_(map) {}

    void decode()
    {
        const std::uint32_t r = out_.tablesRva;
        decodeModifiers(followRecord(r + 0x00, PointerRole::CharModifiers, 0x00, 10));
        decodeCharTables(followRecord(r + 0x08, PointerRole::VkToWcharTable, 0x08, 16));
        out_.deadKeyNull = checkOptional(r + 0x10, PointerRole::DeadKey, 0x10);
        out_.keyNames = decodeKeyNames(followRecord(r + 0x18, PointerRole::KeyNames, 0x18, 16),
                                       PointerRole::KeyNameString, "pKeyNames");
        out_.keyNamesExt = decodeKeyNames(followRecord(r + 0x20, PointerRole::KeyNamesExt, 0x20, 16),
                                          PointerRole::KeyNameExtString, "pKeyNamesExt");
        out_.keyNamesDeadNull = checkOptional(r + 0x28, PointerRole::KeyNamesDead, 0x28);

        out_.maxScanCode = map_.u8(r + 0x38);
        const std::uint32_t map = followRecord(r + 0x30, PointerRole::VSCtoVK, 0x30, 2u * out_.maxScanCode);
        for (std::uint32_t sc = 0; sc < out_.maxScanCode; ++sc)
            out_.scanCodeMap.push_back(map_.u16(map + 2 * sc));

        out_.e0 = decodeScanPairs(followRecord(r + 0x40, PointerRole::VSCtoVK_E0, 0x40, 4), "pVSCtoVK_E0");
        out_.e1 = decodeScanPairs(followRecord(r + 0x48, PointerRole::VSCtoVK_E1, 0x48, 4), "pVSCtoVK_E1");
        out_.localeFlags = map_.u32(r + 0x50);
        out_.nLgMax = map_.u8(r + 0x54);
        out_.cbLgEntry = map_.u8(r + 0x55);
        decodeLigatures(r);
    }

private:
    std::string recordField(PointerRole role, std::uint32_t offset) const
    {
        return std::string(toString(role)) + " (record +" + hex(offset) + ")";
    }

    // Validates the pointer stored at siteRva, which must reach `size` bytes
    // inside one section, records the site and returns the target RVA.
    std::uint32_t follow(std::uint32_t siteRva, PointerRole role, std::size_t index, const std::string& what,
                         std::uint64_t size)
    {
        const std::uint64_t value = map_.u64(siteRva);
        if (value == 0)
            fail(ErrorKind::NullPointer, what + " at RVA " + hex(siteRva) + " is null");
        const std::uint64_t rva = value - out_.loadBase;
        const Section* s = value >= out_.loadBase ? map_.sectionAt(rva) : nullptr;
        if (!s)
            fail(ErrorKind::PointerOutsideImage, what + " points outside the image: " + hex(value));
        const std::uint64_t end = std::uint64_t{s->virtualAddress} + sectionExtent(*s);
        if (size > end - rva)
            fail(ErrorKind::PointerOutsideImage, what + " points to " + hex(value) + ", where " + hex(size) +
                                                     " bytes do not fit before the end of section " + s->name);
        out_.pointerSites.push_back({siteRva, value, static_cast<std::uint32_t>(rva),
                                     static_cast<std::uint32_t>(size), role, index});
        return static_cast<std::uint32_t>(rva);
    }

    std::uint32_t followRecord(std::uint32_t siteRva, PointerRole role, std::uint32_t offset, std::uint64_t size)
    {
        return follow(siteRva, role, 0, recordField(role, offset), size);
    }

    // A pointer the layout may leave null; non-null ones are still range-checked.
    bool checkOptional(std::uint32_t siteRva, PointerRole role, std::uint32_t offset)
    {
        if (map_.u64(siteRva) == 0) {
            out_.pointerSites.push_back({siteRva, 0, 0, 0, role, 0});
            return true;
        }
        followRecord(siteRva, role, offset, 0);
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
        const Section* s = map_.sectionAt(start);
        const std::uint32_t end = s->virtualAddress + sectionExtent(*s);
        std::uint32_t count = 0;
        for (std::uint32_t p = start;; p += entrySize, ++count) {
            if (entrySize > end - p)
                fail(ErrorKind::Unterminated, what + " at RVA " + hex(start) + " runs to the end of section " +
                                                  s->name + " (RVA " + hex(end) + ") without a terminator");
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
        m.maxModBits = map_.u16(rva + 8);
        if (m.maxModBits > 0xFF)
            fail(ErrorKind::BadCount, "wMaxModBits (modifier record +0x8 at RVA " + hex(rva + 8) + ") is " +
                                          std::to_string(m.maxModBits) + ", above the highest 8-bit combination");
        const Section* s = map_.sectionAt(rva);
        if (10u + m.maxModBits + 1 > s->virtualAddress + sectionExtent(*s) - rva)
            fail(ErrorKind::PointerOutsideImage, "ModNumber (modifier record +0xA at RVA " + hex(rva + 10) + ", " +
                                                     std::to_string(m.maxModBits + 1) +
                                                     " entries) runs past the end of section " + s->name);
        out_.pointerSites.back().targetSize = 10u + m.maxModBits + 1;
        for (unsigned i = 0; i <= m.maxModBits; ++i)
            m.modNumber.push_back(map_.u8(rva + 10 + i));

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
        const std::uint32_t n = countList(list, 16, "pVkToWcharTable list", [&](std::uint32_t p) { return map_.u64(p) == 0; });
        for (std::uint32_t t = 0; t < n; ++t) {
            CharTable table;
            table.entryRva = list + 16 * t;
            table.nModifications = map_.u8(table.entryRva + 8);
            table.cbSize = map_.u8(table.entryRva + 9);
            const std::string where = "character table " + std::to_string(t + 1) + " (entry at RVA " +
                                      hex(table.entryRva) + ")";
            if (table.nModifications == 0 || table.cbSize != 2 + 2 * table.nModifications)
                fail(ErrorKind::BadCount, where + ": cbSize " + std::to_string(table.cbSize) + " with nModifications " +
                                              std::to_string(table.nModifications) + ", expected cbSize " +
                                              std::to_string(2 + 2 * table.nModifications) +
                                              " and at least one modification");
            table.rowsRva = follow(table.entryRva, PointerRole::CharTableRows, t, "pVkToWchars of " + where,
                                   table.cbSize);
            const std::uint32_t rows = countList(table.rowsRva, table.cbSize, "rows of " + where,
                                                 [&](std::uint32_t p) { return map_.u8(p) == 0; });
            for (std::uint32_t i = 0; i < rows; ++i)
                table.rows.push_back(readRow(table.rowsRva + table.cbSize * i, table.nModifications));
            out_.charTables.push_back(std::move(table));
        }
    }

    std::vector<KeyName> decodeKeyNames(std::uint32_t list, PointerRole stringRole, const std::string& what)
    {
        const std::uint32_t n = countList(list, 16, what + " list", [&](std::uint32_t p) {
            return map_.u8(p) == 0 && map_.u64(p + 8) == 0;
        });
        std::vector<KeyName> names;
        for (std::uint32_t i = 0; i < n; ++i) {
            KeyName k{map_.u8(list + 16 * i), list + 16 * i, 0, {}};
            const std::string entry = "string of " + what + " entry " + std::to_string(i) + " (scan code " +
                                      hex(k.scanCode) + ")";
            k.stringRva = follow(k.entryRva + 8, stringRole, i, entry, 2);
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
        if (map_.u64(record + 0x58) == 0) {
            out_.pointerSites.push_back({record + 0x58, 0, 0, 0, PointerRole::Ligature, 0});
            return;
        }
        if (out_.cbLgEntry != 4 + 2 * out_.nLgMax)
            fail(ErrorKind::BadCount, "cbLgEntry (record +0x55) is " + std::to_string(out_.cbLgEntry) +
                                          ", expected " + std::to_string(4 + 2 * out_.nLgMax) + " for nLgMax " +
                                          std::to_string(out_.nLgMax));
        const std::uint32_t list = followRecord(record + 0x58, PointerRole::Ligature, 0x58, out_.cbLgEntry);
        const std::uint32_t n = countList(list, out_.cbLgEntry, "pLigature list", [&](std::uint32_t p) { return map_.u8(p) == 0; });
        for (std::uint32_t i = 0; i < n; ++i)
            out_.ligatures.push_back(readLigature(list + out_.cbLgEntry * i));
    }

    Layout& out_;
    const ImageMap& map_;
};

} // namespace

Layout readLayout(std::span<const std::uint8_t> file, std::optional<std::uint64_t> loadBase)
{
    const FileView view(file);
    Layout layout;
    layout.pe = parseHeaders(view);
    layout.loadBase = loadBase.value_or(layout.pe.imageBase);
    if (layout.loadBase % 0x10000 != 0 ||
        layout.loadBase > std::numeric_limits<std::uint64_t>::max() - layout.pe.sizeOfImage)
        throw std::invalid_argument("load base " + hex(layout.loadBase) +
                                    " is not 64 KiB aligned or leaves no room for the image");
    mapSections(file, layout.pe, layout.image);
    ImageMap map(layout.image, layout.pe);
    applyRelocations(map, layout.pe, layout.loadBase);
    layout.descriptorRva = readExports(map, layout.pe);
    layout.tablesRva = decodeDescriptor(map, layout.descriptorRva);
    TableDecoder(layout, map).decode();
    return layout;
}

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail(ErrorKind::FileUnreadable, "cannot open " + path.string());
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        fail(ErrorKind::FileUnreadable, "cannot read " + path.string());
    return bytes;
}

Layout readLayout(const std::filesystem::path& path, std::optional<std::uint64_t> loadBase)
{
    const std::vector<std::uint8_t> bytes = readFileBytes(path);
    return readLayout(std::span<const std::uint8_t>(bytes), loadBase);
}

std::uint32_t computePeChecksum(std::span<const std::uint8_t> file)
{
    const FileView view(file);
    const std::uint64_t field = locatePeHeader(view) + 4ull + 20 + 64;
    view.require(field, 4, "CheckSum field");
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2) {
        if (i >= field && i < field + 4)
            continue;
        sum += i + 1 < file.size() ? le16(&file[i]) : file[i];
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + file.size());
}

// ---------------------------------------------------------------------------
// The loader's published lookups.

std::optional<std::uint16_t> Layout::mapScanCode(std::uint8_t scanCode, Prefix prefix) const
{
    if (prefix == Prefix::None) {
        if (scanCode < scanCodeMap.size())
            return scanCodeMap[scanCode];
        return std::nullopt;
    }
    for (const ScanCodePair& pair : prefix == Prefix::E0 ? e0 : e1)
        if (pair.scanCode == scanCode)
            return pair.value;
    return std::nullopt;
}

std::optional<unsigned> Layout::column(unsigned modBits) const
{
    if (modBits > modifiers.maxModBits || modBits >= modifiers.modNumber.size())
        return std::nullopt;
    const std::uint8_t number = modifiers.modNumber[modBits];
    if (number == kShiftInvalid)
        return std::nullopt;
    return number;
}

const CharTable* Layout::tableFor(std::uint8_t virtualKey) const
{
    for (const CharTable& table : charTables)
        for (const CharRow& row : table.rows)
            if (row.virtualKey == virtualKey)
                return &table;
    return nullptr;
}

KeyResult Layout::characters(std::uint8_t virtualKey, unsigned modBits) const
{
    const CharTable* table = tableFor(virtualKey);
    const std::optional<unsigned> col = column(modBits);
    if (!table || !col || *col >= table->nModifications)
        return {};
    const auto row = std::find_if(table->rows.begin(), table->rows.end(),
                                  [&](const CharRow& r) { return r.virtualKey == virtualKey; });
    const std::uint16_t cell = row->cells[*col];
    switch (cell) {
    case kWchNone: return {};
    case kWchDead: return {KeyOutcome::Dead, {}};
    case kWchLigature:
        for (const LigatureRow& lig : ligatures) {
            if (lig.virtualKey != virtualKey || lig.modificationNumber != *col)
                continue;
            KeyResult result{KeyOutcome::Characters, {}};
            for (std::uint16_t unit : lig.cells) {
                if (unit == kWchNone)
                    break;
                result.characters.push_back(static_cast<char16_t>(unit));
            }
            return result;
        }
        return {KeyOutcome::MissingLigature, {}};
    default: return {KeyOutcome::Characters, std::u16string(1, static_cast<char16_t>(cell))};
    }
}

} // namespace kbdread
