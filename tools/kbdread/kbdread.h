// kbdread: reads a 64-bit keyboard-layout library file the way the Windows
// loaders do, without running it.
//
// readLayout() parses the PE32+ image, maps its sections into an image buffer,
// applies the base relocations for a chosen load base, finds the
// KbdLayerDescriptor export, decodes its code to the KBDTABLES record and
// decodes every table reachable from it. The result is plain data (Layout)
// plus the loader's published lookups: scan code -> virtual key, modifier
// bits -> column, virtual key + modifier bits -> characters.
//
// All addresses in the result are RVAs (offsets from the load base) unless a
// field says otherwise. Pointer *values* are as stored in the image after
// relocation, i.e. absolute addresses for the chosen load base.
//
// Nothing is trusted: every header field is bounded by the file size, every
// pointer must land inside one section with room for what it points to, every
// list and string must end inside the section it starts in. Any violation
// throws ReadError naming the field and where it is; no input crashes the
// reader or makes it loop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kbdread {

// What went wrong, for callers (and tests) that must tell failures apart.
enum class ErrorKind {
    FileUnreadable,      // the file could not be opened or read
    NotPe,               // no "MZ" header or no "PE\0\0" signature
    NotPe32Plus,         // a PE image, but not PE32+ (e.g. a 32-bit PE32 header)
    Truncated,           // a header or section's file data runs past the end of the file
    BadHeader,           // a header field is inconsistent (sizes, counts, alignment)
    BadSection,          // a section lies outside the image or overlaps another
    BadRelocation,       // a relocation block or entry is malformed or out of range
    MissingExport,       // no export directory, or no KbdLayerDescriptor name in it
    BadExportCode,       // the export is not `lea rax,[rip+disp32]; ret`
    NullPointer,         // a pointer the loader follows is null
    PointerOutsideImage, // a pointer leaves the image or its section, or its record does not fit
    Unterminated,        // a list or string runs off the end of its section
    BadCount,            // a count or row size contradicts the format
};

// Human-readable name of an ErrorKind ("PointerOutsideImage", ...).
const char* toString(ErrorKind kind);

class ReadError : public std::runtime_error {
public:
    ReadError(ErrorKind kind, const std::string& message);
    ErrorKind kind() const noexcept { return kind_; }

private:
    ErrorKind kind_;
};

// ---------------------------------------------------------------------------
// PE facts, as stored in the file.

struct Section {
    std::string name;              // up to 8 characters, trailing NULs dropped
    std::uint32_t virtualAddress;  // RVA
    std::uint32_t virtualSize;
    std::uint32_t rawOffset;       // PointerToRawData
    std::uint32_t rawSize;         // SizeOfRawData
    std::uint32_t characteristics; // IMAGE_SCN_* flags
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

// One base relocation entry. Type 0 (padding) entries are listed too.
struct Relocation {
    std::uint32_t rva;
    std::uint8_t type; // 10 = IMAGE_REL_BASED_DIR64, 3 = HIGHLOW, 0 = ABSOLUTE
};
inline constexpr std::uint8_t kRelocAbsolute = 0;
inline constexpr std::uint8_t kRelocHighLow = 3;
inline constexpr std::uint8_t kRelocDir64 = 10;

struct ExportName {
    std::string name;
    std::uint16_t ordinalIndex; // index into ExportDirectory::functionRvas
};

struct ExportDirectory {
    bool present = false;
    std::string moduleName;
    std::uint32_t ordinalBase = 0;
    std::vector<std::uint32_t> functionRvas; // Address table, in ordinal order
    std::vector<ExportName> names;           // Name table, in stored order
};

struct PeInfo {
    std::uint16_t machine = 0;           // 0x8664 for x86-64
    std::uint16_t characteristics = 0;   // IMAGE_FILE_* flags
    std::uint32_t timeDateStamp = 0;
    std::uint16_t optionalMagic = 0;     // 0x20B for PE32+
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
    std::uint32_t checksumOffset = 0;    // file offset of the CheckSum field
    std::uint16_t subsystem = 0;         // 1 = native
    std::uint16_t dllCharacteristics = 0;
    std::vector<DataDirectory> dataDirectories; // NumberOfRvaAndSizes entries (at most 16)
    std::vector<Section> sections;               // in section-table order
    std::vector<Relocation> relocations;         // in file order
    ExportDirectory exports;

