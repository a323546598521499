#include "pe_image.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace kbdread {

const char* toString(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::FileUnreadable: return "FileUnreadable";
    case ErrorKind::NotPe: return "NotPe";
    case ErrorKind::UnsupportedMachine: return "UnsupportedMachine";
    case ErrorKind::FormMismatch: return "FormMismatch";
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
    case ErrorKind::BadResource: return "BadResource";
    }
    return "?";
}

ReadError::ReadError(ErrorKind kind, Problem problem)
    : std::runtime_error(problem.message), kind_(kind), problem_(std::move(problem))
{
}

namespace {

[[noreturn]] void fail(ErrorKind kind, Problem problem)
{
    throw ReadError(kind, std::move(problem));
}

[[noreturn]] void failAtOffset(ErrorKind kind, std::uint64_t offset, std::string message)
{
    fail(kind, {"", static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(offset), std::move(message)});
}

// Upper bound on SizeOfImage: a layout library is a few kilobytes, and a
// damaged header must not make the reader allocate gigabytes.
constexpr std::uint32_t kMaxImageSize = 64u << 20;
constexpr std::uint16_t kMaxSections = 96; // the loader's own limit
constexpr std::uint32_t kSectionHeaderSize = 40;

// The optional header's two shapes differ in ImageBase and where the data
// directories start.
struct OptionalHeaderShape {
    std::uint32_t imageBaseOffset;
    unsigned imageBaseWidth;
    std::uint32_t directoryCountOffset; // NumberOfRvaAndSizes; the directories follow it
};
constexpr OptionalHeaderShape kPe32Shape{28, 4, 92};
constexpr OptionalHeaderShape kPe32PlusShape{24, 8, 108};

// Bounds-checked reads of the file's headers; running off the end means the
// file was cut short.
class FileReader {
public:
    explicit FileReader(ByteView bytes) : bytes_(bytes) {}

    void require(std::uint64_t offset, std::uint64_t size, const std::string& what) const
    {
        if (!bytes_.fits(offset, size))
            failAtOffset(ErrorKind::Truncated, std::min<std::uint64_t>(offset, bytes_.size()),
                         what + " at file offset " + hex(offset) + " (" + hex(size) +
                             " bytes) runs past the end of the file (size " + hex(bytes_.size()) + ")");
    }
    std::uint64_t field(std::uint64_t offset, unsigned width, const std::string& what) const
    {
        require(offset, width, what);
        return bytes_.unsignedAt(offset, width);
    }
    std::uint16_t u16(std::uint64_t offset, const std::string& what) const
    {
        return static_cast<std::uint16_t>(field(offset, 2, what));
    }
    std::uint32_t u32(std::uint64_t offset, const std::string& what) const
    {
        return static_cast<std::uint32_t>(field(offset, 4, what));
    }
    const ByteView& bytes() const { return bytes_; }

private:
    ByteView bytes_;
};

// Returns the file offset of the PE signature.
std::uint32_t locatePeHeader(const FileReader& file)
{
    if (!file.bytes().fits(0, 2) || file.bytes().u16(0) != 0x5A4D)
        failAtOffset(ErrorKind::NotPe, 0, "no MZ signature at file offset 0x0");
    const std::uint32_t peOffset = file.u32(0x3C, "DOS header e_lfanew");
    file.require(peOffset, 4, "PE signature (e_lfanew " + hex(peOffset) + ")");
    if (file.bytes().u32(peOffset) != 0x00004550)
        failAtOffset(ErrorKind::NotPe, peOffset, "no PE signature at file offset " + hex(peOffset) + " (e_lfanew)");
    return peOffset;
}

} // namespace

const DataDirectory* PeInfo::directory(std::size_t index) const
{
    if (index >= dataDirectories.size())
        return nullptr;
    const DataDirectory& d = dataDirectories[index];
    return d.rva == 0 && d.size == 0 ? nullptr : &d;
}

const Section* PeInfo::sectionAt(std::uint64_t rva) const
{
    for (const Section& s : sections)
        if (rva >= s.virtualAddress && rva < s.end())
            return &s;
    return nullptr;
}

std::optional<std::uint32_t> PeInfo::fileOffsetOf(std::uint64_t rva) const
{
    if (rva < sizeOfHeaders)
        return static_cast<std::uint32_t>(rva);
    for (const Section& s : sections)
        if (rva >= s.virtualAddress && rva - s.virtualAddress < std::min(s.rawSize, s.extent()))
            return static_cast<std::uint32_t>(s.rawOffset + (rva - s.virtualAddress));
    return std::nullopt;
}

