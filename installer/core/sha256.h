// SHA-256, for checking the embedded layout images against the digests
// recorded when the installer was built.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace setup {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::span<const std::uint8_t> bytes);

}  // namespace setup
