#include "resources.h"

#include <span>

namespace kbdread {
namespace {

constexpr std::uint32_t kSubdirectoryFlag = 0x80000000;
constexpr std::uint32_t kNamedEntryFlag = 0x80000000;
constexpr std::uint32_t kFixedFileInfoSize = 52;
constexpr std::uint32_t kStringsPerBundle = 16;
constexpr int kMaxBlockDepth = 4; // root, StringFileInfo, table, string

// Bounds-checked little-endian reads of the mapped image; a fault is
// reported at its RVA.
class ImageBytes {
public:
    ImageBytes(ByteView image, const PeInfo& pe) : image_(image), pe_(pe) {}

    [[noreturn]] void fail(std::uint64_t rva, const std::string& message) const
    {
        throw ReadError(ErrorKind::BadResource, pe_.at(rva, message));
    }
    void require(std::uint64_t rva, std::uint64_t size, const std::string& what) const
    {
        if (!image_.fits(rva, size))
            fail(rva, what + " at RVA " + hex(rva) + " (" + std::to_string(size) + " bytes) runs past the image");
    }
    std::uint16_t u16(std::uint64_t rva, const std::string& what) const
    {
        require(rva, 2, what);
        return image_.u16(rva);
    }
    std::uint32_t u32(std::uint64_t rva, const std::string& what) const
    {
        require(rva, 4, what);
        return image_.u32(rva);
    }

private:
    ByteView image_;
    const PeInfo& pe_;
};

std::uint64_t align4(std::uint64_t value)
{
    return (value + 3) & ~std::uint64_t{3};
}

// One node of the version block: key, value and children, as stored.
struct Block {
    std::u16string key;
    std::uint16_t type = 0;
    std::uint64_t valueRva = 0;
    std::uint32_t valueBytes = 0;
    std::vector<Block> children;
};

Block readBlock(const ImageBytes& bytes, std::uint64_t rva, std::uint64_t end, int depth)
{
    const std::string where = "version block at RVA " + hex(rva);
    if (depth > kMaxBlockDepth)
        bytes.fail(rva, where + " is nested deeper than a version resource allows");
    const std::uint16_t length = bytes.u16(rva, where);
    const std::uint16_t valueLength = bytes.u16(rva + 2, where);
    Block block;
    block.type = bytes.u16(rva + 4, where);
    if (length < 6 || rva + length > end)
        bytes.fail(rva, where + " has length " + std::to_string(length) + ", which does not fit its parent");
    const std::uint64_t blockEnd = rva + length;
    std::uint64_t at = rva + 6;
    for (;; at += 2) {
        if (at + 2 > blockEnd)
            bytes.fail(rva, where + ": its key runs past the block");
        const std::uint16_t unit = bytes.u16(at, where);
        if (unit == 0)
            break;
        block.key.push_back(static_cast<char16_t>(unit));
    }
    at = align4(at + 2);
    // Text values count UTF-16 units, binary values bytes.
    block.valueBytes = block.type == 1 ? 2u * valueLength : valueLength;
    block.valueRva = at;
    if (block.valueBytes > 0 && at + block.valueBytes > blockEnd)
        bytes.fail(rva, where + " (\"" + std::string(block.key.begin(), block.key.end()) + "\"): its value runs past the block");
    at = align4(at + block.valueBytes);
    while (at < blockEnd) {
        block.children.push_back(readBlock(bytes, at, blockEnd, depth + 1));
        at = align4(at + bytes.u16(at, where));
    }
    return block;
}

std::u16string text(const ImageBytes& bytes, std::uint64_t rva, std::uint32_t units)
{
    std::u16string out;
    for (std::uint32_t i = 0; i < units; ++i)
        out.push_back(static_cast<char16_t>(bytes.u16(rva + 2 * i, "string")));
    while (!out.empty() && out.back() == 0)
        out.pop_back();
    return out;
}

VersionInfo readVersion(const ImageBytes& bytes, const ResourceEntry& entry)
{
    const Block root = readBlock(bytes, entry.rva, std::uint64_t{entry.rva} + entry.size, 0);
    if (root.key != u"VS_VERSION_INFO")
        bytes.fail(entry.rva, "version resource at RVA " + hex(entry.rva) + " does not start with VS_VERSION_INFO");
    if (root.valueBytes != kFixedFileInfoSize)
        bytes.fail(entry.rva, "version resource at RVA " + hex(entry.rva) + " has a fixed part of " +
             std::to_string(root.valueBytes) + " bytes, not 52");
    VersionInfo info;
    info.id = entry.id;
    info.language = entry.language;
    info.fixedRva = static_cast<std::uint32_t>(root.valueRva);
    std::uint32_t* fields[] = {&info.fixed.signature, &info.fixed.structVersion, &info.fixed.fileVersionMS,
                               &info.fixed.fileVersionLS, &info.fixed.productVersionMS,
                               &info.fixed.productVersionLS, &info.fixed.flagsMask, &info.fixed.flags,
                               &info.fixed.os, &info.fixed.type, &info.fixed.subtype, &info.fixed.dateMS,
                               &info.fixed.dateLS};
    for (std::size_t i = 0; i < std::size(fields); ++i)
        *fields[i] = bytes.u32(root.valueRva + 4 * i, "VS_FIXEDFILEINFO");
    for (const Block& child : root.children) {
        if (child.key == u"StringFileInfo") {
            for (const Block& table : child.children) {
                VersionStringTable strings{table.key, {}};
                for (const Block& value : table.children)
                    strings.values.emplace_back(value.key, text(bytes, value.valueRva, value.valueBytes / 2));
                info.stringTables.push_back(std::move(strings));
            }
        } else if (child.key == u"VarFileInfo") {
            for (const Block& var : child.children) {
                std::vector<std::uint16_t> words;
                for (std::uint32_t i = 0; i + 2 <= var.valueBytes; i += 2)
                    words.push_back(bytes.u16(var.valueRva + i, "VarFileInfo value"));
                info.vars.emplace_back(var.key, std::move(words));
            }
        }
    }
    return info;
}

void readStringBundle(const ImageBytes& bytes, const ResourceEntry& entry, std::vector<StringResource>& out)
{
    if (entry.id == 0)
        bytes.fail(entry.rva, "string bundle 0 at RVA " + hex(entry.rva) + ": bundles are numbered from 1");
    std::uint64_t at = entry.rva;
    const std::uint64_t end = std::uint64_t{entry.rva} + entry.size;
    for (std::uint32_t index = 0; index < kStringsPerBundle; ++index) {
        const std::string where = "string " + std::to_string(index) + " of bundle " + std::to_string(entry.id);
        if (at + 2 > end)
            bytes.fail(at, where + " at RVA " + hex(at) + " lies past the end of its bundle");
        const std::uint16_t units = bytes.u16(at, where);
        if (at + 2 + 2ull * units > end)
            bytes.fail(at, where + " at RVA " + hex(at) + " runs past the end of its bundle");
        if (units != 0)
            out.push_back({(entry.id - 1) * kStringsPerBundle + index, entry.language, text(bytes, at + 2, units)});
        at += 2 + 2ull * units;
    }
}

// The entries of one resource directory level: (id, offset) pairs, named
// entries skipped.
std::vector<std::pair<std::uint32_t, std::uint32_t>> directoryLevel(const ImageBytes& bytes, std::uint32_t root,
                                                                    std::uint32_t offset, bool wantSubdirectories)
{
    const std::uint64_t rva = std::uint64_t{root} + offset;
    const std::string where = "resource directory at RVA " + hex(rva);
    const std::uint32_t count = bytes.u16(rva + 12, where) + std::uint32_t{bytes.u16(rva + 14, where)};
    bytes.require(rva + 16, 8ull * count, where + " entries");
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t name = bytes.u32(rva + 16 + 8 * i, where);
        const std::uint32_t target = bytes.u32(rva + 20 + 8 * i, where);
        if (((target & kSubdirectoryFlag) != 0) != wantSubdirectories)
            bytes.fail(rva + 16 + 8 * i, where + " entry " + std::to_string(i) + (wantSubdirectories ? " is a leaf where a directory belongs"
                                                                             : " is a directory where data belongs"));
        if (name & kNamedEntryFlag)
            continue;
        entries.emplace_back(name, target & ~kSubdirectoryFlag);
    }
    return entries;
}

} // namespace

Resources readResources(ByteView image, const PeInfo& pe)
{
    Resources resources;
    const DataDirectory* directory = pe.directory(kResourceDirectory);
    if (!directory || directory->size == 0)
        return resources;
    const std::uint32_t root = directory->rva;
    const ImageBytes bytes(image, pe);
    for (const auto& [type, typeDir] : directoryLevel(bytes, root, 0, true))
        for (const auto& [id, idDir] : directoryLevel(bytes, root, typeDir, true))
            for (const auto& [language, leaf] : directoryLevel(bytes, root, idDir, false)) {
                const std::uint64_t at = std::uint64_t{root} + leaf;
                const std::uint32_t dataRva = bytes.u32(at, "resource data entry");
                const std::uint32_t size = bytes.u32(at + 4, "resource data entry");
                bytes.require(dataRva, size, "resource data");
                resources.entries.push_back({type, id, language, dataRva, size});
            }
    for (const auto& entry : resources.entries) {
        if (entry.type == kResourceTypeVersion)
            resources.versions.push_back(readVersion(bytes, entry));
        else if (entry.type == kResourceTypeString)
            readStringBundle(bytes, entry, resources.strings);
    }
    return resources;
}

} // namespace kbdread
