// The plain layout model: the tables of a layout library as the reader
// found them, and the keyboard-layout loader's published lookups over them
// (scan code -> virtual key, modifier bits -> column, virtual key + modifier
// bits + Caps Lock -> characters or a dead key, dead key + base character
// -> composed character).
//
// All addresses are RVAs (offsets from the load base) unless a field says
// otherwise. Pointer *values* are as stored in the image after relocation,
// i.e. absolute addresses for the chosen load base.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "forms.h"
#include "pe_image.h"

namespace kbdread {

// ---------------------------------------------------------------------------
// Every pointer the reader found in the tables, so relocation coverage and
// null-ness can be checked. Null pointers the format allows (pDeadKey,
// pKeyNamesDead, pLigature, pVkToF, pusMouseVKey) are listed too, with
// value 0 and targetRva 0.

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
    DeadKeyNameString,// an entry of pKeyNamesDead (index = entry position)
    RecordAddress,    // the record's absolute address inside KbdLayerDescriptor's code (32-bit forms)
    NlsRecordAddress, // the KBDNLSTABLES address inside KbdNlsLayerDescriptor's code (32-bit forms)
    VkToF,            // KBDNLSTABLES.pVkToF
    MouseVKey,        // KBDNLSTABLES.pusMouseVKey
};

const char* toString(PointerRole role);

struct PointerSite {
    std::uint32_t siteRva;   // where the pointer is stored
    std::uint64_t value;     // the address it holds (after relocation to the load base)
    std::uint32_t targetRva; // value - load base; 0 for a null pointer
    std::uint32_t targetSize;// bytes read through it (whole list incl. terminator, string incl. NUL)
    PointerRole role;
    std::size_t index;       // position for per-entry roles, else 0
    std::uint32_t upperHalf = 0; // WOW64 form: the field's upper 32 bits, which must be zero
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

// VK_TO_WCHARS attributes.
inline constexpr std::uint8_t kCapLock = 0x01;     // CAPLOK: Caps Lock acts as Shift
inline constexpr std::uint8_t kSgCaps = 0x02;      // SGCAPS: with Caps Lock the next row's characters
inline constexpr std::uint8_t kCapLockAltGr = 0x04; // CAPLOKALTGR: Caps Lock acts as Shift with AltGr too
inline constexpr std::uint8_t kKanaLock = 0x08;    // KANALOK: the Kana key affects the key
inline constexpr std::uint8_t kGroupSelectTap = 0x80; // GRPSELTAP

// The virtual key of the row that carries the dead characters of the row
// before it, or its characters with Caps Lock (SGCAPS).
inline constexpr std::uint8_t kContinuationKey = 0xFF;

// DEADKEY.uFlags: the composed character is itself a dead key.
inline constexpr std::uint16_t kDeadKeyChained = 0x0001; // DKF_DEAD

struct CharRow {
    std::uint32_t rva = 0;
    std::uint8_t virtualKey = 0;
    std::uint8_t attributes = 0;
    std::vector<std::uint16_t> cells; // nModifications raw cells
    // The row (virtual key 0xFF) after a row with SGCAPS or a dead-key cell:
    // the loader reads it as that row's second half, never as a key's row.
    bool continuation = false;
    // Whether the loader reads the row after this one as its second half.
    bool hasContinuation() const;
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

// The first entry of a key-name list with scan code 0 that names follow, or
// nullopt. Readers that end the list at a zero scan code stop there and lose
// the names after it; readers that end it at a null string pointer read on.
std::optional<std::size_t> zeroScanCodeEntry(const std::vector<KeyName>& names);

// One DEADKEY entry: dwBoth holds the base character in its low word and
// the dead character (the accent) in its high word.
struct DeadKeyEntry {
    std::uint32_t rva = 0;
    char16_t base = 0;
    char16_t accent = 0;
    char16_t composed = 0;    // wchComposed
    std::uint16_t flags = 0;  // uFlags
};

// One entry of pKeyNamesDead: a string whose first unit is the dead
// character and whose rest is its name.
struct DeadKeyName {
    std::uint32_t entryRva = 0;
    std::uint32_t stringRva = 0;
    std::u16string text;
};

// VK_FPARAM: a far-east key function and its parameter.
struct FunctionParam {
    std::uint8_t index = 0;   // NLSFEProcIndex (KBDNLS_*)
    std::uint32_t param = 0;  // NLSFEProcParam
};

// VK_F: what a far-east key does in each modifier state.
struct VkFunction {
    std::uint32_t rva = 0;
    std::uint8_t virtualKey = 0;
    std::uint8_t procType = 0;    // NLSFEProcType
    std::uint8_t procCurrent = 0; // NLSFEProcCurrent
    std::uint8_t procSwitch = 0;  // NLSFEProcSwitch
    std::array<FunctionParam, 8> proc{};    // NLSFEProc
    std::array<FunctionParam, 8> procAlt{}; // NLSFEProcAlt
};

// KBDNLSTABLES, the far-east extension a layout may export through
// KbdNlsLayerDescriptor.
struct NlsTables {
    std::uint32_t descriptorRva = 0;  // KbdNlsLayerDescriptor's code
    std::uint32_t rva = 0;            // the record
    std::uint16_t oemIdentifier = 0;
    std::uint16_t layoutInformation = 0;
    std::vector<VkFunction> vkToF;          // NumOfVkToF entries
    bool mouseVKeyNull = true;              // pusMouseVKey: null means the system's default
    std::vector<std::uint16_t> mouseVKeys;  // NumOfMouseVKey entries
};

enum class Prefix { None, E0, E1 };

// What a virtual key types with some modifiers held.
enum class KeyOutcome {
    Nothing,          // no table, no column, column beyond the table, or WCH_NONE
    Characters,       // `characters` holds one or more code units
    Dead,             // the cell is WCH_DEAD; `characters` holds the dead character, if the row has its second half
    MissingLigature,  // WCH_LGTR but no ligature row for the key and column
};

struct KeyResult {
    KeyOutcome outcome = KeyOutcome::Nothing;
    std::u16string characters;
};

struct Layout {
    PeInfo pe;
    Form form = Form::X64;            // how the tables were read
    bool formForced = false;          // given by the caller rather than detected
    std::uint64_t loadBase = 0;       // the base the image was relocated to
    std::vector<std::uint8_t> image;  // the mapped, relocated image (sizeOfImage bytes)

