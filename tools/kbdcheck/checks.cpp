#include <algorithm>
#include <bit>
#include <map>
#include <set>
#include <stdexcept>

#include "kbdcheck.h"
#include "names.h"

namespace kbdcheck {
namespace {

using kbdread::ErrorKind;
using kbdread::Layout;
using kbdread::PointerRole;
using kbdread::PointerSite;
using kbdread::hex;

constexpr std::uint32_t kScnMemWrite = 0x80000000;
constexpr std::uint32_t kScnMemExecute = 0x20000000;
constexpr std::uint32_t kScnMemDiscardable = 0x02000000;
constexpr std::uint32_t kSectionCharacteristicsField = 36;

std::string relocationTypeName(std::uint8_t type)
{
    switch (type) {
    case kbdread::kRelocHighLow: return "HIGHLOW (3)";
    case kbdread::kRelocDir64: return "DIR64 (10)";
    }
    return std::to_string(type);
}

// The record and field holding a pointer, as a reader of the format names it.
std::string describe(const PointerSite& site)
{
    switch (site.role) {
    case PointerRole::CharModifiers: return "KBDTABLES.pCharModifiers";
    case PointerRole::VkToWcharTable: return "KBDTABLES.pVkToWcharTable";
    case PointerRole::DeadKey: return "KBDTABLES.pDeadKey";
    case PointerRole::KeyNames: return "KBDTABLES.pKeyNames";
    case PointerRole::KeyNamesExt: return "KBDTABLES.pKeyNamesExt";
    case PointerRole::KeyNamesDead: return "KBDTABLES.pKeyNamesDead";
    case PointerRole::VSCtoVK: return "KBDTABLES.pusVSCtoVK";
    case PointerRole::VSCtoVK_E0: return "KBDTABLES.pVSCtoVK_E0";
    case PointerRole::VSCtoVK_E1: return "KBDTABLES.pVSCtoVK_E1";
    case PointerRole::Ligature: return "KBDTABLES.pLigature";
    case PointerRole::VkToBit: return "MODIFIERS.pVkToBit";
    case PointerRole::CharTableRows:
        return "character table " + std::to_string(site.index + 1) + " pVkToWchars";
    case PointerRole::KeyNameString:
        return "pKeyNames entry " + std::to_string(site.index + 1) + " pwsz";
    case PointerRole::KeyNameExtString:
        return "pKeyNamesExt entry " + std::to_string(site.index + 1) + " pwsz";
    case PointerRole::DeadKeyNameString:
        return "pKeyNamesDead entry " + std::to_string(site.index + 1);
    case PointerRole::RecordAddress:
        return "KbdLayerDescriptor's code (record address)";
    case PointerRole::NlsRecordAddress:
        return "KbdNlsLayerDescriptor's code (record address)";
    case PointerRole::VkToF: return "KBDNLSTABLES.pVkToF";
    case PointerRole::MouseVKey: return "KBDNLSTABLES.pusMouseVKey";
    }
    return kbdread::toString(site.role);
}

// What a pointer leads to, for naming records in overlap findings.
std::string recordName(const PointerSite& site)
{
    switch (site.role) {
    case PointerRole::CharModifiers: return "the MODIFIERS record";
    case PointerRole::VkToWcharTable: return "the list of character tables";
    case PointerRole::KeyNames: return "the key-name list";
    case PointerRole::KeyNamesExt: return "the E0 key-name list";
    case PointerRole::VSCtoVK: return "the scan-code map";
    case PointerRole::VSCtoVK_E0: return "the E0 scan-code list";
    case PointerRole::VSCtoVK_E1: return "the E1 scan-code list";
    case PointerRole::Ligature: return "the ligature table";
    case PointerRole::VkToBit: return "the VK_TO_BIT list";
    case PointerRole::CharTableRows: return "the rows of character table " + std::to_string(site.index + 1);
    case PointerRole::KeyNameString: return "key name " + std::to_string(site.index + 1);
    case PointerRole::KeyNameExtString: return "E0 key name " + std::to_string(site.index + 1);
    case PointerRole::DeadKey: return "the dead-key table";
    case PointerRole::KeyNamesDead: return "the dead-key name list";
    case PointerRole::DeadKeyNameString: return "dead-key name " + std::to_string(site.index + 1);
    case PointerRole::NlsRecordAddress: return "the KBDNLSTABLES record";
    case PointerRole::VkToF: return "the VK_F table";
    case PointerRole::MouseVKey: return "the mouse virtual-key list";
    case PointerRole::RecordAddress: break;
    }
    return "the record of " + describe(site);
}

bool isList(PointerRole role)
{
    switch (role) {
    case PointerRole::VkToWcharTable:
    case PointerRole::KeyNames:
    case PointerRole::KeyNamesExt:
    case PointerRole::VSCtoVK_E0:
    case PointerRole::VSCtoVK_E1:
    case PointerRole::Ligature:
    case PointerRole::VkToBit:
    case PointerRole::CharTableRows:
    case PointerRole::DeadKey:
    case PointerRole::KeyNamesDead:
        return true;
    default:
        return false;
    }
}

bool isString(PointerRole role)
{
    return role == PointerRole::KeyNameString || role == PointerRole::KeyNameExtString ||
           role == PointerRole::DeadKeyNameString;
}

// A field of a list entry, for naming the field a dirty terminator has
// something in.
struct EntryField {
    std::string name;
    std::uint32_t offset;
    std::uint32_t size;
};

// The fields of the entries of the list a pointer leads to, as the format
// names them; bytes outside every field are fill.
std::vector<EntryField> entryFields(const PointerSite& site, const kbdread::TableFormat& t)
{
    const std::uint32_t p = t.pointer;
    const auto cells = [&](const char* record, std::uint32_t first) {
        std::vector<EntryField> fields;
        for (std::uint32_t at = first, i = 0; at + 2 <= site.entrySize; at += 2, ++i)
            fields.push_back({std::string(record) + ".wch[" + std::to_string(i) + "]", at, 2});
        return fields;
    };
    std::vector<EntryField> fields;
    switch (site.role) {
    case PointerRole::VkToBit: return {{"VK_TO_BIT.Vk", 0, 1}, {"VK_TO_BIT.ModBits", 1, 1}};
    case PointerRole::VkToWcharTable:
        return {{"VK_TO_WCHAR_TABLE.pVkToWchars", 0, p},
                {"VK_TO_WCHAR_TABLE.nModifications", t.nModifications, 1},
                {"VK_TO_WCHAR_TABLE.cbSize", t.cbSize, 1}};
    case PointerRole::KeyNames:
    case PointerRole::KeyNamesExt: return {{"VSC_LPWSTR.vsc", 0, 1}, {"VSC_LPWSTR.pwsz", t.keyNameString, p}};
    case PointerRole::VSCtoVK_E0:
    case PointerRole::VSCtoVK_E1: return {{"VSC_VK.Vsc", 0, 1}, {"VSC_VK.Vk", 2, 2}};
    case PointerRole::DeadKey:
        return {{"DEADKEY.dwBoth", 0, 4},
                {"DEADKEY.wchComposed", kbdread::kDeadKeyComposed, 2},
                {"DEADKEY.uFlags", kbdread::kDeadKeyFlags, 2}};
    case PointerRole::KeyNamesDead: return {{"pKeyNamesDead entry", 0, p}};
    case PointerRole::CharTableRows:
        fields = {{"VK_TO_WCHARS.VirtualKey", 0, 1}, {"VK_TO_WCHARS.Attributes", 1, 1}};
        for (auto& cell : cells("VK_TO_WCHARS", 2))
            fields.push_back(std::move(cell));
        return fields;
    case PointerRole::Ligature:
        fields = {{"LIGATURE.VirtualKey", 0, 1}, {"LIGATURE.ModificationNumber", 2, 2}};
        for (auto& cell : cells("LIGATURE", 4))
            fields.push_back(std::move(cell));
        return fields;
    default: return {};
    }
}

std::string fieldAt(const std::vector<EntryField>& fields, std::uint32_t byte)
{
    for (const EntryField& field : fields)
        if (byte >= field.offset && byte < field.offset + field.size)
            return field.name;
    return "fill";
}

class Checker {
public:
    Checker(std::span<const std::uint8_t> file, const Layout& layout)
        : file_(file), layout_(layout), pe_(layout.pe), form_(layout.description())
    {}

