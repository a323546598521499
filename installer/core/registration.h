// Where the layout is registered for the machine: its KLID (the key under
// "Keyboard Layouts") and its Layout Id, chosen from the keys already
// there so that no other layout is disturbed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "steps.h"

namespace setup {

inline constexpr wchar_t keyboardLayoutsPath[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";

// One key under "Keyboard Layouts", as read from the registry.
struct LayoutKey {
    std::wstring klid;  // the key's name
    std::vector<NamedValue> values;
    bool hasSubkeys = false;

    const RegistryValue* value(std::wstring_view name) const;
};

RegistryKey layoutKeyPath(std::wstring_view klid);

struct Registration {
    std::wstring klid;       // eight lowercase hex digits, "a0nn" and the language id
    std::wstring layoutId;   // four lowercase hex digits
    std::vector<NamedValue> values;  // what the key must hold
};

struct RegistrationChoice {
    std::optional<Registration> registration;  // none when no KLID or no Layout Id is free
    bool allLayoutIdsTaken = false;            // which of the two
};

// Our keys: those named "a0nn" and a language id whose Layout File is
// Kurd.dll, lowest first. The file name marks them, not the display
// text, which differs between versions and may have been edited; and
// every key that names Kurd.dll loads our file.
std::vector<const LayoutKey*> ourLayoutKeys(const std::vector<LayoutKey>& keys);

// Reuses our lowest key for languageId if there is one (and its Layout Id
// if no other key uses it), otherwise takes the first free "a0nn" and a
// Layout Id no key uses.
RegistrationChoice chooseRegistration(const std::vector<LayoutKey>& keys, std::wstring_view layoutText,
                                      std::uint16_t languageId);

}  // namespace setup
