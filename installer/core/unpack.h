// The layout images as the installer carries them: packed together into
// one stream at build time (installer/pack_images.py, which describes the
// form), unpacked here before they are checked.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace setup {

// The `size` bytes the stream packs; nothing when it is damaged: a copy
// from before the start, a stream cut short, more or fewer bytes than
// `size`, or bytes left over.
std::optional<std::vector<std::uint8_t>> unpack(std::span<const std::uint8_t> packed, std::size_t size);

}  // namespace setup
