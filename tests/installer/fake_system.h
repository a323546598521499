// A system in memory for the installer's host tests: a registry, files
// named by what they hold, and folders. It answers with the facts the
// installer reads (SystemFacts) and carries out changes as an Executor
// would, failing where a test says: at the nth change, or on a change
// Windows would refuse (a value in a missing key, a key over a key, a
// folder that is not empty...). Undo goes through the core's inverse(),
// so a test of rollback is a test of what each step records.
#pragma once

#include <map>
#include <ostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "plan.h"
#include "run.h"

namespace setup::testing {

// What a file holds: one of the layout images ("x64", ...), the installer
// ("setup"), or anything else ("foreign").
using Content = std::string;

struct FakeState {
    // Key path ("HKLM\\..."), in lower case, to its values by name.
    std::map<std::wstring, std::map<std::wstring, RegistryValue>> keys;
    std::map<std::wstring, Content> files;  // by full path, lower case
    std::set<std::wstring> folders;         // lower case
    std::set<std::wstring> inUse;           // files another process holds
    std::vector<std::wstring> pending;      // files replaced or removed at the next restart
    std::set<std::wstring> enabledLayouts;  // by the system's call: "2c01:a0002c01"

    bool operator==(const FakeState&) const = default;
};

// For test failures: the state as text, one item a line.
void PrintTo(const FakeState& state, std::ostream* out);

class FakeSystem final : public Executor {
public:
    FakeSystem();

    FakeState state;
    Machine machine = Machine::X64;
    unsigned windowsMajor = 10;
    bool userLayoutCallAvailable = false;
    bool userLayoutCallFails = false;
    // The change (0-based, counting every apply) that fails, if any.
    std::optional<std::size_t> failAt;
    std::size_t applied = 0;
    std::optional<Change> failed;  // the change made to fail
    std::vector<std::wstring> log;             // every record() line
    std::vector<std::wstring> userLayoutCalls; // "enable 2c01:a0002c01", "disable ..."

    // The facts an installer run reads from this system, judging files
    // against an installer whose images hold `build` (for example "1",
    // making contents "x64/1").
    SystemFacts facts(const std::string& build = "1") const;

    void setValue(Hive hive, const std::wstring& key, const std::wstring& name, const RegistryValue& value);
    void addFile(const std::wstring& path, const Content& content);

    Outcome apply(const Change& change) override;
    Outcome undo(const Change& change) override;
    Outcome finish(const std::vector<std::wstring>& emptiedFolders) override;
    void record(std::size_t step, const std::wstring& what, const Outcome& outcome) override;

    // The build of the installer carrying the changes out: its images
    // hold "<form>/<build>", itself "setup/<build>".
    std::string build = "1";

private:
    Outcome change(const Change& change);
    std::map<std::wstring, Content> moved_;  // files moved aside, by path
    std::set<std::wstring> created_;          // files placed where none was
};

std::wstring keyName(const RegistryKey& key);
std::wstring lower(std::wstring text);
std::string formName(Form form);  // "x64", "wow64", ...
Content contentOf(Form form, const std::string& build);

// The layout as the tests' installer describes it.
Package package();

inline const std::wstring windowsFolder = L"C:\\Windows";
inline const std::wstring programFiles = L"C:\\Program Files (x86)";

}  // namespace setup::testing
