// From the facts of a system, the steps of an install or an uninstall.
// Nothing here touches the system: the facts are read first, and an
// executor carries the steps out.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "payload.h"
#include "registration.h"
#include "steps.h"
#include "user_layouts.h"

namespace setup {

enum class Machine { X86, X64, Arm64 };

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

// What is at a path where the installer puts a file.
enum class FileState { Absent, Identical, OtherBuild, Foreign };

struct SystemFacts {
    Machine machine = Machine::X86;
    unsigned windowsMajor = 5;
    std::wstring windowsFolder;        // "C:\Windows"
    std::wstring programFilesFolder;   // as a 32-bit program sees it
    bool userLayoutCallAvailable = false;  // input.dll exports InstallLayoutOrTip

    std::vector<LayoutKey> layoutKeys;  // every key under Keyboard Layouts
    UserLayouts userLayouts;
    std::optional<std::vector<NamedValue>> uninstallEntry;  // its values, if the key exists
    bool keptFolderExists = false;
    std::map<std::wstring, FileState> files;  // by path: each placement and the kept copy

    FileState file(const std::wstring& path) const;
};

// What the installer knows of itself.
struct Package {
    LayoutStrings strings;
    std::map<Form, std::uint64_t> imageSizes;
    std::uint64_t installerSize = 0;
};

struct Plan {
    std::vector<Step> steps;
    // Folders to remove once every step has succeeded, if empty.
    std::vector<std::wstring> emptiedFolders;
    std::wstring problem;  // set when the plan cannot be made; nothing is then changed
    std::wstring klid;     // the layout's KLID, for messages
};

std::wstring keptFolder(const SystemFacts& facts);
std::wstring keptCopy(const SystemFacts& facts);

Plan planInstall(const SystemFacts& facts, const Package& package);
Plan planUninstall(const SystemFacts& facts, const Package& package);

}  // namespace setup
