#include "registration.h"

#include <algorithm>

#include "text.h"

namespace setup {
namespace {

// Layout ids become the low 12 bits of the high word of a keyboard-layout
// handle (0xF000 | id), so they run from 0x0001 to 0x0FFF.
constexpr std::uint32_t firstLayoutId = 0x0001;
constexpr std::uint32_t lastLayoutId = 0x0FFF;

std::wstring klidFor(std::uint32_t index, std::uint16_t languageId) {
    return hexDigits(0xA000u | index, 4) + hexDigits(languageId, 4);
}

std::optional<std::uint32_t> layoutIdOf(const LayoutKey& key) {
    const RegistryValue* id = key.value(L"Layout Id");
    const auto text = id && id->type == regSz ? id->text() : std::nullopt;
    return text ? parseHex(*text, 4) : std::nullopt;
}

// The next id above every one in use, or the lowest gap once the top is
// taken. New ids above the rest stay clear of the system's own, which
// count up from 1.
bool isUsed(const std::vector<std::uint32_t>& used, std::uint32_t id) {
    return std::find(used.begin(), used.end(), id) != used.end();
}

std::optional<std::uint32_t> freeLayoutId(const std::vector<std::uint32_t>& used) {
    const std::uint32_t next =
        used.empty() ? firstLayoutId : std::max(*std::max_element(used.begin(), used.end()) + 1, firstLayoutId);
    if (next <= lastLayoutId)
        return next;
    for (std::uint32_t id = firstLayoutId; id <= lastLayoutId; ++id) {
        if (!isUsed(used, id))
            return id;
    }
    return std::nullopt;
}

}  // namespace

const RegistryValue* LayoutKey::value(std::wstring_view name) const { return findValue(values, name); }

RegistryKey layoutKeyPath(std::wstring_view klid) {
    return {Hive::LocalMachine, std::wstring(keyboardLayoutsPath) + L"\\" + std::wstring(klid)};
}

std::vector<const LayoutKey*> ourLayoutKeys(const std::vector<LayoutKey>& keys) {
    std::vector<const LayoutKey*> ours;
    for (const LayoutKey& key : keys) {
        const auto number = parseHex(key.klid, 8);
        const RegistryValue* file = key.value(L"Layout File");
        const auto fileName = file ? file->text() : std::nullopt;
        if (!number || (*number >> 24) != 0xA0 || !fileName || !equalNoCase(*fileName, L"Kurd.dll"))
            continue;
        // In the KLIDs' order; the keys are few.
        const auto place = std::find_if(ours.begin(), ours.end(),
                                        [&](const LayoutKey* k) { return *parseHex(k->klid, 8) > *number; });
        ours.insert(place, &key);
    }
    return ours;
}

RegistrationChoice chooseRegistration(const std::vector<LayoutKey>& keys, std::wstring_view layoutText,
                                      std::uint16_t languageId) {
    const LayoutKey* reused = nullptr;
    for (const LayoutKey* key : ourLayoutKeys(keys)) {
        if ((*parseHex(key->klid, 8) & 0xFFFF) == languageId && !key->hasSubkeys) {
            reused = key;
            break;
        }
    }

    std::wstring klid;
    if (reused) {
        klid = reused->klid;
    } else {
        for (std::uint32_t index = 0; index <= 0xFF && klid.empty(); ++index) {
            const std::wstring candidate = klidFor(index, languageId);
            const bool taken = std::any_of(keys.begin(), keys.end(), [&](const LayoutKey& key) {
                return equalNoCase(key.klid, candidate);
            });
            if (!taken)
                klid = candidate;
        }
        if (klid.empty())
            return {std::nullopt, false};
    }
    for (wchar_t& c : klid)
        c = lowerAscii(c);

    std::vector<std::uint32_t> usedByOthers;
    for (const LayoutKey& key : keys) {
        if (&key != reused) {
            if (const auto id = layoutIdOf(key))
                usedByOthers.push_back(*id);
        }
    }
    std::optional<std::uint32_t> layoutId = reused ? layoutIdOf(*reused) : std::nullopt;
    if (layoutId && (*layoutId < firstLayoutId || *layoutId > lastLayoutId || isUsed(usedByOthers, *layoutId)))
        layoutId.reset();
    if (!layoutId)
        layoutId = freeLayoutId(usedByOthers);
    if (!layoutId)
        return {std::nullopt, true};

    Registration registration{klid, hexDigits(*layoutId, 4), {}};
    // A reused key keeps the exact spelling of its Layout Id.
    if (reused && layoutIdOf(*reused) == layoutId)
        registration.layoutId = *reused->value(L"Layout Id")->text();
    registration.values = {
        {L"Layout File", stringValue(L"Kurd.dll")},
        {L"Layout Text", stringValue(std::wstring(layoutText))},
        {L"Layout Display Name", expandStringValue(L"@%SystemRoot%\\system32\\Kurd.dll,-1000")},
        {L"Layout Id", stringValue(registration.layoutId)},
    };
    return {registration, {}};
}

}  // namespace setup
