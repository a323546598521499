// Records of the keyboard-layout table format, as the Windows keyboard-layout
// loader reads them. The loader reads every record by position, so each size
// and field offset below is pinned, for each form of pointer field:
//   - the machine's own pointer: 8 bytes in the x86-64 and ARM64 images,
//     4 bytes in the 32-bit x86 image;
//   - the long pointer of the WOW64 image: a 32-bit x86 image whose records
//     are laid out as the 64-bit kernel reads them, so that 32-bit programs
//     on 64-bit Windows see the same records (built with KBD_LONG_POINTERS).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kbd {

// Published virtual-key codes used by this layout.
inline constexpr std::uint8_t VK_CANCEL = 0x03;
inline constexpr std::uint8_t VK_BACK = 0x08;
inline constexpr std::uint8_t VK_TAB = 0x09;
inline constexpr std::uint8_t VK_CLEAR = 0x0C;
inline constexpr std::uint8_t VK_RETURN = 0x0D;
inline constexpr std::uint8_t VK_SHIFT = 0x10;
inline constexpr std::uint8_t VK_CONTROL = 0x11;
inline constexpr std::uint8_t VK_MENU = 0x12;
inline constexpr std::uint8_t VK_PAUSE = 0x13;
inline constexpr std::uint8_t VK_CAPITAL = 0x14;
inline constexpr std::uint8_t VK_ESCAPE = 0x1B;
inline constexpr std::uint8_t VK_SPACE = 0x20;
inline constexpr std::uint8_t VK_PRIOR = 0x21;
inline constexpr std::uint8_t VK_NEXT = 0x22;
inline constexpr std::uint8_t VK_END = 0x23;
inline constexpr std::uint8_t VK_HOME = 0x24;
inline constexpr std::uint8_t VK_LEFT = 0x25;
inline constexpr std::uint8_t VK_UP = 0x26;
inline constexpr std::uint8_t VK_RIGHT = 0x27;
inline constexpr std::uint8_t VK_DOWN = 0x28;
inline constexpr std::uint8_t VK_SNAPSHOT = 0x2C;
inline constexpr std::uint8_t VK_INSERT = 0x2D;
inline constexpr std::uint8_t VK_DELETE = 0x2E;
inline constexpr std::uint8_t VK_HELP = 0x2F;
inline constexpr std::uint8_t VK_LWIN = 0x5B;
inline constexpr std::uint8_t VK_RWIN = 0x5C;
inline constexpr std::uint8_t VK_APPS = 0x5D;
inline constexpr std::uint8_t VK_SLEEP = 0x5F;
inline constexpr std::uint8_t VK_NUMPAD0 = 0x60;
inline constexpr std::uint8_t VK_NUMPAD1 = 0x61;
inline constexpr std::uint8_t VK_NUMPAD2 = 0x62;
inline constexpr std::uint8_t VK_NUMPAD3 = 0x63;
inline constexpr std::uint8_t VK_NUMPAD4 = 0x64;
inline constexpr std::uint8_t VK_NUMPAD5 = 0x65;
inline constexpr std::uint8_t VK_NUMPAD6 = 0x66;
inline constexpr std::uint8_t VK_NUMPAD7 = 0x67;
inline constexpr std::uint8_t VK_NUMPAD8 = 0x68;
inline constexpr std::uint8_t VK_NUMPAD9 = 0x69;
inline constexpr std::uint8_t VK_MULTIPLY = 0x6A;
inline constexpr std::uint8_t VK_ADD = 0x6B;
inline constexpr std::uint8_t VK_SUBTRACT = 0x6D;
inline constexpr std::uint8_t VK_DECIMAL = 0x6E;
inline constexpr std::uint8_t VK_DIVIDE = 0x6F;
inline constexpr std::uint8_t VK_F1 = 0x70;
inline constexpr std::uint8_t VK_F2 = 0x71;
inline constexpr std::uint8_t VK_F3 = 0x72;
inline constexpr std::uint8_t VK_F4 = 0x73;
inline constexpr std::uint8_t VK_F5 = 0x74;
inline constexpr std::uint8_t VK_F6 = 0x75;
inline constexpr std::uint8_t VK_F7 = 0x76;
inline constexpr std::uint8_t VK_F8 = 0x77;
inline constexpr std::uint8_t VK_F9 = 0x78;
inline constexpr std::uint8_t VK_F10 = 0x79;
inline constexpr std::uint8_t VK_F11 = 0x7A;
inline constexpr std::uint8_t VK_F12 = 0x7B;
inline constexpr std::uint8_t VK_F13 = 0x7C;
inline constexpr std::uint8_t VK_F14 = 0x7D;
inline constexpr std::uint8_t VK_F15 = 0x7E;
inline constexpr std::uint8_t VK_F16 = 0x7F;
inline constexpr std::uint8_t VK_F17 = 0x80;
inline constexpr std::uint8_t VK_F18 = 0x81;
inline constexpr std::uint8_t VK_F19 = 0x82;
inline constexpr std::uint8_t VK_F20 = 0x83;
inline constexpr std::uint8_t VK_F21 = 0x84;
inline constexpr std::uint8_t VK_F22 = 0x85;
inline constexpr std::uint8_t VK_F23 = 0x86;
inline constexpr std::uint8_t VK_F24 = 0x87;
inline constexpr std::uint8_t VK_NUMLOCK = 0x90;
inline constexpr std::uint8_t VK_SCROLL = 0x91;
inline constexpr std::uint8_t VK_LSHIFT = 0xA0;
inline constexpr std::uint8_t VK_RSHIFT = 0xA1;
inline constexpr std::uint8_t VK_LCONTROL = 0xA2;
inline constexpr std::uint8_t VK_RCONTROL = 0xA3;
inline constexpr std::uint8_t VK_LMENU = 0xA4;
inline constexpr std::uint8_t VK_RMENU = 0xA5;
inline constexpr std::uint8_t VK_BROWSER_BACK = 0xA6;
inline constexpr std::uint8_t VK_BROWSER_FORWARD = 0xA7;
inline constexpr std::uint8_t VK_BROWSER_REFRESH = 0xA8;
inline constexpr std::uint8_t VK_BROWSER_STOP = 0xA9;
inline constexpr std::uint8_t VK_BROWSER_SEARCH = 0xAA;
inline constexpr std::uint8_t VK_BROWSER_FAVORITES = 0xAB;
inline constexpr std::uint8_t VK_BROWSER_HOME = 0xAC;
inline constexpr std::uint8_t VK_VOLUME_MUTE = 0xAD;
inline constexpr std::uint8_t VK_VOLUME_DOWN = 0xAE;
inline constexpr std::uint8_t VK_VOLUME_UP = 0xAF;
inline constexpr std::uint8_t VK_MEDIA_NEXT_TRACK = 0xB0;
inline constexpr std::uint8_t VK_MEDIA_PREV_TRACK = 0xB1;
inline constexpr std::uint8_t VK_MEDIA_STOP = 0xB2;
inline constexpr std::uint8_t VK_MEDIA_PLAY_PAUSE = 0xB3;
inline constexpr std::uint8_t VK_LAUNCH_MAIL = 0xB4;
inline constexpr std::uint8_t VK_LAUNCH_MEDIA_SELECT = 0xB5;
inline constexpr std::uint8_t VK_LAUNCH_APP1 = 0xB6;
inline constexpr std::uint8_t VK_LAUNCH_APP2 = 0xB7;
inline constexpr std::uint8_t VK_OEM_1 = 0xBA;
inline constexpr std::uint8_t VK_OEM_PLUS = 0xBB;
inline constexpr std::uint8_t VK_OEM_COMMA = 0xBC;
inline constexpr std::uint8_t VK_OEM_MINUS = 0xBD;
inline constexpr std::uint8_t VK_OEM_PERIOD = 0xBE;
inline constexpr std::uint8_t VK_OEM_2 = 0xBF;
inline constexpr std::uint8_t VK_OEM_3 = 0xC0;
inline constexpr std::uint8_t VK_ABNT_C1 = 0xC1;
inline constexpr std::uint8_t VK_ABNT_C2 = 0xC2;
inline constexpr std::uint8_t VK_OEM_4 = 0xDB;
inline constexpr std::uint8_t VK_OEM_5 = 0xDC;
inline constexpr std::uint8_t VK_OEM_6 = 0xDD;
inline constexpr std::uint8_t VK_OEM_7 = 0xDE;
inline constexpr std::uint8_t VK_OEM_102 = 0xE2;
inline constexpr std::uint8_t VK_OEM_RESET = 0xE9;
inline constexpr std::uint8_t VK_OEM_JUMP = 0xEA;
inline constexpr std::uint8_t VK_OEM_PA1 = 0xEB;
inline constexpr std::uint8_t VK_OEM_PA3 = 0xED;
inline constexpr std::uint8_t VK_OEM_WSCTRL = 0xEE;
inline constexpr std::uint8_t VK_OEM_FINISH = 0xF1;
inline constexpr std::uint8_t VK_OEM_AUTO = 0xF3;
inline constexpr std::uint8_t VK_OEM_BACKTAB = 0xF5;
inline constexpr std::uint8_t VK_EREOF = 0xF9;
inline constexpr std::uint8_t VK_ZOOM = 0xFB;

