// A user's list of keyboard layouts kept in the registry: "Preload"
// holds values named 1, 2, 3... in the order the user sees the layouts,
// and "Substitutes" maps the ids in Preload to the layouts they stand
// for. Edited directly on Windows without the system's call for adding a
// layout (XP), or when that call fails, and cleared of our entries on
// every uninstall. Every Windows profile has both keys: they are never
// deleted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "steps.h"

namespace setup {

// The two keys of a user, under HKEY_USERS.
RegistryKey preloadKey(const User& user);
RegistryKey substitutesKey(const User& user);

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
std::vector<Change> appendLayout(const User& user, const UserLayouts& layouts, std::wstring_view klid,
                                 std::uint16_t languageId);

// The lists as they are once changes made by appendLayout or
// removeLayouts for the same user have been carried out.
UserLayouts afterChanges(UserLayouts layouts, const User& user, const std::vector<Change>& changes);

// Removes every entry that enables one of klids and the substitutes that
// stand for them, and moves the entries after each removed one down to
// close the gap, keeping their order.
std::vector<Change> removeLayouts(const User& user, const UserLayouts& layouts,
                                  const std::vector<std::wstring>& klids);

}  // namespace setup