    std::vector<Finding> run()
    {
        checkImports();
        checkHeaderFields();
        checkDirectories();
        checkEntryPoint();
        checkExportNames();
        checkChecksum();
        checkSections();
        checkExports();
        checkPointerTargets();
        checkUpperHalves();
        checkRelocations();
        checkRecordExtents();
        checkTerminators();
        checkKeyNames();
        checkModifiers();
        checkCharacterTables();
        checkDeadKeys();
        checkLigatures();
        checkResources();
        return std::move(findings_);
    }

    std::optional<kbdread::Resources> resources() const { return resources_; }

private:
    void atRva(const char* code, std::string where, std::uint32_t rva, std::string message,
               Severity severity = Severity::Error)
    {
        findings_.push_back({{std::move(where), rva, pe_.fileOffsetOf(rva), std::move(message)}, code, severity});
    }

    void atFileOffset(const char* code, std::string where, std::uint32_t offset, std::string message)
    {
        findings_.push_back({{std::move(where), std::nullopt, offset, std::move(message)}, code});
    }

    // An import directory lists descriptors up to an all-zero one; a
    // directory whose first descriptor is that terminator imports nothing
    // (GNU ld writes one into every image).
    void checkImports()
    {
        struct ImportDirectory {
            std::size_t index;
            const char* name;
            std::uint32_t descriptorSize;
        };
        constexpr ImportDirectory kImportDirectories[] = {
            {kbdread::kImportDirectory, "import", 20},
            {kbdread::kBoundImportDirectory, "bound-import", 8},
            {kbdread::kDelayImportDirectory, "delay-import", 32},
        };
        const auto& dirs = pe_.dataDirectories;
        for (const auto& [index, name, descriptorSize] : kImportDirectories) {
            if (index >= dirs.size() || (dirs[index].rva == 0 && dirs[index].size == 0))
                continue;
            const std::uint64_t first = dirs[index].rva;
            const auto& image = layout_.image;
            if (first + descriptorSize <= image.size() &&
                std::all_of(image.begin() + first, image.begin() + first + descriptorSize,
                            [](std::uint8_t byte) { return byte == 0; }))
                continue;
            atFileOffset(code::kImports, std::string("data directory ") + name, pe_.dataDirectoryOffset(index),
                         std::string("the ") + name + " directory is present (RVA " + hex(dirs[index].rva) +
                             ", " + std::to_string(dirs[index].size) +
                             " bytes): a layout library is loaded as plain tables and must import nothing");
        }
    }

