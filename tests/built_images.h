// The layout images the build made, one per form, from the manifest it
// writes ("<form> <path>" lines): one test binary checks every form.
#pragma once

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

// The built image of a form; throws when the manifest does not list it.
inline const std::filesystem::path& builtImage(kbdread::Form form)
{
    static const std::map<kbdread::Form, std::filesystem::path> images = imagesListedIn(KURD_IMAGES_MANIFEST);
    const auto found = images.find(form);
    if (found == images.end())
        throw std::runtime_error(KURD_IMAGES_MANIFEST " lists no " + std::string(kbdread::describe(form).name) +
                                 " image");
    return found->second;
}

// A built image of one form and what the reader makes of it at its
// preferred base. Test files extend it with the helpers their damage needs.
struct BuiltImage {
    std::vector<std::uint8_t> bytes;
    kbdread::Layout layout;

    // The file offset of an RVA the reader found.
    std::uint32_t at(std::uint32_t rva) const { return layout.pe.fileOffsetOf(rva).value(); }
};

// The built image of a form, read once per test binary, as `Image` (a
// BuiltImage or a type that extends it).
template <typename Image = BuiltImage>
const Image& readBuiltImage(kbdread::Form form)
{
    static std::map<kbdread::Form, Image> images;
    auto found = images.find(form);
    if (found == images.end()) {
        std::vector<std::uint8_t> bytes = kbdread::readFileBytes(builtImage(form));
        kbdread::Layout layout = kbdread::readLayout(std::span<const std::uint8_t>(bytes));
        found = images.emplace(form, Image{BuiltImage{std::move(bytes), std::move(layout)}}).first;
    }
    return found->second;
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
