// Reading the little-endian fields of the BMP and ICO files the chart tools
// write, independently of the writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The unsigned integer of `width` bytes stored at `at`.
inline std::uint32_t le(const std::vector<std::uint8_t>& bytes, std::size_t at, int width)
{
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | bytes[at + i];
    return value;
}
