// What the launcher asks the shell to start: an installer next to the
// launcher, elevated, with the launcher's own arguments and "/admin".
// Built from plain strings so it can be checked away from Windows.
#pragma once

#include <string>
#include <string_view>

#include "command_line.h"

namespace halvaro {

// The installers, named as they are appended to the launcher's folder
// (each begins with its own separator).
inline constexpr std::wstring_view olderWindowsInstaller = L"\\setup7.exe";
inline constexpr std::wstring_view newerWindowsInstaller = L"\\setup8.exe";

// The shell's show command for a normal window (SW_SHOWNORMAL).
inline constexpr int showNormal = 1;

struct InstallRequest {
    std::wstring file;
    std::wstring parameters;
    std::wstring verb;
    int showMode;
};

// The folder that holds the module: the path up to its last separator,
// which is dropped, except that a drive root keeps it ("R:\").
std::wstring moduleFolder(std::wstring_view modulePath);

// The argument text with "/admin" after it, separated by one blank unless
// the text is empty or already ends in a blank.
std::wstring installerParameters(std::wstring_view arguments);

InstallRequest makeInstallRequest(std::wstring_view modulePath, std::wstring_view commandLine,
                                  std::wstring_view installer);

// Both installer buttons go through one starter: it asks for one start per
// run, however many clicks or key repeats arrive before the window is gone
// (the shell may dispatch messages while it handles the request), then
// closes the window, whether or not the installer started.
class InstallerStarter {
public:
    // request(const InstallRequest&) hands the request to the shell;
    // close() closes the window.
    template <typename Request, typename Close>
    void startAndClose(std::wstring_view modulePath, std::wstring_view commandLine,
                       std::wstring_view installer, Request&& request, Close&& close) {
        if (started_)
            return;
        started_ = true;
        request(makeInstallRequest(modulePath, commandLine, installer));
        close();
    }

private:
    bool started_ = false;
};

}  // namespace halvaro
