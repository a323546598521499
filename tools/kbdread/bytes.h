// The two small pieces every host tool that reads a Windows file needs: a
// little-endian view of its bytes and one way of writing numbers in hex.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace kbdread {

// Little-endian reads over bytes the caller owns. Reads are unchecked:
// callers bound them with fits() first, so each caller can say in its own
// terms what was out of range.
class ByteView {
public:
    ByteView() = default;
    explicit ByteView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t size() const { return bytes_.size(); }
    bool fits(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    std::uint8_t u8(std::uint64_t offset) const { return bytes_[offset]; }
    std::uint16_t u16(std::uint64_t offset) const
    {
        return static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
    }
    std::uint32_t u32(std::uint64_t offset) const
    {
        return u16(offset) | static_cast<std::uint32_t>(u16(offset + 2)) << 16;
    }
    std::uint64_t u64(std::uint64_t offset) const
    {
        return u32(offset) | static_cast<std::uint64_t>(u32(offset + 4)) << 32;
    }
    // An unsigned field of `width` bytes (1, 2, 4 or 8).
    std::uint64_t unsignedAt(std::uint64_t offset, unsigned width) const
    {
        std::uint64_t value = 0;
        for (unsigned i = width; i-- > 0;)
            value = value << 8 | bytes_[offset + i];
        return value;
    }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

private:
    std::span<const std::uint8_t> bytes_;
};

// "0x1A4"; with `digits`, zero-padded to that many hex digits ("0x01A4").
inline std::string hex(std::uint64_t value, int digits = 0)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// "01A4", without the prefix, for tables of codes.
inline std::string bareHex(std::uint64_t value, int digits)
{
    char text[24];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// "48 8D 05": bytes as a disassembler lists them.
inline std::string hexBytes(std::span<const std::uint8_t> bytes)
{
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (!text.empty())
            text += ' ';
        text += bareHex(byte, 2);
    }
    return text;
}

} // namespace kbdread
