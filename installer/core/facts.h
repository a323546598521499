// What the installer reads of a system before it plans: the machine, the
// folders, who is at the screen, the registry keys and files it may
// change, the restart schedule, and a journal that a killed run left.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "journal.h"
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

// Who is signed in at the session the installer runs in, as the session
// reports it.
struct SessionUser {
    std::wstring name;                // empty: no one is signed in there
    std::optional<std::wstring> sid;  // none: the name could not be looked up
};

// Why a run changes no user's list.
enum class WhyNoUser { NoOneSignedIn, NotIdentified };

struct ScreenUser {
    std::optional<User> user;
    WhyNoUser whyNot = WhyNoUser::NoOneSignedIn;  // when there is none
    bool operator==(const ScreenUser&) const = default;
};

// The user whose list an install changes: the one signed in at the
// installer's session, whoever elevated it. Where no one is signed in
// there, the account the installer runs as, unless that is a service's own
// (LocalSystem, LocalService, NetworkService), which no one sits at. A
// session that cannot be asked, or a user signed in there who cannot be
// identified, gives none: another account's list is never changed.
ScreenUser userAtTheScreen(const std::optional<std::wstring>& processSid, const std::optional<SessionUser>& session);

// A user whose list the run changes, with the list as it is.
struct UserTarget {
    User user;
    UserLayouts layouts;
};

// The accounts of services (LocalSystem, LocalService, NetworkService),
// whose registry no one types in.
bool isServiceAccount(std::wstring_view sid);

// The names of the two profiles that are no one's account: the default
// profile, which accounts made later start from, and the welcome
// screen's, which Windows loads as HKEY_USERS\.DEFAULT.
inline constexpr wchar_t defaultProfileName[] = L"Default";
inline constexpr wchar_t welcomeScreenName[] = L".DEFAULT";

// A profile of this computer: a user's, as ProfileList names it by its
// SID, the default profile or the welcome screen's.
struct Profile {
    std::wstring name;    // as User::sid names it
    std::wstring folder;  // environment variables expanded; empty for the welcome screen's
    bool folderExists = false;
    bool roaming = false;  // its registry is kept on a server (CentralProfile)
    bool loaded = false;   // Windows has its registry loaded, under its name
};

// What is at a path where the installer puts a file: InUse where another
// program holds it open without sharing reading, so that it cannot be
// told apart.
enum class FileState { Absent, Identical, OtherBuild, Foreign, InUse };
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

    // The users whose lists the run changes: the one at the screen, if
    // any (userAtTheScreen, whose registry must be loaded); else why none.
    std::vector<UserTarget> users;
    WhyNoUser whyNoUser = WhyNoUser::NoOneSignedIn;
    // Every profile: ProfileList's (the services' and the user's at the
    // screen among them), the default profile and the welcome screen's.
    std::vector<Profile> profiles;

    std::vector<LayoutKey> layoutKeys;                      // every key under Keyboard Layouts
    std::optional<std::vector<NamedValue>> uninstallEntry;  // its values, if the key exists
    std::vector<FileFact> files;                            // each placement and kept copy
    std::vector<std::wstring> folders;                      // those of our folders that exist

    std::optional<RegistryValue> pendingRenames;  // PendingFileRenameOperations, as it is
    std::optional<std::vector<NamedValue>> journal;  // what a run that did not finish left
    std::optional<std::vector<WaitingChanges>> waiting;  // what waits for users, if the key is there
    std::wstring runToken;                        // eight hex digits naming this run's files

    FileState file(const std::wstring& path) const;
    bool folderExists(const std::wstring& path) const;
};

}  // namespace setup
