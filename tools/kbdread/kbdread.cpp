#include "kbdread.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "table_walk.h"

namespace kbdread {
namespace {

// The layout up to the point where the forms of one machine part: headers,
// mapped and relocated image, the export's RVA.
Layout mapLayout(std::span<const std::uint8_t> file, std::optional<std::uint64_t> loadBase)
{
    Layout layout;
    layout.pe = parseHeaders(ByteView(file));
    formsFor(layout.pe); // the machine first: another's header fields mean other things
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
    return layout;
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

// The i386 forms in the order to try them: the record's second 32-bit word
// is the upper half of pCharModifiers (zero) in the WOW64 form and
// pVkToWcharTable (never null) in the x86 form.
std::vector<Form> i386Order(const Layout& mapped)
{
    Layout probe = mapped;
    const ImageMap map(probe.image, probe.pe);
    const FormDescription& i386 = describe(Form::X86);
    const Section* s = probe.pe.sectionAt(probe.descriptorRva);
    if (s && probe.descriptorRva + std::uint64_t{i386.codeSize} <= s->end()) {
        try {
            const std::int64_t record = i386.decodeDescriptor(map, probe.descriptorRva, probe.loadBase).tablesRva;
            if (record >= 0 && map.fits(static_cast<std::uint64_t>(record), 8) &&
                map.u32(static_cast<std::uint32_t>(record) + 4) == 0)
                return {Form::Wow64, Form::X86};
        } catch (const ReadError&) {
            // The walk reports the code.
        }
    }
    return {Form::X86, Form::Wow64};
}

} // namespace

Layout readLayout(std::span<const std::uint8_t> file, std::optional<std::uint64_t> loadBase, std::optional<Form> form)
{
    const Layout mapped = mapLayout(file, loadBase);
    std::vector<Form> candidates = formsFor(mapped.pe);
    if (form) {
        const FormDescription& forced = describe(*form);
        if (std::find(candidates.begin(), candidates.end(), *form) == candidates.end())
            throw ReadError(ErrorKind::FormMismatch,
                            {"Machine", std::nullopt, mapped.pe.optionalHeaderOffset - 20,
                             std::string("the ") + forced.name + " form is an image for machine " +
                                 machineName(forced.machine) + ", but this image is for machine " +
                                 machineName(mapped.pe.machine)});
        try {
            return walkAs(mapped, *form, true);
        } catch (const ReadError& error) {
            for (Form other : candidates)
                if (other != *form) {
                    try {
                        walkAs(mapped, other, false);
                    } catch (const ReadError&) {
                        continue;
                    }
                    throw ReadError(ErrorKind::FormMismatch,
                                    {error.problem().where, error.problem().rva, error.problem().fileOffset,
                                     std::string("the tables do not read as the ") + forced.name + " form (" +
                                         error.what() + "); they read as the " + describe(other).name + " form"});
                }
            throw;
        }
    }
    if (candidates.size() == 1)
        return walkAs(mapped, candidates.front(), false);
    candidates = i386Order(mapped);
    try {
        return walkAs(mapped, candidates[0], false);
    } catch (const ReadError& first) {
        try {
            return walkAs(mapped, candidates[1], false);
        } catch (const ReadError&) {
            throw first;
        }
    }
}

Layout readLayout(const std::filesystem::path& path, std::optional<std::uint64_t> loadBase, std::optional<Form> form)
{
    const std::vector<std::uint8_t> bytes = readFileBytes(path);
    return readLayout(std::span<const std::uint8_t>(bytes), loadBase, form);
}

} // namespace kbdread
