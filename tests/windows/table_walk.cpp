#include "table_walk.h"

#include <cstdint>
#include <cstring>
#include <optional>

namespace table_walk {
namespace {

// Cell values with a meaning of their own.
constexpr std::uint16_t kNoCharacter = 0xF000;
constexpr std::uint16_t kDeadKey = 0xF001;
constexpr std::uint16_t kLigature = 0xF002;
// A modifier combination with no column.
constexpr std::uint8_t kInvalidColumn = 0x0F;

// Record sizes and field offsets that depend on the width of a pointer field.
struct RecordLayout {
    std::size_t pCharModifiers, pVkToWcharTable, pKeyNames, pKeyNamesExt, pusVSCtoVK, bMaxVSCtoVK,
        pVSCtoVK_E0, pVSCtoVK_E1, fLocaleFlags, nLgMax, cbLgEntry, pLigature;
    std::size_t wMaxModBits, ModNumber;                             // MODIFIERS
    std::size_t table_nModifications, table_cbSize, table_size;    // VK_TO_WCHAR_TABLE
    std::size_t name_pwsz, name_size;                               // VSC_LPWSTR
};
constexpr RecordLayout kWideLayout = {
    .pCharModifiers = 0x00, .pVkToWcharTable = 0x08, .pKeyNames = 0x18, .pKeyNamesExt = 0x20,
    .pusVSCtoVK = 0x30, .bMaxVSCtoVK = 0x38, .pVSCtoVK_E0 = 0x40, .pVSCtoVK_E1 = 0x48,
    .fLocaleFlags = 0x50, .nLgMax = 0x54, .cbLgEntry = 0x55, .pLigature = 0x58,
    .wMaxModBits = 0x08, .ModNumber = 0x0A,
    .table_nModifications = 0x08, .table_cbSize = 0x09, .table_size = 0x10,
    .name_pwsz = 0x08, .name_size = 0x10};
constexpr RecordLayout kNarrowLayout = {
    .pCharModifiers = 0x00, .pVkToWcharTable = 0x04, .pKeyNames = 0x0C, .pKeyNamesExt = 0x10,
    .pusVSCtoVK = 0x18, .bMaxVSCtoVK = 0x1C, .pVSCtoVK_E0 = 0x20, .pVSCtoVK_E1 = 0x24,
    .fLocaleFlags = 0x28, .nLgMax = 0x2C, .cbLgEntry = 0x2D, .pLigature = 0x30,
    .wMaxModBits = 0x04, .ModNumber = 0x06,
    .table_nModifications = 0x04, .table_cbSize = 0x05, .table_size = 0x08,
    .name_pwsz = 0x04, .name_size = 0x08};

namespace char_row {
constexpr std::size_t VirtualKey = 0x00, wch = 0x02;
}
namespace ligature_row {
constexpr std::size_t VirtualKey = 0x00, ModificationNumber = 0x02, wch = 0x04;
}
namespace scan_pair {  // VSC_VK
constexpr std::size_t Vsc = 0x00, Vk = 0x02, size = 0x04;
}

using Bytes = const unsigned char*;

std::string hex(std::uint64_t value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(digits, '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) text[i] = kDigits[value & 0xF];
    return text;
}

class Reader {
public:
    Reader(Image image, PointerWidth width) : image_(image), width_(width) {}

    template <class T>
    T value(Bytes record, std::size_t offset, const char* what) const {
        const auto at = reinterpret_cast<std::uintptr_t>(record) + offset;
        const auto begin = reinterpret_cast<std::uintptr_t>(image_.begin);
        const auto end = reinterpret_cast<std::uintptr_t>(image_.end);
        if (record == nullptr || at < begin || at > end || end - at < sizeof(T))
            throw WalkError(std::string(what) + " at 0x" + hex(at, 16) +
                            " lies outside the image");
        T result;
        std::memcpy(&result, reinterpret_cast<const void*>(at), sizeof result);
        return result;
    }

    // A 4-byte field, or an 8-byte one whose value must fit this process's
    // addresses: in a 32-bit process its upper half must be zero.
    Bytes pointer(Bytes record, std::size_t offset, const char* what) const {
        const std::uint64_t address = width_ == PointerWidth::Narrow
                                          ? value<std::uint32_t>(record, offset, what)
                                          : value<std::uint64_t>(record, offset, what);
        if (address > UINTPTR_MAX)
            throw WalkError(std::string(what) + " holds 0x" + hex(address, 16) +
                            ", beyond this process's addresses");
        return reinterpret_cast<Bytes>(static_cast<std::uintptr_t>(address));
    }

private:
    Image image_;
    PointerWidth width_;
};

class Walk {
public:
    Walk(Bytes tables, Image image, PointerWidth width)
        : read_(image, width), at_(width == PointerWidth::Narrow ? kNarrowLayout : kWideLayout) {
        modifiers_ = required(tables, at_.pCharModifiers, "pCharModifiers");
        char_tables_ = required(tables, at_.pVkToWcharTable, "pVkToWcharTable");
        scan_map_ = required(tables, at_.pusVSCtoVK, "pusVSCtoVK");
        key_names_ = read_.pointer(tables, at_.pKeyNames, "pKeyNames");
        key_names_ext_ = read_.pointer(tables, at_.pKeyNamesExt, "pKeyNamesExt");
        e0_ = read_.pointer(tables, at_.pVSCtoVK_E0, "pVSCtoVK_E0");
        e1_ = read_.pointer(tables, at_.pVSCtoVK_E1, "pVSCtoVK_E1");
        ligatures_ = read_.pointer(tables, at_.pLigature, "pLigature");
        max_scan_ = read_.value<std::uint8_t>(tables, at_.bMaxVSCtoVK, "bMaxVSCtoVK");
        locale_flags_ = read_.value<std::uint32_t>(tables, at_.fLocaleFlags, "fLocaleFlags");
        lg_max_ = read_.value<std::uint8_t>(tables, at_.nLgMax, "nLgMax");
        lg_entry_ = read_.value<std::uint8_t>(tables, at_.cbLgEntry, "cbLgEntry");
        max_mod_bits_ = read_.value<std::uint16_t>(modifiers_, at_.wMaxModBits, "wMaxModBits");
    }

    std::string text() const {
        std::string out;
        for (unsigned sc = 0; sc < 0x100; ++sc) key_line(out, "--", sc, plain_vk(sc));
        for (unsigned sc = 0; sc < 0x100; ++sc) key_line(out, "E0", sc, listed_vk(e0_, sc));
        for (unsigned sc = 0; sc < 0x100; ++sc) key_line(out, "E1", sc, listed_vk(e1_, sc));
        name_lines(out, "--", key_names_);
        name_lines(out, "E0", key_names_ext_);
        summary_line(out);
        return out;
    }

private:
    Bytes required(Bytes tables, std::size_t offset, const char* what) const {
        Bytes target = read_.pointer(tables, offset, what);
        if (target == nullptr) throw WalkError(std::string(what) + " is null");
        return target;
    }

    std::optional<std::uint16_t> plain_vk(unsigned sc) const {
        if (sc >= max_scan_) return std::nullopt;
        return read_.value<std::uint16_t>(scan_map_, 2 * sc, "pusVSCtoVK entry");
    }

    std::optional<std::uint16_t> listed_vk(Bytes list, unsigned sc) const {
        if (list == nullptr) return std::nullopt;
        for (Bytes pair = list;; pair += scan_pair::size) {
            const auto vsc = read_.value<std::uint8_t>(pair, scan_pair::Vsc, "VSC_VK.Vsc");
            const auto vk = read_.value<std::uint16_t>(pair, scan_pair::Vk, "VSC_VK.Vk");
            if (vsc == 0 && vk == 0) return std::nullopt;
            if (vsc == sc) return vk;
        }
    }

    std::optional<unsigned> column(unsigned modifier_bits) const {
        if (modifier_bits > max_mod_bits_) return std::nullopt;
        const auto number =
            read_.value<std::uint8_t>(modifiers_, at_.ModNumber + modifier_bits, "ModNumber");
        if (number == kInvalidColumn) return std::nullopt;
        return number;
    }

    struct Row {
        Bytes cells;
        unsigned width;
    };

    // The first row for `vk` in list order; character rows end at VirtualKey 0.
    std::optional<Row> find_row(std::uint8_t vk) const {
        for (Bytes table = char_tables_;; table += at_.table_size) {
            Bytes rows = read_.pointer(table, 0, "pVkToWchars");
            if (rows == nullptr) return std::nullopt;
            const auto width = read_.value<std::uint8_t>(table, at_.table_nModifications, "nModifications");
            const auto stride = read_.value<std::uint8_t>(table, at_.table_cbSize, "cbSize");
            if (stride < char_row::wch) throw WalkError("cbSize " + std::to_string(stride) + " is too small");
            for (Bytes row = rows;; row += stride) {
                const auto key = read_.value<std::uint8_t>(row, char_row::VirtualKey, "VirtualKey");
                if (key == 0) break;
                if (key == vk) return Row{row + char_row::wch, width};
            }
        }
    }

    std::string ligature(std::uint8_t vk, unsigned col) const {
        if (ligatures_ == nullptr) return "nolig";
        if (lg_entry_ < ligature_row::wch) throw WalkError("cbLgEntry " + std::to_string(lg_entry_) + " is too small");
        for (Bytes row = ligatures_;; row += lg_entry_) {
            const auto key = read_.value<std::uint8_t>(row, ligature_row::VirtualKey, "ligature VirtualKey");
            if (key == 0) return "nolig";
            const auto number =
                read_.value<std::uint16_t>(row, ligature_row::ModificationNumber, "ModificationNumber");
            if (key != vk || number != col) continue;
            std::string units;
            for (unsigned i = 0; i < lg_max_; ++i) {
                const auto unit = read_.value<std::uint16_t>(row, ligature_row::wch + 2 * i, "ligature cell");
                if (unit == kNoCharacter) break;
                if (i > 0) units += '+';
                units += hex(unit, 4);
            }
            return units;
        }
    }

    std::string cell(std::uint8_t vk, unsigned modifier_bits) const {
        const auto col = column(modifier_bits);
        if (!col) return "-";
        const auto row = find_row(vk);
        if (!row || *col >= row->width) return "-";
        const auto unit = read_.value<std::uint16_t>(row->cells, 2 * *col, "character cell");
        switch (unit) {
            case kNoCharacter: return "-";
            case kDeadKey: return "dead";
            case kLigature: return ligature(vk, *col);
            default: return hex(unit, 4);
        }
    }

    void key_line(std::string& out, const char* prefix, unsigned sc, std::optional<std::uint16_t> vk) const {
        out += prefix;
        out += ' ' + hex(sc, 2) + ' ' + (vk ? hex(*vk, 4) : "none");
        for (unsigned bits = 0; bits < 8; ++bits)
            out += ' ' + (vk ? cell(static_cast<std::uint8_t>(*vk & 0xFF), bits) : "-");
        out += '\n';
    }

    void name_lines(std::string& out, const char* prefix, Bytes list) const {
        if (list == nullptr) return;
        for (Bytes entry = list;; entry += at_.name_size) {
            const auto sc = read_.value<std::uint8_t>(entry, 0, "VSC_LPWSTR.vsc");
            Bytes name = read_.pointer(entry, at_.name_pwsz, "VSC_LPWSTR.pwsz");
            if (sc == 0 && name == nullptr) return;
            if (name == nullptr) throw WalkError("key name " + hex(sc, 2) + " has no string");
            out += std::string("name ") + prefix + ' ' + hex(sc, 2) + ' ';
            for (std::size_t i = 0;; ++i) {
                const auto unit = read_.value<std::uint16_t>(name, 2 * i, "key name character");
                if (unit == 0) break;
                if (i > 0) out += '+';
                out += hex(unit, 4);
            }
            out += '\n';
        }
    }

    void summary_line(std::string& out) const {
        std::string sizes;
        unsigned count = 0;
        for (Bytes table = char_tables_;; table += at_.table_size, ++count) {
            if (read_.pointer(table, 0, "pVkToWchars") == nullptr) break;
            sizes += ' ' + std::to_string(read_.value<std::uint8_t>(table, at_.table_nModifications, "nModifications")) +
                     'x' + std::to_string(read_.value<std::uint8_t>(table, at_.table_cbSize, "cbSize"));
        }
        out += "flags " + hex(locale_flags_, 8) + " lgmax " + std::to_string(lg_max_) + " lgentry " +
               std::to_string(lg_entry_) + " maxmodbits " + std::to_string(max_mod_bits_) + " tables " +
               std::to_string(count) + sizes + '\n';
    }

    Reader read_;
    const RecordLayout& at_;
    Bytes modifiers_, char_tables_, scan_map_, key_names_, key_names_ext_, e0_, e1_, ligatures_;
    std::uint8_t max_scan_, lg_max_, lg_entry_;
    std::uint32_t locale_flags_;
    std::uint16_t max_mod_bits_;
};

}  // namespace

std::string canonical_walk(const void* tables, Image image, PointerWidth width) {
    return Walk(static_cast<Bytes>(tables), image, width).text();
}

}  // namespace table_walk
