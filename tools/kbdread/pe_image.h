// The PE image of a layout library as the Windows image loader sees it:
// headers, sections, base relocations, the export directory and the
// checksum. Nothing here knows about keyboard layouts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "layout_forms.h"
#include "read_error.h"

namespace kbdread {

using layout_forms::kMachineAmd64;
using layout_forms::kMachineArm64;
using layout_forms::kMachineI386;

inline constexpr std::uint16_t kPe32Magic = 0x10B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;

struct Section {
    std::string name;              // up to 8 characters, trailing NULs dropped
    std::uint32_t virtualAddress;  // RVA
    std::uint32_t virtualSize;
    std::uint32_t rawOffset;       // PointerToRawData
    std::uint32_t rawSize;         // SizeOfRawData
    std::uint32_t characteristics; // IMAGE_SCN_* flags

    // The loader maps a section over its virtual size, or its raw size when that is 0.
    std::uint32_t extent() const { return virtualSize != 0 ? virtualSize : rawSize; }
    std::uint64_t end() const { return std::uint64_t{virtualAddress} + extent(); }
};

struct DataDirectory {
    std::uint32_t rva;
    std::uint32_t size;
};

// Data directory indices used by callers.
inline constexpr std::size_t kExportDirectory = 0;
inline constexpr std::size_t kImportDirectory = 1;
inline constexpr std::size_t kResourceDirectory = 2;
inline constexpr std::size_t kBaseRelocationDirectory = 5;
inline constexpr std::size_t kBoundImportDirectory = 11;
inline constexpr std::size_t kDelayImportDirectory = 13;

// One base relocation entry. Type 0 (padding) entries are listed too.
struct Relocation {
    std::uint32_t rva;
    std::uint8_t type; // 10 = IMAGE_REL_BASED_DIR64, 3 = HIGHLOW, 0 = ABSOLUTE
    std::uint32_t entryRva; // where the entry itself is stored
};
inline constexpr std::uint8_t kRelocAbsolute = 0;
inline constexpr std::uint8_t kRelocHighLow = 3;
inline constexpr std::uint8_t kRelocDir64 = 10;

struct ExportName {
    std::string name;
    std::uint16_t ordinalIndex; // index into ExportDirectory::functionRvas
    std::uint32_t nameRva;      // where the name's text is stored
};

struct ExportDirectory {
    bool present = false;
    std::string moduleName;
    std::uint32_t ordinalBase = 0;
    std::vector<std::uint32_t> functionRvas; // Address table, in ordinal order
    std::vector<ExportName> names;           // Name table, in stored order
};

struct PeInfo {
    std::uint16_t machine = 0;           // kMachine*
    std::uint16_t characteristics = 0;   // IMAGE_FILE_* flags
    std::uint32_t timeDateStamp = 0;
    std::uint16_t optionalMagic = 0;     // kPe32Magic or kPe32PlusMagic
    std::uint64_t imageBase = 0;         // preferred base
    std::uint32_t entryPointRva = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::uint16_t osVersionMajor = 0, osVersionMinor = 0;
    std::uint16_t imageVersionMajor = 0, imageVersionMinor = 0;
    std::uint16_t subsystemVersionMajor = 0, subsystemVersionMinor = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t checksumStored = 0;    // CheckSum field as in the file
    std::uint16_t subsystem = 0;         // 1 = native
    std::uint16_t dllCharacteristics = 0;
    std::vector<DataDirectory> dataDirectories; // NumberOfRvaAndSizes entries (at most 16)
    std::vector<Section> sections;               // in section-table order
    std::vector<Relocation> relocations;         // in file order
    ExportDirectory exports;

    // File offsets of the header fields that reports point at.
    std::uint32_t optionalHeaderOffset = 0;
    std::uint32_t checksumOffset = 0;
    std::uint32_t dataDirectoriesOffset = 0;
    std::uint32_t sectionTableOffset = 0;
    std::uint32_t machineOffset() const { return optionalHeaderOffset - 20; }
    std::uint32_t entryPointOffset() const { return optionalHeaderOffset + 16; }
    std::uint32_t dataDirectoryOffset(std::size_t index) const
    {
        return dataDirectoriesOffset + 8 * static_cast<std::uint32_t>(index);
    }
    std::uint32_t sectionHeaderOffset(std::size_t index) const
    {
        return sectionTableOffset + 40 * static_cast<std::uint32_t>(index);
    }

