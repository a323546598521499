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

struct Registration {
    std::wstring klid;       // eight lowercase hex digits, "a0nn" and the language id
    std::wstring layoutId;   // four lowercase hex digits
    std::vector<NamedValue> values;  // what the key must hold
};

struct RegistrationChoice {
    std::optional<Registration> registration;
    std::wstring problem;  // when no KLID or Layout Id is free
};

// Our keys: "a0nn<language>" keys that name Kurd.dll with our layout text,
// lowest first.
std::vector<const LayoutKey*> ourLayoutKeys(const std::vector<LayoutKey>& keys,
                                            std::wstring_view layoutText, std::uint16_t languageId);

// Reuses our key if there is one (and its Layout Id if no other key uses
// it), otherwise takes the first free "a0nn" and a Layout Id no key uses.
RegistrationChoice chooseRegistration(const std::vector<LayoutKey>& keys, std::wstring_view layoutText,
                                      std::uint16_t languageId);

}  // namespace setup
