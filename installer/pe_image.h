// A read-only view of a Windows image file (PE32 or PE32+) held in memory:
// the machine, the exported names, string resources and the version
// block's strings. Every offset and length is checked against the bytes;
// anything that does not fit reads as absent, never past the end.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace setup {

inline constexpr std::uint16_t machineI386 = 0x014C;
inline constexpr std::uint16_t machineAmd64 = 0x8664;
inline constexpr std::uint16_t machineArm64 = 0xAA64;

class PeImage {
public:
    // The image in bytes, or nothing if they are not a PE image whose
    // headers and section table fit in them.
    static std::optional<PeImage> read(std::span<const std::uint8_t> bytes);

    std::uint16_t machine() const { return machine_; }
    bool isDll() const { return (characteristics_ & 0x2000) != 0; }

    // The names in the export directory, in stored order.
    std::vector<std::string> exportNames() const;

    // String resource id (any language), if present.
    std::optional<std::wstring> string(std::uint16_t id) const;

    // The first string table of the version block: key to value.
    std::map<std::wstring, std::wstring> versionStrings() const;

private:
    struct Section {
        std::uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
    };
    struct DataDirectory {
        std::uint32_t rva, size;
    };

    explicit PeImage(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    // The file bytes behind size bytes at rva, if they all lie in one
    // section's file data.
    std::optional<std::span<const std::uint8_t>> at(std::uint32_t rva, std::uint32_t size) const;
    std::optional<DataDirectory> directory(std::size_t index) const;
    // The data of the resource of this type and id (first language).
    std::optional<std::span<const std::uint8_t>> resource(std::uint16_t type, std::uint16_t id) const;

    std::span<const std::uint8_t> bytes_;
    std::uint16_t machine_ = 0;
    std::uint16_t characteristics_ = 0;
    std::vector<Section> sections_;
    std::vector<DataDirectory> directories_;
};

}  // namespace setup
