#include "user_layouts.h"

#include <algorithm>

#include "text.h"

namespace setup {
namespace {

std::wstring textOf(const RegistryValue& value) { return value.text().value_or(L""); }

// Whether the id in a Preload entry stands for klid.
bool standsFor(const UserLayouts& layouts, std::wstring_view id, std::wstring_view klid) {
    if (equalNoCase(id, klid))
        return true;
    return std::any_of(layouts.substitutes.begin(), layouts.substitutes.end(), [&](const NamedValue& s) {
        return equalNoCase(s.name, id) && equalNoCase(textOf(s.value), klid);
    });
}

}  // namespace

RegistryKey preloadKey(const User& user) { return {Hive::Users, user.sid + L"\\Keyboard Layout\\Preload"}; }
RegistryKey substitutesKey(const User& user) { return {Hive::Users, user.sid + L"\\Keyboard Layout\\Substitutes"}; }

bool enables(const UserLayouts& layouts, std::wstring_view klid) {
    return std::any_of(layouts.preload.begin(), layouts.preload.end(),
                       [&](const NamedValue& entry) { return standsFor(layouts, textOf(entry.value), klid); });
}

std::vector<Change> appendLayout(const User& user, const UserLayouts& layouts, std::wstring_view klid,
                                 std::uint16_t languageId) {
    if (enables(layouts, klid))
        return {};
    std::vector<Change> changes;
    if (!layouts.preloadExists)
        changes.push_back(CreateKey{preloadKey(user)});
    if (!layouts.substitutesExists)
        changes.push_back(CreateKey{substitutesKey(user)});

    std::wstring substitute;
    for (const NamedValue& s : layouts.substitutes) {
        if (equalNoCase(textOf(s.value), klid) && parseHex(s.name, 8)) {
            substitute = s.name;
            break;
        }
    }
    if (substitute.empty()) {
        for (std::uint32_t index = 0; index <= 0xFF && substitute.empty(); ++index) {
            const std::wstring candidate = hexDigits(0xD000u | index, 4) + hexDigits(languageId, 4);
            const auto isCandidate = [&](const NamedValue& v) {
                return equalNoCase(v.name, candidate) || equalNoCase(textOf(v.value), candidate);
            };
            if (std::none_of(layouts.substitutes.begin(), layouts.substitutes.end(), isCandidate) &&
                std::none_of(layouts.preload.begin(), layouts.preload.end(), isCandidate))
                substitute = candidate;
        }
        // With every substitute id taken, Preload names the layout itself.
        if (substitute.empty())
            substitute = klid;
        else
            changes.push_back(SetValue{substitutesKey(user), substitute, stringValue(klid), std::nullopt});
    }

    // Entries not named by a number are not part of the order.
    const auto entries = numberedValues(layouts.preload);
    const std::uint32_t next = entries.empty() ? 1 : entries.back().number + 1;
    changes.push_back(SetValue{preloadKey(user), decimal(next), stringValue(substitute), std::nullopt});
    return changes;
}

std::vector<Change> removeLayouts(const User& user, const UserLayouts& layouts,
                                  const std::vector<std::wstring>& klids) {
    const auto ours = [&](std::wstring_view id) {
        return std::any_of(klids.begin(), klids.end(),
                           [&](const std::wstring& klid) { return standsFor(layouts, id, klid); });
    };
    // Each kept entry moves down by the number of removed entries before
    // it; every number then either keeps, changes or loses its value, and
    // each is changed once, so what it held before is what undoes it.
    // Entries not named by a number are not part of the order and are
    // left alone.
    const std::vector<NumberedValue> before = numberedValues(layouts.preload);
    const auto entryNumbered = [&](std::uint32_t number) -> const NamedValue* {
        for (const auto& [n, entry] : before) {
            if (n == number)
                return entry;
        }
        return nullptr;
    };
    std::vector<NumberedValue> after;  // in the numbers' order, as before
    std::uint32_t removed = 0;
    for (const auto& [number, entry] : before) {
        if (ours(textOf(entry->value)))
            ++removed;
        else
            after.push_back({number - removed, entry});
    }

    std::vector<Change> changes;
    for (const auto& [number, entry] : after) {
        const NamedValue* old = entryNumbered(number);
        if (!old)
            changes.push_back(SetValue{preloadKey(user), decimal(number), entry->value, std::nullopt});
        else if (!(old->value == entry->value))
            changes.push_back(SetValue{preloadKey(user), old->name, entry->value, old->value});
    }
    for (const auto& [number, entry] : before) {
        if (std::none_of(after.begin(), after.end(), [&](const NumberedValue& n) { return n.number == number; }))
            changes.push_back(DeleteValue{preloadKey(user), entry->name, entry->value});
    }
    for (const NamedValue& s : layouts.substitutes) {
        const auto isKlid = [&](const std::wstring& klid) { return equalNoCase(textOf(s.value), klid); };
        if (std::any_of(klids.begin(), klids.end(), isKlid))
            changes.push_back(DeleteValue{substitutesKey(user), s.name, s.value});
    }
    return changes;
}

}  // namespace setup

namespace setup {

UserLayouts afterChanges(UserLayouts layouts, const User& user, const std::vector<Change>& changes) {
    const auto listOf = [&](const RegistryKey& key) -> std::vector<NamedValue>* {
        if (key == preloadKey(user))
            return &layouts.preload;
        if (key == substitutesKey(user))
            return &layouts.substitutes;
        return nullptr;
    };
    const auto erase = [](std::vector<NamedValue>& list, std::wstring_view name) {
        std::erase_if(list, [&](const NamedValue& value) { return equalNoCase(value.name, name); });
    };
    for (const Change& change : changes) {
        if (const auto* c = std::get_if<CreateKey>(&change)) {
            (c->key == preloadKey(user) ? layouts.preloadExists : layouts.substitutesExists) = true;
        } else if (const auto* c = std::get_if<SetValue>(&change)) {
            if (std::vector<NamedValue>* list = listOf(c->key)) {
                erase(*list, c->name);
                list->push_back({c->name, c->value});
            }
        } else if (const auto* c = std::get_if<DeleteValue>(&change)) {
            if (std::vector<NamedValue>* list = listOf(c->key))
                erase(*list, c->name);
        }
    }
    return layouts;
}

}  // namespace setup