    // The image loader refuses alignments that are zero or not powers of
    // two, and file data aligned more coarsely than the sections.
    void checkHeaderFields()
    {
        struct Alignment {
            const char* field;
            std::uint32_t value;
            std::uint32_t offset; // in the optional header
        };
        const Alignment alignments[] = {
            {"SectionAlignment", pe_.sectionAlignment, 32},
            {"FileAlignment", pe_.fileAlignment, 36},
        };
        for (const auto& [field, value, offset] : alignments)
            if (!std::has_single_bit(value))
                atFileOffset(code::kBadHeader, field, pe_.optionalHeaderOffset + offset,
                             std::string(field) + " is " + hex(value) + ": the image loader needs a power of two");
        if (std::has_single_bit(pe_.sectionAlignment) && std::has_single_bit(pe_.fileAlignment) &&
            pe_.fileAlignment > pe_.sectionAlignment)
            atFileOffset(code::kBadHeader, "FileAlignment", pe_.optionalHeaderOffset + 36,
                         "FileAlignment " + hex(pe_.fileAlignment) + " is larger than SectionAlignment " +
                             hex(pe_.sectionAlignment) + ": the image loader refuses the image");
    }

    // Directories the reader has no other use for must still lie inside the
    // image: the loader reads them when it maps it.
    void checkDirectories()
    {
        struct Directory {
            std::size_t index;
            const char* name;
        };
        constexpr Directory kDirectories[] = {
            {3, "exception"}, {6, "debug"}, {8, "global pointer"}, {9, "TLS"},
            {10, "load configuration"}, {12, "import address table"}, {14, "CLR runtime"},
        };
        for (const auto& [index, name] : kDirectories) {
            const kbdread::DataDirectory* dir = pe_.directory(index);
            if (!dir)
                continue;
            const auto* section = pe_.sectionAt(dir->rva);
            if (!section || std::uint64_t{dir->rva} + dir->size > section->end())
                atFileOffset(code::kBadHeader, std::string("data directory ") + name, pe_.dataDirectoryOffset(index),
                             std::string("the ") + name + " directory (RVA " + hex(dir->rva) + ", " +
                                 std::to_string(dir->size) +
                                 " bytes) does not lie inside a section of the image: whatever reads it (the image "
                                 "loader, a debugger) reads past the image's data");
        }
    }

    void checkEntryPoint()
    {
        const std::uint32_t entry = pe_.entryPointRva;
        if (entry == 0)
            return;
        const auto* section = pe_.sectionAt(entry);
        if (!section || !(section->characteristics & kScnMemExecute)) {
            atFileOffset(code::kEntryPoint, "AddressOfEntryPoint", pe_.entryPointOffset(),
                         "the entry point RVA " + hex(entry) +
                             " lies in no executable section: a program that loads the library would fault calling it");
            return;
        }
        const std::size_t available = std::min<std::size_t>(16, section->end() - entry);
        const std::span<const std::uint8_t> code{layout_.image.data() + entry, available};
        if (form_.onlyReturns(code))
            return;
        atRva(code::kEntryPoint, "AddressOfEntryPoint", entry,
              "the entry point does more than return (" +
                  kbdread::hexBytes(code.first(std::min<std::size_t>(8, available))) +
                  " ...): every program that loads the library runs it; a layout library needs no entry point, "
                  "or one that only returns");
    }

