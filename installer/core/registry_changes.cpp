// The changes to the registry: keys and values, operations taken out of
// the restart schedule, a user's list through the system's call, and
// profiles' registries loaded and unloaded.
// Other programs share these values (Preload, Substitutes, the restart
// schedule): undoing restores what this run found only where the value
// still holds what the run wrote, or is still gone where the run deleted
// it.
#include <algorithm>

#include "pending_renames.h"
#include "resource.h"
#include "system.h"
#include "text.h"

namespace setup {
namespace {

MessageText quoted(const std::wstring& text) { return message(IDS_QUOTED, {literal(text)}); }

// A value as a step names it: its text, its number, or its size and type.
MessageText valueText(const RegistryValue& value) {
    if (const auto text = value.text())
        return quoted(*text);
    if (value.type == regDword && value.bytes.size() == 4)
        return literal(decimal(static_cast<std::uint32_t>(value.bytes[0] | value.bytes[1] << 8 | value.bytes[2] << 16 |
                                                          static_cast<std::uint32_t>(value.bytes[3]) << 24)));
    return message(IDS_VALUE_BYTES,
                   {literal(decimal(static_cast<std::uint32_t>(value.bytes.size()))), literal(decimal(value.type))});
}

// What is gone already is done; but in a user's registry that is not
// loaded, nothing is gone: it is out of reach.
Outcome doneIfGone(System& system, const RegistryKey& key, std::uint32_t error) {
    const auto user = userOf(key);
    if (isGone(error) && (!user || system.userHiveLoaded(*user)))
        return done();
    return outcomeOf(error);
}

// Puts prior back where nothing holds its place: a value that is there
// with another content was written since, and stays.
Outcome restore(System& system, const RegistryKey& key, const NamedValue& prior) {
    std::optional<RegistryValue> now;
    if (const std::uint32_t error = system.readValue(key, prior.name, now))
        return outcomeOf(error);
    if (!now)
        return outcomeOf(system.setValue(key, prior.name, prior.value));
    return *now == prior.value ? done() : leftAlone();
}

bool sameRename(const PendingRename& a, const PendingRename& b) {
    return equalNoCase(a.source, b.source) && equalNoCase(a.target, b.target);
}

// Writes a profile's registry that the installer loaded to disk, then
// unloads it (unloading drops what is not on disk); done where it is not
// loaded.
Outcome unloadOurs(System& system, const std::wstring& profile) {
    const std::vector<std::wstring> loaded = system.hivesLoadedByUs();
    if (std::none_of(loaded.begin(), loaded.end(), [&](const std::wstring& p) { return equalNoCase(p, profile); }))
        return done();
    if (const std::uint32_t error = system.flush({Hive::Users, profile}))
        return outcomeOf(error);
    const std::uint32_t error = system.unloadHive(profile);
    return outcomeOf(isGone(error) ? 0 : error);
}

}  // namespace

Outcome CreateKey::apply(System& system) const {
    const std::uint32_t error = system.createKey(key);
    return outcomeOf(error == winerror::alreadyExists ? 0 : error);
}

Outcome CreateKey::undo(System& system) const {
    std::optional<std::vector<NamedValue>> values;
    if (const std::uint32_t error = system.readKey(key, values))
        return outcomeOf(error);
    if (!values)
        return done();
    if (!values->empty())
        return leftAlone();
    return doneIfGone(system, key, system.deleteKey(key));
}

MessageText CreateKey::description() const { return message(IDS_STEP_CREATE_KEY, {name(keyText(key))}); }

Outcome SetValue::apply(System& system) const { return outcomeOf(system.setValue(key, name, value)); }

Outcome SetValue::undo(System& system) const {
    std::optional<RegistryValue> now;
    if (const std::uint32_t error = system.readValue(key, name, now))
        return outcomeOf(error);
    if (now == prior)
        return done();
    if (now != value)
        return leftAlone();
    if (prior)
        return outcomeOf(system.setValue(key, name, *prior));
    return doneIfGone(system, key, system.deleteValue(key, name));
}

MessageText SetValue::description() const {
    return message(IDS_STEP_SET_VALUE, {setup::name(keyText(key)), quoted(name), valueText(value)});
}

Outcome DeleteValue::apply(System& system) const { return doneIfGone(system, key, system.deleteValue(key, name)); }

Outcome DeleteValue::undo(System& system) const { return restore(system, key, {name, prior}); }

MessageText DeleteValue::description() const {
    return message(IDS_STEP_DELETE_VALUE, {setup::name(keyText(key)), quoted(name)});
}

Outcome DeleteKey::apply(System& system) const { return doneIfGone(system, key, system.deleteKey(key)); }

Outcome DeleteKey::undo(System& system) const {
    const std::uint32_t error = system.createKey(key);
    if (error != 0 && error != winerror::alreadyExists)
        return outcomeOf(error);
    Outcome outcome;
    for (const NamedValue& value : prior) {
        const Outcome restored = restore(system, key, value);
        if (restored.error != 0)
            return restored;
        outcome.leftAlone |= restored.leftAlone;
    }
    return outcome;
}

MessageText DeleteKey::description() const { return message(IDS_STEP_DELETE_KEY, {name(keyText(key))}); }

Outcome CancelRename::apply(System& system) const {
    return outcomeOf(editSchedule(system, [&](std::vector<PendingRename>& renames) {
        return std::erase_if(renames, [&](const PendingRename& r) { return sameRename(r, {source, target}); }) != 0;
    }));
}

Outcome CancelRename::undo(System& system) const {
    if (!system.exists(std::wstring(plainPath(source))))
        return done();
    return outcomeOf(editSchedule(system, [&](std::vector<PendingRename>& renames) {
        if (std::any_of(renames.begin(), renames.end(), [&](const PendingRename& r) { return sameRename(r, {source, target}); }))
            return false;
        renames.push_back({source, target});
        return true;
    }));
}

MessageText CancelRename::description() const {
    return message(IDS_STEP_CANCEL_RENAME, {name(std::wstring(plainPath(source)))});
}

Outcome UserLayoutCall::apply(System& system) const { return outcomeOf(system.userLayoutCall(*this)); }

Outcome UserLayoutCall::undo(System& system) const {
    if (!listed)
        return done();
    const std::uint32_t error = system.userLayoutCall({layout, !uninstall, user});
    if (error == 0)
        return done();
    system.record(L"the system's call refused: " + system.errorText(error));
    return refused();
}

MessageText UserLayoutCall::description() const {
    return message(uninstall ? IDS_STEP_DISABLE_LAYOUT : IDS_STEP_ENABLE_LAYOUT, {name(layout), name(user.sid)});
}

Outcome ProfileHive::apply(System& system) const {
    if (!load)
        return unloadOurs(system, profile);
    const std::uint32_t error = system.loadHive(profile, file);
    return outcomeOf(error == winerror::alreadyExists ? 0 : error);
}

Outcome ProfileHive::undo(System& system) const {
    if (load)
        return unloadOurs(system, profile);
    if (!system.userHiveLoaded(profile)) {
        if (const Outcome loaded = ProfileHive{profile, file}.apply(system); loaded.error != 0)
            system.record(L"the registry of user " + profile + L" cannot be loaded again: " + system.errorText(loaded.error));
    }
    return done();
}

MessageText ProfileHive::description() const {
    return load ? message(IDS_STEP_LOAD_HIVE, {name(file), name(profile)}) : message(IDS_STEP_UNLOAD_HIVE, {name(profile)});
}

}  // namespace setup
