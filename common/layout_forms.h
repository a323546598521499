// The forms the layout library is built in, and the machine each form's
// image is for. Plain constexpr data with no dependencies, so that the
// installer and the host tools read the same facts.
#pragma once

#include <cstdint>

namespace layout_forms {

// IMAGE_FILE_HEADER.Machine values of the images.
inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kMachineArm64 = 0xAA64;

// x64: the 64-bit x86 system's own image; x86: 32-bit x86 Windows; wow64:
// an i386 image whose records are laid out as the 64-bit kernel reads them,
// for 32-bit programs on 64-bit Windows; arm64: Windows on ARM64.
enum class Form { X64, X86, Wow64, Arm64 };

struct FormFacts {
    Form form;
    const char* name;       // "x64", "x86", "wow64", "arm64": file folders, resource and option names
    std::uint16_t machine;  // what the image's header says
    unsigned pointerBytes;  // width of each pointer field in the records
};

//                        form         name     machine        pointerBytes
inline constexpr FormFacts kForms[] = {
    {.form = Form::X64,   .name = "x64",   .machine = kMachineAmd64, .pointerBytes = 8},
    {.form = Form::X86,   .name = "x86",   .machine = kMachineI386,  .pointerBytes = 4},
    {.form = Form::Wow64, .name = "wow64", .machine = kMachineI386,  .pointerBytes = 8},
    {.form = Form::Arm64, .name = "arm64", .machine = kMachineArm64, .pointerBytes = 8},
};

// The facts of a form: kForms is in the enum's order.
constexpr const FormFacts& factsOf(Form form)
{
    return kForms[static_cast<unsigned>(form)];
}

static_assert(factsOf(Form::X64).form == Form::X64 && factsOf(Form::X86).form == Form::X86 &&
              factsOf(Form::Wow64).form == Form::Wow64 && factsOf(Form::Arm64).form == Form::Arm64);

}  // namespace layout_forms
