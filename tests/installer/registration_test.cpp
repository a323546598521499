// Where the layout is registered and how the user's list is edited, over
// registry snapshots: the KLID and Layout Id chosen (free, reused, taken,
// exhausted), the Preload append and renumbering, and the restart list.
#include "fake_system.h"
#include "pending_renames.h"
#include "registration.h"
#include "text.h"
#include "user_layouts.h"

#include <gtest/gtest.h>

#include <string>

namespace setup {
namespace {

constexpr std::uint16_t arabicJordan = 0x2C01;
const std::wstring ourText = L"Arabic (101) - Kurdish";

using testing::narrow;

LayoutKey key(std::wstring klid, std::wstring file, std::wstring text, std::wstring id = L"") {
    LayoutKey layout{std::move(klid), {{L"Layout File", stringValue(file)}, {L"Layout Text", stringValue(text)}}, false};
    if (!id.empty())
        layout.values.push_back({L"Layout Id", stringValue(id)});
    return layout;
}

LayoutKey ours(std::wstring klid, std::wstring id) { return key(std::move(klid), L"Kurd.dll", ourText, std::move(id)); }

TEST(Registration, KlidAndLayoutId) {
    struct Row {
        const char* name;
        std::vector<LayoutKey> keys;
        std::wstring klid, layoutId;
    };
    const Row rows[] = {
        {"no layouts", {}, L"a0002c01", L"0001"},
        {"the system's layouts", {key(L"00000409", L"KBDUS.DLL", L"US"), key(L"00010401", L"KBDA2.DLL", L"Arabic (102)", L"0028")},
         L"a0002c01", L"0029"},
        {"a0002c01 taken by another layout",
         {key(L"a0002c01", L"KBDOTHER.DLL", L"Another", L"00c0")}, L"a0012c01", L"00c1"},
        {"a0002c01 in capitals, taken", {key(L"A0002C01", L"KBDOTHER.DLL", L"Another")}, L"a0012c01", L"0001"},
        {"a gap below a taken KLID", {key(L"a0012c01", L"KBDOTHER.DLL", L"Another", L"0005")}, L"a0002c01", L"0006"},
        {"ours reused with its id", {key(L"00000409", L"KBDUS.DLL", L"US", L"0003"), ours(L"a0052c01", L"0002")},
         L"a0052c01", L"0002"},
        {"ours reused, its id spelt in capitals", {ours(L"a0002c01", L"00C2")}, L"a0002c01", L"00C2"},
        {"ours reused, its id taken by another", {key(L"00000409", L"KBDUS.DLL", L"US", L"0007"), ours(L"a0002c01", L"0007")},
         L"a0002c01", L"0008"},
        {"ours reused, no id", {ours(L"a0002c01", L"")}, L"a0002c01", L"0001"},
        {"ours reused, a bad id", {ours(L"a0002c01", L"zz"), key(L"00000409", L"KBDUS.DLL", L"US", L"0004")},
         L"a0002c01", L"0005"},
        {"ours reused, id beyond 0fff", {ours(L"a0002c01", L"1000")}, L"a0002c01", L"0001"},
        {"Kurd.dll under another text is ours: it is the file that counts",
         {key(L"a0002c01", L"kurd.dll", L"Kurdish (old)", L"0001")}, L"a0002c01", L"0001"},
        {"our text naming another file is not ours", {key(L"a0002c01", L"KBDA1.DLL", ourText, L"0001")},
         L"a0012c01", L"0002"},
        {"Kurd.dll in a non-a0nn key is not ours", {ours(L"00002c01", L"0001")}, L"a0002c01", L"0002"},
        {"ours for another language is not reused", {ours(L"a0000492", L"0003")}, L"a0002c01", L"0004"},
        {"two of ours: the lowest", {ours(L"a0032c01", L"0010"), ours(L"a0012c01", L"0011")}, L"a0012c01", L"0011"},
        {"the top id taken: the lowest gap", {key(L"00000409", L"KBDUS.DLL", L"US", L"0fff"), key(L"00000401", L"A", L"A", L"0001")},
         L"a0002c01", L"0002"},
    };
    for (const Row& row : rows) {
        const RegistrationChoice choice = chooseRegistration(row.keys, ourText, arabicJordan);
        ASSERT_TRUE(choice.registration) << row.name;
        EXPECT_EQ(choice.registration->klid, row.klid) << row.name;
        EXPECT_EQ(choice.registration->layoutId, row.layoutId) << row.name;
    }
}

TEST(Registration, NothingFree) {
    std::vector<LayoutKey> allKlids;
    for (std::uint32_t i = 0; i <= 0xFF; ++i)
        allKlids.push_back(key(L"a0" + hexDigits(i, 2) + L"2c01", L"KBDX.DLL", L"X"));
    std::vector<LayoutKey> allIds;
    for (std::uint32_t id = 1; id <= 0xFFF; ++id)
        allIds.push_back(key(hexDigits(0x10000000 + id, 8), L"KBDX.DLL", L"X", hexDigits(id, 4)));

    struct Row { const char* name; const std::vector<LayoutKey>& keys; bool idsTaken; };
    const Row rows[] = {
        {"all a0nn2c01 taken", allKlids, false},
        {"every Layout Id taken", allIds, true},
    };
    for (const Row& row : rows) {
        const RegistrationChoice choice = chooseRegistration(row.keys, ourText, arabicJordan);
        EXPECT_FALSE(choice.registration) << row.name;
        EXPECT_EQ(choice.allLayoutIdsTaken, row.idsTaken) << row.name;
    }
}

// ---------------------------------------------------------------------------
// The user's list.

const User user{L"S-1-5-21-1-2-3-1001", true};
const RegistryKey preload = preloadKey(user);
const RegistryKey substitutes = substitutesKey(user);

std::vector<NamedValue> named(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values) {
    std::vector<NamedValue> list;
    for (const auto& [name, data] : values)
        list.push_back({name, stringValue(data)});
    return list;
}

// The list after the changes, as (key, name) -> data.
std::map<std::pair<std::wstring, std::wstring>, std::wstring> applied(const UserLayouts& before,
                                                                      const std::vector<Change>& changes) {
    std::map<std::pair<std::wstring, std::wstring>, std::wstring> values;
    for (const NamedValue& v : before.preload)
        values[{L"Preload", v.name}] = *v.value.text();
    for (const NamedValue& v : before.substitutes)
        values[{L"Substitutes", v.name}] = *v.value.text();
    for (const Change& change : changes) {
        if (const auto* set = std::get_if<SetValue>(&change)) {
            const std::wstring key = set->key == preload ? L"Preload" : L"Substitutes";
            const auto old = values.find({key, set->name});
            // Each change knows what it overwrites.
            EXPECT_EQ(old == values.end() ? std::nullopt : std::optional(stringValue(old->second)), set->prior)
                << narrow(key + L" " + set->name);
            values[{key, set->name}] = *set->value.text();
        } else if (const auto* erase = std::get_if<DeleteValue>(&change)) {
            const std::wstring key = erase->key == preload ? L"Preload" : L"Substitutes";
            EXPECT_EQ(values[std::pair(key, erase->name)], *erase->prior.text()) << narrow(key + L" " + erase->name);
            values.erase({key, erase->name});
        }
    }
    return values;
}

using Values = std::map<std::pair<std::wstring, std::wstring>, std::wstring>;

TEST(UserLayouts, AppendAfterTheHighestNumber) {
    struct Row { const char* name; UserLayouts before; Values after; };
    const Row rows[] = {
        {"one language", {true, false, named({{L"1", L"00000409"}}), {}},
         {{{L"Preload", L"1"}, L"00000409"}, {{L"Preload", L"2"}, L"d0002c01"}, {{L"Substitutes", L"d0002c01"}, L"a0002c01"}}},
        {"a gap and a foreign substitute",
         {true, true, named({{L"1", L"00000409"}, {L"3", L"d0002c01"}}), named({{L"d0002c01", L"a0002c01x"}})},
         {{{L"Preload", L"1"}, L"00000409"}, {{L"Preload", L"3"}, L"d0002c01"}, {{L"Preload", L"4"}, L"d0012c01"},
          {{L"Substitutes", L"d0002c01"}, L"a0002c01x"}, {{L"Substitutes", L"d0012c01"}, L"a0002c01"}}},
        {"an existing substitute of ours, not in Preload",
         {true, true, named({{L"1", L"00000409"}}), named({{L"D0052C01", L"A0002C01"}})},
         {{{L"Preload", L"1"}, L"00000409"}, {{L"Preload", L"2"}, L"D0052C01"}, {{L"Substitutes", L"D0052C01"}, L"A0002C01"}}},
        {"no Preload at all", {false, false, {}, {}},
         {{{L"Preload", L"1"}, L"d0002c01"}, {{L"Substitutes", L"d0002c01"}, L"a0002c01"}}},
        {"a name that is not a number is left alone", {true, false, named({{L"1", L"00000409"}, {L"x", L"00000401"}}), {}},
         {{{L"Preload", L"1"}, L"00000409"}, {{L"Preload", L"x"}, L"00000401"}, {{L"Preload", L"2"}, L"d0002c01"},
          {{L"Substitutes", L"d0002c01"}, L"a0002c01"}}},
    };
    for (const Row& row : rows) {
        const std::vector<Change> changes = appendLayout(user, row.before, L"a0002c01", arabicJordan);
        EXPECT_EQ(applied(row.before, changes), row.after) << row.name;
        EXPECT_TRUE(enables(afterChanges(row.before, user, changes), L"a0002c01")) << row.name;
        const int created = static_cast<int>(!row.before.preloadExists) + !row.before.substitutesExists;
        EXPECT_EQ(std::count_if(changes.begin(), changes.end(),
                                [](const Change& c) { return std::holds_alternative<CreateKey>(c); }),
                  created)
            << row.name;
    }
}

TEST(UserLayouts, AlreadyEnabledChangesNothing) {
    const UserLayouts direct{true, false, named({{L"1", L"00000409"}, {L"2", L"A0002C01"}}), {}};
    const UserLayouts substituted{true, true, named({{L"1", L"d0072c01"}}), named({{L"d0072c01", L"a0002c01"}})};
    for (const UserLayouts* layouts : {&direct, &substituted}) {
        EXPECT_TRUE(enables(*layouts, L"a0002c01"));
        EXPECT_TRUE(appendLayout(user, *layouts, L"a0002c01", arabicJordan).empty());
    }
}

TEST(UserLayouts, RemoveOursAndCloseTheGaps) {
    struct Row { const char* name; UserLayouts before; Values after; };
    const Row rows[] = {
        {"ours last", {true, true, named({{L"1", L"00000409"}, {L"2", L"d0002c01"}}), named({{L"d0002c01", L"a0002c01"}})},
         {{{L"Preload", L"1"}, L"00000409"}}},
        {"ours in the middle: the rest move down in order",
         {true, true, named({{L"1", L"00000409"}, {L"2", L"d0002c01"}, {L"3", L"00000401"}, {L"4", L"00000429"}}),
          named({{L"d0002c01", L"a0002c01"}, {L"d0012c01", L"a0002c02"}})},
         {{{L"Preload", L"1"}, L"00000409"}, {{L"Preload", L"2"}, L"00000401"}, {{L"Preload", L"3"}, L"00000429"},
          {{L"Substitutes", L"d0012c01"}, L"a0002c02"}}},
        {"ours first and named directly, twice",
         {true, false, named({{L"1", L"a0002c01"}, {L"2", L"00000409"}, {L"3", L"A0002C01"}, {L"4", L"00000401"}}), {}},
         {{{L"Preload", L"1"}, L"00000409"}, {{L"Preload", L"2"}, L"00000401"}}},
        {"a gap the user had stays",
         {true, true, named({{L"1", L"00000409"}, {L"2", L"00000401"}, {L"5", L"00000429"}, {L"6", L"d0002c01"}}),
          named({{L"d0002c01", L"a0002c01"}})},
         {{{L"Preload", L"1"}, L"00000409"}, {{L"Preload", L"2"}, L"00000401"}, {{L"Preload", L"5"}, L"00000429"}}},
        {"not there: nothing", {true, false, named({{L"1", L"00000409"}}), {}}, {{{L"Preload", L"1"}, L"00000409"}}},
    };
    for (const Row& row : rows) {
        const std::vector<Change> changes = removeLayouts(user, row.before, {L"a0002c01"});
        EXPECT_EQ(applied(row.before, changes), row.after) << row.name;
        // Every Windows profile has both keys: only values go.
        EXPECT_TRUE(std::none_of(changes.begin(), changes.end(),
                                 [](const Change& c) { return std::holds_alternative<DeleteKey>(c); }))
            << row.name;
    }
}

// ---------------------------------------------------------------------------
// The restart list.

// A literal with its embedded zeros; the compiler's own terminator dropped.
template <std::size_t N>
RegistryValue multiString(const wchar_t (&text)[N]) {
    RegistryValue value{regMultiSz, {}};
    for (std::size_t i = 0; i + 1 < N; ++i) {
        value.bytes.push_back(static_cast<std::uint8_t>(text[i] & 0xFF));
        value.bytes.push_back(static_cast<std::uint8_t>(text[i] >> 8));
    }
    return value;
}

TEST(PendingRenames, PairsWithEmptyTargets) {
    using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;
    struct Row { const char* name; RegistryValue value; Pairs pairs; };
    const Row rows[] = {
        {"a replacement", multiString(L"\\??\\C:\\n\0!\\??\\C:\\k\0\0"), {{L"\\??\\C:\\n", L"!\\??\\C:\\k"}}},
        {"a deletion, then a replacement", multiString(L"\\??\\C:\\a\0\0\\??\\C:\\b\0!\\??\\C:\\c\0\0"),
         {{L"\\??\\C:\\a", L""}, {L"\\??\\C:\\b", L"!\\??\\C:\\c"}}},
        {"a deletion alone", multiString(L"\\??\\C:\\a\0\0\0"), {{L"\\??\\C:\\a", L""}}},
        {"a deletion without the final zero", multiString(L"\\??\\C:\\a\0\0"), {{L"\\??\\C:\\a", L""}}},
    };
    for (const Row& row : rows) {
        Pairs pairs;
        for (const PendingRename& rename : pendingRenames(row.value))
            pairs.emplace_back(rename.source, rename.target);
        EXPECT_EQ(pairs, row.pairs) << row.name;
        EXPECT_EQ(pendingRenames(pendingRenamesValue(pendingRenames(row.value))).size(), row.pairs.size()) << row.name;
    }
}

TEST(PendingRenames, TakingOutOneSource) {
    struct Row { const char* name; RegistryValue value; std::wstring_view source; std::optional<RegistryValue> after; };
    const Row rows[] = {
        {"ours alone", multiString(L"\\??\\C:\\W\\Kurd.dll.0000abcd.new\0!\\??\\C:\\W\\Kurd.dll\0\0"),
         L"C:\\W\\Kurd.dll.0000abcd.new", std::nullopt},
        {"ours between others, case differs",
         multiString(L"\\??\\C:\\a\0\0\\??\\C:\\W\\KURD.DLL\0\0\\??\\C:\\b\0!\\??\\C:\\c\0\0"), L"C:\\W\\Kurd.dll",
         multiString(L"\\??\\C:\\a\0\0\\??\\C:\\b\0!\\??\\C:\\c\0\0")},
        {"not there", multiString(L"\\??\\C:\\a\0\0\0"), L"C:\\W\\Kurd.dll", multiString(L"\\??\\C:\\a\0\0\0")},
    };
    const RegistryKey sessionManager{Hive::LocalMachine, sessionManagerPath};
    for (const Row& row : rows) {
        testing::FakeSystem system;
        system.setValue(Hive::LocalMachine, sessionManagerPath, pendingRenamesName, row.value);
        EXPECT_EQ(unschedule(system, std::wstring(row.source)), 0u) << row.name;
        std::optional<RegistryValue> after;
        system.readValue(sessionManager, pendingRenamesName, after);
        EXPECT_EQ(after, row.after) << row.name;
    }
}

}  // namespace
}  // namespace setup
