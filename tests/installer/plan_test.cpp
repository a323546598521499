// Install and uninstall plans carried out on a system in memory: which
// files go where on each machine, what a first install writes, that a
// second changes nothing, that a newer build keeps the registration, that
// an uninstall gives back the system as it was, and that a failure at
// any step is undone completely.
#include "fake_system.h"
#include "plan.h"
#include "run.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace setup::testing {
namespace {

std::string narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

std::string steps(const Plan& plan) {
    std::string text;
    for (const Step& step : plan.steps)
        text += "\n  " + narrow(describe(step.change));
    return text;
}

const std::wstring system32 = L"C:\\Windows\\System32\\Kurd.dll";
const std::wstring sysWow64 = L"C:\\Windows\\SysWOW64\\Kurd.dll";
const std::wstring layoutKey = L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts\\";

RunResult install(FakeSystem& system) { return run(planInstall(system.facts(system.build), package()), system); }
RunResult uninstall(FakeSystem& system) { return run(planUninstall(system.facts(system.build), package()), system); }

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
             s.windowsMajor = 5;
             s.userLayoutCallAvailable = true;  // not used before Vista
             s.state.folders.erase(L"c:\\windows\\syswow64");
         }},
        {"arm64", [](FakeSystem& s) { s.machine = Machine::Arm64; }},
        {"a foreign layout at a0002c01, Preload and Substitutes in use", [](FakeSystem& s) {
             s.setValue(Hive::LocalMachine, layoutKey.substr(5) + L"a0002c01", L"Layout File", stringValue(L"KBDFOREIGN.DLL"));
             s.setValue(Hive::LocalMachine, layoutKey.substr(5) + L"a0002c01", L"Layout Text", stringValue(L"Another"));
             s.setValue(Hive::LocalMachine, layoutKey.substr(5) + L"a0002c01", L"Layout Id", stringValue(L"00c0"));
             s.setValue(Hive::CurrentUser, preloadPath, L"2", stringValue(L"d0002c01"));
             s.setValue(Hive::CurrentUser, preloadPath, L"3", stringValue(L"00000401"));
             s.setValue(Hive::CurrentUser, substitutesPath, L"d0002c01", stringValue(L"a0002c01"));
         }},
        {"an older build installed, Kurd.dll in use, a binary value in its entry", [](FakeSystem& s) {
             s.build = "0";
             ASSERT_EQ(install(s).exitCode, ExitCode::Done);
             s.build = "1";
             s.state.inUse.insert(L"c:\\windows\\system32\\kurd.dll");
             s.setValue(Hive::LocalMachine, uninstallEntryPath, L"Notes",
                        {RegistryValue::Kind::Other, {}, 3, {0x01, 0x02, 0x03}});
         }},
    };
    return all;
}

FakeSystem systemFor(const Scenario& scenario) {
    FakeSystem system;
    scenario.setUp(system);
    system.log.clear();
    system.userLayoutCalls.clear();
    system.applied = 0;
    return system;
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
    ASSERT_EQ(install(system).exitCode, ExitCode::Done);

    FakeState expected = before;
    expected.files[L"c:\\windows\\system32\\kurd.dll"] = "x64/1";
    expected.files[L"c:\\windows\\syswow64\\kurd.dll"] = "wow64/1";
    expected.folders.insert(L"c:\\program files (x86)\\central kurdish keyboard layout");
    const std::wstring copy = L"C:\\Program Files (x86)\\Central Kurdish Keyboard Layout\\setup.exe";
    expected.files[lower(copy)] = "setup/1";
    expected.keys[lower(layoutKey + L"a0002c01")] = {
        {L"Layout File", stringValue(L"Kurd.dll")},
        {L"Layout Text", stringValue(L"Arabic (101) - Kurdish")},
        {L"Layout Display Name", expandStringValue(L"@%SystemRoot%\\system32\\Kurd.dll,-1000")},
        {L"Layout Id", stringValue(L"0029")},
    };
    expected.keys[lower(L"HKCU\\Keyboard Layout\\Preload")][L"2"] = stringValue(L"d0002c01");
    expected.keys[lower(L"HKCU\\Keyboard Layout\\Substitutes")][L"d0002c01"] = stringValue(L"a0002c01");
    expected.keys[lower(std::wstring(L"HKLM\\") + uninstallEntryPath)] = {
        {L"DisplayName", stringValue(L"Central Kurdish Keyboard Layout")},
        {L"DisplayVersion", stringValue(L"1.0.3.40")},
        {L"Publisher", stringValue(L"Central Kurdish Keyboard Layout Team")},
        {L"DisplayIcon", stringValue(copy + L",0")},
        {L"EstimatedSize", dwordValue(312)},  // 6 + 6 + 300 KiB
        {L"UninstallString", stringValue(L"\"" + copy + L"\" /uninstall")},
        {L"NoModify", dwordValue(1)},
        {L"NoRepair", dwordValue(1)},
    };
    EXPECT_EQ(system.state, expected);
}

