#include "forms.h"

#include <algorithm>
#include <array>

namespace kbdread {
namespace {

[[noreturn]] void badCode(ByteView image, const PeInfo& pe, std::uint32_t codeRva, std::uint32_t size,
                          const char* shape, const char* function)
{
    const auto code = image.bytes().subspan(codeRva, size);
    throw ReadError(ErrorKind::BadExportCode,
                    pe.at(codeRva, std::string(function) + "'s code at RVA " + hex(codeRva) + " is " +
                                       hexBytes(code) + ", not " + shape));
}

constexpr const char* kX64Code = "lea rax,[rip+disp32] (48 8D 05) followed by ret (C3)";
constexpr const char* kI386Code = "mov eax,imm32 (B8) followed by ret (C3)";
constexpr const char* kArm64Code = "adrp x0,page; add x0,x0,#lo12; ret";

// lea rax,[rip+disp32]; ret: the record lies disp32 bytes after the ret.
DescriptorCode decodeX64(ByteView image, const PeInfo& pe, std::uint32_t codeRva, std::uint64_t, const char* function)
{
    const bool leaRaxRip = image.u8(codeRva) == 0x48 && image.u8(codeRva + 1) == 0x8D && image.u8(codeRva + 2) == 0x05;
    if (!leaRaxRip || image.u8(codeRva + 7) != 0xC3)
        badCode(image, pe, codeRva, 8, kX64Code, function);
    const auto disp = static_cast<std::int32_t>(image.u32(codeRva + 3));
    return {std::int64_t{codeRva} + 7 + disp, std::nullopt};
}

// mov eax,imm32; ret: the record's absolute address, which the loader
// relocates like any stored pointer.
DescriptorCode decodeI386(ByteView image, const PeInfo& pe, std::uint32_t codeRva, std::uint64_t loadBase,
                          const char* function)
{
    if (image.u8(codeRva) != 0xB8 || image.u8(codeRva + 5) != 0xC3)
        badCode(image, pe, codeRva, 6, kI386Code, function);
    return {std::int64_t{image.u32(codeRva + 1)} - static_cast<std::int64_t>(loadBase), codeRva + 1};
}

constexpr std::uint32_t kArm64Ret = 0xD65F03C0;

// adrp x0,page; add x0,x0,#lo12; ret: the page of the record relative to
// the page of the adrp, then the record's offset within its page. Image
// bases are 64 KiB aligned, so pages of RVAs are pages of addresses.
DescriptorCode decodeArm64(ByteView image, const PeInfo& pe, std::uint32_t codeRva, std::uint64_t,
                           const char* function)
{
    const std::uint32_t adrp = image.u32(codeRva);
    const std::uint32_t add = image.u32(codeRva + 4);
    const bool isAdrpX0 = (adrp & 0x9F00001F) == 0x90000000;
    const bool isAddX0X0 = (add & 0xFFC003FF) == 0x91000000; // 64-bit add immediate, no shift, x0 from x0
    if (!isAdrpX0 || !isAddX0X0 || image.u32(codeRva + 8) != kArm64Ret)
        badCode(image, pe, codeRva, 12, kArm64Code, function);
    const std::uint32_t immlo = adrp >> 29 & 0x3;
    const std::uint32_t immhi = adrp >> 5 & 0x7FFFF;
    std::int64_t pages = immhi << 2 | immlo;
    if (pages & (1 << 20))
        pages -= 1 << 21;
    const std::int64_t page = (std::int64_t{codeRva} & ~std::int64_t{0xFFF}) + pages * 0x1000;
    return {page + (add >> 10 & 0xFFF), std::nullopt};
}

// What an entry point that "does nothing" compiles to on x86 and x86-64:
// optionally a return value in eax or al, then ret or ret imm16.
bool onlyReturnsX86(std::span<const std::uint8_t> code)
{
    std::size_t at = 0;
    auto next = [&](std::uint8_t byte) {
        if (at < code.size() && code[at] == byte) {
            ++at;
            return true;
        }
        return false;
    };
    if (next(0xB8)) // mov eax, imm32
        at += 4;
    else if (next(0xB0)) // mov al, imm8
        at += 1;
    else if (next(0x31) || next(0x33)) { // xor eax, eax
        if (!next(0xC0))
            return false;
    }
    return next(0xC3) || next(0xC2); // ret / ret imm16
}

// The same on ARM64: optionally mov w0,#imm16, then ret.
bool onlyReturnsArm64(std::span<const std::uint8_t> code)
{
    const ByteView bytes(code);
    std::size_t at = 0;
    if (bytes.fits(at, 4) && (bytes.u32(at) & 0xFFE0001F) == 0x52800000) // movz w0, #imm16
        at += 4;
    return bytes.fits(at, 4) && bytes.u32(at) == kArm64Ret;
}

// The name, machine and record width of a form come from its facts.
constexpr FormDescription described(Form form, const char* title, std::uint16_t optionalMagic, unsigned addressWidth,
                                    std::uint8_t relocationType, std::uint32_t codeSize, const char* codeShape,
                                    decltype(FormDescription::decodeDescriptor) decode,
                                    decltype(FormDescription::onlyReturns) onlyReturns)
{
    const layout_forms::FormFacts& facts = layout_forms::factsOf(form);
    return {form, facts.name, title, facts.machine, optionalMagic,
            facts.pointerBytes == 8 ? kWideTables : kNarrowTables, addressWidth, relocationType, codeSize,
            codeShape, decode, onlyReturns};
}

constexpr std::array<FormDescription, 4> kForms{{
    described(Form::X64, "x86-64", kPe32PlusMagic, 8, kRelocDir64, 8, kX64Code, decodeX64, onlyReturnsX86),
    described(Form::X86, "32-bit x86", kPe32Magic, 4, kRelocHighLow, 6, kI386Code, decodeI386, onlyReturnsX86),
    described(Form::Wow64, "32-bit x86 with 64-bit-wide pointer fields (WOW64)", kPe32Magic, 4, kRelocHighLow, 6,
              kI386Code, decodeI386, onlyReturnsX86),
    described(Form::Arm64, "ARM64", kPe32PlusMagic, 8, kRelocDir64, 12, kArm64Code, decodeArm64, onlyReturnsArm64),
}};
static_assert(kForms[0].form == Form::X64 && kForms[1].form == Form::X86 && kForms[2].form == Form::Wow64 &&
              kForms[3].form == Form::Arm64);

} // namespace

const FormDescription& describe(Form form)
{
    return kForms[static_cast<std::size_t>(form)];
}

std::span<const FormDescription> allForms()
{
    return kForms;
}

const FormDescription* formNamed(std::string_view name)
{
    const auto found = std::find_if(kForms.begin(), kForms.end(), [&](const auto& f) { return f.name == name; });
    return found == kForms.end() ? nullptr : &*found;
}

std::string machineName(std::uint16_t machine)
{
    switch (machine) {
    case kMachineI386: return "i386 (" + hex(machine) + ")";
    case kMachineAmd64: return "AMD64 (" + hex(machine) + ")";
    case kMachineArm64: return "ARM64 (" + hex(machine) + ")";
    }
    return hex(machine);
}

std::vector<Form> formsFor(const PeInfo& pe)
{
    std::vector<Form> forms;
    bool machineKnown = false;
    for (const FormDescription& f : kForms) {
        machineKnown |= f.machine == pe.machine;
        if (f.machine == pe.machine && f.optionalMagic == pe.optionalMagic)
            forms.push_back(f.form);
    }
    if (forms.empty()) {
        throw ReadError(ErrorKind::UnsupportedMachine,
                        {"", std::nullopt, machineKnown ? pe.optionalHeaderOffset : pe.machineOffset(),
                         machineKnown ? "machine " + machineName(pe.machine) + " with a " +
                                            (pe.optionalMagic == kPe32Magic ? "PE32 (0x10B)" : "PE32+ (0x20B)") +
                                            " optional header: no layout library is built that way"
                                      : "machine " + machineName(pe.machine) +
                                            " is none a layout library is built for (i386, AMD64, ARM64)"});
    }
    return forms;
}

} // namespace kbdread
