#include "unpack.h"

namespace setup {

std::optional<std::vector<std::uint8_t>> unpack(std::span<const std::uint8_t> packed, std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size);
    std::size_t at = 0;
    unsigned flags = 0, bit = 8;
    while (out.size() < size) {
        if (bit == 8) {
            if (at == packed.size())
                return std::nullopt;
            flags = packed[at++];
            bit = 0;
        }
        const bool literal = flags >> bit++ & 1;
        if (literal) {
            if (at == packed.size())
                return std::nullopt;
            out.push_back(packed[at++]);
            continue;
        }
        if (packed.size() - at < 3)
            return std::nullopt;
        const std::size_t distance = packed[at] | packed[at + 1] << 8;
        const std::size_t length = packed[at + 2] + 3u;
        at += 3;
        if (distance == 0 || distance > out.size() || length > size - out.size())
            return std::nullopt;
        // The copy may overlap what it writes: byte by byte.
        for (std::size_t i = 0; i < length; ++i)
            out.push_back(out[out.size() - distance]);
    }
    if (at != packed.size())
        return std::nullopt;
    return out;
}

}  // namespace setup