    std::uint32_t descriptorRva = 0;  // KbdLayerDescriptor's code
    std::uint32_t tablesRva = 0;      // the KBDTABLES record

    const FormDescription& description() const { return describe(form); }

    Modifiers modifiers;
    std::vector<CharTable> charTables;  // in list order
    bool deadKeyNull = true;            // pDeadKey
    std::vector<DeadKeyEntry> deadKeys; // pDeadKey, up to the entry whose dwBoth is 0
    bool keyNamesDeadNull = true;       // pKeyNamesDead
    std::vector<DeadKeyName> deadKeyNames; // pKeyNamesDead, up to the null entry
    std::vector<KeyName> keyNames;      // pKeyNames, up to the entry whose scan code and pointer are 0
    std::vector<KeyName> keyNamesExt;   // pKeyNamesExt, likewise
    std::uint8_t maxScanCode = 0;       // bMaxVSCtoVK
    std::vector<std::uint16_t> scanCodeMap; // pusVSCtoVK, bMaxVSCtoVK entries
    std::vector<ScanCodePair> e0;       // pVSCtoVK_E0, up to the all-zero pair
    std::vector<ScanCodePair> e1;       // pVSCtoVK_E1, up to the all-zero pair
    std::uint32_t localeFlags = 0;      // fLocaleFlags
    std::uint8_t nLgMax = 0;
    std::uint8_t cbLgEntry = 0;
    std::vector<LigatureRow> ligatures; // up to the row whose virtual key is 0
    std::optional<NlsTables> nls;       // when the image exports KbdNlsLayerDescriptor

    std::vector<PointerSite> pointerSites; // in the order the reader followed them

    // Scan code (with prefix) -> 16-bit map value, or nullopt when the scan
    // code has no entry (plain: >= bMaxVSCtoVK; E0/E1: not in the list).
    std::optional<std::uint16_t> mapScanCode(std::uint8_t scanCode, Prefix prefix) const;

    // Modifier bits -> column, or nullopt when the bits are above
    // wMaxModBits or ModNumber gives SHFT_INVALID.
    std::optional<unsigned> column(unsigned modBits) const;

    // Virtual key + modifier bits -> what is typed: the first table (in list
    // order) with a row for the key decides; with Caps Lock on, a row with
    // SGCAPS gives way to its second row; WCH_LGTR follows the ligature row
    // for the key and column, up to nLgMax cells, stopping at WCH_NONE;
    // WCH_DEAD takes the dead character from the row after the one read.
    KeyResult characters(std::uint8_t virtualKey, unsigned modBits, bool capsLock = false) const;

    // The first table with a row for the key, or nullptr. Second rows are
    // no key's rows.
    const CharTable* tableFor(std::uint8_t virtualKey) const;
    // The key's row in that table, or nullptr.
    const CharRow* rowFor(std::uint8_t virtualKey) const;

    // Dead key + base character -> the entry of the dead-key table, or
    // nullptr.
    const DeadKeyEntry* deadKeyEntry(char16_t accent, char16_t base) const;
};

} // namespace kbdread
