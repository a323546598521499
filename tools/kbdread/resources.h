// The resources of a layout library as the resource loader finds them: the
// resource directory (type / id / language), the version block and the
// string tables the layout's display name and locale come from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe_image.h"

namespace kbdread {

inline constexpr std::uint32_t kResourceTypeString = 6;
inline constexpr std::uint32_t kResourceTypeVersion = 16;

struct ResourceEntry {
    std::uint32_t type;     // numeric type (named types are not used by layouts and are skipped)
    std::uint32_t id;
    std::uint32_t language;
    std::uint32_t rva;      // the data
    std::uint32_t size;
};

// VS_FIXEDFILEINFO, field by field.
struct FixedFileInfo {
    std::uint32_t signature = 0; // kFixedFileInfoSignature
    std::uint32_t structVersion = 0;
    std::uint32_t fileVersionMS = 0, fileVersionLS = 0;
    std::uint32_t productVersionMS = 0, productVersionLS = 0;
    std::uint32_t flagsMask = 0, flags = 0;
    std::uint32_t os = 0, type = 0, subtype = 0;
    std::uint32_t dateMS = 0, dateLS = 0;
};

struct VersionStringTable {
    std::u16string key;                                            // e.g. u"000004B0"
    std::vector<std::pair<std::u16string, std::u16string>> values; // in stored order, without the NUL
};

inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

struct VersionInfo {
    std::uint32_t id = 0;
    std::uint32_t language = 0;
    std::uint32_t fixedRva = 0; // where VS_FIXEDFILEINFO lies
    FixedFileInfo fixed;
    std::vector<VersionStringTable> stringTables;
    std::vector<std::pair<std::u16string, std::vector<std::uint16_t>>> vars; // VarFileInfo values as words
};

struct StringResource {
    std::uint32_t id;
    std::uint32_t language;
    std::u16string text;
};

struct Resources {
    std::vector<ResourceEntry> entries;  // in directory order
    std::vector<VersionInfo> versions;   // one per version resource
    std::vector<StringResource> strings; // every non-empty string, by bundle then index
};

// Reads the resource directory of a mapped image. An image without one
// gives empty Resources. Throws ReadError(BadResource) at the RVA of a
// malformed directory entry or block.
Resources readResources(ByteView image, const PeInfo& pe);

} // namespace kbdread
