// kbdcheck: checks a keyboard-layout library, in any of its four forms, for
// what the Windows image loader and keyboard-layout loader rely on, and
// renders the layout readably. Pure logic over the file's bytes; the command line is a thin
// shell around it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kbdread.h"
#include "resources.h"

namespace kbdcheck {

// Every kind of fault has its own code, so scripts and tests can tell them
// apart. A fault the reader stops at (the tables cannot be walked past it)
// is reported under the code of its kind.
namespace code {
inline constexpr const char* kTruncated = "image.truncated";           // file data ends early
inline constexpr const char* kBadHeader = "image.header";              // inconsistent header field
inline constexpr const char* kBadSection = "image.section";            // section outside the image or overlapping
inline constexpr const char* kImports = "image.imports";               // an import, bound- or delay-import directory
inline constexpr const char* kEntryPoint = "image.entry";              // the entry point runs code that does something
inline constexpr const char* kChecksum = "image.checksum";             // a stored checksum that does not match
inline constexpr const char* kWritableSection = "section.writable";    // a section the loader maps writable
inline constexpr const char* kBadRelocations = "reloc.malformed";      // a relocation block the loader cannot apply
inline constexpr const char* kMissingRelocation = "reloc.missing";     // a stored pointer no relocation covers
inline constexpr const char* kStrayRelocation = "reloc.stray";         // a relocation on no stored pointer
inline constexpr const char* kRelocationType = "reloc.type";           // a stored pointer relocated with another type than its form's
inline constexpr const char* kDuplicateRelocation = "reloc.duplicate"; // a pointer relocated twice
inline constexpr const char* kMissingExport = "export.missing";        // no KbdLayerDescriptor export
inline constexpr const char* kExportCode = "export.code";              // the export does not just return an address
inline constexpr const char* kDecoratedExport = "export.decorated";   // KbdLayerDescriptor exported under a decorated name
inline constexpr const char* kExportNotExecutable = "export.noexec";   // the export's code lies in a section that cannot run
inline constexpr const char* kNullPointer = "pointer.null";            // a pointer the loader follows is null
inline constexpr const char* kPointerOutside = "pointer.outside";      // a pointer leaves the image or its section
inline constexpr const char* kUpperHalf = "pointer.upper";            // a WOW64 pointer field with a non-zero upper half
inline constexpr const char* kDiscardableTarget = "pointer.discardable"; // a pointer into a section the loader may discard
inline constexpr const char* kUnterminated = "list.unterminated";      // a list runs off its section or into another record
inline constexpr const char* kDirtyTerminator = "list.terminator";     // a terminator with non-zero fields
inline constexpr const char* kOverlap = "record.overlap";              // two records share bytes
inline constexpr const char* kBadCount = "table.count";                // a count or row size contradicts the format
inline constexpr const char* kShadowedRow = "table.shadowed";          // a row an earlier table always wins over
inline constexpr const char* kMissingLigature = "cell.ligature";       // 0xF002 with no ligature row
inline constexpr const char* kDeadWithoutTables = "cell.dead";         // 0xF001 with no dead-key tables
inline constexpr const char* kDeadKeyRow = "deadkey.row";              // 0xF001 with no second row to carry the dead character
inline constexpr const char* kDeadKeyMissing = "deadkey.missing";      // a dead character with no entry in the dead-key table
inline constexpr const char* kSgCapsPair = "table.sgcaps";             // an SGCAPS row with no second row for Caps Lock
inline constexpr const char* kUnusedLigature = "ligature.unused";      // a ligature row no cell leads to
inline constexpr const char* kModifierNumber = "modifiers.number";     // a ModNumber column no table has
inline constexpr const char* kModifierBits = "modifiers.bits";         // a VK_TO_BIT entry with no single bit
inline constexpr const char* kResources = "resource.malformed";        // a resource directory or block the loader cannot read
inline constexpr const char* kZeroScanCodeName = "keynames.zero";      // a key-name entry of scan code 0 some readers end at
} // namespace code

// What a finding means for the layout's users.
enum class Severity {
    Error,       // a reader of the published format misreads, refuses or loses part of the layout
    Portability, // readers of the format disagree: some read the layout whole, others lose part of it
};

// "error", "portability".
const char* toString(Severity severity);

// A problem (where, RVA, file offset, message) under its code.
struct Finding : kbdread::Problem {
    std::string code; // one of code::k*
    Severity severity = Severity::Error;
};

struct Report {
    std::vector<Finding> findings;
    // The layout as read; empty when the reader stopped at a fault.
    std::optional<kbdread::Layout> layout;
    // Its resources; empty when the layout could not be read or the
    // resources are malformed.
    std::optional<kbdread::Resources> resources;
};

// Checks a layout library file, read in the form `form` or, without it, in
// the form detected from the image. Throws kbdread::ReadError when the bytes
// are not a layout library image of any form, or not of the form asked for
// (isUnreadable): there is nothing to check then.
Report check(std::span<const std::uint8_t> file, std::optional<kbdread::Form> form = {});

// Whether the reader's error means "not a layout library image (of the form
// asked for) at all" rather than a fault of one.
bool isUnreadable(kbdread::ErrorKind kind);

// The code a reader error is reported under.
const char* codeFor(kbdread::ErrorKind kind);

} // namespace kbdcheck