TEST(Plan, SecondInstallChangesNothingAndUninstallGivesTheSystemBack) {
    for (const Scenario& scenario : scenarios()) {
        FakeSystem system = systemFor(scenario);
        const FakeState before = system.state;
        const RunResult first = install(system);
        ASSERT_NE(first.exitCode, ExitCode::Failed) << scenario.name << ": " << narrow(first.failedChange);

        const Plan again = planInstall(system.facts(), package());
        EXPECT_TRUE(again.problem.empty()) << scenario.name;
        // Only the system's own call may repeat (it cannot be asked
        // whether the layout is on the user's list already), and a
        // replacement waiting for the restart is scheduled again.
        for (const Step& step : again.steps) {
            const auto* place = std::get_if<PlaceFile>(&step.change);
            EXPECT_TRUE(std::holds_alternative<UserLayoutCall>(step.change) ||
                        (place && system.state.inUse.contains(lower(place->path))))
                << scenario.name << ": a second install plans" << steps(again);
        }

        system.state.inUse.clear();
        system.state.pending.clear();
        const RunResult removed = uninstall(system);
        ASSERT_EQ(removed.exitCode, ExitCode::Done) << scenario.name << ": " << narrow(removed.failedChange);
        FakeState expected = before;
        expected.inUse.clear();
        if (before.files.contains(L"c:\\windows\\system32\\kurd.dll")) {
            // An older build was installed: the uninstall removes it all.
            for (const auto& [path, content] : before.files)
                expected.files.erase(path);
            expected.folders.erase(L"c:\\program files (x86)\\central kurdish keyboard layout");
            for (auto key = expected.keys.begin(); key != expected.keys.end();)
                key = key->first.find(L"a0002c01") != std::wstring::npos ||
                              key->first.find(L"kurdkeyboardlayout") != std::wstring::npos ||
                              key->first.ends_with(L"substitutes")
                          ? expected.keys.erase(key)
                          : std::next(key);
            expected.keys[lower(L"HKCU\\Keyboard Layout\\Preload")].erase(L"2");
        }
        EXPECT_EQ(system.state, expected) << scenario.name;
        EXPECT_TRUE(planUninstall(system.facts(), package()).steps.empty()) << scenario.name;
    }
}

TEST(Plan, EnablingForTheUser) {
    struct Row {
        const char* name;
        unsigned windowsMajor;
        bool callAvailable, callFails;
        std::vector<std::wstring> calls;
        bool preloadEdited;
    };
    const Row rows[] = {
        {"Windows 10 with input.dll", 10, true, false, {L"enable 2c01:a0002c01"}, false},
        {"the call fails: Preload instead", 10, true, true, {L"enable 2c01:a0002c01"}, true},
        {"no input.dll: Preload", 10, false, false, {}, true},
        {"XP: Preload, never the call", 5, true, false, {}, true},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        system.windowsMajor = row.windowsMajor;
        system.userLayoutCallAvailable = row.callAvailable;
        system.userLayoutCallFails = row.callFails;
        ASSERT_EQ(install(system).exitCode, ExitCode::Done) << row.name;
        EXPECT_EQ(system.userLayoutCalls, row.calls) << row.name;
        EXPECT_EQ(system.state.keys[lower(L"HKCU\\Keyboard Layout\\Preload")].contains(L"2"), row.preloadEdited)
            << row.name;

        system.userLayoutCalls.clear();
        ASSERT_EQ(uninstall(system).exitCode, ExitCode::Done) << row.name;
        std::vector<std::wstring> undo = row.calls;
        for (std::wstring& call : undo)
            call.replace(0, 6, L"disable");
        EXPECT_EQ(system.userLayoutCalls, undo) << row.name;
    }
}

TEST(Plan, NewerBuildReplacesFilesAndKeepsTheRegistration) {
    FakeSystem system;
    system.setValue(Hive::LocalMachine, layoutKey.substr(5) + L"a0002c01", L"Layout File", stringValue(L"KBDOTHER.DLL"));
    system.build = "1";
    ASSERT_EQ(install(system).exitCode, ExitCode::Done);
    const auto registered = system.state.keys.at(lower(layoutKey + L"a0012c01"));
    // A new layout with the next Layout Id arrives in between.
    system.setValue(Hive::LocalMachine, layoutKey.substr(5) + L"a0022c01", L"Layout Id", stringValue(L"002a"));

    system.build = "2";
    const Plan plan = planInstall(system.facts("2"), package());
    for (const Step& step : plan.steps) {
        const auto* place = std::get_if<PlaceFile>(&step.change);
        EXPECT_TRUE(place && place->replaces) << "an upgrade plans" << steps(plan);
    }
    EXPECT_EQ(plan.steps.size(), 3u) << steps(plan);
    ASSERT_EQ(run(plan, system).exitCode, ExitCode::Done);
    EXPECT_EQ(system.state.files.at(L"c:\\windows\\system32\\kurd.dll"), "x64/2");
    EXPECT_EQ(system.state.files.at(L"c:\\windows\\syswow64\\kurd.dll"), "wow64/2");
    EXPECT_EQ(system.state.keys.at(lower(layoutKey + L"a0012c01")), registered);
}

