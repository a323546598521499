// A machine in memory for the installer's host tests: a registry (the
// restart schedule and the journal in it, as on Windows), files named by
// what they hold, folders, files that Windows has loaded or another
// program holds open, and the system's call for the user's list. It
// answers the facts the installer reads and carries out single
// operations as Windows would, refusing what Windows refuses; a test can
// make the nth operation fail, or kill the run there, and restart the
// machine, which carries out the schedule. Switches model what no test
// machine here shows: who is signed in at the session and who elevated,
// users' registries that are not loaded, profiles whose registry the
// installer loads from their files (or cannot), files opened without
// sharing reading, and a power cut, which loses every write not yet
// flushed. A test plays another program by changing the state between
// runs.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "plan.h"
#include "session.h"
#include "system.h"

namespace setup::testing {

// What a file holds: one of the layout images ("x64/1": form and build),
// the installer ("setup/1"), or anything else ("foreign").
using Content = std::string;

struct FakeState {
    // Key path ("hklm\\system\\..." or "hku\\<sid>\\..."), in lower case,
    // to its values by name.
    std::map<std::wstring, std::map<std::wstring, RegistryValue>> keys;
    // By full path, lower case. A file whose bytes a power cut lost holds
    // "zeros".
    std::map<std::wstring, Content> files;
    std::set<std::wstring> folders;         // lower case
    std::set<std::wstring> enabledLayouts;  // by the system's call: "<sid> 2c01:a0002c01"

    bool operator==(const FakeState&) const = default;
};

// For test failures: the state as text, one item a line.
void PrintTo(const FakeState& state, std::ostream* out);

// The run was killed at this operation: nothing of it runs on.
struct Killed {};

inline const std::wstring windowsFolder = L"C:\\Windows";
inline const std::wstring userSid = L"S-1-5-21-1-2-3-1001";
inline const std::wstring otherSid = L"S-1-5-21-9-9-9-1002";

class FakeSystem final : public System, public FactReader {
public:
    FakeSystem();

    FakeState state;
    // Files Windows has mapped (a layout in use): they can be renamed,
    // and stay mapped under the new name, but not deleted or replaced.
    std::set<std::wstring> loaded;
    // Files held open without sharing delete: neither renamed nor deleted.
    std::set<std::wstring> held;

    // Files opened without sharing reading: they cannot even be read.
    std::set<std::wstring> exclusive;
    // Users (SIDs, lower case) whose registry is not loaded: their keys
    // are kept, but out of reach, until the user signs in again.
    std::set<std::wstring> unloadedHives;
    // The profiles (ProfileList's, the default profile, the welcome
    // screen's), a user's keys under "hku\\<name>" as for any user: those
    // in unloadedHives are kept in their folder's hive file, which the
    // installer can load (into `mounted`, lower case) unless it is here
    // with the error Windows gives. Unloading a hive drops what was not
    // flushed.
    std::vector<Profile> profiles;
    std::map<std::wstring, std::uint32_t> unloadableHives;
    std::set<std::wstring> mounted;
    // Keys (lower case) whose deletion Windows refuses, as for a key whose
    // permissions another program changed.
    std::set<std::wstring> undeletableKeys;

    Machine machine = Machine::X64;
    std::uint16_t processorArchitecture = 9;
    unsigned windowsVersion = 1000;
    bool programFilesKnown = true;
    // The account the installer runs as, and who is signed in at its
    // session (none: the session cannot be asked).
    std::optional<std::wstring> processSid = userSid;
    std::optional<SessionUser> session = SessionUser{L"alice", userSid};
    bool userLayoutCallAvailable = false;
    bool userLayoutCallFails = false;
    std::set<std::wstring> userLayoutCallFailsFor;  // users (lower case) whose call fails
    // The build of the installer carrying the changes out: its images
    // hold "<form>/<build>", itself "setup/<build>".
    std::string build = "1";

    // The operation (0-based, counting every one that changes something)
    // that fails, or at which the run is killed (throws Killed).
    std::optional<std::size_t> failAt;
    std::optional<std::size_t> killAt;
    // The kill is a power cut: what was written and not flushed is lost.
    bool powerCut = false;
    // Called before each such operation with its number: a test loads or
    // holds files here, as Windows or another program would meanwhile.
    std::function<void(FakeSystem&, std::size_t)> beforeOperation;
    std::size_t operations = 0;

    std::vector<std::wstring> log;  // every record() line
    // "enable 2c01:a0002c01", "disable ...", followed by " for <registry>"
    // for a user other than the installer's account, and " later" for a
    // profile away from the screen (not in the running session).
    std::vector<std::wstring> userLayoutCalls;