Problem PeInfo::at(std::uint64_t rva, std::string message) const
{
    if (rva > UINT32_MAX)
        return {"", std::nullopt, std::nullopt, std::move(message)};
    return {"", static_cast<std::uint32_t>(rva), fileOffsetOf(rva), std::move(message)};
}

PeInfo parseHeaders(ByteView bytes)
{
    const FileReader file(bytes);
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
    pe.optionalHeaderOffset = static_cast<std::uint32_t>(opt);
    pe.optionalMagic = file.u16(opt, "optional header Magic");
    if (pe.optionalMagic != kPe32Magic && pe.optionalMagic != kPe32PlusMagic)
        failAtOffset(ErrorKind::UnsupportedMachine, opt,
                     "optional header Magic at file offset " + hex(opt) + " is " + hex(pe.optionalMagic) +
                         ", neither PE32 (0x10B) nor PE32+ (0x20B)");
    const OptionalHeaderShape shape = pe.optionalMagic == kPe32PlusMagic ? kPe32PlusShape : kPe32Shape;
    const std::uint32_t fixedSize = shape.directoryCountOffset + 4;
    if (optionalSize < fixedSize)
        failAtOffset(ErrorKind::BadHeader, coff + 16,
                     "SizeOfOptionalHeader " + hex(optionalSize) + " at file offset " + hex(coff + 16) +
                         " is smaller than the optional header's fixed part (" + hex(fixedSize) + ")");
    file.require(opt, optionalSize, "optional header");

    pe.entryPointRva = file.u32(opt + 16, "AddressOfEntryPoint");
    pe.imageBase = file.field(opt + shape.imageBaseOffset, shape.imageBaseWidth, "ImageBase");
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
    const std::uint64_t countField = opt + shape.directoryCountOffset;
    const std::uint32_t directoryCount = file.u32(countField, "NumberOfRvaAndSizes");
    pe.dataDirectoriesOffset = static_cast<std::uint32_t>(countField + 4);

    if (directoryCount > 16 || fixedSize + 8ull * directoryCount > optionalSize)
        failAtOffset(ErrorKind::BadHeader, countField,
                     "NumberOfRvaAndSizes " + hex(directoryCount) + " at file offset " + hex(countField) +
                         " does not fit SizeOfOptionalHeader " + hex(optionalSize));
    for (std::uint32_t i = 0; i < directoryCount; ++i)
        pe.dataDirectories.push_back({file.u32(pe.dataDirectoryOffset(i), "data directory RVA"),
                                      file.u32(pe.dataDirectoryOffset(i) + 4, "data directory size")});

    if (pe.sizeOfImage == 0 || pe.sizeOfImage > kMaxImageSize)
        failAtOffset(ErrorKind::BadHeader, opt + 56,
                     "SizeOfImage " + hex(pe.sizeOfImage) + " at file offset " + hex(opt + 56) +
                         " is zero or implausibly large");
    if (pe.sizeOfHeaders > pe.sizeOfImage)
        failAtOffset(ErrorKind::BadHeader, opt + 60,
                     "SizeOfHeaders " + hex(pe.sizeOfHeaders) + " exceeds SizeOfImage " + hex(pe.sizeOfImage));
    if (sectionCount > kMaxSections)
        failAtOffset(ErrorKind::BadHeader, coff + 2,
                     "NumberOfSections " + std::to_string(sectionCount) + " exceeds " + std::to_string(kMaxSections));

    pe.sectionTableOffset = static_cast<std::uint32_t>(opt + optionalSize);
    file.require(pe.sectionTableOffset, std::uint64_t{kSectionHeaderSize} * sectionCount, "section table");
    file.require(0, pe.sizeOfHeaders, "headers (SizeOfHeaders " + hex(pe.sizeOfHeaders) + ")");
    std::uint64_t previousEnd = pe.sizeOfHeaders;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint32_t h = pe.sectionHeaderOffset(i);
        Section s;
        const auto name = bytes.bytes().subspan(h, 8);
        s.name.assign(name.begin(), std::find(name.begin(), name.end(), 0));
        s.virtualSize = file.u32(h + 8, "VirtualSize");
        s.virtualAddress = file.u32(h + 12, "VirtualAddress");
        s.rawSize = file.u32(h + 16, "SizeOfRawData");
        s.rawOffset = file.u32(h + 20, "PointerToRawData");
        s.characteristics = file.u32(h + 36, "section Characteristics");
        const std::string where = "section " + std::to_string(i) + " (" + s.name + ")";
        if (s.virtualAddress < previousEnd)
            failAtOffset(ErrorKind::BadSection, h + 12,
                         where + " at RVA " + hex(s.virtualAddress) +
                             " overlaps the headers or the section before it (ends at " + hex(previousEnd) + ")");
        if (s.end() > pe.sizeOfImage)
            failAtOffset(ErrorKind::BadSection, h + 8,
                         where + " ends at RVA " + hex(s.end()) + ", beyond SizeOfImage " + hex(pe.sizeOfImage));
        if (s.rawSize != 0)
            file.require(s.rawOffset, s.rawSize, where + " raw data");
        previousEnd = s.end();
        pe.sections.push_back(s);
    }
    return pe;
}