    // The loader looks the exports up by their plain names; a compiler's
    // decoration of one finds nothing.
    void checkExportNames()
    {
        for (const auto& name : pe_.exports.names)
            for (const char* exported : {kbdread::kDescriptorExport, kbdread::kNlsDescriptorExport})
                if (kbdread::isDecoratedName(name.name, exported))
                    atRva(code::kDecoratedExport, "export name", name.nameRva,
                          std::string(exported) + " is exported as \"" + name.name +
                              "\": the loader looks up the undecorated name " + exported + " and finds nothing");
    }

    void checkChecksum()
    {
        const std::uint32_t stored = layout_.pe.checksumStored;
        if (stored == 0)
            return;
        const std::uint32_t actual = kbdread::computePeChecksum(file_);
        if (stored != actual)
            atFileOffset(code::kChecksum, "CheckSum", pe_.checksumOffset,
                         "the stored checksum " + hex(stored) + " does not match the file's " + hex(actual) +
                             ": the file changed after its checksum was computed, and tools that verify the "
                             "checksum take it for damaged");
    }

    void checkSections()
    {
        const auto& sections = pe_.sections;
        for (std::size_t i = 0; i < sections.size(); ++i)
            if (sections[i].characteristics & kScnMemWrite)
                atFileOffset(code::kWritableSection, "section " + sections[i].name + " Characteristics",
                             pe_.sectionHeaderOffset(i) + kSectionCharacteristicsField,
                             "section " + sections[i].name + " is mapped writable (flags " +
                                 hex(sections[i].characteristics) +
                                 "): the tables must be read-only, so that nothing that maps the library can change "
                                 "what the keys type");
    }

    // Each export's code must be able to run, and the record it returns
    // must stay: the loader reads it for every key press.
    void checkExports()
    {
        struct Export {
            const char* name;
            std::uint32_t code;
            std::uint32_t record;
            const char* recordName;
        };
        std::vector<Export> exports{
            {kbdread::kDescriptorExport, layout_.descriptorRva, layout_.tablesRva, "KBDTABLES"}};
        if (layout_.nls)
            exports.push_back(
                {kbdread::kNlsDescriptorExport, layout_.nls->descriptorRva, layout_.nls->rva, "KBDNLSTABLES"});
        for (const auto& [name, code, record, recordName] : exports) {
            const auto* section = pe_.sectionAt(code);
            if (!section || !(section->characteristics & kScnMemExecute))
                atRva(code::kExportNotExecutable, name, code,
                      std::string("the code of ") + name + " lies in section " +
                          (section ? section->name : std::string("?")) +
                          ", which is not executable: calling it would fault");
            discardable(recordName, record, std::string("the ") + recordName + " record that " + name + " returns",
                        record);
        }
    }

    // The tables are read for every key press as long as the layout is
    // loaded, so none may live in a section a loader is allowed to drop.
    // The records the exports return are checked with the exports.
    void checkPointerTargets()
    {
        for (const auto& site : layout_.pointerSites)
            if (!site.isNull() && site.role != PointerRole::RecordAddress && site.role != PointerRole::NlsRecordAddress)
                discardable(describe(site), site.siteRva, describe(site) + " points to RVA " + hex(site.targetRva),
                            site.targetRva);
    }

    // A finding at `rva` when the table at `target` lies in a discardable
    // section.
    void discardable(const std::string& where, std::uint32_t rva, const std::string& what, std::uint32_t target)
    {
        const auto* section = pe_.sectionAt(target);
        if (section && (section->characteristics & kScnMemDiscardable))
            atRva(code::kDiscardableTarget, where, rva,
                  what + ", in section " + section->name +
                      ", which is marked discardable: a loader may drop it once the image is loaded, but the "
                      "tables are read for as long as the layout is in use");
    }

    // A 32-bit reader of the WOW64 form takes the lower half of each
    // pointer field; the 64-bit kernel reads all of it.
    void checkUpperHalves()
    {
        for (const auto& site : layout_.pointerSites)
            if (site.upperHalf != 0)
                atRva(code::kUpperHalf, describe(site), site.siteRva + 4,
                      describe(site) + " has upper half " + hex(site.upperHalf, 8) +
                          ": a 64-bit-wide pointer field of a 32-bit image must hold zero there, or the 64-bit "
                          "kernel, which reads the whole field, follows another address than 32-bit programs do");
    }

