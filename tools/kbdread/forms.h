// The four forms a layout library is built in, each described once: the
// machine, how wide the pointer fields of the records are, which base
// relocation moves them, and how the code of KbdLayerDescriptor is decoded.
// One table walk runs on any of these descriptions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "layout_forms.h"
#include "pe_image.h"

namespace kbdread {

using layout_forms::Form;

// Field offsets of the records for one width of pointer field. Every other
// field follows its pointer at the record's natural alignment.
struct TableFormat {
    unsigned pointer; // bytes per pointer field

    // KBDTABLES
    std::uint32_t charModifiers = 0;
    std::uint32_t vkToWcharTable = pointer;
    std::uint32_t deadKey = 2 * pointer;
    std::uint32_t keyNames = 3 * pointer;
    std::uint32_t keyNamesExt = 4 * pointer;
    std::uint32_t keyNamesDead = 5 * pointer;
    std::uint32_t vscToVk = 6 * pointer;
    std::uint32_t maxVscToVk = 7 * pointer;  // a byte, padded to a pointer
    std::uint32_t vscToVkE0 = 8 * pointer;
    std::uint32_t vscToVkE1 = 9 * pointer;
    std::uint32_t localeFlags = 10 * pointer;
    std::uint32_t lgMax = 10 * pointer + 4;
    std::uint32_t lgEntry = 10 * pointer + 5;
    std::uint32_t ligature = (10 * pointer + 6 + pointer - 1) / pointer * pointer;
    std::uint32_t tablesSize = ligature + pointer;

    // MODIFIERS: pVkToBit, wMaxModBits, ModNumber[]
    std::uint32_t maxModBits = pointer;
    std::uint32_t modNumber = pointer + 2;

    // VK_TO_WCHAR_TABLE: pVkToWchars, nModifications, cbSize
    std::uint32_t nModifications = pointer;
    std::uint32_t cbSize = pointer + 1;
    std::uint32_t charTableEntrySize = 2 * pointer;

    // VSC_LPWSTR: vsc, pwsz
    std::uint32_t keyNameString = pointer;
    std::uint32_t keyNameEntrySize = 2 * pointer;

    // KBDNLSTABLES: OEMIdentifier, LayoutInformation, NumOfVkToF, pVkToF,
    // NumOfMouseVKey, pusMouseVKey
    std::uint32_t nlsLayoutInformation = 2;
    std::uint32_t nlsVkToFCount = 4;
    std::uint32_t nlsVkToF = 8;
    std::uint32_t nlsMouseVKeyCount = 8 + pointer;
    std::uint32_t nlsMouseVKey = (12 + 2 * pointer - 1) / pointer * pointer;
    std::uint32_t nlsTablesSize = nlsMouseVKey + pointer;
};

inline constexpr TableFormat kWideTables{8};
inline constexpr TableFormat kNarrowTables{4};
static_assert(kWideTables.maxVscToVk == 0x38 && kWideTables.localeFlags == 0x50 && kWideTables.lgEntry == 0x55);
static_assert(kWideTables.ligature == 0x58 && kWideTables.tablesSize == 0x60);
static_assert(kWideTables.modNumber == 0x0A && kWideTables.charTableEntrySize == 16 && kWideTables.keyNameEntrySize == 16);
static_assert(kNarrowTables.vscToVk == 0x18 && kNarrowTables.maxVscToVk == 0x1C && kNarrowTables.vscToVkE0 == 0x20);
static_assert(kNarrowTables.localeFlags == 0x28 && kNarrowTables.lgEntry == 0x2D);
static_assert(kNarrowTables.ligature == 0x30 && kNarrowTables.tablesSize == 0x34);
static_assert(kNarrowTables.modNumber == 0x06 && kNarrowTables.charTableEntrySize == 8 && kNarrowTables.keyNameEntrySize == 8);
static_assert(kWideTables.nlsMouseVKeyCount == 0x10 && kWideTables.nlsMouseVKey == 0x18 && kWideTables.nlsTablesSize == 0x20);
static_assert(kNarrowTables.nlsMouseVKeyCount == 0x0C && kNarrowTables.nlsMouseVKey == 0x10 && kNarrowTables.nlsTablesSize == 0x14);

// Records whose size does not depend on the pointer width.
inline constexpr std::uint32_t kDeadKeyEntrySize = 8; // DEADKEY: dwBoth, wchComposed, uFlags
inline constexpr std::uint32_t kDeadKeyComposed = 4;
inline constexpr std::uint32_t kDeadKeyFlags = 6;
inline constexpr std::uint32_t kFunctionParamSize = 8; // VK_FPARAM: NLSFEProcIndex, 3 fill bytes, NLSFEProcParam
inline constexpr std::uint32_t kFunctionParams = 8;    // VK_FPARAM entries in each of NLSFEProc and NLSFEProcAlt
inline constexpr std::uint32_t kVkFunctionProc = 4;    // VK_F.NLSFEProc, after Vk and three bytes of state
inline constexpr std::uint32_t kVkFunctionProcAlt = kVkFunctionProc + kFunctionParams * kFunctionParamSize;
inline constexpr std::uint32_t kVkFunctionSize = kVkFunctionProcAlt + kFunctionParams * kFunctionParamSize;
static_assert(kVkFunctionProcAlt == 0x44 && kVkFunctionSize == 0x84);

// What the code of KbdLayerDescriptor loads.
struct DescriptorCode {
    std::int64_t tablesRva;                   // may lie outside the image in a damaged file
    std::optional<std::uint32_t> addressSite; // an absolute address inside the code, which needs a relocation
};

struct FormDescription {
    Form form;
    const char* name;            // as --form takes it: "x64", "x86", "wow64", "arm64"
    const char* title;           // for people
    std::uint16_t machine;
    std::uint16_t optionalMagic;
    TableFormat tables;
    unsigned addressWidth;       // bytes of each pointer field that hold the address; the rest is zero
    std::uint8_t relocationType; // the base relocation a stored pointer needs
    std::uint32_t codeSize;      // bytes of KbdLayerDescriptor's code
    const char* codeShape;       // that code, as a disassembler lists it
    // Decodes the code of the export `function` at codeRva of the mapped
    // image (codeSize bytes inside one section); throws
    // ReadError(BadExportCode) when it is anything else.
    DescriptorCode (*decodeDescriptor)(ByteView image, const PeInfo& pe, std::uint32_t codeRva,
                                       std::uint64_t loadBase, const char* function);
    // Whether code does nothing but return (an entry point a layout may have).
    bool (*onlyReturns)(std::span<const std::uint8_t> code);
};

const FormDescription& describe(Form form);
// The forms, in the order x64, x86, wow64, arm64.
std::span<const FormDescription> allForms();
// The form of that name, or nullptr.
const FormDescription* formNamed(std::string_view name);
// The forms built for the image's machine and optional header; throws
// ReadError(UnsupportedMachine) when there are none.
std::vector<Form> formsFor(const PeInfo& pe);
// "IMAGE_FILE_MACHINE_I386 (0x14C)".
std::string machineName(std::uint16_t machine);

} // namespace kbdread