const Section& ImageMap::requireInSection(std::uint64_t rva, std::uint64_t size, ErrorKind kind,
                                          const std::string& what) const
{
    const Section* s = pe_.sectionAt(rva);
    if (!s)
        fail(kind, pe_.at(rva, what + " at RVA " + hex(rva) + " is not inside any section"));
    if (size > s->end() - rva)
        fail(kind, pe_.at(rva, what + " at RVA " + hex(rva) + " (" + hex(size) +
                                   " bytes) runs past the end of section " + s->name));
    return *s;
}

std::string ImageMap::cString(std::uint32_t rva, const std::string& what) const
{
    const Section& s = requireInSection(rva, 0, ErrorKind::PointerOutsideImage, what);
    std::string text;
    for (std::uint64_t p = rva; p < s.end(); ++p) {
        if (image_[p] == 0)
            return text;
        text.push_back(static_cast<char>(image_[p]));
    }
    fail(ErrorKind::Unterminated, pe_.at(rva, what + " at RVA " + hex(rva) + " runs off the end of section " + s.name +
                                                  " (RVA " + hex(s.end()) + ") without a terminating NUL"));
}

std::vector<std::uint8_t> mapImage(std::span<const std::uint8_t> file, const PeInfo& pe)
{
    std::vector<std::uint8_t> image(pe.sizeOfImage, 0);
    std::copy_n(file.begin(), pe.sizeOfHeaders, image.begin());
    for (const Section& s : pe.sections) {
        const std::uint32_t size = std::min(s.rawSize, s.extent());
        std::copy_n(file.begin() + s.rawOffset, size, image.begin() + s.virtualAddress);
    }
    return image;
}

void applyRelocations(ImageMap& map, PeInfo& pe, std::uint64_t loadBase)
{
    const DataDirectory* dir = pe.directory(kBaseRelocationDirectory);
    if (!dir)
        return;
    if (!map.fits(dir->rva, dir->size))
        failAtOffset(ErrorKind::BadRelocation, pe.dataDirectoryOffset(kBaseRelocationDirectory),
                     "base relocation directory (RVA " + hex(dir->rva) + ", size " + hex(dir->size) +
                         ") lies outside the image");
    const std::uint64_t delta = loadBase - pe.imageBase; // wraps modulo 2^64, as the loader's does
    std::uint32_t block = dir->rva;
    const std::uint32_t end = dir->rva + dir->size;
    while (block < end) {
        if (end - block < 8)
            fail(ErrorKind::BadRelocation,
                 pe.at(block, "relocation block header at RVA " + hex(block) + " runs past the end of the directory"));
        const std::uint32_t page = map.u32(block);
        const std::uint32_t blockSize = map.u32(block + 4);
        if (blockSize < 8 || blockSize % 2 != 0 || blockSize > end - block)
            fail(ErrorKind::BadRelocation, pe.at(block + 4, "relocation block at RVA " + hex(block) +
                                                                " has SizeOfBlock " + hex(blockSize) +
                                                                " (directory ends at " + hex(end) + ")"));
        for (std::uint32_t e = block + 8; e < block + blockSize; e += 2) {
            const std::uint16_t entry = map.u16(e);
            const Relocation r{page + (entry & 0x0FFFu), static_cast<std::uint8_t>(entry >> 12), e};
            pe.relocations.push_back(r);
            const unsigned width = r.type == kRelocDir64 ? 8 : r.type == kRelocHighLow ? 4 : 0;
            if (r.type != kRelocAbsolute && width == 0)
                fail(ErrorKind::BadRelocation, pe.at(e, "relocation entry at RVA " + hex(e) + " has unsupported type " +
                                                            std::to_string(r.type)));
            if (width == 0)
                continue;
            if (!map.fits(r.rva, width))
                fail(ErrorKind::BadRelocation, pe.at(e, "relocation entry at RVA " + hex(e) + " targets RVA " +
                                                            hex(r.rva) + ", outside the image"));
            const std::uint64_t moved = map.bytes().unsignedAt(r.rva, width) + delta;
            for (unsigned i = 0; i < width; ++i)
                map.at(r.rva)[i] = static_cast<std::uint8_t>(moved >> (8 * i));
        }
        block += blockSize;
    }
}

