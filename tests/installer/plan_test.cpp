// Whole runs of the installer on a machine in memory, judged by the state
// the machine is left in: what a first install writes; that a second
// changes nothing and an uninstall gives the machine back; and that this
// holds after any sequence the real world makes of runs and restarts:
// files in use, operations already scheduled, a run failing or killed at
// any operation, its undoing failing too, the next run of either kind.
#include "fake_system.h"
#include "journal.h"
#include "pending_renames.h"
#include "plan.h"
#include "resource.h"
#include "session.h"
#include "text.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>

namespace setup::testing {
namespace {

const std::wstring bobSid = L"S-1-5-21-1-2-3-1003";
const std::wstring carolSid = L"S-1-5-21-1-2-3-1004";
const std::wstring daveSid = L"S-1-5-21-1-2-3-1005";
const std::wstring erinSid = L"S-1-5-21-1-2-3-1006";
const std::wstring frankSid = L"S-1-5-21-1-2-3-1007";
const std::wstring ginaSid = L"S-1-5-21-1-2-3-1008";
// Bob's profile folder: "Rebwar" in Kurdish letters (REH WITH SMALL V
// BELOW, AE, BEH, WAW, ALEF, REH).
const std::wstring bobFolder = L"C:\\Users\\\u0695\u06D5\u0628\u0648\u0627\u0631";

// A computer several people share, with other layouts in every list: the
// user at the screen (alice); carol, signed in at another session; bob,
// signed out; dave, whose registry a service holds open, so that it
// cannot be loaded; erin, whose profile roams; frank, whose folder is
// gone; gina, whose list is empty (Windows' default layout); LocalSystem;
// the default profile and the welcome screen's.
void shareComputer(FakeSystem& s) {
    s.addProfile(userSid, L"C:\\Users\\alice", true, {L"00000409"});
    s.addProfile(carolSid, L"C:\\Users\\carol", true, {L"00000401", L"00000409"});
    s.addProfile(bobSid, bobFolder, false, {L"00000409", L"d0010401", L"00000401"});
    s.setValue(Hive::Users, bobSid + L"\\Keyboard Layout\\Substitutes", L"d0010401", stringValue(L"00010401"));
    s.addProfile(daveSid, L"C:\\Users\\dave", false, {L"00000409"});
    s.unloadableHives[lower(daveSid)] = winerror::sharingViolation;
    s.addProfile(erinSid, L"C:\\Users\\erin", false, {L"00000409"});
    s.profiles.back().roaming = true;
    s.addProfile(frankSid, L"C:\\Users\\frank", false, {L"00000409"});
    s.state.folders.erase(lower(L"C:\\Users\\frank"));
    s.addProfile(ginaSid, L"C:\\Users\\gina", false, {});
    s.addProfile(L"S-1-5-18", L"C:\\Windows\\system32\\config\\systemprofile", true, {L"00000409"});
    s.addProfile(defaultProfileName, L"C:\\Users\\Default", false, {L"00000401"});
    s.addProfile(welcomeScreenName, L"", true, {L"00000409"});
}

// The layout put on every profile's list the way the language settings
// do, after an install.
void enableInSettings(FakeSystem& s) {
    for (const Profile& profile : s.profiles) {
        auto& preload = s.state.keys[lower(L"HKU\\" + profile.name + L"\\Keyboard Layout\\Preload")];
        if (isServiceAccount(profile.name) ||
            std::any_of(preload.begin(), preload.end(), [](const auto& v) { return v.second == stringValue(L"a0002c01"); }))
            continue;
        preload[decimal(static_cast<std::uint32_t>(preload.size() + 1))] = stringValue(L"a0002c01");
        s.state.enabledLayouts.insert(profile.name + L" 2c01:a0002c01");
    }
}

// Each profile's list, by its name: the values of Preload in order.
std::map<std::wstring, std::vector<std::wstring>> listsOf(const FakeSystem& s) {
    std::map<std::wstring, std::vector<std::wstring>> lists;
    for (const Profile& profile : s.profiles) {
        lists[profile.name];
        for (const auto& [number, value] : s.state.keys.at(lower(L"HKU\\" + profile.name + L"\\Keyboard Layout\\Preload")))
            lists[profile.name].push_back(value.text().value_or(L"?"));
    }
    return lists;
}

// Systems the installer meets; each row's set-up on a fresh FakeSystem.
struct Scenario {
    const char* name;
    std::function<void(FakeSystem&)> setUp;
};

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all = {
        {"x64, Windows 10, no input.dll", [](FakeSystem&) {}},
        {"x64 with InstallLayoutOrTip", [](FakeSystem& s) { s.userLayoutCallAvailable = true; }},
        {"x64, InstallLayoutOrTip fails",
         [](FakeSystem& s) { s.userLayoutCallAvailable = true; s.userLayoutCallFails = true; }},
        {"x86, Windows XP", [](FakeSystem& s) {
             s.machine = Machine::X86;
             s.processorArchitecture = 0;
             s.windowsVersion = 501;
             s.userLayoutCallAvailable = true;  // not used before Vista
             s.state.folders.erase(L"c:\\windows\\syswow64");
         }},
        {"arm64", [](FakeSystem& s) { s.machine = Machine::Arm64; s.processorArchitecture = 12; }},
        {"a foreign layout at a0002c01, Preload and Substitutes in use", [](FakeSystem& s) {
             s.setValue(Hive::LocalMachine, layoutKeys + L"a0002c01", L"Layout File", stringValue(L"KBDFOREIGN.DLL"));
             s.setValue(Hive::LocalMachine, layoutKeys + L"a0002c01", L"Layout Text", stringValue(L"Another"));
             s.setValue(Hive::LocalMachine, layoutKeys + L"a0002c01", L"Layout Id", stringValue(L"00c0"));
             s.setValue(Hive::Users, preloadPath, L"2", stringValue(L"d0002c01"));
             s.setValue(Hive::Users, preloadPath, L"3", stringValue(L"00000401"));
             s.setValue(Hive::Users, substitutesPath, L"d0002c01", stringValue(L"a0002c01"));
         }},
        {"an older build installed, a binary value and an odd string in its entry", [](FakeSystem& s) {
             s.build = "0";
             ASSERT_EQ(install(s).exitCode, ExitCode::Done);
             s.build = "1";
             s.setValue(Hive::LocalMachine, uninstallEntryPath, L"Notes", binaryValue({0x01, 0x02, 0x03}));
             // A string with no terminator and one with two: put back exactly.
             s.setValue(Hive::LocalMachine, uninstallEntryPath, L"Comments", RegistryValue{regSz, {'a', 0}});
             s.setValue(Hive::LocalMachine, uninstallEntryPath, L"Contact", RegistryValue{regSz, {'b', 0, 0, 0, 0, 0}});
         }},
        {"another user at the screen than the one elevated", [](FakeSystem& s) {
             s.session = SessionUser{L"bob", otherSid};
             s.userLayoutCallAvailable = true;
             s.setValue(Hive::Users, otherSid + L"\\Keyboard Layout\\Preload", L"1", stringValue(L"00000409"));
         }},
        {"another maker's key naming Kurd.dll outside a0nn", [](FakeSystem& s) {
             s.setValue(Hive::LocalMachine, layoutKeys + L"b0002c01", L"Layout File", stringValue(L"Kurd.dll"));
             s.setValue(Hive::LocalMachine, layoutKeys + L"b0002c01", L"Layout Id", stringValue(L"00d0"));
             s.setValue(Hive::Users, preloadPath, L"2", stringValue(L"b0002c01"));
         }},
        {"a shared computer, Windows 10 with the call", [](FakeSystem& s) {
             shareComputer(s);
             s.userLayoutCallAvailable = true;
         }},
        {"a shared computer, Windows 7: Preload in every profile", [](FakeSystem& s) {
             shareComputer(s);
             s.windowsVersion = 601;
             s.userLayoutCallAvailable = true;
         }},
    };
    return all;
}

FakeSystem systemFor(const Scenario& scenario) {
    FakeSystem system;
    scenario.setUp(system);
    system.newRun();
    return system;
}

// The machine as a clean run leaves it.
FakeState afterCleanRun(const FakeSystem& from, Report (*action)(FakeSystem&)) {
    FakeSystem system = from;
    system.newRun();
    const Report report = action(system);
    EXPECT_NE(report.exitCode, ExitCode::Failed) << logOf(system);
    system.restart();
    EXPECT_EQ(leftovers(system.state), std::vector<std::wstring>{}) << logOf(system);
    return system.state;
}

TEST(Plan, FilesGoWhereEachMachineLoadsThem) {
    struct Row { Machine machine; std::vector<std::pair<Form, std::wstring>> placed; };
    const Row rows[] = {
        {Machine::X86, {{Form::X86, system32}}},
        {Machine::X64, {{Form::X64, system32}, {Form::Wow64, sysWow64}}},
        {Machine::Arm64, {{Form::Arm64, system32}, {Form::Wow64, sysWow64}}},
    };
    for (const Row& row : rows) {
        std::vector<std::pair<Form, std::wstring>> placed;
        for (const Placement& p : placements(row.machine, L"C:\\Windows"))
            placed.emplace_back(p.form, p.path);
        EXPECT_EQ(placed, row.placed) << "machine " << static_cast<int>(row.machine);
    }
}

TEST(Plan, FirstInstallWritesExactlyThis) {
    FakeSystem system;
    const FakeState before = system.state;
    ASSERT_EQ(install(system).exitCode, ExitCode::Done) << logOf(system);

    FakeState expected = before;
    expected.files[L"c:\\windows\\system32\\kurd.dll"] = "x64/1";
    expected.files[L"c:\\windows\\syswow64\\kurd.dll"] = "wow64/1";
    expected.folders.insert(L"c:\\program files\\central kurdish keyboard layout");
    expected.files[lower(keptCopyPath)] = "setup/1";
    expected.keys[lower(L"HKLM\\" + layoutKeys + L"a0002c01")] = {
        {L"Layout File", stringValue(L"Kurd.dll")},
        {L"Layout Text", stringValue(L"Arabic (101) - Kurdish")},
        {L"Layout Display Name", expandStringValue(L"@%SystemRoot%\\system32\\Kurd.dll,-1000")},
        {L"Layout Id", stringValue(L"0029")},
    };
    expected.keys[lower(L"HKU\\" + preloadPath)][L"2"] = stringValue(L"d0002c01");
    expected.keys[lower(L"HKU\\" + substitutesPath)][L"d0002c01"] = stringValue(L"a0002c01");
    expected.keys[lower(std::wstring(L"HKLM\\") + uninstallEntryPath)] = {
        {L"DisplayName", stringValue(L"Central Kurdish Keyboard Layout")},
        {L"DisplayVersion", stringValue(L"1.0.3.40")},  // the tests' package's
        {L"Publisher", stringValue(L"Central Kurdish Keyboard Layout Team")},
        {L"DisplayIcon", stringValue(keptCopyPath + L",0")},
        {L"EstimatedSize", dwordValue(312)},  // 6 + 6 + 300 KiB
        {L"UninstallString", stringValue(L"\"" + keptCopyPath + L"\" /uninstall")},
        {L"NoModify", dwordValue(1)},
        {L"NoRepair", dwordValue(1)},
    };
    EXPECT_EQ(system.state, expected);
}

// For the user at the screen, and for every profile (/allusers): a
// profile that cannot be reached is named, and the run ends with 1011.
TEST(Plan, SecondInstallChangesNothingAndUninstallGivesTheMachineBack) {
    const auto ended = [](const Report& report) {
        return report.exitCode == ExitCode::Done || report.exitCode == ExitCode::ProfilesNotReached;
    };
    for (const Scenario& scenario : scenarios()) {
        for (Report (*installing)(FakeSystem&) : {install, installForAll}) {
            const std::string where = std::string(scenario.name) + (installing == install ? "" : ", for all users");
            FakeSystem system = systemFor(scenario);
            const FakeState before = system.state;
            ASSERT_TRUE(ended(installing(system))) << where << logOf(system);
            const FakeState installed = system.state;

            MessageText why;
            const Plan again = planInstall(*system.read(why), package(), installing == installForAll);
            // Only the system's own call may repeat: it cannot be asked whether
            // the layout is on the user's list already.
            for (const Step& step : again.steps)
                EXPECT_TRUE(std::holds_alternative<UserLayoutCall>(step.change))
                    << where << ": a second install plans " << narrow(system.inEnglish(description(step.change)));
            system.newRun();
            ASSERT_TRUE(ended(installing(system))) << where;
            EXPECT_EQ(system.state, installed) << where;

            system.newRun();
            ASSERT_TRUE(ended(uninstall(system))) << where << logOf(system);
            EXPECT_TRUE(planUninstall(*system.read(why)).steps.empty()) << where;
            // With an older build installed before, nothing of either is left.
            EXPECT_EQ(system.state, before.files.contains(lower(system32)) ? FakeSystem().state : before) << where;
        }
    }
}

// Whose list an install changes, and how, and what the message then
// says: another administrator may elevate the installer, the user's
// registry may not be loaded, the session may not say who is signed in.
TEST(Plan, EnablingForTheUser) {
    const std::wstring localSystem = L"S-1-5-18";
    const std::wstring enable = L"enable 2c01:a0002c01";
    struct Row {
        const char* name;
        unsigned windowsVersion;
        bool callAvailable, callFails;
        std::wstring processSid;
        std::optional<SessionUser> session;
        std::optional<std::wstring> changed;  // whose list changes
        std::vector<std::wstring> calls;
        bool editedDirectly;  // through our substitute, not by the system's call
        unsigned message;
    };
    const SessionUser alice{L"alice", userSid};
    const Row rows[] = {
        {"Windows 10 with input.dll", 1000, true, false, userSid, alice, userSid, {enable}, false, IDS_INSTALLED},
        {"the call fails: Preload instead, there at the next sign-in", 1000, true, true, userSid, alice, userSid,
         {enable}, true, IDS_INSTALLED_NEXT_SIGN_IN},
        {"no input.dll: Preload", 1000, false, false, userSid, alice, userSid, {}, true, IDS_INSTALLED_NEXT_SIGN_IN},
        {"Windows 7 with the call: Alt+Shift", 601, true, false, userSid, alice, userSid, {enable}, false,
         IDS_INSTALLED_OLDER_WINDOWS},
        {"Windows 7 without it: Preload", 601, false, false, userSid, alice, userSid, {}, true,
         IDS_INSTALLED_NEXT_SIGN_IN},
        {"XP: Preload, never the call", 501, true, false, userSid, alice, userSid, {}, true, IDS_INSTALLED_NEXT_SIGN_IN},
        {"another administrator elevated it (the shell's owner unreadable to it): the session's user, by her "
         "registry's path",
         1000, true, false, otherSid, alice, userSid, {enable + L" for HKEY_USERS\\" + userSid}, false, IDS_INSTALLED},
        {"another administrator elevated it on XP: the session's user's Preload", 501, true, false, otherSid, alice,
         userSid, {}, true, IDS_INSTALLED_NEXT_SIGN_IN},
        {"signed in, but the name cannot be looked up: the computer's part only", 1000, true, false, otherSid,
         SessionUser{L"alice", std::nullopt}, std::nullopt, {}, false, IDS_INSTALLED_USER_UNKNOWN},
        {"the session cannot be asked: the computer's part only", 1000, true, false, otherSid, std::nullopt,
         std::nullopt, {}, false, IDS_INSTALLED_USER_UNKNOWN},
        {"no one signed in, LocalSystem: the computer's part only", 1000, true, false, localSystem, SessionUser{},
         std::nullopt, {}, false, IDS_INSTALLED_FOR_COMPUTER},
        {"no one signed in, an account of its own: that account", 1000, true, false, otherSid, SessionUser{}, otherSid,
         {enable}, false, IDS_INSTALLED},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        system.windowsVersion = row.windowsVersion;
        system.userLayoutCallAvailable = row.callAvailable;
        system.userLayoutCallFails = row.callFails;
        system.processSid = row.processSid;
        system.session = row.session;
        system.setValue(Hive::Users, otherSid + L"\\Keyboard Layout\\Preload", L"1", stringValue(L"00000409"));
        const FakeState before = system.state;
        const Report report = install(system);
        ASSERT_EQ(report.exitCode, ExitCode::Done) << row.name;
        EXPECT_EQ(report.text.id, row.message) << row.name;
        EXPECT_EQ(system.userLayoutCalls, row.calls) << row.name;
        for (const std::wstring& sid : {userSid, otherSid}) {
            const auto substitutes = system.state.keys.find(lower(L"HKU\\" + sid + L"\\Keyboard Layout\\Substitutes"));
            const bool changes = row.changed == sid;
            EXPECT_EQ(substitutes != system.state.keys.end() && substitutes->second.contains(L"d0002c01"),
                      changes && row.editedDirectly)
                << row.name << ", user " << narrow(sid);
            EXPECT_EQ(system.state.keys.at(lower(L"HKU\\" + sid + L"\\Keyboard Layout\\Preload")).size(),
                      changes ? 2u : 1u)
                << row.name << ", user " << narrow(sid);
        }
        if (row.changed && !row.calls.empty() && !row.callFails) {
            EXPECT_EQ(system.state.enabledLayouts, std::set<std::wstring>{*row.changed + L" 2c01:a0002c01"}) << row.name;
        }

        system.newRun();
        ASSERT_EQ(uninstall(system).exitCode, ExitCode::Done) << row.name;
        std::vector<std::wstring> undo = row.calls;
        for (std::wstring& call : undo)
            call.replace(0, 6, L"disable");
        EXPECT_EQ(system.userLayoutCalls, undo) << row.name;
        EXPECT_EQ(system.state, before) << row.name;
    }
}

// An install for all users on a shared computer puts the layout at the
// end of every list it reaches, through our substitute, or the system's
// call for that profile's registry wherever it is loaded (from Windows 8
// on); every other layout keeps its place. It names the profiles it
// cannot reach and ends with 1011. The uninstall after it, or after the
// users put the layout on their lists themselves, gives every list it
// reaches back as it was, and names the same profiles.
TEST(Profiles, EveryListOnASharedComputer) {
    using Lists = std::map<std::wstring, std::vector<std::wstring>>;
    const std::wstring later = L" later";
    struct Row {
        const char* name;
        unsigned windowsVersion;
        Report (*enable)(FakeSystem&);
        Lists changed;  // the lists the install changes, as they are then
        std::vector<std::wstring> calls;
    };
    const Row rows[] = {
        {"Windows 7: the call for the user at the screen, our substitute in every profile", 601, installForAll,
         {{userSid, {L"00000409", L"a0002c01"}},
          {carolSid, {L"00000401", L"00000409", L"d0002c01"}},
          {bobSid, {L"00000409", L"d0010401", L"00000401", L"d0002c01"}},
          {defaultProfileName, {L"00000401", L"d0002c01"}},
          {welcomeScreenName, {L"00000409", L"d0002c01"}}},
         {L"enable 2c01:a0002c01"}},
        {"Windows 10: the call for every profile, each registry by where it is loaded", 1000, installForAll,
         {{userSid, {L"00000409", L"a0002c01"}},
          {carolSid, {L"00000401", L"00000409", L"a0002c01"}},
          {bobSid, {L"00000409", L"d0010401", L"00000401", L"a0002c01"}},
          {defaultProfileName, {L"00000401", L"a0002c01"}},
          {welcomeScreenName, {L"00000409", L"a0002c01"}}},
         {L"enable 2c01:a0002c01", L"enable 2c01:a0002c01 for HKEY_USERS\\" + carolSid + later,
          L"enable 2c01:a0002c01 for HKEY_USERS\\KurdKeyboardLayout_" + bobSid + later,
          L"enable 2c01:a0002c01 for HKEY_USERS\\KurdKeyboardLayout_Default" + later,
          L"enable 2c01:a0002c01 for HKEY_USERS\\.DEFAULT" + later}},
        {"Windows 10: the users put it on their lists in the language settings", 1000,
         [](FakeSystem& s) {
             const Report report = install(s);
             enableInSettings(s);
             return report;
         },
         {}, {L"enable 2c01:a0002c01"}},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        shareComputer(system);
        system.windowsVersion = row.windowsVersion;
        system.userLayoutCallAvailable = true;
        system.newRun();
        const Lists before = listsOf(system);
        const Report installed = row.enable(system);
        EXPECT_EQ(system.userLayoutCalls, row.calls) << row.name;
        Lists expected = before;
        for (const auto& [profile, list] : row.changed)
            expected[profile] = list;
        if (!row.changed.empty()) {
            EXPECT_EQ(listsOf(system), expected) << row.name << logOf(system);
            EXPECT_EQ(installed.exitCode, ExitCode::ProfilesNotReached) << row.name;
            EXPECT_EQ(installed.text.id, unsigned{IDS_PROFILES_NOT_REACHED}) << row.name;
            EXPECT_EQ(installed.text.inserts.at(0).id, unsigned{IDS_INSTALLED_ALL_USERS}) << row.name;
            // The folders, a line each.
            const MessageText& named = installed.text.inserts.at(1);
            EXPECT_EQ(named.inserts.at(0).literal + L"|" + named.inserts.at(1).literal, L"C:\\Users\\dave|C:\\Users\\erin")
                << row.name;
        }
        expected = listsOf(system);
        system.newRun();
        const Report uninstalled = uninstall(system);
        EXPECT_EQ(uninstalled.exitCode, ExitCode::ProfilesNotReached) << row.name;
        EXPECT_EQ(uninstalled.text.id, unsigned{IDS_PROFILES_NOT_CLEANED}) << row.name;
        // The lists it reaches are as before the install; the others as
        // they were.
        const std::wstring reached[] = {userSid, carolSid, bobSid, ginaSid, defaultProfileName, welcomeScreenName};
        for (const std::wstring& profile : reached)
            expected[profile] = before.at(profile);
        EXPECT_EQ(listsOf(system), expected) << row.name << logOf(system);
        EXPECT_EQ(system.state.enabledLayouts.size(), row.changed.empty() ? 3u : 0u) << row.name;
    }
}

TEST(Plan, OneKeyNamesOurFile) {
    FakeSystem system;
    // An earlier build's two keys, under other texts.
    for (const wchar_t* klid : {L"a0002c01", L"a0032c01"}) {
        system.setValue(Hive::LocalMachine, layoutKeys + klid, L"Layout File", stringValue(L"kurd.dll"));
        system.setValue(Hive::LocalMachine, layoutKeys + klid, L"Layout Text", stringValue(L"Kurdish, 1.0.2"));
    }
    system.setValue(Hive::Users, preloadPath, L"2", stringValue(L"d0032c01"));
    system.setValue(Hive::Users, substitutesPath, L"d0032c01", stringValue(L"a0032c01"));
    ASSERT_EQ(install(system).exitCode, ExitCode::Done) << logOf(system);
    MessageText why;
    const SystemFacts facts = *system.read(why);
    const auto ours = ourLayoutKeys(facts.layoutKeys);
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_EQ(ours.front()->klid, L"a0002c01");
    EXPECT_EQ(*ours.front()->value(L"Layout Text")->text(), L"Arabic (101) - Kurdish");
    EXPECT_EQ(system.state.keys.at(lower(L"HKU\\" + preloadPath)),
              (std::map<std::wstring, RegistryValue>{{L"1", stringValue(L"00000409")}, {L"2", stringValue(L"d0002c01")}}));
}

TEST(Plan, RefusedBeforeAnythingIsTouched) {
    struct Row { const char* name; std::function<void(FakeSystem&)> setUp; Problem problem; };
    const Row rows[] = {
        {"another library's Kurd.dll in System32", [](FakeSystem& s) { s.addFile(system32, "foreign"); },
         {IDS_FOREIGN_FILE, {system32}}},
        {"another library's Kurd.dll in SysWOW64", [](FakeSystem& s) { s.addFile(sysWow64, "foreign"); },
         {IDS_FOREIGN_FILE, {sysWow64}}},
        {"a folder named Kurd.dll", [](FakeSystem& s) { s.state.folders.insert(lower(system32)); },
         {IDS_FOREIGN_FILE, {system32}}},
        {"an x86 image where x64 belongs", [](FakeSystem& s) { s.addFile(system32, "x86/1"); },
         {IDS_FOREIGN_FILE, {system32}}},
        {"a folder where the kept copy goes", [](FakeSystem& s) {
             s.state.folders.insert(lower(keptCopyPath.substr(0, keptCopyPath.rfind(L'\\'))));
             s.state.folders.insert(lower(keptCopyPath));
         }, {IDS_FOREIGN_FILE, {keptCopyPath}}},
        {"all a0nn2c01 taken", [](FakeSystem& s) {
             for (std::uint32_t i = 0; i < 256; ++i)
                 s.setValue(Hive::LocalMachine, layoutKeys + L"a0" + hexDigits(i, 2) + L"2c01", L"Layout File",
                            stringValue(L"X.DLL"));
         }, {IDS_NO_FREE_KLID, {L"2c01"}}},
        {"an Itanium", [](FakeSystem& s) { s.processorArchitecture = 6; }, {IDS_UNKNOWN_PROCESSOR, {L"6"}}},
        {"no Program Files folder known", [](FakeSystem& s) { s.programFilesKnown = false; }, {IDS_NO_PROGRAM_FILES, {}}},
        {"Kurd.dll opened by another program without sharing reading", [](FakeSystem& s) {
             s.build = "0";
             install(s);
             s.build = "1";
             s.exclusive.insert(lower(system32));
         }, {IDS_FILE_IN_USE, {system32}}},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        row.setUp(system);
        system.newRun();
        const FakeState before = system.state;
        const Report report = install(system);
        EXPECT_EQ(report.exitCode, ExitCode::Failed) << row.name;
        ASSERT_EQ(report.text.inserts.size(), 1u) << row.name;
        EXPECT_EQ(report.text.inserts[0].id, row.problem.message) << row.name;
        std::vector<std::wstring> arguments;
        for (const MessageText& insert : report.text.inserts[0].inserts)
            arguments.push_back(insert.literal);
        EXPECT_EQ(arguments, row.problem.arguments) << row.name;
        EXPECT_EQ(system.operations, 0u) << row.name << logOf(system);
        EXPECT_EQ(system.state, before) << row.name;
    }
}

// ---------------------------------------------------------------------------
// Files in use, and the restart.

TEST(Plan, SequencesThroughRestartsEndAsTheLastRunSaid) {
    using Sequence = std::vector<std::string>;  // "install", "uninstall", "restart", "load", "hold"
    struct Row { const char* name; Sequence steps; std::vector<ExitCode> codes; bool installed; };
    const Row rows[] = {
        {"a loaded layout uninstalled: moved aside, gone at the restart",
         {"install", "load", "uninstall", "restart"}, {ExitCode::Done, ExitCode::Done}, false},
        {"uninstalled while loaded, reinstalled before the restart",
         {"install", "load", "uninstall", "install", "restart"}, {ExitCode::Done, ExitCode::Done, ExitCode::Done}, true},
        {"uninstalled while held open, reinstalled before the restart",
         {"install", "hold", "uninstall", "install", "restart"},
         {ExitCode::Done, ExitCode::RestartNeeded, ExitCode::Done}, true},
        {"an upgrade over a held file, uninstalled before the restart",
         {"install0", "hold", "install", "uninstall", "restart"},
         {ExitCode::Done, ExitCode::RestartNeeded, ExitCode::RestartNeeded}, false},
        {"an upgrade over a held file, installed again before the restart",
         {"install0", "hold", "install", "install", "restart"},
         {ExitCode::Done, ExitCode::RestartNeeded, ExitCode::RestartNeeded}, true},
        {"an upgrade over a loaded file needs no restart",
         {"install0", "load", "install", "restart"}, {ExitCode::Done, ExitCode::Done}, true},
        {"held, uninstalled, restarted, installed",
         {"install", "hold", "uninstall", "restart", "install"}, {ExitCode::Done, ExitCode::RestartNeeded, ExitCode::Done},
         true},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        const FakeState pristine = system.state;
        std::vector<ExitCode> codes;
        for (const std::string& step : row.steps) {
            system.newRun();
            if (step == "install" || step == "install0") {
                system.build = step == "install0" ? "0" : "1";
                codes.push_back(install(system).exitCode);
            } else if (step == "uninstall") {
                codes.push_back(uninstall(system).exitCode);
            } else if (step == "restart") {
                system.restart();
            } else {
                (step == "load" ? system.loaded : system.held).insert(lower(system32));
            }
        }
        EXPECT_EQ(codes, row.codes) << row.name << logOf(system);
        system.restart();
        system.build = "1";
        const FakeState expected = row.installed ? afterCleanRun(FakeSystem(), install) : pristine;
        EXPECT_EQ(system.state, expected) << row.name;
    }
}

// Windows loads the new Kurd.dll as soon as the user's list names it;
// a later step then fails, and the undo must deal with the loaded file.
TEST(Plan, UndoingALoadedFile) {
    struct Row { const char* name; std::set<std::wstring> FakeSystem::*how; unsigned message; };
    const Row rows[] = {
        {"loaded: moved out of the way, the old one back at once", &FakeSystem::loaded, IDS_INSTALL_FAILED},
        {"held open: the old one back at the restart", &FakeSystem::held, IDS_INSTALL_FAILED_RESTART},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        system.build = "0";
        ASSERT_EQ(install(system).exitCode, ExitCode::Done);
        system.newRun();
        system.build = "1";
        const FakeState before = system.state;
        // Once the new image is in, Windows takes it; a few operations on,
        // in the registration's steps, one fails.
        std::optional<std::size_t> placedAt;
        system.beforeOperation = [&](FakeSystem& s, std::size_t number) {
            const auto file = s.state.files.find(lower(system32));
            if (!placedAt && file != s.state.files.end() && file->second == "x64/1") {
                placedAt = number;
                (s.*row.how).insert(lower(system32));
            }
            s.failAt = placedAt && number == *placedAt + 6 ? std::optional(number) : std::nullopt;
        };
        const Report report = install(system);
        EXPECT_EQ(report.exitCode, ExitCode::Failed) << row.name << logOf(system);
        EXPECT_EQ(report.text.id, row.message) << row.name << logOf(system);
        system.restart();
        EXPECT_EQ(system.state, before) << row.name << logOf(system);
    }
}

// Operations on our files that an earlier run left for the restart are
// taken back, and the new files they would have moved in go.
TEST(Plan, ScheduledOperationsAreFacts) {
    FakeSystem system;
    ASSERT_EQ(install(system).exitCode, ExitCode::Done);
    const FakeState installed = system.state;
    const std::wstring staged = lower(system32 + L".00abcdef.new");
    const std::wstring leftover = lower(sysWow64 + L".00abcdef.old");
    system.addFile(staged, "x64/0");
    system.addFile(leftover, "wow64/0");
    system.schedule(staged, system32);          // an older build waiting to come in
    system.schedule(leftover, L"");             // a loaded file's leftover: stays scheduled
    system.schedule(L"C:\\other\\file", L"");  // not ours
    system.schedule(system32, L"");             // a deletion of ours
    system.newRun();
    ASSERT_EQ(install(system).exitCode, ExitCode::Done) << logOf(system);
    EXPECT_FALSE(system.state.files.contains(staged));
    const auto& sessionManager = system.state.keys.at(lower(L"HKLM\\" + std::wstring(sessionManagerPath)));
    std::vector<std::wstring> sources;
    for (const PendingRename& rename : pendingRenames(sessionManager.at(pendingRenamesName)))
        sources.push_back(lower(std::wstring(plainPath(rename.source))));
    EXPECT_EQ(sources, (std::vector<std::wstring>{leftover, L"c:\\other\\file"}));
    system.restart();
    FakeState expected = installed;
    EXPECT_EQ(system.state, expected) << logOf(system);
}

// ---------------------------------------------------------------------------
// Failing and being killed at every operation.

struct RunKind {
    const char* name;
    std::function<void(FakeSystem&)> before;  // brings the machine to where the run starts
    Report (*action)(FakeSystem&);
};

const std::vector<RunKind>& runs() {
    static const std::vector<RunKind> all = {
        {"a first install", [](FakeSystem&) {}, install},
        {"an upgrade", [](FakeSystem& s) { s.build = "0"; install(s); s.build = "1"; }, install},
        {"an upgrade over a loaded file", [](FakeSystem& s) {
             s.build = "0";
             install(s);
             s.build = "1";
             s.loaded.insert(lower(system32));
         }, install},
        {"an uninstall", [](FakeSystem& s) { install(s); }, uninstall},
        {"an uninstall of a loaded file", [](FakeSystem& s) { install(s); s.loaded.insert(lower(system32)); }, uninstall},
        {"an install for all users", [](FakeSystem&) {}, installForAll},
        {"an uninstall after an install for all users", [](FakeSystem& s) { installForAll(s); }, uninstall},
        {"an uninstall after users enabled it in the language settings",
         [](FakeSystem& s) { install(s); enableInSettings(s); }, uninstall},
    };
    return all;
}

// A step through the system's call for a user's list, or loading a
// profile's registry, that fails (the call, or an operation on the way to
// it) is no failure of the run: the call goes its other way, the profile
// is named. The machine of `start` where the same calls and loads, as the
// run's log names them, are refused: a clean run there goes where the run
// went.
FakeSystem refusing(const FakeSystem& start, const FakeSystem& run) {
    FakeSystem refused = start;
    for (const std::wstring& line : run.log) {
        if (!line.starts_with(L"step ") || line.find(L": failed") == std::wstring::npos)
            continue;
        // "step 7: <id> <layout or file> <user> ...".
        std::wistringstream words(line.substr(line.find(L'<')));
        std::wstring id, first, user;
        words >> id >> first >> user;
        if (id == L"<" + decimal(IDS_STEP_ENABLE_LAYOUT) + L">" || id == L"<" + decimal(IDS_STEP_DISABLE_LAYOUT) + L">")
            refused.userLayoutCallFailsFor.insert(lower(user));
        else if (id == L"<" + decimal(IDS_STEP_LOAD_HIVE) + L">")
            refused.unloadableHives[lower(user)] = diskFull;
    }
    return refused;
}

// Every operation of every run fails in turn: the run reports the
// failure and leaves the machine as it found it, or, past its last step,
// succeeds; either way the state after the restart is the one reported.
TEST(Plan, AFailureAtAnyOperationIsUndone) {
    for (const Scenario& scenario : scenarios()) {
        for (const RunKind& kind : runs()) {
            FakeSystem start = systemFor(scenario);
            kind.before(start);
            start.newRun();
            FakeSystem probe = start;
            kind.action(probe);
            const std::size_t count = probe.operations;
            FakeSystem restarted = start;
            restarted.restart();
            for (std::size_t failing = 0; failing < count; ++failing) {
                FakeSystem system = start;
                system.failAt = failing;
                const Report report = kind.action(system);
                const std::string where =
                    std::string(scenario.name) + ", " + kind.name + ", operation " + std::to_string(failing);
                system.restart();
                if (report.exitCode == ExitCode::Failed) {
                    EXPECT_TRUE(report.text.id == IDS_INSTALL_FAILED || report.text.id == IDS_UNINSTALL_FAILED)
                        << where << logOf(system);
                    EXPECT_EQ(system.state, restarted.state) << where << logOf(system);
                    continue;
                }
                const FakeState succeeded = afterCleanRun(refusing(start, system), kind.action);
                // Should deleting the journal itself fail, it says the run was
                // done; the next run only tidies up.
                MessageText why;
                const auto journal = system.read(why)->journal;
                if (journal) {
                    EXPECT_TRUE(readJournal(*journal).committed) << where << logOf(system);
                    system.newRun();
                    kind.action(system);
                    system.restart();
                }
                EXPECT_EQ(system.state, succeeded) << where << logOf(system);
            }
        }
    }
}

// A step fails, and so does an operation soon after it: of its own undo
// (the new file could not take the path, and putting the old one back
// failed too), of the undo of the steps before, or of tidying up. Whatever
// the run then says is true of the machine after the restart: nothing
// changed, or installed, or what could not be undone is named and the
// next run of either kind finishes it. On a plain machine, and on a
// shared one, where the undoing of a profile's list fails too (the
// system's call refusing to take back what it did), and its registry's
// unloading.
TEST(Plan, EveryOutcomeOfAFailedUndoIsTrue) {
  for (const bool shared : {false, true}) {
    for (const RunKind& kind : runs()) {
        FakeSystem start;
        if (shared) {
            shareComputer(start);
            // The system's call may refuse to take back what it did.
            start.userLayoutCallAvailable = true;
        }
        kind.before(start);
        start.newRun();
        FakeSystem probe = start;
        kind.action(probe);
        FakeSystem restarted = start;
        restarted.restart();
        for (std::size_t first = 0; first < probe.operations; ++first) {
            for (std::size_t second = first + 1; second <= first + 4; ++second) {
                FakeSystem system = start;
                system.beforeOperation = [&](FakeSystem& s, std::size_t number) {
                    s.failAt = number == first || number == second ? std::optional(number) : std::nullopt;
                };
                const Report report = kind.action(system);
                const std::string where = std::string(shared ? "a shared computer, " : "") + kind.name +
                                          ", operations " + std::to_string(first) + " and " + std::to_string(second) +
                                          logOf(system);
                MessageText why;
                const auto journal = system.read(why)->journal;
                const bool journalLeft = journal.has_value();
                system.restart();
                const unsigned said = report.text.id;
                const bool undone = said == IDS_INSTALL_FAILED || said == IDS_UNINSTALL_FAILED ||
                                    said == IDS_INSTALL_FAILED_RESTART || said == IDS_UNINSTALL_FAILED_RESTART;
                EXPECT_TRUE(report.exitCode != ExitCode::Failed || undone || said == IDS_NOT_UNDONE) << where;
                EXPECT_TRUE(said != IDS_NOT_UNDONE || journalLeft) << where;
                if (!journalLeft) {
                    EXPECT_EQ(system.state, undone ? restarted.state : afterCleanRun(refusing(start, system), kind.action))
                        << where;
                    EXPECT_EQ(leftovers(system.state), std::vector<std::wstring>{}) << where;
                } else {
                    // The next run of either kind finishes what is left: it
                    // undoes a run whose journal lacks the mark that its
                    // steps were done.
                    const bool kept = report.exitCode != ExitCode::Failed && readJournal(*journal).committed;
                    const FakeSystem& from = kept ? probe : start;
                    for (Report (*next)(FakeSystem&) : {install, uninstall}) {
                        FakeSystem after = system;
                        after.newRun();
                        EXPECT_NE(next(after).exitCode, ExitCode::Failed) << where << logOf(after);
                        after.restart();
                        EXPECT_EQ(after.state, afterCleanRun(from, next)) << where << logOf(after);
                    }
                }
            }
        }
    }
  }
}

// The run is killed at every operation, or the power fails there (what
// was not yet flushed to disk is lost, and the machine starts again): the
// next run, install or uninstall, ends where it would have from the
// machine before the killed run (or, once that run had done all its
// steps, after it), never with a Kurd.dll of zeros or a layout registered
// without its file; after an uninstall and a restart nothing of the
// package is left.
TEST(Plan, AKilledRunIsFinishedByTheNextRun) {
    for (const Scenario& scenario : scenarios()) {
        for (const RunKind& kind : runs()) {
            FakeSystem start = systemFor(scenario);
            kind.before(start);
            start.newRun();
            FakeSystem probe = start;
            kind.action(probe);
            const std::map<bool, std::map<Report (*)(FakeSystem&), FakeState>> expected = {
                {false, {{install, afterCleanRun(start, install)}, {uninstall, afterCleanRun(start, uninstall)}}},
                {true, {{install, afterCleanRun(probe, install)}, {uninstall, afterCleanRun(probe, uninstall)}}},
            };
            for (std::size_t killing = 0; killing < probe.operations; ++killing) {
                for (const bool powerCut : {false, true}) {
                    FakeSystem killed = start;
                    killed.killAt = killing;
                    killed.powerCut = powerCut;
                    EXPECT_THROW(kind.action(killed), Killed);
                    const std::string where = std::string(scenario.name) + ", " + kind.name +
                                              (powerCut ? ", the power cut at operation " : ", killed at operation ") +
                                              std::to_string(killing);
                    // The machine starts again after a power cut.
                    if (powerCut)
                        killed.restart();
                    MessageText why;
                    const auto journal = killed.read(why)->journal;
                    const bool committed = journal && readJournal(*journal).committed;
                    for (const bool restartFirst : {false, true}) {
                        for (Report (*next)(FakeSystem&) : {install, uninstall}) {
                            FakeSystem system = killed;
                            if (restartFirst)
                                system.restart();
                            system.newRun();
                            const Report report = next(system);
                            EXPECT_NE(report.exitCode, ExitCode::Failed) << where << logOf(system);
                            system.restart();
                            const std::string then = where + (restartFirst ? ", restarted," : ",") +
                                                     (next == install ? " then installed" : " then uninstalled");
                            EXPECT_EQ(system.state, expected.at(committed).at(next)) << then << logOf(system);
                            EXPECT_EQ(leftovers(system.state), std::vector<std::wstring>{}) << then;
                        }
                    }
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The journal's entries.

TEST(Journal, EveryChangeComesBackAsItWasWritten) {
    const User other{L"S-1-5-21-9-9-9-1002", false};
    const RegistryKey key{Hive::Users, other.sid + L"\\Keyboard Layout\\Preload"};
    const RegistryKey entry{Hive::LocalMachine, uninstallEntryPath};
    const std::vector<Change> changes = {
        CreateKey{key},
        SetValue{key, L"2", stringValue(L"d0002c01"), std::nullopt},
        SetValue{key, L"3", RegistryValue{regSz, {'a', 0, 0, 0, 0}}, binaryValue({0, 1, 2})},
        DeleteValue{key, L"4", RegistryValue{regMultiSz, {}}},
        DeleteKey{entry, {{L"A", dwordValue(7)}, {L"", stringValue(L"")}}},
        PlaceFile{system32, {Form::Arm64}, true, system32 + L".1.new", system32 + L".1.old"},
        PlaceFile{keptCopyPath, {std::nullopt}, false, keptCopyPath + L".1.new", keptCopyPath + L".1.old"},
        RemoveFile{sysWow64, sysWow64 + L".2.old"},
        Discard{L"C:\\Program Files\\Central Kurdish Keyboard Layout", true},
        CreateFolder{L"C:\\x"},
        UserLayoutCall{L"2c01:a0002c01", true, other},
        UserLayoutCall{L"2c01:a0002c01", true, User{L"Default", false, false}, false},
        ProfileHive{other.sid, L"C:\\Users\\\u0695\\NTUSER.DAT"},
        ProfileHive{L".DEFAULT", L"", false},
        CancelRename{L"\\??\\" + system32 + L".1.old", L""},
    };
    FakeSystem system;
    for (const Change& change : changes) {
        const std::string name = narrow(system.inEnglish(description(change)));
        const std::vector<std::uint8_t> bytes = encodeChange(change);
        const auto decoded = decodeChange(bytes);
        ASSERT_TRUE(decoded) << name;
        EXPECT_EQ(*decoded, change) << name;
        // Any shorter entry, or one with a byte more, is not an entry.
        for (std::size_t size = 0; size < bytes.size(); ++size)
            EXPECT_FALSE(decodeChange(std::span(bytes).first(size))) << name << ", " << size << " bytes";
        std::vector<std::uint8_t> longer = bytes;
        longer.push_back(0);
        EXPECT_FALSE(decodeChange(longer)) << name;
    }
    // A count far beyond the entry's end reads nothing past it.
    std::vector<std::uint8_t> huge = encodeChange(CreateFolder{L"C:\\x"});
    huge[2] = huge[3] = huge[4] = huge[5] = 0xFF;
    EXPECT_FALSE(decodeChange(huge));
}

}  // namespace
}  // namespace setup::testing
