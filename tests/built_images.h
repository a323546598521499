// The layout images the build made, ours and the synthetic ones, one per
// form, from the manifests it writes ("<form> <path>" lines): one test
// binary checks every form.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kbdread.h"

// The images a manifest lists ("<form> <path>" lines), by form.
inline std::map<kbdread::Form, std::filesystem::path> imagesListedIn(const char* manifestPath)
{
    std::map<kbdread::Form, std::filesystem::path> listed;
    std::ifstream manifest(manifestPath);
    for (std::string line; std::getline(manifest, line);) {
        const std::size_t space = line.find(' ');
        const kbdread::FormDescription* described = kbdread::formNamed(line.substr(0, space));
        if (space == std::string::npos || !described)
            throw std::runtime_error(std::string(manifestPath) + ": not a \"<form> <path>\" line: " + line);
        listed[described->form] = line.substr(space + 1);
    }
    return listed;
}

// The image of a form that a manifest lists (by default the layout's
// own); throws when it lists none.
inline std::filesystem::path builtImage(kbdread::Form form, const char* manifest = KURD_IMAGES_MANIFEST)
{
    const std::map<kbdread::Form, std::filesystem::path> images = imagesListedIn(manifest);
    const auto found = images.find(form);
    if (found == images.end())
        throw std::runtime_error(std::string(manifest) + " lists no " + kbdread::describe(form).name + " image");
    return found->second;
}

// A built image of one form and what the reader makes of it at its
// preferred base. Test files extend it with the helpers their damage needs.
struct BuiltImage {
    std::vector<std::uint8_t> bytes;
    kbdread::Layout layout;

    // The file offset of an RVA the reader found.
    std::uint32_t at(std::uint32_t rva) const { return layout.pe.fileOffsetOf(rva).value(); }
    const kbdread::TableFormat& tables() const { return layout.description().tables; }
    // The pointer of a role that is not null (for a role of a list's
    // entries, the one of entry `index`); throws where there is none.
    const kbdread::PointerSite& site(kbdread::PointerRole role, std::size_t index = 0) const
    {
        for (const kbdread::PointerSite& s : layout.pointerSites)
            if (s.role == role && s.index == index && !s.isNull())
                return s;
        throw std::logic_error(std::string("no pointer site ") + kbdread::toString(role));
    }
};

// Writes a value of `width` bytes, little-endian, at a file offset.
inline void put(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint64_t value, unsigned width)
{
    for (unsigned i = 0; i < width; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// The built image of a form that a manifest lists, read once per test
// binary, as `Image` (a BuiltImage or a type that extends it).
template <typename Image = BuiltImage>
const Image& readBuiltImage(kbdread::Form form, const char* manifest = KURD_IMAGES_MANIFEST)
{
    static std::map<std::pair<std::string, kbdread::Form>, Image> images;
    const std::pair<std::string, kbdread::Form> key{manifest, form};
    auto found = images.find(key);
    if (found == images.end()) {
        std::vector<std::uint8_t> bytes = kbdread::readFileBytes(builtImage(form, manifest));
        kbdread::Layout layout = kbdread::readLayout(std::span<const std::uint8_t>(bytes));
        found = images.emplace(key, Image{BuiltImage{std::move(bytes), std::move(layout)}}).first;
    }
    return found->second;
}

// The file offset of an export's entry in the export address table, for
// tests that move or forward the export.
inline std::uint32_t exportAddressEntry(const BuiltImage& image, const char* name)
{
    const kbdread::PeInfo& pe = image.layout.pe;
    const auto exported = std::find_if(pe.exports.names.begin(), pe.exports.names.end(),
                                       [&](const kbdread::ExportName& e) { return e.name == name; });
    const kbdread::ByteView bytes(image.layout.image);
    const std::uint32_t functions = bytes.u32(pe.dataDirectories.at(kbdread::kExportDirectory).rva + 28);
    return image.at(functions + 4 * exported->ordinalIndex);
}

// Names the tests of a suite parameterised by form: "x64", "wow64", ...
struct FormName {
    template <typename ParamInfo>
    std::string operator()(const ParamInfo& info) const
    {
        return kbdread::describe(info.param).name;
    }
};

// Every form, for INSTANTIATE_TEST_SUITE_P.
inline auto everyForm()
{
    return testing::Values(kbdread::Form::X64, kbdread::Form::X86, kbdread::Form::Wow64, kbdread::Form::Arm64);
}
