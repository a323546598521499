// setup.exe (shipped as setup7.exe and setup8.exe): installs, upgrades and
// uninstalls the layout. This is the program's entry: the command line,
// the administrator check, the log, the lock that lets one run at a time,
// the check of what it carries, then the run (session.h) and its message.
// It must run on Windows XP, so anything newer is looked up at run time,
// and every library that is not always taken from the system folder is
// loaded by its full path there.
#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "arguments.h"
#include "command_line.h"
#include "payload.h"
#include "payload_facts.h"
#include "resource.h"
#include "session.h"
#include "system_library.h"
#include "text.h"
#include "unpack.h"
#include "version.h"
#include "win32_facts.h"
#include "win32_files.h"
#include "win32_log.h"
#include "win32_messages.h"
#include "win32_system.h"

namespace setup {
namespace {

// Every run of this installer, in every session, of every user: one at a
// time. A second waits this long, then gives up.
constexpr wchar_t lockName[] = L"Global\\CentralKurdishKeyboardLayoutSetup";
constexpr DWORD lockWait = 5000;

bool isAdministrator() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

std::span<const std::uint8_t> embeddedResource(std::wstring_view name) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const std::wstring resourceName(name);
    const HRSRC found = FindResourceW(module, resourceName.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return {};
    return {static_cast<const std::uint8_t*>(data), SizeofResource(module, found)};
}

// Holds the one-run-at-a-time lock while it lives. An earlier holder that
// was killed leaves the lock abandoned: it is taken as free, and the
// journal finishes what that run left. A lock that cannot even be opened
// is another run's, made with rights this one has not got.
class RunLock {
public:
    RunLock() : mutex_(CreateMutexW(nullptr, FALSE, lockName)) {
        if (!mutex_)
            return;
        const DWORD waited = WaitForSingleObject(mutex_, lockWait);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~RunLock() {
        if (held_)
            ReleaseMutex(mutex_);
        if (mutex_)
            CloseHandle(mutex_);
    }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    bool held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_ = false;
};

// The installer's own file, read as the run starts through one handle that
// shares neither writing nor deleting: the copy kept for Programs and
// Features is what started, not what the folder it came from (which the
// user can write to) holds by the time it is copied. The handle is closed
// again, so that an uninstall run from the kept copy can move it aside.
struct OwnFile {
    std::optional<std::vector<std::uint8_t>> bytes;
    MessageText problem;  // why it cannot be read
};

OwnFile readOwnFile(const std::wstring& path) {
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    OwnFile own;
    if (file != INVALID_HANDLE_VALUE) {
        own.bytes = readFile(file, &error);
        CloseHandle(file);
    }
    if (!own.bytes)
        own.problem = message(IDS_CANNOT_READ, {name(path), windowsError(error)});
    return own;
}

// Checks every embedded image, reads the facts, plans and runs.
Report carryOut(const Options& options, const OwnFile& own, Log& log) {
    const bool wow64 = runsUnderWow64();
    const Registry registry(wow64);

    // Every embedded image is the one the build checked and recorded.
    const std::optional<std::vector<std::uint8_t>> unpacked =
        unpack(embeddedResource(L"KURD_IMAGES"), unpackedImagesSize);
    if (!unpacked) {
        log.line(L"unpack KURD_IMAGES: failed");
        return refusedReport(options.action, message(IDS_DAMAGED_INSTALLER, {name(L"KURD_IMAGES")}));
    }
    FormImages images;
    Package package;
    for (const EmbeddedImage& embedded : embeddedImages) {
        const std::optional<std::wstring> problem = imageProblem(embedded, *unpacked);
        log.line(L"check " + resourceName(embedded.form) + L": " + (problem ? L"failed: " + *problem : L"done"));
        if (problem)
            return refusedReport(options.action, message(IDS_DAMAGED_INSTALLER, {name(resourceName(embedded.form))}));
        images[embedded.form] = std::span(*unpacked).subspan(embedded.offset, embedded.size);
        package.imageSizes[embedded.form] = embedded.size;
    }
    // The build's layout is for a locale the installer knows.
    constexpr std::optional<std::uint16_t> languageId = languageIdOfLocale(layoutLocale);
    static_assert(languageId, "the layout's locale is not one the installer can install it under");
    package.strings = {layoutText, layoutLocale, *languageId};
    package.version = L"" PRODUCT_VERSION_TEXT;

    if (!own.bytes)
        return refusedReport(options.action, own.problem);
    package.installerSize = own.bytes->size();

    Win32FactReader reader(registry, images, *own.bytes);
    Win32System system(registry, log, images, *own.bytes);
    return setup::carryOut(options.action, options.allUsers, package, reader, system);
}

int main() {
    win32::restrictLibrarySearch();
    const std::wstring selfPath = win32::modulePath();
    const OwnFile own = readOwnFile(selfPath);
    // The usage names the program by its file name.
    const std::wstring program = selfPath.substr(selfPath.find_last_of(L'\\') + 1);
    const std::wstring_view argumentText = win32::argumentText(GetCommandLineW());
    const ParsedArguments parsed = parseArguments(argumentText);
    if (!parsed.options) {
        // A bad command line still honours a /quiet in it.
        bool quiet = false;
        for (const std::wstring& argument : splitArguments(argumentText)) {
            const ParsedArguments single = parseArguments(argument);
            quiet |= single.options && single.options->quiet;
        }
        const Report report = badArgumentsReport(parsed, program);
        show(report, quiet);
        return static_cast<int>(report.exitCode);
    }
    const Options& options = *parsed.options;
    if (options.action == Action::ShowUsage) {
        show(usageReport(program), options.quiet);
        return 0;
    }
    if (!isAdministrator()) {
        const Report report = notAdministratorReport();
        show(report, options.quiet);
        return static_cast<int>(report.exitCode);
    }
    Log log;
    if (options.logPath) {
        unsigned problem = 0;
        const DWORD error = log.open(*options.logPath, &problem);
        if (error != 0 || problem != 0) {
            const Report report = error != 0 ? cannotWriteLogReport(*options.logPath, error, program)
                                             : badArgumentsReport({std::nullopt, problem, *options.logPath}, program);
            show(report, options.quiet);
            return static_cast<int>(report.exitCode);
        }
    }
    log.line(std::wstring(L"setup " PRODUCT_VERSION_TEXT ": ") +
             (options.action == Action::Uninstall ? L"uninstall"
              : options.allUsers                  ? L"install for all users"
                                                  : L"install"));

    Report report;
    {
        const RunLock lock;
        if (!lock.held()) {
            log.line(L"another installation of the layout is in progress: nothing was done");
            report = busyReport();
        } else {
            report = carryOut(options, own, log);
        }
    }
    log.line(L"exit code " + decimal(static_cast<std::uint32_t>(report.exitCode)));
    show(report, options.quiet);
    return static_cast<int>(report.exitCode);
}

}  // namespace
}  // namespace setup

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return setup::main(); }