bool isDecoratedName(std::string_view name, std::string_view exported)
{
    std::string_view bare = name;
    const bool underscore = bare.starts_with('_');
    if (underscore)
        bare.remove_prefix(1);
    const std::size_t at = bare.find('@');
    const bool suffix = at != std::string_view::npos &&
                        bare.find_first_not_of("0123456789", at + 1) == std::string_view::npos;
    if (suffix)
        bare = bare.substr(0, at);
    return (underscore || suffix) && bare == exported;
}

std::uint32_t readExports(const ImageMap& map, PeInfo& pe)
{
    const DataDirectory* dir = pe.directory(kExportDirectory);
    if (!dir)
        failAtOffset(ErrorKind::MissingExport, pe.dataDirectoryOffset(kExportDirectory),
                     "the image has no export directory");
    if (!map.fits(dir->rva, 40) || !pe.sectionAt(dir->rva))
        failAtOffset(ErrorKind::BadHeader, pe.dataDirectoryOffset(kExportDirectory),
                     "export directory at RVA " + hex(dir->rva) + " lies outside the image");
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
        fail(ErrorKind::BadHeader, pe.at(d + 28, "export address table (RVA " + hex(functions) + ", " +
                                                     std::to_string(functionCount) + " entries) lies outside the image"));
    if (!map.fits(names, 4ull * nameCount) || !map.fits(ordinals, 2ull * nameCount))
        fail(ErrorKind::BadHeader, pe.at(d + 32, "export name tables (RVA " + hex(names) + " and " + hex(ordinals) +
                                                     ", " + std::to_string(nameCount) +
                                                     " entries) lie outside the image"));
    for (std::uint32_t i = 0; i < functionCount; ++i)
        ex.functionRvas.push_back(map.u32(functions + 4 * i));
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        const std::uint32_t nameRva = map.u32(names + 4 * i);
        ExportName n{map.cString(nameRva, "export name " + std::to_string(i)), map.u16(ordinals + 2 * i), nameRva};
        if (n.ordinalIndex >= functionCount)
            fail(ErrorKind::BadHeader, pe.at(ordinals + 2 * i, "export name \"" + n.name + "\" has ordinal index " +
                                                                   std::to_string(n.ordinalIndex) + " beyond the " +
                                                                   std::to_string(functionCount) +
                                                                   " exported functions"));
        ex.names.push_back(std::move(n));
    }
    if (const std::optional<std::uint32_t> descriptor = exportedCode(pe, kDescriptorExport))
        return *descriptor;
    fail(ErrorKind::MissingExport, pe.at(names, "no export named KbdLayerDescriptor among the " +
                                                    std::to_string(nameCount) + " export names"));
}

std::optional<std::uint32_t> exportedCode(const PeInfo& pe, const char* name)
{
    const ExportName* exact = nullptr;
    const ExportName* decorated = nullptr;
    for (const ExportName& exported : pe.exports.names) {
        if (exported.name == name && !exact)
            exact = &exported;
        if (isDecoratedName(exported.name, name) && !decorated)
            decorated = &exported;
    }
    const ExportName* found = exact ? exact : decorated;
    if (!found)
        return std::nullopt;
    const std::uint32_t rva = pe.exports.functionRvas[found->ordinalIndex];
    // An address inside the export directory is a forwarder's text: the
    // export is another library's.
    const DataDirectory* dir = pe.directory(kExportDirectory);
    if (dir && rva >= dir->rva && rva < std::uint64_t{dir->rva} + dir->size)
        fail(ErrorKind::BadExportCode, pe.at(rva, std::string(name) + " (RVA " + hex(rva) + ") is a forwarder"));
    return rva;
}

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path)
{
    // A folder, a device or a pipe is no library file (and reading some of
    // them never ends).
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        const bool exists = std::filesystem::exists(path, error);
        fail(ErrorKind::FileUnreadable, {"", std::nullopt, std::nullopt,
                                         exists ? path.string() + " is not a regular file"
                                                : "cannot open " + path.string() + ": no such file"});
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail(ErrorKind::FileUnreadable, {"", std::nullopt, std::nullopt, "cannot open " + path.string()});
    try {
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.bad())
            return bytes;
    } catch (const std::ios_base::failure&) {
    }
    fail(ErrorKind::FileUnreadable, {"", std::nullopt, std::nullopt, "cannot read " + path.string()});
}

std::uint32_t computePeChecksum(std::span<const std::uint8_t> file)
{
    const FileReader reader{ByteView(file)};
    const std::uint64_t field = locatePeHeader(reader) + 4ull + 20 + 64;
    reader.require(field, 4, "CheckSum field");
    const ByteView bytes(file);
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2) {
        if (i >= field && i < field + 4)
            continue;
        sum += i + 1 < file.size() ? bytes.u16(i) : file[i];
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + file.size());
}

} // namespace kbdread