    bool hasImports() const
    {
        return dataDirectories.size() > kImportDirectory &&
               (dataDirectories[kImportDirectory].rva != 0 ||
                dataDirectories[kImportDirectory].size != 0);
    }
};

// ---------------------------------------------------------------------------
// Every pointer the reader found in the tables, so relocation coverage and
// null-ness can be checked. Null pointers of the record (pDeadKey,
// pKeyNamesDead) are listed too, with value 0 and targetRva 0.

enum class PointerRole {
    CharModifiers,    // KBDTABLES.pCharModifiers
    VkToWcharTable,   // KBDTABLES.pVkToWcharTable
    DeadKey,          // KBDTABLES.pDeadKey
    KeyNames,         // KBDTABLES.pKeyNames
    KeyNamesExt,      // KBDTABLES.pKeyNamesExt
    KeyNamesDead,     // KBDTABLES.pKeyNamesDead
    VSCtoVK,          // KBDTABLES.pusVSCtoVK
    VSCtoVK_E0,       // KBDTABLES.pVSCtoVK_E0
    VSCtoVK_E1,       // KBDTABLES.pVSCtoVK_E1
    Ligature,         // KBDTABLES.pLigature
    VkToBit,          // MODIFIERS.pVkToBit
    CharTableRows,    // VK_TO_WCHAR_TABLE.pVkToWchars (index = table position)
    KeyNameString,    // VSC_LPWSTR.pwsz in pKeyNames (index = entry position)
    KeyNameExtString, // VSC_LPWSTR.pwsz in pKeyNamesExt (index = entry position)
};

const char* toString(PointerRole role);

struct PointerSite {
    std::uint32_t siteRva;   // where the 8-byte pointer is stored
    std::uint64_t value;     // the stored value (after relocation to the load base)
    std::uint32_t targetRva; // value - load base; 0 for a null pointer
    std::uint32_t targetSize;// bytes read through it (whole list incl. terminator, string incl. NUL)
    PointerRole role;
    std::size_t index;       // position for per-entry roles, else 0
    std::uint32_t entrySize = 0; // for a list or string: bytes per entry, the last entry being its terminator
    bool isNull() const { return value == 0; }
};

// ---------------------------------------------------------------------------
// The decoded tables. Lists hold their entries without the terminator; the
// pointer site of each list gives where its terminator lies, so that the
// rest of that entry can be checked for zero.

struct VkToBit {
    std::uint8_t virtualKey;
    std::uint8_t modBits;
};

struct Modifiers {
    std::uint32_t rva = 0;
    std::vector<VkToBit> vkToBit;   // up to the entry whose virtual key is 0
    std::uint16_t maxModBits = 0;   // wMaxModBits
    std::vector<std::uint8_t> modNumber; // wMaxModBits + 1 entries
};

inline constexpr std::uint8_t kShiftInvalid = 0x0F; // SHFT_INVALID in ModNumber

inline constexpr std::uint16_t kWchNone = 0xF000;
inline constexpr std::uint16_t kWchDead = 0xF001;
inline constexpr std::uint16_t kWchLigature = 0xF002;

struct CharRow {
    std::uint32_t rva = 0;
    std::uint8_t virtualKey = 0;
    std::uint8_t attributes = 0;
    std::vector<std::uint16_t> cells; // nModifications raw cells
};

struct CharTable {
    std::uint32_t entryRva = 0;     // the VK_TO_WCHAR_TABLE entry
    std::uint32_t rowsRva = 0;
    std::uint8_t nModifications = 0;
    std::uint8_t cbSize = 0;
    std::vector<CharRow> rows;      // up to the row whose virtual key is 0
};

struct LigatureRow {
    std::uint32_t rva = 0;
    std::uint8_t virtualKey = 0;
    std::uint8_t padding = 0;               // the byte after the virtual key
    std::uint16_t modificationNumber = 0;   // the column
    std::vector<std::uint16_t> cells;       // nLgMax raw cells
};

struct ScanCodePair {
    std::uint8_t scanCode;
    std::uint8_t padding;   // the byte after the scan code
    std::uint16_t value;    // virtual key (low byte) and flags (high byte)
};

struct KeyName {
    std::uint8_t scanCode;
    std::uint32_t entryRva;
    std::uint32_t stringRva;
    std::u16string text;
};

enum class Prefix { None, E0, E1 };

// What a virtual key types with some modifiers held.
enum class KeyOutcome {
    Nothing,          // no table, no column, column beyond the table, or WCH_NONE
    Characters,       // `characters` holds one or more code units
    Dead,             // the cell is WCH_DEAD
    MissingLigature,  // WCH_LGTR but no ligature row for the key and column
};

struct KeyResult {
    KeyOutcome outcome = KeyOutcome::Nothing;
    std::u16string characters;
};

struct Layout {
    PeInfo pe;
    std::uint64_t loadBase = 0;       // the base the image was relocated to
    std::vector<std::uint8_t> image;  // the mapped, relocated image (sizeOfImage bytes)