    void checkRelocations()
    {
        std::map<std::uint32_t, std::uint8_t> relocated;
        for (const auto& relocation : layout_.pe.relocations) {
            if (relocation.type == kbdread::kRelocAbsolute)
                continue;
            if (!relocated.emplace(relocation.rva, relocation.type).second)
                atRva(code::kDuplicateRelocation, "base relocation", relocation.rva,
                      "RVA " + hex(relocation.rva) +
                          " is relocated twice: loaded at another base, the loader would add the load delta twice");
        }

        std::set<std::uint32_t> pointerSites;
        for (const auto& site : layout_.pointerSites) {
            if (site.isNull())
                continue;
            pointerSites.insert(site.siteRva);
            const auto found = relocated.find(site.siteRva);
            if (found == relocated.end())
                atRva(code::kMissingRelocation, describe(site), site.siteRva,
                      describe(site) + " (-> RVA " + hex(site.targetRva) +
                          ") has no base relocation: loaded at another base it would point astray");
            else if (found->second != form_.relocationType)
                atRva(code::kRelocationType, describe(site), site.siteRva,
                      describe(site) + " is relocated with type " + relocationTypeName(found->second) + ", not " +
                          relocationTypeName(form_.relocationType) + ": loaded at another base, the loader would move " +
                          std::to_string(relocatedBytes(found->second)) + " bytes of a " +
                          std::to_string(form_.addressWidth) + "-byte address");
        }
        for (const auto& [rva, type] : relocated) {
            if (pointerSites.contains(rva))
                continue;
            const auto nullSite = std::find_if(layout_.pointerSites.begin(), layout_.pointerSites.end(),
                                                [rva](const PointerSite& s) { return s.siteRva == rva; });
            if (nullSite != layout_.pointerSites.end())
                atRva(code::kStrayRelocation, describe(*nullSite), rva,
                      "a relocation (type " + std::to_string(type) + ") covers the null " + describe(*nullSite) +
                          ": at another base it would stop being null");
            else
                atRva(code::kStrayRelocation, "base relocation", rva, strayRelocation(rva, type));
        }
    }

    static unsigned relocatedBytes(std::uint8_t type) { return type == kbdread::kRelocDir64 ? 8 : 4; }

    // What a relocation that covers no stored pointer does: it changes the
    // bytes of whatever record it lies in, or nothing any reader uses.
    std::string strayRelocation(std::uint32_t rva, std::uint8_t type) const
    {
        const unsigned width = relocatedBytes(type);
        const std::string relocation = "a relocation of type " + relocationTypeName(type) + " at RVA " + hex(rva) +
                                       " covers no pointer the tables hold";
        for (const Extent& extent : recordExtents())
            if (rva < extent.end && extent.begin < rva + width)
                return relocation + ", but " + std::to_string(width) + " bytes of " + extent.name + " (RVA " +
                       hex(extent.begin) + "-" + hex(extent.end) +
                       "): loaded at another base, the loader adds the load delta to them and changes what they hold";
        return relocation + " and no bytes they use: harmless to the tables, but a sign that the relocations "
                            "and the tables do not match";
    }

    struct Extent {
        std::uint32_t begin;
        std::uint32_t end;
        std::string name;
        std::string where;
        bool list;
        bool string;
    };

    // Every record the loader reads: the export directory, each export's
    // code and record, and what every pointer leads to.
    std::vector<Extent> recordExtents() const
    {
        std::vector<Extent> extents;
        extents.push_back({layout_.tablesRva, layout_.tablesRva + form_.tables.tablesSize, "the KBDTABLES record",
                           "KBDTABLES", false, false});
        const auto& dirs = pe_.dataDirectories;
        if (dirs.size() > kbdread::kExportDirectory && dirs[kbdread::kExportDirectory].size != 0)
            extents.push_back({dirs[0].rva, dirs[0].rva + dirs[0].size, "the export directory",
                               "export directory", false, false});
        extents.push_back({layout_.descriptorRva, layout_.descriptorRva + form_.codeSize, "the code of KbdLayerDescriptor",
                           "KbdLayerDescriptor", false, false});
        if (layout_.nls) {
            extents.push_back({layout_.nls->rva, layout_.nls->rva + form_.tables.nlsTablesSize, "the KBDNLSTABLES record",
                               "KBDNLSTABLES", false, false});
            extents.push_back({layout_.nls->descriptorRva, layout_.nls->descriptorRva + form_.codeSize,
                               "the code of KbdNlsLayerDescriptor", "KbdNlsLayerDescriptor", false, false});
        }
        std::set<std::uint32_t> seenTargets;
        for (const auto& site : layout_.pointerSites) {
            if (site.isNull() || site.targetSize == 0 || site.role == PointerRole::RecordAddress ||
                site.role == PointerRole::NlsRecordAddress || !seenTargets.insert(site.targetRva).second)
                continue;
            extents.push_back({site.targetRva, site.targetRva + site.targetSize, recordName(site),
                               describe(site), isList(site.role), isString(site.role)});
        }
        return extents;
    }