// Flags in the high byte of a scan-code map value.
inline constexpr std::uint16_t KBDEXT = 0x0100;
inline constexpr std::uint16_t KBDMULTIVK = 0x0200;
inline constexpr std::uint16_t KBDSPECIAL = 0x0400;
inline constexpr std::uint16_t KBDNUMPAD = 0x0800;

// A scan code with no virtual key.
inline constexpr std::uint16_t VK_NONE_MAPPED = 0x00FF;

// Modifier bits, as the modifier record assigns them.
inline constexpr std::uint8_t KBDSHIFT = 0x01;
inline constexpr std::uint8_t KBDCTRL = 0x02;
inline constexpr std::uint8_t KBDALT = 0x04;

// Character-cell sentinels.
inline constexpr char16_t WCH_NONE = 0xF000;
inline constexpr char16_t WCH_DEAD = 0xF001;
inline constexpr char16_t WCH_LGTR = 0xF002;

// The table-format version, in the high word of fLocaleFlags.
inline constexpr std::uint32_t KBD_VERSION = 1;

struct VK_TO_BIT {
    std::uint8_t Vk;
    std::uint8_t ModBits;
};
static_assert(sizeof(VK_TO_BIT) == 2);

struct VSC_VK {
    std::uint8_t Vsc;
    std::uint16_t Vk;
};
static_assert(offsetof(VSC_VK, Vsc) == 0);
static_assert(offsetof(VSC_VK, Vk) == 2);
static_assert(sizeof(VSC_VK) == 4);

