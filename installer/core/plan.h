// From the facts of a system, the steps of an install or an uninstall.
// Nothing here touches the system: the facts are read first, and run()
// carries the steps out. A plan brings the system to the same end from
// wherever earlier runs and restarts left it: operations already
// scheduled for the restart on our files are taken back, and the keys
// and files are judged as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "facts.h"
#include "payload.h"
#include "steps.h"

namespace setup {

inline constexpr wchar_t uninstallEntryPath[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KurdKeyboardLayout";
inline constexpr wchar_t keptFolderName[] = L"Central Kurdish Keyboard Layout";
inline constexpr wchar_t keptFileName[] = L"setup.exe";

// Where a layout image goes on this machine.
struct Placement {
    Form form;
    std::wstring path;
};

// The native image to the native system folder; on 64-bit Windows the
// WOW64 image to the folder 32-bit programs load from.
std::vector<Placement> placements(Machine machine, const std::wstring& windowsFolder);

// The installer's own copy, kept for Programs and Features.
std::wstring keptFolder(const SystemFacts& facts);
std::wstring keptCopy(const SystemFacts& facts);
// The kept copy that an earlier install's Programs and Features entry
// runs, where that is not where this installer keeps it (earlier builds
// kept it under the 32-bit Program Files).
std::optional<std::wstring> earlierKeptCopy(const SystemFacts& facts);

// Every file and folder this package may have on the machine, for the
// facts to judge: the placements, the kept copy, its folder, and an
// earlier kept copy and its folder.
std::vector<std::wstring> ourFiles(const SystemFacts& facts);
std::vector<std::wstring> ourFolders(const SystemFacts& facts);

// What the installer knows of itself.
struct Package {
    LayoutStrings strings;
    std::wstring version;  // "1.0.3.40"
    PerForm<std::uint64_t> imageSizes;
    std::uint64_t installerSize = 0;
};

// What a run does to every list it reaches: the layouts it takes off (an
// earlier build's, or all of ours at an uninstall) and the one it puts on
// (an install).
struct ListChange {
    std::vector<std::wstring> remove;
    std::optional<std::wstring> add;
    std::uint16_t languageId = 0;
};

// The steps that bring one user's list to what change says: our entries
// taken out of Preload and Substitutes, and off the list the system's call
// keeps where callUsable; then the layout put on by that call, with the
// list's own edit as its other way, or by the edit alone, which sets
// *editsDirectly (where given).
std::vector<Step> listSteps(const UserTarget& target, const ListChange& change, bool callUsable, bool* editsDirectly);

// How a run reaches a profile that is not at the screen.
enum class Reach {
    Loaded,    // Windows has its registry loaded: changed where it is
    FromFile,  // loaded from the hive file in its folder, changed, unloaded
    Roaming,   // kept on a server, whose copy would overwrite a change here: named, not changed
    NoFolder,  // its folder is gone, and with it the list: nothing to change
};

struct ProfileTarget {
    User user;
    std::wstring folder;
    Reach reach = Reach::Loaded;
};

// The file a profile's registry is kept in, in its folder.
std::wstring hiveFile(const std::wstring& folder);

// Why a plan cannot be made: a message of the string table and what
// fills its %1, %2.
struct Problem {
    unsigned message = 0;
    std::vector<std::wstring> arguments;
    bool operator==(const Problem&) const = default;
};

struct Plan {
    std::vector<Step> steps;
    std::optional<Problem> problem;  // set when no plan can be made; nothing is then changed
    std::wstring klid;               // the layout's KLID, for the log
    std::optional<WhyNoUser> noUser;  // set when no user's list is changed
    // The layout is enabled by editing the user's list in the registry,
    // which Windows reads when the user signs in.
    bool editsListDirectly = false;
    // Uninstall: another maker's Kurd.dll is where ours goes; the keys
    // that name Kurd.dll are theirs as much as ours, and stay.
    std::wstring foreignLayoutFile;
    // Every profile but the one at the screen, for an install for all
    // users and for every uninstall: reached one after another before
    // step profilesAt, what a killed run left waiting for each undone,
    // each list changed as `lists` says, through the system's call where
    // profileCallUsable. Its list can be read only once its registry is
    // loaded, so the run plans its steps then.
    ListChange lists;
    std::vector<ProfileTarget> profiles;
    std::size_t profilesAt = 0;
    bool profileCallUsable = false;
};

// allUsers: the layout for every profile too (/allusers).
Plan planInstall(const SystemFacts& facts, const Package& package, bool allUsers);
Plan planUninstall(const SystemFacts& facts);

}  // namespace setup
