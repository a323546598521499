// messageprobe [--timeout S] TITLE_PREFIX PROGRAM [ARGUMENT...]
//
// Starts PROGRAM with the arguments, waits for a message box of that
// program whose caption begins with TITLE_PREFIX, prints what it shows,
// presses its OK button and waits for the program to end. One fact per
// line, Arabic-script text as code points so that it survives any
// console:
//
//   caption 0043 0065 ...   the box's caption
//   text 0054 0068 ...      its message
//   icon information|warning|error|question|none
//   rtl yes|no              whether the text reads right to left
//   right yes|no            whether it is aligned to the right
//   style 0x00000040        the MessageBoxW style the program passed
//   exit N                  the program's exit code
//
// "message none" instead of the box's lines when the program ended, or
// the time ran out (default 30 s), without showing one. Exit status 0
// when the program ended, 1 when the probe could not start it, hook it
// or see it end.
//
// The style is what the program asked of MessageBoxW (Wine draws every
// box left to right whatever it is asked): messagehooks.dll, beside this
// probe, keeps it on the box as it is initialised, through a hook set on
// the program's thread before it runs. The probe must be of the program's
// bitness, since the hook runs inside it.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "window_text.h"

namespace {

constexpr wchar_t styleProperty[] = L"MessageProbeStyle";
constexpr ULONG_PTR styleSeen = 0x80000000;

bool hasClass(HWND window, const wchar_t* name) {
    wchar_t found[32] = {};
    GetClassNameW(window, found, 32);
    return lstrcmpiW(found, name) == 0;
}

// Quoted as the C run-time splits a command line, so that the program
// receives each argument unchanged.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

struct Search {
    DWORD processId;
    const wchar_t* prefix;
    HWND found;
};

BOOL CALLBACK matchMessageBox(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || !IsWindowVisible(window) || !hasClass(window, L"#32770"))
        return TRUE;
    if (windowText(window).rfind(search.prefix, 0) != 0)
        return TRUE;
    search.found = window;
    return FALSE;
}

// A visible dialog of the program whose caption begins with the prefix.
HWND findMessageBox(DWORD processId, const wchar_t* prefix) {
    Search search{processId, prefix, nullptr};
    EnumWindows(matchMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The box's message: the static control that holds text, not the icon.
std::wstring messageText(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!hasClass(child, L"Static") || (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            continue;
        std::wstring text = windowText(child);
        if (!text.empty())
            return text;
    }
    return {};
}

const char* iconName(UINT style) {
    switch (style & MB_ICONMASK) {
        case MB_ICONINFORMATION: return "information";
        case MB_ICONWARNING: return "warning";
        case MB_ICONERROR: return "error";
        case MB_ICONQUESTION: return "question";
        case 0: return "none";
        default: return "other";
    }
}

bool setHook(const PROCESS_INFORMATION& process) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path, length);
    dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + L"messagehooks.dll";
    const HMODULE module = LoadLibraryW(dll.c_str());
    const auto hook = module ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(
                                   GetProcAddress(module, "MessageBoxStyleHook")))
                             : nullptr;
    if (!hook || !SetWindowsHookExW(WH_CALLWNDPROC, hook, module, process.dwThreadId)) {
        std::printf("hook_error %lu\n", GetLastError());
        return false;
    }
    return true;
}

void report(HWND box) {
    const ULONG_PTR property = reinterpret_cast<ULONG_PTR>(GetPropW(box, styleProperty));
    std::printf("caption %s\n", codePoints(windowText(box)).c_str());
    std::printf("text %s\n", codePoints(messageText(box)).c_str());
    if (!(property & styleSeen)) {
        std::printf("style unknown\n");
        return;
    }
    const UINT style = static_cast<UINT>(property & ~styleSeen);
    std::printf("icon %s\n", iconName(style));
    std::printf("rtl %s\n", style & MB_RTLREADING ? "yes" : "no");
    std::printf("right %s\n", style & MB_RIGHT ? "yes" : "no");
    std::printf("style 0x%08X\n", style);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int first = 1;
    DWORD timeoutMs = 30000;
    if (argc > 2 && std::wcscmp(argv[1], L"--timeout") == 0) {
        timeoutMs = static_cast<DWORD>(_wtoi(argv[2])) * 1000;
        first = 3;
    }
    if (argc - first < 2) {
        std::fprintf(stderr, "usage: messageprobe [--timeout S] TITLE_PREFIX PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    const wchar_t* prefix = argv[first];
    std::wstring commandLine = quoted(argv[first + 1]);
    for (int i = first + 2; i < argc; ++i)
        commandLine += L" " + quoted(argv[i]);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[first + 1], commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &process)) {
        std::printf("start_error %lu\n", GetLastError());
        return 1;
    }
    const bool hooked = setHook(process);
    ResumeThread(process.hThread);

    HWND box = nullptr;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!box && GetTickCount64() < deadline) {
        box = findMessageBox(process.dwProcessId, prefix);
        if (!box && WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0)
            box = findMessageBox(process.dwProcessId, prefix);
        if (!box && WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
            break;
    }
    if (box) {
        report(box);
        PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    } else {
        std::printf("message none\n");
    }
    std::fflush(stdout);

    const DWORD left = GetTickCount64() < deadline ? static_cast<DWORD>(deadline - GetTickCount64()) : 0;
    if (WaitForSingleObject(process.hProcess, left + 5000) != WAIT_OBJECT_0) {
        std::printf("exit running\n");
        TerminateProcess(process.hProcess, 99);
        return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit %lu\n", code);
    return hooked ? 0 : 1;
}