TEST(Plan, InUseGoesAtTheNextRestart) {
    FakeSystem system;
    system.build = "0";
    ASSERT_EQ(install(system).exitCode, ExitCode::Done);
    system.build = "1";
    system.state.inUse.insert(L"c:\\windows\\system32\\kurd.dll");
    EXPECT_EQ(install(system).exitCode, ExitCode::RestartNeeded);
    EXPECT_EQ(system.state.pending, std::vector<std::wstring>{L"c:\\windows\\system32\\kurd.dll"});
    EXPECT_EQ(system.state.files.at(L"c:\\windows\\syswow64\\kurd.dll"), "wow64/1");

    system.state.pending.clear();
    EXPECT_EQ(uninstall(system).exitCode, ExitCode::RestartNeeded);
    EXPECT_EQ(system.state.pending, std::vector<std::wstring>{L"c:\\windows\\system32\\kurd.dll"});
}

TEST(Plan, RefusedBeforeAnythingIsTouched) {
    struct Row { const char* name; std::function<void(FakeSystem&)> setUp; std::wstring_view problem; };
    const Row rows[] = {
        {"another library's Kurd.dll in System32", [](FakeSystem& s) { s.addFile(system32, "foreign"); }, L"System32"},
        {"another library's Kurd.dll in SysWOW64", [](FakeSystem& s) { s.addFile(sysWow64, "foreign"); }, L"SysWOW64"},
        {"a folder named Kurd.dll", [](FakeSystem& s) { s.state.folders.insert(lower(system32)); }, L"System32"},
        {"an x86 image where x64 belongs", [](FakeSystem& s) { s.addFile(system32, "x86/1"); }, L"System32"},
        {"all a0nn2c01 taken", [](FakeSystem& s) {
             for (int i = 0; i < 256; ++i)
                 s.setValue(Hive::LocalMachine, layoutKey.substr(5) + L"a0" + std::wstring(L"0123456789abcdef")[i / 16] +
                                std::wstring(L"0123456789abcdef")[i % 16] + L"2c01",
                            L"Layout File", stringValue(L"X.DLL"));
         }, L"a0ff2c01"},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        row.setUp(system);
        const Plan plan = planInstall(system.facts(), package());
        EXPECT_TRUE(plan.steps.empty()) << row.name << steps(plan);
        EXPECT_NE(plan.problem.find(row.problem), std::wstring::npos) << row.name << ": " << narrow(plan.problem);
    }
}

// Every change of every plan fails in turn: the run reports the failure,
// and the system is as it was before the run.
TEST(Plan, AFailureAtAnyStepIsUndone) {
    for (const bool uninstalling : {false, true}) {
        for (const Scenario& scenario : scenarios()) {
            FakeSystem probe = systemFor(scenario);
            if (uninstalling) {
                ASSERT_NE(install(probe).exitCode, ExitCode::Failed) << scenario.name;
            }
            const auto plan = [&](const FakeSystem& s) {
                return uninstalling ? planUninstall(s.facts(), package()) : planInstall(s.facts(), package());
            };
            const std::size_t count = plan(probe).steps.size();
            ASSERT_GT(count, 0u) << scenario.name;
            for (std::size_t failing = 0; failing < count + 2; ++failing) {
                FakeSystem system = systemFor(scenario);
                if (uninstalling) {
                    install(system);
                    system.state.pending.clear();
                    system.applied = 0;
                }
                const FakeState before = system.state;
                system.failAt = failing;
                const RunResult result = run(plan(system), system);
                const std::string where = std::string(uninstalling ? "uninstall, " : "install, ") + scenario.name +
                                          ", change " + std::to_string(failing);
                // Past the last change the run completes; so it does when the
                // system's call for the user's list fails, by the other way.
                if (failing >= system.applied ||
                    (system.failed && std::holds_alternative<UserLayoutCall>(*system.failed))) {
                    EXPECT_NE(result.exitCode, ExitCode::Failed) << where;
                    continue;
                }
                EXPECT_EQ(result.exitCode, ExitCode::Failed) << where;
                EXPECT_TRUE(result.notUndone.empty()) << where << ": " << narrow(result.notUndone.front());
                EXPECT_EQ(result.error, 5u) << where;
                EXPECT_EQ(system.state, before) << where;
            }
        }
    }
}

}  // namespace
}  // namespace setup::testing
