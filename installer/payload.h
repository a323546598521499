// The layout images the installer carries, one per form, and the checks
// each must pass before anything on the system is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pe_image.h"
#include "sha256.h"

namespace setup {

enum class Form { X64, X86, Wow64, Arm64 };

struct FormInfo {
    Form form;
    std::wstring_view resourceName;  // the image's resource in the installer
    std::uint16_t machine;           // what its header must say
};

// The WOW64 form is an i386 image (its tables laid out for the 64-bit
// keyboard driver), loaded by 32-bit programs on 64-bit Windows.
inline constexpr FormInfo forms[] = {
    {Form::X64, L"KURD_DLL_x64", machineAmd64},
    {Form::X86, L"KURD_DLL_x86", machineI386},
    {Form::Wow64, L"KURD_DLL_wow64", machineI386},
    {Form::Arm64, L"KURD_DLL_arm64", machineArm64},
};

const FormInfo& formInfo(Form form);

// What the installer needs to know of the layout, read from an image.
struct LayoutStrings {
    std::wstring layoutText;  // string 1000, the name users see
    std::wstring localeTag;   // string 1200, the locale it is installed under
    std::uint16_t languageId; // that locale's language id
};

struct ImageCheck {
    std::optional<LayoutStrings> strings;  // empty when the image fails
    std::wstring problem;                  // why it fails
};

// Checks an embedded image: for the form's machine, a DLL exporting
// KbdLayerDescriptor, with strings 1000 and 1200 naming a known locale,
// and bytes whose digest is the one recorded at build time.
ImageCheck checkImage(Form form, std::span<const std::uint8_t> bytes, const Sha256Digest& expected);

// The language id of a locale tag ("ar-JO" is 0x2C01), for the locales a
// layout of this family can be installed under.
std::optional<std::uint16_t> languageIdOfLocale(std::wstring_view tag);

// Whether a file's bytes are a build of this layout, by the version block
// the layout library carries (its original file name and maker).
bool isThisLayout(std::span<const std::uint8_t> fileBytes);

}  // namespace setup
