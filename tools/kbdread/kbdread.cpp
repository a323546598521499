#include "kbdread.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "table_walk.h"

namespace kbdread {
namespace {

// The layout up to the point where the forms of one machine part: the
// image mapped and relocated, the export's RVA.
void mapAndRelocate(Layout& layout, std::span<const std::uint8_t> file, std::optional<std::uint64_t> loadBase)
{
    layout.loadBase = loadBase.value_or(layout.pe.imageBase);
    if (layout.loadBase % 0x10000 != 0 ||
        layout.loadBase > std::numeric_limits<std::uint64_t>::max() - layout.pe.sizeOfImage)
        throw std::invalid_argument("load base " + hex(layout.loadBase) +
                                    " is not 64 KiB aligned or leaves no room for the image");
    if (layout.pe.optionalMagic == kPe32Magic && layout.loadBase > std::numeric_limits<std::uint32_t>::max() -
                                                                     layout.pe.sizeOfImage)
        throw std::invalid_argument("load base " + hex(layout.loadBase) + " is beyond a 32-bit image's reach");
    layout.image = mapImage(file, layout.pe);
    ImageMap map(layout.image, layout.pe);
    applyRelocations(map, layout.pe, layout.loadBase);
    layout.descriptorRva = readExports(map, layout.pe);
}

Layout walkAs(const Layout& mapped, Form form, bool forced)
{
    Layout layout = mapped;
    layout.form = form;
    layout.formForced = forced;
    const ImageMap map(layout.image, layout.pe);
    walkTables(layout, map);
    return layout;
}

// The i386 forms in the order to try them. Every pointer field of the
// record carries a base relocation: in the x86 form they fall on 4-byte
// fields, some at offsets that are odd multiples of 4 (pVkToWcharTable at
// +0x4); in the WOW64 form only on 8-byte boundaries. A damaged pointer value
// or one lost relocation does not change the answer.
std::vector<Form> i386Order(const Layout& mapped)
{
    const FormDescription& i386 = describe(Form::X86);
    const Section* s = mapped.pe.sectionAt(mapped.descriptorRva);
    if (!s || mapped.descriptorRva + std::uint64_t{i386.codeSize} > s->end())
        return {Form::X86, Form::Wow64};
    std::int64_t record = -1;
    try {
        record = i386.decodeDescriptor(ByteView(mapped.image), mapped.pe, mapped.descriptorRva, mapped.loadBase,
                                        kDescriptorExport)
                     .tablesRva;
    } catch (const ReadError&) {
        return {Form::X86, Form::Wow64}; // the walk reports the code
    }
    for (const Relocation& r : mapped.pe.relocations) {
        const std::int64_t offset = std::int64_t{r.rva} - record;
        if (r.type != kRelocAbsolute && offset >= 0 && offset < i386.tables.tablesSize && offset % 8 == 4)
            return {Form::X86, Form::Wow64};
    }
    return {Form::Wow64, Form::X86};
}

// The form asked for, refused with FormMismatch when the image is for
// another machine or its tables only read in another width.
Layout readForced(const Layout& mapped, Form form, const std::vector<Form>& fitting)
{
    const FormDescription& forced = describe(form);
    if (std::find(fitting.begin(), fitting.end(), form) == fitting.end())
        throw ReadError(ErrorKind::FormMismatch,
                        {"Machine", std::nullopt, mapped.pe.machineOffset(),
                         std::string("the ") + forced.name + " form is an image for machine " +
                             machineName(forced.machine) + ", but this image is for machine " +
                             machineName(mapped.pe.machine)});
    try {
        return walkAs(mapped, form, true);
    } catch (const ReadError& error) {
        for (Form other : fitting) {
            if (other == form)
                continue;
            try {
                walkAs(mapped, other, false);
            } catch (const ReadError&) {
                continue;
            }
            Problem problem = error.problem();
            problem.message = std::string("the tables do not read as the ") + forced.name + " form (" +
                              error.what() + "); they read as the " + describe(other).name + " form";
            throw ReadError(ErrorKind::FormMismatch, std::move(problem));
        }
        throw;
    }
}

// The form the image is in: the one its machine is built in, or for i386
// the likelier width first and the other when only it reads.
Layout readDetected(const Layout& mapped, const std::vector<Form>& fitting)
{
    if (fitting.size() == 1)
        return walkAs(mapped, fitting.front(), false);
    const std::vector<Form> order = i386Order(mapped);
    try {
        return walkAs(mapped, order[0], false);
    } catch (const ReadError& first) {
        try {
            return walkAs(mapped, order[1], false);
        } catch (const ReadError&) {
            throw first;
        }
    }
}

} // namespace

Layout readLayout(std::span<const std::uint8_t> file, std::optional<std::uint64_t> loadBase, std::optional<Form> form)
{
    Layout mapped;
    mapped.pe = parseHeaders(ByteView(file));
    const std::vector<Form> fitting = formsFor(mapped.pe); // before fields whose meaning depends on the machine
    mapAndRelocate(mapped, file, loadBase);
    return form ? readForced(mapped, *form, fitting) : readDetected(mapped, fitting);
}

Layout readLayout(const std::filesystem::path& path, std::optional<std::uint64_t> loadBase, std::optional<Form> form)
{
    const std::vector<std::uint8_t> bytes = readFileBytes(path);
    return readLayout(std::span<const std::uint8_t>(bytes), loadBase, form);
}

} // namespace kbdread
