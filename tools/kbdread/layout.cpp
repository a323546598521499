#include "layout.h"

#include <algorithm>

namespace kbdread {

const char* toString(PointerRole role)
{
    switch (role) {
    case PointerRole::CharModifiers: return "pCharModifiers";
    case PointerRole::VkToWcharTable: return "pVkToWcharTable";
    case PointerRole::DeadKey: return "pDeadKey";
    case PointerRole::KeyNames: return "pKeyNames";
    case PointerRole::KeyNamesExt: return "pKeyNamesExt";
    case PointerRole::KeyNamesDead: return "pKeyNamesDead";
    case PointerRole::VSCtoVK: return "pusVSCtoVK";
    case PointerRole::VSCtoVK_E0: return "pVSCtoVK_E0";
    case PointerRole::VSCtoVK_E1: return "pVSCtoVK_E1";
    case PointerRole::Ligature: return "pLigature";
    case PointerRole::VkToBit: return "pVkToBit";
    case PointerRole::CharTableRows: return "pVkToWchars";
    case PointerRole::KeyNameString: return "key name string";
    case PointerRole::KeyNameExtString: return "extended key name string";
    case PointerRole::DeadKeyNameString: return "dead key name string";
    case PointerRole::RecordAddress: return "KbdLayerDescriptor's record address";
    case PointerRole::NlsRecordAddress: return "KbdNlsLayerDescriptor's record address";
    case PointerRole::VkToF: return "pVkToF";
    case PointerRole::MouseVKey: return "pusMouseVKey";
    }
    return "?";
}

std::optional<std::size_t> zeroScanCodeEntry(const std::vector<KeyName>& names)
{
    const auto zero = std::find_if(names.begin(), names.end(), [](const KeyName& name) { return name.scanCode == 0; });
    if (zero == names.end() || zero + 1 == names.end())
        return std::nullopt;
    return static_cast<std::size_t>(zero - names.begin());
}

bool CharRow::hasContinuation() const
{
    return (attributes & kSgCaps) || std::find(cells.begin(), cells.end(), kWchDead) != cells.end();
}

// ---------------------------------------------------------------------------
// The loader's published lookups.

std::optional<std::uint16_t> Layout::mapScanCode(std::uint8_t scanCode, Prefix prefix) const
{
    if (prefix == Prefix::None) {
        if (scanCode < scanCodeMap.size())
            return scanCodeMap[scanCode];
        return std::nullopt;
    }
    for (const ScanCodePair& pair : prefix == Prefix::E0 ? e0 : e1)
        if (pair.scanCode == scanCode)
            return pair.value;
    return std::nullopt;
}

std::optional<unsigned> Layout::column(unsigned modBits) const
{
    if (modBits > modifiers.maxModBits || modBits >= modifiers.modNumber.size())
        return std::nullopt;
    const std::uint8_t number = modifiers.modNumber[modBits];
    if (number == kShiftInvalid)
        return std::nullopt;
    return number;
}

namespace {

const CharRow* keyRow(const CharTable& table, std::uint8_t virtualKey)
{
    const auto row = std::find_if(table.rows.begin(), table.rows.end(), [&](const CharRow& r) {
        return r.virtualKey == virtualKey && !r.continuation;
    });
    return row == table.rows.end() ? nullptr : &*row;
}

// The row after `row` in its table, or nullptr when `row` is the last.
const CharRow* nextRow(const CharTable& table, const CharRow* row)
{
    const auto next = static_cast<std::size_t>(row - table.rows.data()) + 1;
    return next < table.rows.size() ? &table.rows[next] : nullptr;
}

} // namespace

const CharTable* Layout::tableFor(std::uint8_t virtualKey) const
{
    for (const CharTable& table : charTables)
        if (keyRow(table, virtualKey))
            return &table;
    return nullptr;
}

const CharRow* Layout::rowFor(std::uint8_t virtualKey) const
{
    const CharTable* table = tableFor(virtualKey);
    return table ? keyRow(*table, virtualKey) : nullptr;
}

const DeadKeyEntry* Layout::deadKeyEntry(char16_t accent, char16_t base) const
{
    const auto found = std::find_if(deadKeys.begin(), deadKeys.end(), [&](const DeadKeyEntry& entry) {
        return entry.accent == accent && entry.base == base;
    });
    return found == deadKeys.end() ? nullptr : &*found;
}

KeyResult Layout::characters(std::uint8_t virtualKey, unsigned modBits, bool capsLock) const
{
    const CharTable* table = tableFor(virtualKey);
    const std::optional<unsigned> col = column(modBits);
    if (!table || !col || *col >= table->nModifications)
        return {};
    const CharRow* row = keyRow(*table, virtualKey);
    if (capsLock && (row->attributes & kSgCaps)) {
        row = nextRow(*table, row);
        if (!row)
            return {};
    }
    const std::uint16_t cell = row->cells[*col];
    switch (cell) {
    case kWchNone: return {};
    case kWchDead: {
        const CharRow* deadCharacters = nextRow(*table, row);
        if (!deadCharacters)
            return {KeyOutcome::Dead, {}};
        return {KeyOutcome::Dead, std::u16string(1, static_cast<char16_t>(deadCharacters->cells[*col]))};
    }
    case kWchLigature:
        for (const LigatureRow& lig : ligatures) {
            if (lig.virtualKey != virtualKey || lig.modificationNumber != *col)
                continue;
            KeyResult result{KeyOutcome::Characters, {}};
            for (std::uint16_t unit : lig.cells) {
                if (unit == kWchNone)
                    break;
                result.characters.push_back(static_cast<char16_t>(unit));
            }
            return result;
        }
        return {KeyOutcome::MissingLigature, {}};
    default: return {KeyOutcome::Characters, std::u16string(1, static_cast<char16_t>(cell))};
    }
}

} // namespace kbdread