    // The directory, or nullptr when it is absent or all zero.
    const DataDirectory* directory(std::size_t index) const;
    bool hasImports() const { return directory(kImportDirectory) != nullptr; }
    // The section an RVA lies in, or nullptr.
    const Section* sectionAt(std::uint64_t rva) const;
    // Where the byte at an RVA is stored in the file, or nullopt when the
    // loader fills it with zeros.
    std::optional<std::uint32_t> fileOffsetOf(std::uint64_t rva) const;
    // A problem at an RVA, with the file offset filled in.
    Problem at(std::uint64_t rva, std::string message) const;
};

// The headers, bounded by the file size. Throws ReadError.
PeInfo parseHeaders(ByteView file);

// The image as the loader maps it, with bounds-checked access by RVA.
class ImageMap {
public:
    ImageMap(std::vector<std::uint8_t>& image, const PeInfo& pe) : image_(image), pe_(pe) {}

    const PeInfo& pe() const { return pe_; }
    ByteView bytes() const { return ByteView(image_); }
    bool fits(std::uint64_t rva, std::uint64_t size) const { return bytes().fits(rva, size); }
    std::uint8_t u8(std::uint32_t rva) const { return image_[rva]; }
    std::uint16_t u16(std::uint32_t rva) const { return bytes().u16(rva); }
    std::uint32_t u32(std::uint32_t rva) const { return bytes().u32(rva); }
    std::uint64_t u64(std::uint32_t rva) const { return bytes().u64(rva); }
    std::uint8_t* at(std::uint32_t rva) { return &image_[rva]; }

    // Throws ReadError(kind) at `rva` unless `size` bytes from it lie inside
    // one section; returns that section.
    const Section& requireInSection(std::uint64_t rva, std::uint64_t size, ErrorKind kind,
                                    const std::string& what) const;

    // A zero-terminated byte string that must end inside the section it starts in.
    std::string cString(std::uint32_t rva, const std::string& what) const;

private:
    std::vector<std::uint8_t>& image_;
    const PeInfo& pe_;
};

// SizeOfImage bytes: the headers and every section's file data at its RVA.
std::vector<std::uint8_t> mapImage(std::span<const std::uint8_t> file, const PeInfo& pe);

// Applies the base relocations for `loadBase` and lists them in pe.relocations.
void applyRelocations(ImageMap& map, PeInfo& pe, std::uint64_t loadBase);

// The name the loader looks up, and the names compilers make of it.
inline constexpr const char* kDescriptorExport = "KbdLayerDescriptor";
// The far-east extension a layout may export as well.
inline constexpr const char* kNlsDescriptorExport = "KbdNlsLayerDescriptor";
// Whether `name` is the export `exported` with a calling convention's
// decoration ("_KbdLayerDescriptor", "_KbdNlsLayerDescriptor@0").
bool isDecoratedName(std::string_view name, std::string_view exported);

// Reads the export directory into pe.exports and returns the RVA of
// KbdLayerDescriptor's code (exportedCode); throws ReadError(MissingExport)
// when there is none.
std::uint32_t readExports(const ImageMap& map, PeInfo& pe);

// The RVA of the code an export of pe.exports names: under its plain name,
// or when only a decorated one exists, under that (a validator reports the
// decoration; a loader would find nothing); nullopt when there is neither.
// Throws ReadError(BadExportCode) when the export is a forwarder.
std::optional<std::uint32_t> exportedCode(const PeInfo& pe, const char* name);

// The whole file; throws ReadError(FileUnreadable).
std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path);

// The PE checksum as the image loader computes it: 16-bit one's-complement
// style sum of the file with the CheckSum field taken as 0, plus the file
// length. Throws ReadError(NotPe/Truncated) when the file has no PE header.
std::uint32_t computePeChecksum(std::span<const std::uint8_t> file);

} // namespace kbdread
