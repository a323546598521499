// Reading the facts of this Windows: the machine and its version, the
// folders, the user at the screen and every profile, the keys and files
// the plan judges, the restart schedule and a journal a killed run left.
#pragma once

#include <cstdint>
#include <span>

#include "session.h"
#include "win32_registry.h"

namespace setup {

class Win32FactReader final : public FactReader {
public:
    // images: the layout images the installer carries; self: its own bytes.
    Win32FactReader(const Registry& registry, FormImages images, std::span<const std::uint8_t> self);

    std::optional<SystemFacts> read(MessageText& why) override;

private:
    const Registry& registry_;
    FormImages images_;
    std::span<const std::uint8_t> self_;
};

// Whether this 32-bit program runs on 64-bit Windows.
bool runsUnderWow64();

}  // namespace setup