    // Records must not share bytes: a list that reaches into the next
    // record has lost its terminator.
    void checkRecordExtents()
    {
        std::vector<Extent> extents = recordExtents();
        std::sort(extents.begin(), extents.end(),
                  [](const Extent& a, const Extent& b) { return a.begin < b.begin; });
        for (std::size_t i = 0; i < extents.size(); ++i) {
            for (std::size_t j = i + 1; j < extents.size() && extents[j].begin < extents[i].end; ++j) {
                const Extent& first = extents[i];
                const Extent& second = extents[j];
                if (first.string && second.string)
                    continue; // the linker may share the tail of one string with another
                if (first.list && first.begin < second.begin)
                    atRva(code::kUnterminated, first.where, second.begin,
                          first.name + " (from RVA " + hex(first.begin) + ") runs on into " + second.name +
                              " at RVA " + hex(second.begin) + ": its terminator is missing");
                else
                    atRva(code::kOverlap, first.where, second.begin,
                          first.name + " (RVA " + hex(first.begin) + "-" + hex(first.end) + ") and " +
                              second.name + " (RVA " + hex(second.begin) + "-" + hex(second.end) +
                              ") share bytes: what one holds is read as the other's too");
            }
        }
    }

    // Every list ends with an all-zero entry. The reader stops at the field
    // that marks the end, as the loader does; the rest of that entry must be
    // zero too.
    void checkTerminators()
    {
        for (const auto& site : layout_.pointerSites) {
            if (site.isNull() || site.entrySize == 0)
                continue;
            const std::uint32_t terminator = site.targetRva + site.targetSize - site.entrySize;
            for (std::uint32_t at = 0; at < site.entrySize; ++at) {
                const std::uint8_t byte = layout_.image[terminator + at];
                if (byte == 0)
                    continue;
                const std::string field = fieldAt(entryFields(site, form_.tables), at);
                atRva(code::kDirtyTerminator, describe(site) + " terminator " + field, terminator + at,
                      "the entry ending " + recordName(site) + " (RVA " + hex(terminator) + ") has " + hex(byte) +
                          " in " + field + " (byte " + std::to_string(at) +
                          "): the format ends a list with an entry that is zero throughout" +
                          (field == "fill" ? "; no reader tests the fill, so readers still find the end here"
                                           : "; a reader that tests " + field +
                                                 " for the end takes this entry for one more and reads on"));
                break;
            }
        }
    }

    // A key-name entry with scan code 0 that names follow: readers of the
    // format disagree on where such a list ends.
    void checkKeyNames()
    {
        for (const auto& [names, list] :
             {std::pair{&layout_.keyNames, "pKeyNames"}, std::pair{&layout_.keyNamesExt, "pKeyNamesExt"}}) {
            const std::optional<std::size_t> zero = kbdread::zeroScanCodeEntry(*names);
            if (!zero)
                continue;
            const kbdread::KeyName& entry = (*names)[*zero];
            const std::size_t after = names->size() - *zero - 1;
            atRva(code::kZeroScanCodeName, std::string(list) + " entry " + std::to_string(*zero + 1), entry.entryRva,
                  "scan code 0 with the name \"" + utf8(entry.text) + "\" (a string, not a null pointer), and " +
                      std::to_string(after) + (after == 1 ? " name" : " names") +
                      " after it: readers that end the list at a zero scan code stop here and lose " +
                      namesText(*names, *zero + 1) +
                      "; readers that end it at a null pointer read them all. A list ends the same for every "
                      "reader only at the entry whose scan code and pointer are both zero",
                  Severity::Portability);
        }
    }

    // The first names of a list from `first` on, quoted: "Esc", "Tab", ...
    static std::string namesText(const std::vector<kbdread::KeyName>& names, std::size_t first)
    {
        constexpr std::size_t kShown = 3;
        std::string text;
        for (std::size_t i = first; i < names.size() && i < first + kShown; ++i)
            text += (i == first ? "\"" : ", \"") + utf8(names[i].text) + "\"";
        return names.size() - first > kShown ? text + ", ..." : text;
    }

    std::uint8_t widestTable() const
    {
        std::uint8_t widest = 0;
        for (const auto& table : layout_.charTables)
            widest = std::max(widest, table.nModifications);
        return widest;
    }

    void checkModifiers()
    {
        const auto& modifiers = layout_.modifiers;
        for (std::size_t i = 0; i < modifiers.vkToBit.size(); ++i) {
            const auto& entry = modifiers.vkToBit[i];
            if (std::popcount(entry.modBits) != 1)
                atRva(code::kModifierBits, "VK_TO_BIT entry " + std::to_string(i + 1),
                      vkToBitRva() + 2 * static_cast<std::uint32_t>(i),
                      virtualKeyName(entry.virtualKey) + " maps to modifier bits " + hex(entry.modBits) +
                          ": each modifier key must own exactly one bit");
        }
        const std::uint8_t widest = widestTable();
        for (std::size_t bits = 0; bits < modifiers.modNumber.size(); ++bits) {
            const std::uint8_t column = modifiers.modNumber[bits];
            if (column != kbdread::kShiftInvalid && column >= widest)
                atRva(code::kModifierNumber, "MODIFIERS.ModNumber[" + std::to_string(bits) + "]",
                      modifiers.rva + form_.tables.modNumber + static_cast<std::uint32_t>(bits),
                      "modifier bits " + std::to_string(bits) + " select column " + std::to_string(column) +
                          ", but the widest character table has " + std::to_string(widest) +
                          " columns: no key types anything with those modifiers");
        }
    }