    // What an installer run of `build` reads here.
    std::optional<SystemFacts> read(MessageText& why) override;

    // A restart: nothing is loaded or held any more, and the schedule is
    // carried out in order, then cleared. Everything is on disk.
    void restart();

    // Makes the next run start afresh: counters and failure points off.
    void newRun();

    void setValue(Hive hive, const std::wstring& key, const std::wstring& name, const RegistryValue& value);
    void addFile(const std::wstring& path, const Content& content);
    // A profile whose list holds layouts, in order; signed out, its
    // registry is in the NTUSER.DAT of its folder.
    void addProfile(const std::wstring& name, const std::wstring& folder, bool signedIn,
                    const std::vector<std::wstring>& layouts);
    std::wstring programFiles() const;

    std::uint32_t readValue(const RegistryKey& key, const std::wstring& name,
                            std::optional<RegistryValue>& value) override;
    std::uint32_t readKey(const RegistryKey& key, std::optional<std::vector<NamedValue>>& values) override;
    std::uint32_t createKey(const RegistryKey& key) override;
    std::uint32_t deleteKey(const RegistryKey& key) override;
    std::uint32_t setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) override;
    std::uint32_t deleteValue(const RegistryKey& key, const std::wstring& name) override;
    std::uint32_t flush(const RegistryKey& key) override;
    bool userHiveLoaded(const std::wstring& sid) override;
    std::uint32_t loadHive(const std::wstring& profile, const std::wstring& file) override;
    std::uint32_t unloadHive(const std::wstring& profile) override;
    std::vector<std::wstring> hivesLoadedByUs() override;
    bool exists(const std::wstring& path) override;
    std::uint32_t writeFile(const std::wstring& path, const FileSource& source) override;
    std::uint32_t copyFile(const std::wstring& from, const std::wstring& to) override;
    std::uint32_t flushFile(const std::wstring& path) override;
    std::uint32_t moveFile(const std::wstring& from, const std::wstring& to, bool replace) override;
    std::uint32_t deleteFile(const std::wstring& path) override;
    std::uint32_t createFolder(const std::wstring& path) override;
    std::uint32_t removeFolder(const std::wstring& path) override;
    std::uint32_t schedule(const std::wstring& source, const std::wstring& target) override;
    std::uint32_t userLayoutCall(const UserLayoutCall& call) override;
    void record(const std::wstring& line) override;
    std::wstring inEnglish(const MessageText& text) override;
    std::wstring errorText(std::uint32_t error) override;

private:
    // Counts an operation; its error if the test makes it fail.
    std::uint32_t operation();
    void killedWhileWriting(const std::wstring& path);
    // Whether a key (lower case) is in a registry that is loaded.
    bool reachable(const std::wstring& key) const;
    // The keys and files as they are on disk: what a power cut leaves.
    std::map<std::wstring, std::map<std::wstring, RegistryValue>> durableKeys_;
    std::set<std::wstring> unflushedFiles_;
    std::size_t runs_ = 0;
};

std::wstring keyName(const RegistryKey& key);
std::wstring lower(std::wstring text);
std::string narrow(std::wstring_view text);
std::string formName(Form form);  // "x64", "wow64", ...
Content contentOf(Form form, const std::string& build);

// The layout as the tests' installer describes it, of a version.
Package package(const std::wstring& version = L"1.0.3.40");

// The error a failing operation gives: one that says nothing of use.
inline constexpr std::uint32_t diskFull = 112;

inline const std::wstring system32 = L"C:\\Windows\\System32\\Kurd.dll";
inline const std::wstring sysWow64 = L"C:\\Windows\\SysWOW64\\Kurd.dll";
inline const std::wstring keptCopyPath = L"C:\\Program Files\\Central Kurdish Keyboard Layout\\setup.exe";
inline const std::wstring layoutKeys = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts\\";
inline const std::wstring preloadPath = userSid + L"\\Keyboard Layout\\Preload";
inline const std::wstring substitutesPath = userSid + L"\\Keyboard Layout\\Substitutes";

// A run of the tests' installer; a run that ends (not killed) leaves no
// profile's registry loaded.
Report install(FakeSystem& system);
Report installForAll(FakeSystem& system);
Report uninstall(FakeSystem& system);
// The run's log, a line each, for failure messages.
std::string logOf(const FakeSystem& system);
// Files on their way in or out (".new", ".old" and ".part" names) that a
// run left: after its restart, none may be left.
std::vector<std::wstring> leftovers(const FakeState& state);

}  // namespace setup::testing
