// A machine in memory for the installer's host tests: a registry (the
// restart schedule and the journal in it, as on Windows), files named by
// what they hold, folders, files that Windows has loaded or another
// program holds open, and the system's call for the user's list. It
// answers the facts the installer reads and carries out single
// operations as Windows would, refusing what Windows refuses; a test can
// make the nth operation fail, or kill the run there, and restart the
// machine, which carries out the schedule.
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
    std::map<std::wstring, Content> files;  // by full path, lower case
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

class FakeSystem final : public System, public FactReader {
public:
    FakeSystem();

    FakeState state;
    // Files Windows has mapped (a layout in use): they can be renamed,
    // and stay mapped under the new name, but not deleted or replaced.
    std::set<std::wstring> loaded;
    // Files held open without sharing delete: neither renamed nor deleted.
    std::set<std::wstring> held;

    Machine machine = Machine::X64;
    std::uint16_t processorArchitecture = 9;
    unsigned windowsVersion = 1000;
    bool programFilesKnown = true;
    std::optional<User> user = User{userSid, true};
    bool userLayoutCallAvailable = false;
    bool userLayoutCallFails = false;
    // The build of the installer carrying the changes out: its images
    // hold "<form>/<build>", itself "setup/<build>".
    std::string build = "1";

    // The operation (0-based, counting every one that changes something)
    // that fails, or at which the run is killed (throws Killed).
    std::optional<std::size_t> failAt;
    std::optional<std::size_t> killAt;
    // Called before each such operation with its number: a test loads or
    // holds files here, as Windows or another program would meanwhile.
    std::function<void(FakeSystem&, std::size_t)> beforeOperation;
    std::size_t operations = 0;

    std::vector<std::wstring> log;              // every record() line
    std::vector<std::wstring> userLayoutCalls;  // "enable 2c01:a0002c01", "disable ..."

    // What an installer run of `build` reads here.
    std::optional<SystemFacts> read(MessageText& why) override;

    // A restart: nothing is loaded or held any more, and the schedule is
    // carried out in order, then cleared.
    void restart();

    // Makes the next run start afresh: counters and failure points off.
    void newRun();

    void setValue(Hive hive, const std::wstring& key, const std::wstring& name, const RegistryValue& value);
    void addFile(const std::wstring& path, const Content& content);
    std::wstring programFiles() const;

    std::uint32_t createKey(const RegistryKey& key) override;
    std::uint32_t deleteKey(const RegistryKey& key) override;
    std::uint32_t setValue(const RegistryKey& key, const std::wstring& name, const RegistryValue& value) override;
    std::uint32_t deleteValue(const RegistryKey& key, const std::wstring& name) override;
    std::uint32_t flush(const RegistryKey& key) override;
    bool fileExists(const std::wstring& path) override;
    std::uint32_t writeFile(const std::wstring& path, const FileSource& source) override;
    std::uint32_t copyFile(const std::wstring& from, const std::wstring& to) override;
    std::uint32_t moveFile(const std::wstring& from, const std::wstring& to, bool replace) override;
    std::uint32_t deleteFile(const std::wstring& path) override;
    std::uint32_t createFolder(const std::wstring& path) override;
    std::uint32_t removeFolder(const std::wstring& path) override;
    std::uint32_t schedule(const std::wstring& source, const std::wstring& target) override;
    std::uint32_t unschedule(const std::wstring& source) override;
    std::uint32_t userLayoutCall(const UserLayoutCall& call) override;
    void record(const std::wstring& line) override;
    std::wstring errorText(std::uint32_t error) override;

private:
    // Counts an operation; its error if the test makes it fail.
    std::uint32_t operation();
    void killedWhileWriting(const std::wstring& path);
    std::size_t runs_ = 0;
};

std::wstring keyName(const RegistryKey& key);
std::wstring lower(std::wstring text);
std::string narrow(std::wstring_view text);
std::string formName(Form form);  // "x64", "wow64", ...
Content contentOf(Form form, const std::string& build);

// The layout as the tests' installer describes it.
Package package();

// The error a failing operation gives: one that says nothing of use.
inline constexpr std::uint32_t diskFull = 112;

}  // namespace setup::testing
