#include "version_block.h"

#include <optional>
#include <vector>

namespace setup {
namespace {

std::optional<std::uint16_t> u16(std::span<const std::uint8_t> b, std::size_t offset) {
    if (offset > b.size() || b.size() - offset < 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(b[offset] | b[offset + 1] << 8);
}

constexpr std::size_t align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// One node: its key, value and children, each within the node's length.
struct Node {
    std::wstring key;
    std::span<const std::uint8_t> value;
    std::span<const std::uint8_t> children;
    std::size_t length;
};

std::optional<Node> node(std::span<const std::uint8_t> b) {
    const auto length = u16(b, 0);
    const auto valueLength = u16(b, 2);
    const auto type = u16(b, 4);
    if (!length || !valueLength || !type || *length < 6 || *length > b.size())
        return std::nullopt;
    const std::span<const std::uint8_t> bytes = b.first(*length);
    std::wstring key;
    std::size_t offset = 6;
    for (;; offset += 2) {
        const auto unit = u16(bytes, offset);
        if (!unit)
            return std::nullopt;
        if (*unit == 0)
            break;
        key += static_cast<wchar_t>(*unit);
    }
    offset = align4(offset + 2);
    // A text value's length counts characters, a binary one's bytes.
    const std::size_t valueBytes = *type == 1 ? std::size_t{*valueLength} * 2 : *valueLength;
    if (offset > bytes.size() || bytes.size() - offset < valueBytes)
        return std::nullopt;
    const std::span<const std::uint8_t> value = bytes.subspan(offset, valueBytes);
    offset = align4(offset + valueBytes);
    return Node{key, value, offset < bytes.size() ? bytes.subspan(offset) : std::span<const std::uint8_t>{}, *length};
}

// The nodes of a list of children, up to the first that does not read.
std::vector<Node> children(std::span<const std::uint8_t> list) {
    std::vector<Node> nodes;
    while (!list.empty()) {
        const auto next = node(list);
        if (!next)
            break;
        nodes.push_back(*next);
        const std::size_t skip = align4(next->length);
        if (skip >= list.size())
            break;
        list = list.subspan(skip);
    }
    return nodes;
}

}  // namespace

std::optional<std::wstring> versionString(std::span<const std::uint8_t> block, std::wstring_view key) {
    const auto root = node(block);
    if (!root || root->key != L"VS_VERSION_INFO")
        return std::nullopt;
    for (const Node& info : children(root->children)) {
        if (info.key != L"StringFileInfo")
            continue;
        const std::vector<Node> tables = children(info.children);
        if (tables.empty())
            return std::nullopt;
        std::optional<std::wstring> found;
        for (const Node& entry : children(tables.front().children)) {
            if (entry.key != key)
                continue;
            std::wstring text;
            for (std::size_t i = 0; i + 1 < entry.value.size(); i += 2)
                text += static_cast<wchar_t>(entry.value[i] | entry.value[i + 1] << 8);
            // The stored length counts the terminating zero.
            while (!text.empty() && text.back() == L'\0')
                text.pop_back();
            found = text;  // the last of a key, should one be there twice
        }
        return found;
    }
    return std::nullopt;
}

}  // namespace setup