// One character-table row of N columns.
template <std::size_t N>
struct VK_TO_WCHARS {
    std::uint8_t VirtualKey;
    std::uint8_t Attributes;
    char16_t wch[N];
};
using VK_TO_WCHARS1 = VK_TO_WCHARS<1>;
using VK_TO_WCHARS2 = VK_TO_WCHARS<2>;
using VK_TO_WCHARS3 = VK_TO_WCHARS<3>;
using VK_TO_WCHARS4 = VK_TO_WCHARS<4>;
static_assert(offsetof(VK_TO_WCHARS1, Attributes) == 1);
static_assert(offsetof(VK_TO_WCHARS1, wch) == 2);
static_assert(sizeof(VK_TO_WCHARS1) == 4);
static_assert(sizeof(VK_TO_WCHARS2) == 6);
static_assert(sizeof(VK_TO_WCHARS3) == 8);
static_assert(sizeof(VK_TO_WCHARS4) == 10);

struct LIGATURE2 {
    std::uint8_t VirtualKey;
    std::uint16_t ModificationNumber;
    char16_t wch[2];
};
static_assert(offsetof(LIGATURE2, VirtualKey) == 0);
static_assert(offsetof(LIGATURE2, ModificationNumber) == 2);
static_assert(offsetof(LIGATURE2, wch) == 4);
static_assert(sizeof(LIGATURE2) == 8);

// Dead-key records never occur in this layout; the record only points at them.
struct DEADKEY;

// A pointer field of the machine's own width.
template <class T>
using NativePointer = T*;

// A pointer field of a 32-bit image laid out as a 64-bit one: the address in
// the lower half, which the base relocations fix up, and a zero upper half.
template <class T>
struct alignas(8) LongPointer {
    static_assert(sizeof(T*) == 4, "long pointers belong to 32-bit images");
    constexpr LongPointer(T* target = nullptr) : address(target) {}
    T* address;
    std::uint32_t upper = 0;
};

// The records that hold pointers, for one pointer form. The modifier record
// ends in a ModNumber array that the published record leaves open; clang
// cannot initialise a flexible array, so it is ModCount entries wide.
template <template <class> class Pointer, std::size_t ModCount>
struct Records {
    struct MODIFIERS {
        Pointer<const VK_TO_BIT> pVkToBit;
        std::uint16_t wMaxModBits;
        std::uint8_t ModNumber[ModCount];
    };

    struct VSC_LPWSTR {
        std::uint8_t vsc;
        Pointer<const char16_t> pwsz;
    };