    std::uint32_t vkToBitRva() const
    {
        for (const auto& site : layout_.pointerSites)
            if (site.role == PointerRole::VkToBit)
                return site.targetRva;
        return layout_.modifiers.rva;
    }

    static std::string rowName(std::size_t table, std::size_t row, std::uint8_t virtualKey)
    {
        return "character table " + std::to_string(table + 1) + " row " + std::to_string(row + 1) + " (" +
               virtualKeyName(virtualKey) + ")";
    }

    bool hasLigatureRow(std::uint8_t virtualKey, std::size_t column) const
    {
        return std::any_of(layout_.ligatures.begin(), layout_.ligatures.end(), [&](const auto& row) {
            return row.virtualKey == virtualKey && row.modificationNumber == column;
        });
    }

    void checkCharacterTables()
    {
        std::map<std::uint8_t, std::size_t> firstTable;
        for (std::size_t t = 0; t < layout_.charTables.size(); ++t) {
            const auto& table = layout_.charTables[t];
            for (std::size_t r = 0; r < table.rows.size(); ++r) {
                const auto& row = table.rows[r];
                if (row.continuation)
                    continue; // the second half of the row before, read only through it
                const auto [earlier, isFirst] = firstTable.emplace(row.virtualKey, t);
                if (!isFirst)
                    atRva(code::kShadowedRow, rowName(t, r, row.virtualKey), row.rva,
                          "an earlier row for " + virtualKeyName(row.virtualKey) + " in character table " +
                              std::to_string(earlier->second + 1) +
                              " always wins: this row never decides what the key types (only a search by "
                              "character, such as VkKeyScan's, finds it)");
                const bool paired = r + 1 < table.rows.size() && table.rows[r + 1].continuation;
                if ((row.attributes & kbdread::kSgCaps) && !paired)
                    atRva(code::kSgCapsPair, rowName(t, r, row.virtualKey), row.rva + 1,
                          "the row has SGCAPS, but " + secondRowProblem(table, r) +
                              ": with Caps Lock the loader reads that as the key's characters");
                for (std::size_t c = 0; c < row.cells.size(); ++c) {
                    const std::uint32_t cellRva = row.rva + 2 + 2 * static_cast<std::uint32_t>(c);
                    const std::string where = rowName(t, r, row.virtualKey) + " column " + std::to_string(c);
                    if (row.cells[c] == kbdread::kWchLigature && !hasLigatureRow(row.virtualKey, c))
                        atRva(code::kMissingLigature, where, cellRva,
                              "the cell says 0xF002 (see the ligature table) but the ligature table has no row "
                              "for " + virtualKeyName(row.virtualKey) + " column " + std::to_string(c) +
                              ": the key types nothing there");
                    if (row.cells[c] == kbdread::kWchDead && layout_.deadKeyNull)
                        atRva(code::kDeadWithoutTables, where, cellRva,
                              "the cell says 0xF001 (dead key) but KBDTABLES.pDeadKey is null: the dead key "
                              "composes nothing");
                }
            }
        }
    }

    // Why the row after row r of a table is not its second row.
    static std::string secondRowProblem(const kbdread::CharTable& table, std::size_t r)
    {
        if (r + 1 == table.rows.size())
            return "it is the table's last row: the terminator follows it";
        return "the row after it is " + virtualKeyName(table.rows[r + 1].virtualKey) + "'s, not a second row (" +
               virtualKeyName(kbdread::kContinuationKey) + ")";
    }

