// The current user's list of keyboard layouts kept in the registry:
// "Preload" holds values named 1, 2, 3... in the order the user sees the
// layouts, and "Substitutes" maps the ids in Preload to the layouts they
// stand for. Used on Windows without the system's call for adding a
// layout (XP), or when that call fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "steps.h"

namespace setup {

inline constexpr wchar_t preloadPath[] = L"Keyboard Layout\\Preload";
inline constexpr wchar_t substitutesPath[] = L"Keyboard Layout\\Substitutes";

struct UserLayouts {
    bool preloadExists = false;
    bool substitutesExists = false;
    std::vector<NamedValue> preload;
    std::vector<NamedValue> substitutes;
};

// Whether the list already enables the layout klid, directly or through a
// substitute.
bool enables(const UserLayouts& layouts, std::wstring_view klid);

// Appends the layout after the highest-numbered entry, through a
// substitute id "d0nn<language>" (the first free, or one that already
// stands for klid). No changes when the list already enables it.
std::vector<Change> appendLayout(const UserLayouts& layouts, std::wstring_view klid, std::uint16_t languageId);

// Removes every entry that enables one of klids and the substitutes that
// stand for them, and moves the entries after each removed one down to
// close the gap, keeping their order.
std::vector<Change> removeLayouts(const UserLayouts& layouts, const std::vector<std::wstring>& klids);

}  // namespace setup