    std::uint32_t descriptorRva = 0;  // KbdLayerDescriptor's code
    std::uint32_t tablesRva = 0;      // the KBDTABLES record

    Modifiers modifiers;
    std::vector<CharTable> charTables;  // in list order
    bool deadKeyNull = true;            // pDeadKey
    bool keyNamesDeadNull = true;       // pKeyNamesDead
    std::vector<KeyName> keyNames;      // pKeyNames
    std::vector<KeyName> keyNamesExt;   // pKeyNamesExt
    std::uint8_t maxScanCode = 0;       // bMaxVSCtoVK
    std::vector<std::uint16_t> scanCodeMap; // pusVSCtoVK, bMaxVSCtoVK entries
    std::vector<ScanCodePair> e0;       // pVSCtoVK_E0, up to the all-zero pair
    std::vector<ScanCodePair> e1;       // pVSCtoVK_E1, up to the all-zero pair
    std::uint32_t localeFlags = 0;      // fLocaleFlags
    std::uint8_t nLgMax = 0;
    std::uint8_t cbLgEntry = 0;
    std::vector<LigatureRow> ligatures; // up to the row whose virtual key is 0

    std::vector<PointerSite> pointerSites; // in the order the reader followed them

    // Scan code (with prefix) -> 16-bit map value, or nullopt when the scan
    // code has no entry (plain: >= bMaxVSCtoVK; E0/E1: not in the list).
    std::optional<std::uint16_t> mapScanCode(std::uint8_t scanCode, Prefix prefix) const;

    // Modifier bits -> column, or nullopt when the bits are above
    // wMaxModBits or ModNumber gives SHFT_INVALID.
    std::optional<unsigned> column(unsigned modBits) const;

    // Virtual key + modifier bits -> what is typed: the first table (in list
    // order) with a row for the key decides; WCH_LGTR follows the ligature
    // row for the key and column, up to nLgMax cells, stopping at WCH_NONE.
    KeyResult characters(std::uint8_t virtualKey, unsigned modBits) const;

    // The first table with a row for the key, or nullptr.
    const CharTable* tableFor(std::uint8_t virtualKey) const;
};

// Read a layout library. `loadBase` defaults to the image's preferred base;
// another base applies the image's relocations for it. A base that is not
// 64 KiB aligned (the loader never picks one), or that leaves no room for the
// image below 2^64, throws std::invalid_argument; every fault of the file
// throws ReadError.
Layout readLayout(std::span<const std::uint8_t> file, std::optional<std::uint64_t> loadBase = {});
Layout readLayout(const std::filesystem::path& path, std::optional<std::uint64_t> loadBase = {});

// The whole file; throws ReadError(FileUnreadable).
std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path);

// The PE checksum as the image loader computes it: 16-bit one's-complement
// style sum of the file with the CheckSum field taken as 0, plus the file
// length. Throws ReadError(NotPe/Truncated) when the file has no PE header.
std::uint32_t computePeChecksum(std::span<const std::uint8_t> file);

} // namespace kbdread
