// The layout images the installer carries, one per form, as the build
// recorded them: checked by the build (installer/payload.cmake runs
// kbdcheck on each), then by their digests before anything on the system
// is touched. And how a Kurd.dll already on a system is told apart from
// another library of that name.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "layout_forms.h"
#include "sha256.h"
#include "text.h"

namespace setup {

using Form = layout_forms::Form;

// One of something for each form, in the forms' order.
template <class T>
struct PerForm {
    std::array<T, std::size(layout_forms::kForms)> items{};
    T& operator[](Form form) { return items[static_cast<std::size_t>(form)]; }
    const T& operator[](Form form) const { return items[static_cast<std::size_t>(form)]; }
};
using FormImages = PerForm<std::span<const std::uint8_t>>;

// The image's name in the log and the messages: "KURD_DLL_x64", ...
std::wstring resourceName(Form form);

// What the installer needs to know of the layout.
struct LayoutStrings {
    std::wstring layoutText;  // string 1000, the name users see
    std::wstring localeTag;   // string 1200, the locale it is installed under
    std::uint16_t languageId; // that locale's language id
};

// An embedded image as the build recorded it: where it lies in the
// unpacked images.
struct EmbeddedImage {
    Form form;
    std::uint32_t offset;
    std::uint32_t size;
    Sha256Digest digest;
};

// Why the unpacked images do not hold the image the build recorded at its
// place; nothing when they do.
std::optional<std::wstring> imageProblem(const EmbeddedImage& image, std::span<const std::uint8_t> unpacked);

// The language id of a locale tag ("ar-JO" is 0x2C01), for the locales a
// layout of this family can be installed under.
constexpr std::optional<std::uint16_t> languageIdOfLocale(std::wstring_view tag) {
    struct Row { std::wstring_view tag; std::uint16_t languageId; };
    constexpr Row locales[] = {
        {L"ar-SA", 0x0401}, {L"ar-IQ", 0x0801}, {L"ar-EG", 0x0C01}, {L"ar-LY", 0x1001},
        {L"ar-DZ", 0x1401}, {L"ar-MA", 0x1801}, {L"ar-TN", 0x1C01}, {L"ar-OM", 0x2001},
        {L"ar-YE", 0x2401}, {L"ar-SY", 0x2801}, {L"ar-JO", 0x2C01}, {L"ar-LB", 0x3001},
        {L"ar-KW", 0x3401}, {L"ar-AE", 0x3801}, {L"ar-BH", 0x3C01}, {L"ar-QA", 0x4001},
        {L"ku-Arab-IQ", 0x0492},
    };
    for (const Row& row : locales) {
        if (equalNoCase(row.tag, tag))
            return row.languageId;
    }
    return std::nullopt;
}

// Whether a library is a build of this layout, by its version block (its
// original file name and maker).
bool isThisLayout(std::span<const std::uint8_t> versionBlock);

}  // namespace setup
