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
};

Plan planInstall(const SystemFacts& facts, const Package& package);
Plan planUninstall(const SystemFacts& facts);

}  // namespace setup
