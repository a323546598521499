// What the installer reads of a system before it plans: the machine, the
// folders, who is at the screen, the registry keys and files it may
// change, the restart schedule, and a journal that a killed run left.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "registration.h"
#include "steps.h"
#include "user_layouts.h"

namespace setup {

enum class Machine { X86, X64, Arm64 };

// The machine of a processor architecture as GetNativeSystemInfo reports
// it (PROCESSOR_ARCHITECTURE_*), and of an image machine as
// IsWow64Process2 reports it (IMAGE_FILE_MACHINE_*); nothing for a
// processor the layout is not built for.
std::optional<Machine> machineOfArchitecture(std::uint16_t architecture);
std::optional<Machine> machineOfImageMachine(std::uint16_t imageMachine);

// The user whose list an install changes: the one whose shell is on the
// screen the installer runs on, whoever elevated it; where no shell is,
// the account the installer runs as, unless that is a service's own
// (LocalSystem, LocalService, NetworkService), which no one sits at.
std::optional<User> userAtTheScreen(const std::optional<std::wstring>& processSid,
                                    const std::optional<std::wstring>& shellSid);

// What is at a path where the installer puts a file.
enum class FileState { Absent, Identical, OtherBuild, Foreign };
struct FileFact {
    std::wstring path;
    FileState state;
};

struct SystemFacts {
    std::optional<Machine> machine;           // empty: not a processor the layout is built for
    std::uint16_t processorArchitecture = 0;  // as Windows reports it, for the message
    unsigned windowsVersion = 501;            // major * 100 + minor: 501 is XP, 602 Windows 8
    std::wstring windowsFolder;               // "C:\Windows"
    std::wstring programFilesFolder;          // the native one; empty if Windows does not say
    bool userLayoutCallAvailable = false;     // input.dll exports InstallLayoutOrTip

    // The user signed in at the screen, whose list the install changes;
    // none where no one is (a service running the installer).
    std::optional<User> user;
    UserLayouts userLayouts;  // that user's

    std::vector<LayoutKey> layoutKeys;                      // every key under Keyboard Layouts
    std::optional<std::vector<NamedValue>> uninstallEntry;  // its values, if the key exists
    std::vector<FileFact> files;                            // each placement and kept copy
    std::vector<std::wstring> folders;                      // those of our folders that exist

    std::optional<RegistryValue> pendingRenames;  // PendingFileRenameOperations, as it is
    std::optional<std::vector<NamedValue>> journal;  // what a run that did not finish left
    std::wstring runToken;                        // eight hex digits naming this run's files

    FileState file(const std::wstring& path) const;
    bool folderExists(const std::wstring& path) const;
};

}  // namespace setup