    struct VK_TO_WCHAR_TABLE {
        Pointer<const void> pVkToWchars;
        std::uint8_t nModifications;
        std::uint8_t cbSize;
    };

    struct KBDTABLES {
        Pointer<const MODIFIERS> pCharModifiers;
        Pointer<const VK_TO_WCHAR_TABLE> pVkToWcharTable;
        Pointer<const DEADKEY> pDeadKey;
        Pointer<const VSC_LPWSTR> pKeyNames;
        Pointer<const VSC_LPWSTR> pKeyNamesExt;
        Pointer<const Pointer<const char16_t>> pKeyNamesDead;
        Pointer<const std::uint16_t> pusVSCtoVK;
        std::uint8_t bMaxVSCtoVK;
        Pointer<const VSC_VK> pVSCtoVK_E0;
        Pointer<const VSC_VK> pVSCtoVK_E1;
        std::uint32_t fLocaleFlags;
        std::uint8_t nLgMax;
        std::uint8_t cbLgEntry;
        Pointer<const LIGATURE2> pLigature;
    };

    // Each offset as the 64-bit layout (x86-64, ARM64, WOW64) : the 32-bit one.
    static constexpr bool Wide = sizeof(Pointer<const void>) == 8;
    static_assert(Wide || sizeof(Pointer<const void>) == 4);

    static_assert(offsetof(MODIFIERS, pVkToBit) == 0x0);
    static_assert(offsetof(MODIFIERS, wMaxModBits) == (Wide ? 0x8 : 0x4));
    static_assert(offsetof(MODIFIERS, ModNumber) == (Wide ? 0xA : 0x6));
    static_assert(sizeof(MODIFIERS) == (Wide ? (0xA + ModCount + 7) / 8 * 8 : (0x6 + ModCount + 3) / 4 * 4));

    static_assert(offsetof(VSC_LPWSTR, vsc) == 0);
    static_assert(offsetof(VSC_LPWSTR, pwsz) == (Wide ? 8 : 4));
    static_assert(sizeof(VSC_LPWSTR) == (Wide ? 16 : 8));

    static_assert(offsetof(VK_TO_WCHAR_TABLE, pVkToWchars) == 0);
    static_assert(offsetof(VK_TO_WCHAR_TABLE, nModifications) == (Wide ? 8 : 4));
    static_assert(offsetof(VK_TO_WCHAR_TABLE, cbSize) == (Wide ? 9 : 5));
    static_assert(sizeof(VK_TO_WCHAR_TABLE) == (Wide ? 16 : 8));

    static_assert(offsetof(KBDTABLES, pCharModifiers) == 0x00);
    static_assert(offsetof(KBDTABLES, pVkToWcharTable) == (Wide ? 0x08 : 0x04));
    static_assert(offsetof(KBDTABLES, pDeadKey) == (Wide ? 0x10 : 0x08));
    static_assert(offsetof(KBDTABLES, pKeyNames) == (Wide ? 0x18 : 0x0C));
    static_assert(offsetof(KBDTABLES, pKeyNamesExt) == (Wide ? 0x20 : 0x10));
    static_assert(offsetof(KBDTABLES, pKeyNamesDead) == (Wide ? 0x28 : 0x14));
    static_assert(offsetof(KBDTABLES, pusVSCtoVK) == (Wide ? 0x30 : 0x18));
    static_assert(offsetof(KBDTABLES, bMaxVSCtoVK) == (Wide ? 0x38 : 0x1C));
    static_assert(offsetof(KBDTABLES, pVSCtoVK_E0) == (Wide ? 0x40 : 0x20));
    static_assert(offsetof(KBDTABLES, pVSCtoVK_E1) == (Wide ? 0x48 : 0x24));
    static_assert(offsetof(KBDTABLES, fLocaleFlags) == (Wide ? 0x50 : 0x28));
    static_assert(offsetof(KBDTABLES, nLgMax) == (Wide ? 0x54 : 0x2C));
    static_assert(offsetof(KBDTABLES, cbLgEntry) == (Wide ? 0x55 : 0x2D));
    static_assert(offsetof(KBDTABLES, pLigature) == (Wide ? 0x58 : 0x30));
    static_assert(sizeof(KBDTABLES) == (Wide ? 0x60 : 0x34));
};

// The pointer form of the image being built.
#ifdef KBD_LONG_POINTERS
template <class T>
using ImagePointer = LongPointer<T>;
#else
template <class T>
using ImagePointer = NativePointer<T>;
#endif

}  // namespace kbd
