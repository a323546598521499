#include "user_layouts.h"

#include <algorithm>
#include <map>

#include "text.h"

namespace setup {
namespace {

const RegistryKey preloadKey{Hive::CurrentUser, preloadPath};
const RegistryKey substitutesKey{Hive::CurrentUser, substitutesPath};

// Whether the id in a Preload entry stands for klid.
bool standsFor(const UserLayouts& layouts, std::wstring_view id, std::wstring_view klid) {
    if (equalNoCase(id, klid))
        return true;
    return std::any_of(layouts.substitutes.begin(), layouts.substitutes.end(), [&](const NamedValue& s) {
        return equalNoCase(s.name, id) && equalNoCase(s.value.text, klid);
    });
}

// Preload entries by number; entries not named by a number are not part
// of the order and are left alone.
std::map<std::uint32_t, const NamedValue*> numbered(const std::vector<NamedValue>& preload) {
    std::map<std::uint32_t, const NamedValue*> entries;
    for (const NamedValue& entry : preload) {
        if (const auto number = parseDecimal(entry.name))
            entries[*number] = &entry;
    }
    return entries;
}

}  // namespace

bool enables(const UserLayouts& layouts, std::wstring_view klid) {
    return std::any_of(layouts.preload.begin(), layouts.preload.end(),
                       [&](const NamedValue& entry) { return standsFor(layouts, entry.value.text, klid); });
}

std::vector<Change> appendLayout(const UserLayouts& layouts, std::wstring_view klid, std::uint16_t languageId) {
    if (enables(layouts, klid))
        return {};
    std::vector<Change> changes;
    if (!layouts.preloadExists)
        changes.push_back(CreateKey{preloadKey});
    if (!layouts.substitutesExists)
        changes.push_back(CreateKey{substitutesKey});

    std::wstring substitute;
    for (const NamedValue& s : layouts.substitutes) {
        if (equalNoCase(s.value.text, klid) && parseHex(s.name, 8)) {
            substitute = s.name;
            break;
        }
    }
    if (substitute.empty()) {
        for (std::uint32_t index = 0; index <= 0xFF && substitute.empty(); ++index) {
            const std::wstring candidate = hexDigits(0xD000u | index, 4) + hexDigits(languageId, 4);
            const auto isCandidate = [&](const NamedValue& v) {
                return equalNoCase(v.name, candidate) || equalNoCase(v.value.text, candidate);
            };
            if (std::none_of(layouts.substitutes.begin(), layouts.substitutes.end(), isCandidate) &&
                std::none_of(layouts.preload.begin(), layouts.preload.end(), isCandidate))
                substitute = candidate;
        }
        // With every substitute id taken, Preload names the layout itself.
        if (substitute.empty())
            substitute = klid;
        else
            changes.push_back(SetValue{substitutesKey, substitute, stringValue(std::wstring(klid)), std::nullopt});
    }

    const auto entries = numbered(layouts.preload);
    const std::uint32_t next = entries.empty() ? 1 : entries.rbegin()->first + 1;
    changes.push_back(SetValue{preloadKey, std::to_wstring(next), stringValue(substitute), std::nullopt});
    return changes;
}

std::vector<Change> removeLayouts(const UserLayouts& layouts, const std::vector<std::wstring>& klids) {
    const auto ours = [&](std::wstring_view id) {
        return std::any_of(klids.begin(), klids.end(),
                           [&](const std::wstring& klid) { return standsFor(layouts, id, klid); });
    };
    // Each kept entry moves down by the number of removed entries before
    // it; every number then either keeps, changes or loses its value, and
    // each is changed once, so what it held before is what undoes it.
    const auto before = numbered(layouts.preload);
    std::map<std::uint32_t, RegistryValue> after;
    std::uint32_t removed = 0;
    for (const auto& [number, entry] : before) {
        if (ours(entry->value.text))
            ++removed;
        else
            after[number - removed] = entry->value;
    }

    std::vector<Change> changes;
    for (const auto& [number, value] : after) {
        const auto old = before.find(number);
        if (old == before.end())
            changes.push_back(SetValue{preloadKey, std::to_wstring(number), value, std::nullopt});
        else if (!(old->second->value == value))
            changes.push_back(SetValue{preloadKey, old->second->name, value, old->second->value});
    }
    for (const auto& [number, entry] : before) {
        if (!after.contains(number))
            changes.push_back(DeleteValue{preloadKey, entry->name, entry->value});
    }
    std::size_t substitutesLeft = layouts.substitutes.size();
    for (const NamedValue& s : layouts.substitutes) {
        const auto isKlid = [&](const std::wstring& klid) { return equalNoCase(s.value.text, klid); };
        if (std::any_of(klids.begin(), klids.end(), isKlid)) {
            changes.push_back(DeleteValue{substitutesKey, s.name, s.value});
            --substitutesLeft;
        }
    }
    // The key that only held ours goes with it, as it came with it.
    if (substitutesLeft == 0 && substitutesLeft != layouts.substitutes.size())
        changes.push_back(DeleteKey{substitutesKey, {}});
    return changes;
}

}  // namespace setup
