// How the reader reports a fault of the file: what kind it is, and where, so
// that no report loses the RVA or the file offset of what it is about.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace kbdread {

// What went wrong, for callers (and tests) that must tell failures apart.
enum class ErrorKind {
    FileUnreadable,      // the file could not be opened or read
    NotPe,               // no "MZ" header or no "PE\0\0" signature
    UnsupportedMachine,  // a PE image, but for no machine a layout library is built for
    FormMismatch,        // the form the caller asked for does not fit the image
    Truncated,           // a header or section's file data runs past the end of the file
    BadHeader,           // a header field is inconsistent (sizes, counts, alignment)
    BadSection,          // a section lies outside the image or overlaps another
    BadRelocation,       // a relocation block or entry is malformed or out of range
    MissingExport,       // no export directory, or no KbdLayerDescriptor name in it
    BadExportCode,       // the export's code is not the form's "return the record's address"
    NullPointer,         // a pointer the loader follows is null
    PointerOutsideImage, // a pointer leaves the image or its section, or its record does not fit
    Unterminated,        // a list or string runs off the end of its section
    BadCount,            // a count or row size contradicts the format
    BadResource,         // a resource directory or block the resource loader cannot read
};

// Human-readable name of an ErrorKind ("PointerOutsideImage", ...).
const char* toString(ErrorKind kind);

// One problem found in a file: the record and field (or header field) it is
// about, where that lies, and what is wrong. The reader's errors and the
// validator's findings are both problems.
struct Problem {
    std::string where;                       // empty when the message names the place itself
    std::optional<std::uint32_t> rva;        // where in the image, when known
    std::optional<std::uint32_t> fileOffset; // where in the file, when backed by file data
    std::string message;
};

class ReadError : public std::runtime_error {
public:
    ReadError(ErrorKind kind, Problem problem);
    ErrorKind kind() const noexcept { return kind_; }
    const Problem& problem() const noexcept { return problem_; }

private:
    ErrorKind kind_;
    Problem problem_;
};

} // namespace kbdread
