// The records of the table format that our own layout leaves out, written
// from the published format for the synthetic layout the reader is tested
// on: dead keys and their names, ligatures of any length, and the far-east
// tables. The records both layouts use come from layout/kbd.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kbd.h"

namespace synthetic {

using kbd::ImagePointer;

// A dead key's entry: the base character in the low word of dwBoth, the
// dead character in the high word.
struct DEADKEY {
    std::uint32_t dwBoth;
    char16_t wchComposed;
    std::uint16_t uFlags;
};
static_assert(offsetof(DEADKEY, wchComposed) == 4 && offsetof(DEADKEY, uFlags) == 6 && sizeof(DEADKEY) == 8);

constexpr DEADKEY DeadTrans(char16_t base, char16_t accent, char16_t composed, std::uint16_t flags = 0)
{
    return {.dwBoth = base | std::uint32_t{accent} << 16, .wchComposed = composed, .uFlags = flags};
}

inline constexpr std::uint16_t DKF_DEAD = 0x0001;

template <std::size_t N>
struct LIGATURE {
    std::uint8_t VirtualKey;
    std::uint16_t ModificationNumber;
    char16_t wch[N];
};
static_assert(offsetof(LIGATURE<4>, ModificationNumber) == 2 && offsetof(LIGATURE<4>, wch) == 4);
static_assert(sizeof(LIGATURE<4>) == 12);

// The far-east key functions: a function index and its parameter.
struct VK_FPARAM {
    std::uint8_t NLSFEProcIndex;
    std::uint32_t NLSFEProcParam;
};
static_assert(offsetof(VK_FPARAM, NLSFEProcParam) == 4 && sizeof(VK_FPARAM) == 8);

struct VK_F {
    std::uint8_t Vk;
    std::uint8_t NLSFEProcType;
    std::uint8_t NLSFEProcCurrent;
    std::uint8_t NLSFEProcSwitch;
    VK_FPARAM NLSFEProc[8];
    VK_FPARAM NLSFEProcAlt[8];
};
static_assert(offsetof(VK_F, NLSFEProc) == 4 && offsetof(VK_F, NLSFEProcAlt) == 0x44 && sizeof(VK_F) == 0x84);

// Our layout's records, with a descriptor record whose dead keys and
// ligatures have types, and the far-east record.
template <template <class> class Pointer, std::size_t ModCount, class Ligature>
struct Records {
    using MODIFIERS = typename kbd::Records<Pointer, ModCount>::MODIFIERS;
    using VSC_LPWSTR = typename kbd::Records<Pointer, ModCount>::VSC_LPWSTR;
    using VK_TO_WCHAR_TABLE = typename kbd::Records<Pointer, ModCount>::VK_TO_WCHAR_TABLE;

    struct KBDTABLES {
        Pointer<const MODIFIERS> pCharModifiers;
        Pointer<const VK_TO_WCHAR_TABLE> pVkToWcharTable;
        Pointer<const DEADKEY> pDeadKey;
        Pointer<const VSC_LPWSTR> pKeyNames;
        Pointer<const VSC_LPWSTR> pKeyNamesExt;
        Pointer<const Pointer<const char16_t>> pKeyNamesDead;
        Pointer<const std::uint16_t> pusVSCtoVK;
        std::uint8_t bMaxVSCtoVK;
        Pointer<const kbd::VSC_VK> pVSCtoVK_E0;
        Pointer<const kbd::VSC_VK> pVSCtoVK_E1;
        std::uint32_t fLocaleFlags;
        std::uint8_t nLgMax;
        std::uint8_t cbLgEntry;
        Pointer<const Ligature> pLigature;
    };

    struct KBDNLSTABLES {
        std::uint16_t OEMIdentifier;
        std::uint16_t LayoutInformation;
        std::uint32_t NumOfVkToF;
        Pointer<const VK_F> pVkToF;
        std::int32_t NumOfMouseVKey;
        Pointer<const std::uint16_t> pusMouseVKey;
    };

    static constexpr bool Wide = sizeof(Pointer<const void>) == 8;
    static_assert(sizeof(KBDTABLES) == (Wide ? 0x60 : 0x34));
    static_assert(offsetof(KBDTABLES, pDeadKey) == (Wide ? 0x10 : 0x08));
    static_assert(offsetof(KBDTABLES, pKeyNamesDead) == (Wide ? 0x28 : 0x14));
    static_assert(offsetof(KBDTABLES, pLigature) == (Wide ? 0x58 : 0x30));
    static_assert(offsetof(KBDNLSTABLES, pVkToF) == 8);
    static_assert(offsetof(KBDNLSTABLES, NumOfMouseVKey) == (Wide ? 0x10 : 0x0C));
    static_assert(offsetof(KBDNLSTABLES, pusMouseVKey) == (Wide ? 0x18 : 0x10));
    static_assert(sizeof(KBDNLSTABLES) == (Wide ? 0x20 : 0x14));
};

}  // namespace synthetic
