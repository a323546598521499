#include "pe_image.h"

namespace setup {
namespace {

constexpr std::size_t exportDirectoryIndex = 0;
constexpr std::size_t resourceDirectoryIndex = 2;
constexpr std::uint16_t resourceTypeString = 6;
constexpr std::uint16_t resourceTypeVersion = 16;

std::optional<std::uint16_t> u16(std::span<const std::uint8_t> b, std::size_t offset) {
    if (offset > b.size() || b.size() - offset < 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(b[offset] | b[offset + 1] << 8);
}

std::optional<std::uint32_t> u32(std::span<const std::uint8_t> b, std::size_t offset) {
    if (offset > b.size() || b.size() - offset < 4)
        return std::nullopt;
    return static_cast<std::uint32_t>(b[offset] | b[offset + 1] << 8 | b[offset + 2] << 16) |
           static_cast<std::uint32_t>(b[offset + 3]) << 24;
}

// UTF-16 text of count units at offset, if it fits.
std::optional<std::wstring> utf16(std::span<const std::uint8_t> b, std::size_t offset, std::size_t count) {
    if (offset > b.size() || (b.size() - offset) / 2 < count)
        return std::nullopt;
    std::wstring text;
    for (std::size_t i = 0; i < count; ++i)
        text += static_cast<wchar_t>(*u16(b, offset + 2 * i));
    return text;
}

constexpr std::size_t align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// One node of a version block: its key, value and children, each within
// the node's own length.
struct VersionNode {
    std::wstring key;
    std::span<const std::uint8_t> value;
    std::uint16_t valueLength;  // in bytes for binary values, in characters for text
    std::span<const std::uint8_t> children;
    std::size_t length;
};

std::optional<VersionNode> versionNode(std::span<const std::uint8_t> b) {
    const auto length = u16(b, 0);
    const auto valueLength = u16(b, 2);
    const auto type = u16(b, 4);
    if (!length || !valueLength || !type || *length < 6 || *length > b.size())
        return std::nullopt;
    const std::span<const std::uint8_t> node = b.first(*length);
    std::wstring key;
    std::size_t offset = 6;
    for (;; offset += 2) {
        const auto unit = u16(node, offset);
        if (!unit)
            return std::nullopt;
        if (*unit == 0)
            break;
        key += static_cast<wchar_t>(*unit);
    }
    offset = align4(offset + 2);
    const std::size_t valueBytes = *type == 1 ? std::size_t{*valueLength} * 2 : *valueLength;
    if (offset > node.size() || node.size() - offset < valueBytes)
        return std::nullopt;
    const std::span<const std::uint8_t> value = node.subspan(offset, valueBytes);
    offset = align4(offset + valueBytes);
    const std::span<const std::uint8_t> children =
        offset < node.size() ? node.subspan(offset) : std::span<const std::uint8_t>{};
    return VersionNode{key, value, *valueLength, children, *length};
}

// The nodes of a list of children, up to the first that does not read.
std::vector<VersionNode> versionChildren(std::span<const std::uint8_t> children) {
    std::vector<VersionNode> nodes;
    while (!children.empty()) {
        const auto node = versionNode(children);
        if (!node)
            break;
        nodes.push_back(*node);
        const std::size_t next = align4(node->length);
        if (next >= children.size())
            break;
        children = children.subspan(next);
    }
    return nodes;
}

}  // namespace

std::optional<PeImage> PeImage::read(std::span<const std::uint8_t> bytes) {
    PeImage image(bytes);
    if (u16(bytes, 0) != 0x5A4D)  // "MZ"
        return std::nullopt;
    const auto peOffset = u32(bytes, 0x3C);
    if (!peOffset || u32(bytes, *peOffset) != 0x00004550)  // "PE\0\0"
        return std::nullopt;
    const std::size_t fileHeader = std::size_t{*peOffset} + 4;
    const auto machine = u16(bytes, fileHeader);
    const auto sectionCount = u16(bytes, fileHeader + 2);
    const auto optionalSize = u16(bytes, fileHeader + 16);
    const auto characteristics = u16(bytes, fileHeader + 18);
    const std::size_t optional = fileHeader + 20;
    const auto magic = u16(bytes, optional);
    if (!machine || !sectionCount || !optionalSize || !characteristics || !magic)
        return std::nullopt;
    // The data directories follow the fixed part, whose size depends on
    // the width of the image's addresses.
    std::size_t directoriesAt;
    if (*magic == 0x10B)
        directoriesAt = optional + 96;
    else if (*magic == 0x20B)
        directoriesAt = optional + 112;
    else
        return std::nullopt;
    const auto directoryCount = u32(bytes, directoriesAt - 4);
    if (!directoryCount || *directoryCount > 16 ||
        directoriesAt + std::size_t{*directoryCount} * 8 > optional + *optionalSize)
        return std::nullopt;
    for (std::uint32_t i = 0; i < *directoryCount; ++i) {
        const auto rva = u32(bytes, directoriesAt + 8 * i);
        const auto size = u32(bytes, directoriesAt + 8 * i + 4);
        if (!rva || !size)
            return std::nullopt;
        image.directories_.push_back({*rva, *size});
    }
    const std::size_t sectionTable = optional + *optionalSize;
    for (std::uint16_t i = 0; i < *sectionCount; ++i) {
        const std::size_t entry = sectionTable + 40 * std::size_t{i};
        const auto virtualSize = u32(bytes, entry + 8);
        const auto virtualAddress = u32(bytes, entry + 12);
        const auto rawSize = u32(bytes, entry + 16);
        const auto rawOffset = u32(bytes, entry + 20);
        if (!virtualSize || !virtualAddress || !rawSize || !rawOffset)
            return std::nullopt;
        image.sections_.push_back({*virtualAddress, *virtualSize, *rawOffset, *rawSize});
    }
    image.machine_ = *machine;
    image.characteristics_ = *characteristics;
    return image;
}

std::optional<std::span<const std::uint8_t>> PeImage::at(std::uint32_t rva, std::uint32_t size) const {
    for (const Section& section : sections_) {
        if (rva < section.virtualAddress)
            continue;
        const std::uint64_t into = rva - section.virtualAddress;
        const std::uint64_t available = std::min(section.rawSize, section.virtualSize);
        if (into + size > available)
            continue;
        const std::uint64_t offset = section.rawOffset + into;
        if (offset + size > bytes_.size())
            return std::nullopt;
        return bytes_.subspan(static_cast<std::size_t>(offset), size);
    }
    return std::nullopt;
}

std::optional<PeImage::DataDirectory> PeImage::directory(std::size_t index) const {
    if (index >= directories_.size() || directories_[index].rva == 0)
        return std::nullopt;
    return directories_[index];
}

std::vector<std::string> PeImage::exportNames() const {
    std::vector<std::string> names;
    const auto dir = directory(exportDirectoryIndex);
    const auto header = dir ? at(dir->rva, 40) : std::nullopt;
    if (!header)
        return names;
    const auto count = u32(*header, 24);
    const auto nameTable = u32(*header, 32);
    const auto table = at(*nameTable, *count * 4u);
    if (*count > 0x10000 || !table)
        return names;
    for (std::uint32_t i = 0; i < *count; ++i) {
        std::string name;
        for (std::uint32_t rva = *u32(*table, 4 * i);; ++rva) {
            const auto c = at(rva, 1);
            if (!c || name.size() > 256)
                return names;
            if ((*c)[0] == 0)
                break;
            name += static_cast<char>((*c)[0]);
        }
        names.push_back(name);
    }
    return names;
}

std::optional<std::span<const std::uint8_t>> PeImage::resource(std::uint16_t type, std::uint16_t id) const {
    const auto dir = directory(resourceDirectoryIndex);
    const auto root = dir ? at(dir->rva, dir->size) : std::nullopt;
    if (!root)
        return std::nullopt;
    // Three levels (type, id, language), entries found by integer id; the
    // language level takes the first entry.
    std::uint32_t table = 0;
    const std::optional<std::uint16_t> wanted[] = {type, id, std::nullopt};
    for (const auto& level : wanted) {
        const auto named = u16(*root, table + 12);
        const auto numbered = u16(*root, table + 14);
        if (!named || !numbered)
            return std::nullopt;
        std::optional<std::uint32_t> target;
        for (std::uint32_t i = 0; i < std::uint32_t{*named} + *numbered && !target; ++i) {
            const std::size_t entry = table + 16 + 8 * std::size_t{i};
            const auto name = u32(*root, entry);
            const auto offset = u32(*root, entry + 4);
            if (!name || !offset)
                return std::nullopt;
            if (!level || (!(*name & 0x80000000u) && *name == *level))
                target = *offset;
        }
        if (!target)
            return std::nullopt;
        const bool isTable = (*target & 0x80000000u) != 0;
        if (isTable != level.has_value())
            return std::nullopt;
        table = *target & 0x7FFFFFFFu;
    }
    const auto dataRva = u32(*root, table);
    const auto dataSize = u32(*root, table + 4);
    if (!dataRva || !dataSize)
        return std::nullopt;
    return at(*dataRva, *dataSize);
}

std::optional<std::wstring> PeImage::string(std::uint16_t id) const {
    // Strings are stored sixteen to a block, each with its length first.
    const auto block = resource(resourceTypeString, static_cast<std::uint16_t>(id / 16 + 1));
    if (!block)
        return std::nullopt;
    std::size_t offset = 0;
    for (int i = 0; i < id % 16; ++i) {
        const auto length = u16(*block, offset);
        if (!length)
            return std::nullopt;
        offset += 2 + 2 * std::size_t{*length};
    }
    const auto length = u16(*block, offset);
    if (!length || *length == 0)
        return std::nullopt;
    return utf16(*block, offset + 2, *length);
}

std::map<std::wstring, std::wstring> PeImage::versionStrings() const {
    std::map<std::wstring, std::wstring> strings;
    const auto block = resource(resourceTypeVersion, 1);
    const auto root = block ? versionNode(*block) : std::nullopt;
    if (!root || root->key != L"VS_VERSION_INFO")
        return strings;
    for (const VersionNode& info : versionChildren(root->children)) {
        if (info.key != L"StringFileInfo")
            continue;
        const std::vector<VersionNode> tables = versionChildren(info.children);
        if (tables.empty())
            return strings;
        for (const VersionNode& entry : versionChildren(tables.front().children)) {
            // The stored length counts the terminating zero.
            std::size_t units = entry.value.size() / 2;
            auto text = utf16(entry.value, 0, units);
            if (!text)
                continue;
            while (!text->empty() && text->back() == L'\0')
                text->pop_back();
            strings[entry.key] = *text;
        }
        return strings;
    }
    return strings;
}

}  // namespace setup
