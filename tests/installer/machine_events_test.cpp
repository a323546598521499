// Whole runs on the machine in memory through what happens to real
// machines between and around runs, beyond what Wine shows: another
// program changes a value the installer shares, the user whose list a
// killed run changed signs out, another maker's Kurd.dll takes ours'
// place, an older build is run over a newer one, the journal cannot be
// deleted; and a journal an earlier build wrote is read.
#include "fake_system.h"
#include "journal.h"
#include "overloaded.h"
#include "pending_renames.h"
#include "resource.h"
#include "run.h"
#include "text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

namespace setup::testing {
namespace {

const std::wstring journalKeyName = lower(L"HKLM\\" + std::wstring(journalPath));

const std::map<std::wstring, RegistryValue>& keyOf(const FakeSystem& system, const std::wstring& path) {
    return system.state.keys.at(lower(path));
}

// Another program changes a value the installer shares after a run was
// killed at some operation, before the next run: undoing leaves what the
// other program wrote. Each row is tried at every operation of the killed
// run where its other program finds something to change.
TEST(Recovery, AnotherProgramsValuesStay) {
    const std::wstring otherFile = L"C:\\Other\\file.tmp";
    struct Row {
        const char* name;
        std::function<void(FakeSystem&)> before;
        Report (*killed)(FakeSystem&);
        // The other program, between the kill and the next run; whether
        // it found something to change.
        std::function<bool(FakeSystem&)> otherProgram;
        bool refused;  // the next run is refused once it has recovered
        std::function<void(const FakeSystem&, const std::string&)> check;
    };
    const Row rows[] = {
        {"our Preload entry taken over by another layout", [](FakeSystem&) {}, install,
         [](FakeSystem& s) {
             auto& preload = s.state.keys[lower(L"HKU\\" + preloadPath)];
             if (!preload.contains(L"2"))
                 return false;
             preload[L"2"] = stringValue(L"00000401");
             return true;
         },
         false,
         [](const FakeSystem& s, const std::string& where) {
             EXPECT_EQ(keyOf(s, L"HKU\\" + preloadPath),
                       (std::map<std::wstring, RegistryValue>{{L"1", stringValue(L"00000409")},
                                                              {L"2", stringValue(L"00000401")},
                                                              {L"3", stringValue(L"d0002c01")}}))
                 << where;
         }},
        {"the substitute we deleted written again by another program",
         [](FakeSystem& s) { install(s); },
         uninstall,
         [](FakeSystem& s) {
             auto& substitutes = s.state.keys[lower(L"HKU\\" + substitutesPath)];
             if (substitutes.contains(L"d0002c01"))
                 return false;
             substitutes[L"d0002c01"] = stringValue(L"a0052c01");
             return true;
         },
         false,
         [](const FakeSystem& s, const std::string& where) {
             EXPECT_EQ(keyOf(s, L"HKU\\" + substitutesPath),
                       (std::map<std::wstring, RegistryValue>{{L"d0002c01", stringValue(L"a0052c01")}}))
                 << where;
         }},
        // A backup program then holds Kurd.dll, and the next run stops once
        // it has recovered: what recovery put back is all the schedule has.
        {"another program's operation carried out by the restart, its file made again",
         [&](FakeSystem& s) {
             install(s);
             s.state.folders.insert(lower(L"C:\\Other"));
             s.addFile(otherFile, "theirs");
             s.addFile(system32 + L".00abcdef.old", "x64/0");
             s.schedule(otherFile, L"");
             s.schedule(system32 + L".00abcdef.old", L"");
         },
         install,
         [&](FakeSystem& s) {
             s.restart();
             if (s.state.files.contains(lower(otherFile)))
                 return false;
             s.addFile(otherFile, "theirs again");
             s.exclusive.insert(lower(system32));
             return true;
         },
         true,
         [&](const FakeSystem& s, const std::string& where) {
             EXPECT_EQ(s.state.files.at(lower(otherFile)), "theirs again") << where;
         }},
        {"the file of an operation taken back deleted by another program",
         [&](FakeSystem& s) {
             install(s);
             s.addFile(system32 + L".00abcdef.new", "x64/0");
             s.schedule(system32 + L".00abcdef.new", system32);
         },
         install,
         [&](FakeSystem& s) {
             const std::wstring staged = lower(system32 + L".00abcdef.new");
             MessageText why;
             if (!s.state.files.contains(staged) || s.read(why)->pendingRenames)
                 return false;
             s.state.files.erase(staged);
             s.exclusive.insert(lower(system32));
             return true;
         },
         true, [](const FakeSystem&, const std::string&) {}},
    };
    for (const Row& row : rows) {
        FakeSystem start;
        row.before(start);
        start.newRun();
        FakeSystem probe = start;
        row.killed(probe);
        for (std::size_t killing = 0; killing < probe.operations; ++killing) {
            FakeSystem system = start;
            system.killAt = killing;
            EXPECT_THROW(row.killed(system), Killed);
            if (!row.otherProgram(system))
                continue;
            const std::string where = std::string(row.name) + ", killed at operation " + std::to_string(killing);
            system.newRun();
            EXPECT_EQ(row.killed(system).exitCode == ExitCode::Failed, row.refused) << where << logOf(system);
            // Nothing is left scheduled for a file that is gone.
            MessageText why;
            if (const auto scheduled = system.read(why)->pendingRenames) {
                for (const PendingRename& rename : pendingRenames(*scheduled))
                    EXPECT_TRUE(system.exists(std::wstring(plainPath(rename.source)))) << where << logOf(system);
            }
            system.restart();
            row.check(system, where + logOf(system));
            EXPECT_EQ(leftovers(system.state), std::vector<std::wstring>{}) << where;
        }
    }
}

// A run that changed a user's list is killed, and the user signs out;
// another user signs in and installs. The run goes on, leaving the first
// user's keys alone; what the killed run did to them waits until that
// user's registry is loaded again (the user signs in, or a run that
// reaches every profile loads it from its file), and a later run of
// either kind then undoes it: the machine ends as if the killed run had
// never been.
TEST(Recovery, AUserWhoSignedOutIsWaitedFor) {
    const auto signIn = [](FakeSystem& s, const std::wstring& sid, const wchar_t* name) {
        s.unloadedHives.clear();
        s.unloadedHives.insert(lower(sid == userSid ? otherSid : userSid));
        s.processSid = sid;
        s.session = SessionUser{name, sid};
    };
    const auto bothSignedIn = [](FakeSystem& s) {
        s.unloadedHives.clear();
        s.processSid = userSid;
        s.session = SessionUser{L"alice", userSid};
    };
    FakeSystem start;
    start.addProfile(userSid, L"C:\\Users\\alice", true, {L"00000409"});
    start.addProfile(otherSid, L"C:\\Users\\bob", true, {L"00000409"});
    start.newRun();
    struct Next { const char* name; Report (*run)(FakeSystem&); bool aliceSignsIn; };
    const Next nexts[] = {
        {"alice signs in, then installed", install, true},
        {"alice signs in, then uninstalled", uninstall, true},
        {"uninstalled, alice signed out", uninstall, false},
        {"installed for all users, alice signed out", installForAll, false},
    };
    FakeSystem probe = start;
    install(probe);
    for (std::size_t killing = 0; killing < probe.operations; ++killing) {
        FakeSystem system = start;
        system.killAt = killing;
        EXPECT_THROW(install(system), Killed);
        const std::string where = "killed at operation " + std::to_string(killing);
        MessageText why;
        const auto journal = system.read(why)->journal;
        const bool committed = journal && readJournal(*journal).committed;

        signIn(system, otherSid, L"bob");
        const auto aliceKeys = [&] {
            std::map<std::wstring, std::map<std::wstring, RegistryValue>> keys;
            for (const auto& [key, values] : system.state.keys) {
                if (key.starts_with(lower(L"hku\\" + userSid)))
                    keys[key] = values;
            }
            return keys;
        };
        const auto aliceBefore = aliceKeys();
        system.newRun();
        EXPECT_EQ(install(system).exitCode, ExitCode::Done) << where << logOf(system);
        EXPECT_EQ(aliceKeys(), aliceBefore) << where << logOf(system);

        for (const Next& next : nexts) {
            FakeSystem after = system;
            if (next.aliceSignsIn)
                bothSignedIn(after);
            after.newRun();
            EXPECT_NE(next.run(after).exitCode, ExitCode::Failed) << where << logOf(after);
            after.restart();
            // The same runs, none killed.
            FakeSystem reference = committed ? probe : start;
            signIn(reference, otherSid, L"bob");
            reference.newRun();
            install(reference);
            if (next.aliceSignsIn)
                bothSignedIn(reference);
            reference.newRun();
            next.run(reference);
            reference.restart();
            EXPECT_EQ(after.state, reference.state) << where << ", " << next.name << logOf(after);
        }
    }
}

// The keys that name Kurd.dll load whatever Kurd.dll is there: where
// another maker's has taken ours' place, an uninstall leaves them and
// their places in the user's list, and says so. Else every key of ours
// goes, the system's call given each key's own language, and our entries
// leave Preload, where the install put them while the call was refused.
TEST(Uninstall, OnlyOurKeysGo) {
    struct Row {
        const char* name;
        std::function<void(FakeSystem&)> afterInstall;
        std::vector<std::wstring> calls;
        bool keysKept;
    };
    const Row rows[] = {
        {"another maker's Kurd.dll in System32", [](FakeSystem& s) { s.addFile(system32, "foreign"); }, {}, true},
        {"ours for another language as well", [](FakeSystem& s) {
             s.setValue(Hive::LocalMachine, layoutKeys + L"a0000492", L"Layout File", stringValue(L"Kurd.dll"));
             s.setValue(Hive::Users, preloadPath, L"3", stringValue(L"a0000492"));
         }, {L"disable 0492:a0000492", L"disable 2c01:a0002c01"}, false},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        system.userLayoutCallAvailable = true;
        system.userLayoutCallFails = true;  // so that Preload holds our entry
        const FakeState pristine = system.state;
        install(system);
        row.afterInstall(system);
        system.userLayoutCallFails = false;
        system.newRun();
        const FakeState before = system.state;
        const Report report = uninstall(system);
        EXPECT_EQ(report.exitCode, ExitCode::Done) << row.name << logOf(system);
        EXPECT_EQ(system.userLayoutCalls, row.calls) << row.name;
        system.restart();
        const auto layoutKey = lower(L"HKLM\\" + layoutKeys + L"a0002c01");
        if (row.keysKept) {
            EXPECT_EQ(report.text.id, IDS_FOREIGN_KEYS_KEPT) << row.name;
            ASSERT_EQ(report.text.inserts.size(), 2u) << row.name;
            EXPECT_EQ(report.text.inserts[1].literal, system32) << row.name;
            EXPECT_EQ(system.state.keys.at(layoutKey), before.keys.at(layoutKey)) << row.name;
            EXPECT_EQ(keyOf(system, L"HKU\\" + preloadPath), before.keys.at(lower(L"HKU\\" + preloadPath))) << row.name;
            EXPECT_EQ(keyOf(system, L"HKU\\" + substitutesPath), before.keys.at(lower(L"HKU\\" + substitutesPath)))
                << row.name;
            EXPECT_EQ(system.state.files.at(lower(system32)), "foreign") << row.name;
            EXPECT_FALSE(system.state.files.contains(lower(sysWow64))) << row.name;
            EXPECT_FALSE(system.state.files.contains(lower(keptCopyPath))) << row.name;
            EXPECT_FALSE(system.state.keys.contains(lower(L"HKLM\\" + std::wstring(uninstallEntryPath)))) << row.name;
        } else {
            EXPECT_EQ(report.text.id, IDS_UNINSTALLED) << row.name;
            EXPECT_EQ(system.state, pristine) << row.name;
        }
    }
}

// An older build over a newer one is refused before anything is touched
// (1638, as Windows Installer answers); the same version repairs, and a
// newer one upgrades.
TEST(Versions, OlderOverNewerIsRefused) {
    struct Row { const char* installer; ExitCode code; const wchar_t* versionAfter; };
    const Row rows[] = {
        {"1.0.3.39", ExitCode::NewerInstalled, L"1.0.3.40"},
        {"1.0.2.400", ExitCode::NewerInstalled, L"1.0.3.40"},
        {"1.0.3.40", ExitCode::Done, L"1.0.3.40"},
        {"1.0.3.100", ExitCode::Done, L"1.0.3.100"},
        {"2.0.0.0", ExitCode::Done, L"2.0.0.0"},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        install(system);
        system.build = "2";
        system.newRun();
        const FakeState before = system.state;
        const std::wstring version(row.installer, row.installer + std::strlen(row.installer));
        const Report report = carryOut(Action::Install, false, package(version), system, system);
        EXPECT_EQ(report.exitCode, row.code) << row.installer << logOf(system);
        EXPECT_EQ(keyOf(system, L"HKLM\\" + std::wstring(uninstallEntryPath)).at(L"DisplayVersion"),
                  stringValue(row.versionAfter))
            << row.installer;
        if (row.code == ExitCode::NewerInstalled) {
            ASSERT_EQ(report.text.inserts.size(), 1u) << row.installer;
            EXPECT_EQ(report.text.inserts[0].id, unsigned{IDS_NEWER_INSTALLED}) << row.installer;
            ASSERT_EQ(report.text.inserts[0].inserts.size(), 2u) << row.installer;
            EXPECT_EQ(report.text.inserts[0].inserts[0].literal, L"1.0.3.40") << row.installer;
            EXPECT_EQ(report.text.inserts[0].inserts[1].literal, version) << row.installer;
            EXPECT_EQ(system.operations, 0u) << row.installer;
            EXPECT_EQ(system.state, before) << row.installer;
        }
    }
}

// A journal is never written into twice: one that recovery cannot delete
// stops the next run, naming it, and a run never opens one that is there.
TEST(Journal, NeverWrittenIntoTwice) {
    FakeSystem start;
    start.newRun();
    FakeSystem probe = start;
    install(probe);
    for (std::size_t killing = 0; killing < probe.operations; ++killing) {
        FakeSystem system = start;
        system.killAt = killing;
        EXPECT_THROW(install(system), Killed);
        if (!system.state.keys.contains(journalKeyName))
            continue;
        system.undeletableKeys.insert(journalKeyName);
        system.newRun();
        const Report report = install(system);
        const std::string where = "killed at operation " + std::to_string(killing) + logOf(system);
        EXPECT_EQ(report.exitCode, ExitCode::Failed) << where;
        ASSERT_EQ(report.text.inserts.size(), 1u) << where;
        EXPECT_EQ(report.text.inserts[0].id, unsigned{IDS_JOURNAL_LEFT}) << where;
        ASSERT_EQ(report.text.inserts[0].inserts.size(), 1u) << where;
        EXPECT_EQ(report.text.inserts[0].inserts[0].literal, L"HKLM\\SOFTWARE\\KurdKeyboardLayoutJournal") << where;
    }

    FakeSystem system;
    system.setValue(Hive::LocalMachine, journalPath, journalCommittedName, dwordValue(1));
    system.newRun();
    const FakeState before = system.state;
    MessageText why;
    const RunResult result = run(planInstall(*system.read(why), package(), false), system);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(system.state, before);
}

// The bytes of a journal as the build that wrote it left them, read back:
// a later build finishes what an earlier one's killed run left.
TEST(Journal, WhatAnEarlierBuildWroteIsRead) {
    std::ifstream file(KURD_SOURCE_DIR "/tests/installer/journal_1.0.3.40.reg");
    ASSERT_TRUE(file);
    std::stringstream text;
    text << file.rdbuf();
    std::string all = text.str();
    for (std::size_t at; (at = all.find("\\\n  ")) != std::string::npos;)
        all.erase(at, 4);
    std::vector<NamedValue> values;
    std::istringstream lines(all);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find("\"=");
        if (!line.starts_with('"') || equals == std::string::npos)
            continue;
        const std::wstring name(line.begin() + 1, line.begin() + static_cast<std::ptrdiff_t>(equals));
        const std::string data = line.substr(equals + 2);
        if (data.starts_with("dword:")) {
            values.push_back({name, dwordValue(static_cast<std::uint32_t>(std::stoul(data.substr(6), nullptr, 16)))});
            continue;
        }
        std::vector<std::uint8_t> bytes;
        for (std::size_t at = 4; at < data.size(); at += 3)
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(data.substr(at, 2), nullptr, 16)));
        values.push_back({name, binaryValue(bytes)});
    }
    // Each entry as that build wrote it, of the kinds it wrote, in order.
    const auto kind = [](const Change& change) {
        return std::visit(Overloaded{[](const CreateKey&) { return "create key"; },
                                     [](const SetValue&) { return "set value"; },
                                     [](const DeleteValue&) { return "delete value"; },
                                     [](const DeleteKey&) { return "delete key"; },
                                     [](const CancelRename&) { return "cancel rename"; },
                                     [](const PlaceFile&) { return "place file"; },
                                     [](const RemoveFile&) { return "remove file"; },
                                     [](const Discard&) { return "discard"; },
                                     [](const CreateFolder&) { return "create folder"; },
                                     [](const UserLayoutCall&) { return "layout call"; },
                                     [](const ProfileHive&) { return "profile hive"; }},
                          change);
    };
    const std::vector<std::string> written = {
        "set value", "discard", "place file", "place file", "create key", "set value", "set value",
        "delete value", "delete value", "layout call", "delete key", "layout call", "set value", "create folder",
        "place file", "remove file", "discard", "set value", "delete value"};
    const JournalContents contents = readJournal(values);
    EXPECT_EQ(contents.unreadable, std::vector<std::wstring>{});
    EXPECT_TRUE(contents.committed);
    std::vector<std::string> kinds;
    for (std::size_t i = 0; i < contents.changes.size(); ++i) {
        kinds.push_back(kind(contents.changes[i]));
        // Every field read as it was written: nothing left over, nothing
        // made up. Written again, an entry is of today's format (2), and a
        // layout call gains the field added since: that the user's list
        // had the layout, so that undoing a removal puts it back, as that
        // build's did.
        std::vector<std::uint8_t> bytes = values[i].value.bytes;
        bytes[0] = 2;
        if (kinds.back() == "layout call")
            bytes.push_back(1);
        EXPECT_EQ(encodeChange(contents.changes[i]), bytes) << narrow(values[i].name);
    }
    EXPECT_EQ(kinds, written);
}

}  // namespace
}  // namespace setup::testing