    // Every dead-key cell has a second row that carries its dead character,
    // and every dead character has entries in the dead-key table.
    void checkDeadKeys()
    {
        for (std::size_t t = 0; t < layout_.charTables.size(); ++t) {
            const auto& table = layout_.charTables[t];
            for (std::size_t r = 0; r < table.rows.size(); ++r) {
                const auto& row = table.rows[r];
                const bool paired = r + 1 < table.rows.size() && table.rows[r + 1].continuation;
                for (std::size_t c = 0; c < row.cells.size(); ++c) {
                    if (row.cells[c] != kbdread::kWchDead)
                        continue;
                    const std::uint32_t cellRva = row.rva + 2 + 2 * static_cast<std::uint32_t>(c);
                    const std::string where = rowName(t, r, row.virtualKey) + " column " + std::to_string(c);
                    if (!paired) {
                        atRva(code::kDeadKeyRow, where, cellRva,
                              "the cell says 0xF001 (dead key), but " + secondRowProblem(table, r) +
                                  ": the loader takes the dead character from there");
                        continue;
                    }
                    const char16_t accent = table.rows[r + 1].cells[c];
                    const bool known = std::any_of(layout_.deadKeys.begin(), layout_.deadKeys.end(),
                                                   [&](const auto& entry) { return entry.accent == accent; });
                    if (!layout_.deadKeyNull && !known)
                        atRva(code::kDeadKeyMissing, where, table.rows[r + 1].rva + 2 + 2 * static_cast<std::uint32_t>(c),
                              "the dead character " + codePoint(accent) + " has no entry in the dead-key table: "
                              "the key composes nothing");
                }
            }
        }
    }

    void checkLigatures()
    {
        for (std::size_t i = 0; i < layout_.ligatures.size(); ++i) {
            const auto& lig = layout_.ligatures[i];
            const auto* row = layout_.rowFor(lig.virtualKey);
            const bool reached = row && lig.modificationNumber < row->cells.size() &&
                                 row->cells[lig.modificationNumber] == kbdread::kWchLigature;
            if (!reached)
                atRva(code::kUnusedLigature, "ligature row " + std::to_string(i + 1), lig.rva,
                      "no 0xF002 cell of " + virtualKeyName(lig.virtualKey) + " column " +
                          std::to_string(lig.modificationNumber) + " leads to this ligature row: it is never used");
        }
    }

    void checkResources()
    {
        try {
            resources_ = kbdread::readResources(kbdread::ByteView(layout_.image), pe_);
        } catch (const kbdread::ReadError& error) {
            kbdread::Problem problem = error.problem();
            problem.where = "resource directory";
            findings_.push_back({std::move(problem), code::kResources});
            return;
        }
        for (const auto& version : resources_->versions)
            if (version.fixed.signature != kbdread::kFixedFileInfoSignature)
                atRva(code::kResources, "VS_FIXEDFILEINFO.dwSignature", version.fixedRva,
                      "the version block's fixed part has signature " + hex(version.fixed.signature, 8) + ", not " +
                          hex(kbdread::kFixedFileInfoSignature, 8) + ": Windows reads no version from it");
    }

    std::span<const std::uint8_t> file_;
    const Layout& layout_;
    const kbdread::PeInfo& pe_;
    const kbdread::FormDescription& form_;
    std::vector<Finding> findings_;
    std::optional<kbdread::Resources> resources_;
};

} // namespace

const char* toString(Severity severity)
{
    return severity == Severity::Portability ? "portability" : "error";
}

bool isUnreadable(ErrorKind kind)
{
    return kind == ErrorKind::FileUnreadable || kind == ErrorKind::NotPe || kind == ErrorKind::UnsupportedMachine ||
           kind == ErrorKind::FormMismatch;
}

const char* codeFor(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::Truncated: return code::kTruncated;
    case ErrorKind::BadHeader: return code::kBadHeader;
    case ErrorKind::BadSection: return code::kBadSection;
    case ErrorKind::BadRelocation: return code::kBadRelocations;
    case ErrorKind::MissingExport: return code::kMissingExport;
    case ErrorKind::BadExportCode: return code::kExportCode;
    case ErrorKind::NullPointer: return code::kNullPointer;
    case ErrorKind::PointerOutsideImage: return code::kPointerOutside;
    case ErrorKind::Unterminated: return code::kUnterminated;
    case ErrorKind::BadCount: return code::kBadCount;
    case ErrorKind::BadResource: return code::kResources;
    case ErrorKind::FileUnreadable:
    case ErrorKind::NotPe:
    case ErrorKind::UnsupportedMachine:
    case ErrorKind::FormMismatch: break;
    }
    return code::kBadHeader;
}

Report check(std::span<const std::uint8_t> file, std::optional<kbdread::Form> form)
{
    Report report;
    try {
        report.layout = kbdread::readLayout(file, std::nullopt, form);
    } catch (const kbdread::ReadError& error) {
        if (isUnreadable(error.kind()))
            throw;
        report.findings.push_back({error.problem(), codeFor(error.kind())});
        return report;
    } catch (const std::invalid_argument& error) {
        // The reader maps at the preferred base, and refuses one the loader
        // could never use.
        report.findings.push_back({{"ImageBase", std::nullopt, std::nullopt, error.what()}, code::kBadHeader});
        return report;
    }
    Checker checker(file, *report.layout);
    report.findings = checker.run();
    report.resources = checker.resources();
    return report;
}

} // namespace kbdcheck
