// The window's texts in logical order. The Arabic-script words are kept
// as code points so the sources stay plain ASCII; the words use ARABIC
// LETTER YEH (0x064A), not FARSI YEH.
#pragma once

namespace halvaro {

// "Halvaro  - Arabic Basic Halvaro " then the Kurdish words for
// "on the Arabic style".
inline constexpr wchar_t formCaption[] =
    L"Halvaro  - Arabic Basic Halvaro "
    L"\x0644\x0647"                      // LAM, HEH
    L" "
    L"\x0633\x0647\x200C\x0631"          // SEEN, HEH, ZERO WIDTH NON-JOINER, REH
    L" "
    L"\x0634\x064A\x0648\x0627\x0632\x0649"  // SHEEN, YEH, WAW, ALEF, ZAIN, ALEF MAKSURA
    L" "
    L"\x0639\x0647\x200C\x0631\x0647\x200C\x0628\x0649";  // AIN, HEH, ZWNJ, REH, HEH, ZWNJ, BEH, ALEF MAKSURA

// The word for "Windows" that ends both installer captions.
#define HALVARO_WINDOWS_WORD \
    L"\x0648\x064A\x0646\x062F\x0648\x0632"  /* WAW, YEH, NOON, DAL, WAW, ZAIN */ \
    L" "

// Command2: "or later" in Kurdish, then the newer Windows versions.
inline constexpr wchar_t command2Caption[] =
    L"\x064A\x0627\x0646"                      // YEH, ALEF, NOON
    L" "
    L"\x0632\x064A\x0627\x062A\x0631"          // ZAIN, YEH, ALEF, TEH, REH
    L" "
    L"Win 10, Win 8.1, Win 8 "
    HALVARO_WINDOWS_WORD;

// Command1: the older Windows versions, with their spacing as shown.
inline constexpr wchar_t command1Caption[] =
    L"Win 7 , Win Vista ,Win XP "
    HALVARO_WINDOWS_WORD;

#undef HALVARO_WINDOWS_WORD

inline constexpr wchar_t command3Caption[] = L"Cancel";

}  // namespace halvaro
