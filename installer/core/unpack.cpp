#include "unpack.h"

#include <array>

namespace setup {
namespace {

constexpr unsigned probabilityBits = 11;
constexpr unsigned moveBits = 5;
constexpr std::uint16_t even = 1 << (probabilityBits - 1);

template <std::size_t count>
struct Probabilities : std::array<std::uint16_t, count> {
    Probabilities() { this->fill(even); }
};

class RangeDecoder {
public:
    explicit RangeDecoder(std::span<const std::uint8_t> in) : in_(in) {
        for (int i = 0; i < 5; ++i)
            code_ = code_ << 8 | next();
    }

    unsigned bit(std::uint16_t& probability) {
        const std::uint32_t bound = (range_ >> probabilityBits) * probability;
        unsigned bit = 0;
        if (code_ < bound) {
            range_ = bound;
            probability += ((1u << probabilityBits) - probability) >> moveBits;
        } else {
            code_ -= bound;
            range_ -= bound;
            probability -= probability >> moveBits;
            bit = 1;
        }
        while (range_ < 1u << 24) {
            range_ <<= 8;
            code_ = code_ << 8 | next();
        }
        return bit;
    }

    // A value of `bits` bits, highest first, through a bit tree whose
    // nodes are probabilities[1] on.
    unsigned tree(std::uint16_t* probabilities, unsigned bits) {
        unsigned node = 1;
        for (unsigned k = 0; k < bits; ++k)
            node = node * 2 + bit(probabilities[node]);
        return node - (1u << bits);
    }

    // Every byte read, and none wanted past the end.
    bool readWhole() const { return !overrun_ && at_ == in_.size(); }

private:
    std::uint8_t next() {
        if (at_ < in_.size())
            return in_[at_++];
        overrun_ = true;
        return 0;
    }

    std::span<const std::uint8_t> in_;
    std::size_t at_ = 0;
    bool overrun_ = false;
    std::uint32_t range_ = 0xFFFFFFFF;
    std::uint32_t code_ = 0;
};

}  // namespace

std::optional<std::vector<std::uint8_t>> unpack(std::span<const std::uint8_t> packed, std::size_t size) {
    RangeDecoder in(packed);
    Probabilities<2> isCopy, isRepeat;
    Probabilities<8 * 256> literals;
    Probabilities<2 * 256> lengths;
    Probabilities<16> bitLengths;
    Probabilities<16 * 16> distanceBits;
    std::vector<std::uint8_t> out;
    out.reserve(size);
    unsigned afterCopy = 0;
    std::size_t distance = 0;
    while (out.size() < size) {
        if (!in.bit(isCopy[afterCopy])) {
            const unsigned before = out.empty() ? 0 : out.back();
            out.push_back(static_cast<std::uint8_t>(in.tree(&literals[(before >> 5) * 256], 8)));
            afterCopy = 0;
            continue;
        }
        const unsigned repeat = in.bit(isRepeat[afterCopy]);
        if (!repeat) {
            const unsigned bits = in.tree(bitLengths.data(), 4);
            if (bits == 0)
                return std::nullopt;
            distance = 1;
            for (unsigned k = bits - 1; k-- > 0;)
                distance = distance * 2 + in.bit(distanceBits[bits * 16 + k]);
        }
        const std::size_t length = in.tree(&lengths[repeat * 256], 8) + 2u;
        if (distance == 0 || distance > out.size() || length > size - out.size())
            return std::nullopt;
        // The copy may overlap what it writes: byte by byte.
        for (std::size_t i = 0; i < length; ++i)
            out.push_back(out[out.size() - distance]);
        afterCopy = 1;
    }
    if (!in.readWhole())
        return std::nullopt;
    return out;
}

}  // namespace setup
