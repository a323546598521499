// launcherprobe LAUNCHER [--args TEXT] [--hooks DLL [--first-tick FILE] [--second-click]]
//               [--winedebug CHANNELS] [--desktop NAME WxH] [--first-paint X,Y,R,G,B;...] STEP...
//
// Starts the launcher the way the shell does (its own path in quotes, then
// the argument text), waits for its window, then carries out the steps in
// order and prints what a user would see, one fact per line
// ("name value..."), for the GUI tests to compare with what they expect.
//
//   facts               screen, DPI, window and client rectangles, styles,
//                       caption and the controls (name, class, rectangle)
//   focus               the control that has the keyboard focus
//   key:tab|esc|space   a real key press through SendInput
//   click:NAME          a real left click; NAME is command1, command2,
//   dblclick:NAME       command3 or close (the title bar's close box)
//   pixels:X,Y[;X,Y]    screen pixels at client coordinates
//   shot:FILE           the screen as a 24-bit BMP file
//   strip:N:MS          N samples of the strip's colour, MS apart
//   gdi:S:MS            the launcher's GDI object count over S seconds
//   exit                wait up to 10 s for the launcher to end
//   settle              wait until no setup7.exe/setup8.exe runs
//   sleep:MS            wait
//
// --hooks names launcherhooks.dll, whose hooks the next two options set on
// the launcher's thread before it runs. --first-tick: the strip's colour
// when the first timer message arrives, which the hook writes to FILE and
// the probe prints ("first_tick_strip R G B"). --second-click: a click of
// Command1 sent to the form while it is being destroyed. --winedebug gives
// the launcher alone Wine's debug channels (the shell's "exec" channel
// shows what the shell was asked to start). --desktop runs the launcher
// on a virtual desktop of that size. --first-paint prints how long after
// the start request the client area showed the given colours
// ("first_paint_ms T").
//
// The launcher is started by this probe, so the probe holds its process
// handle: exit codes, waits and GDI counts need nothing else. A launcher
// still running when the steps are done is ended and reported.
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utf8.h"
#include "window_text.h"

namespace {

struct Launcher {
    PROCESS_INFORMATION process{};
    HWND form = nullptr;
};

Launcher launcher;
// The desktop the probe moved to, if any; the launcher starts there too.
std::wstring desktopName;

std::wstring className(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

// Controls are named by what the user sees on them, not by ids: the
// buttons by their captions, the strip as the one child that is no button.
std::string controlName(HWND control) {
    if (!control)
        return "none";
    if (control == launcher.form)
        return "form";
    if (GetParent(control) != launcher.form)
        return "other";
    const std::wstring text = windowText(control);
    if (lstrcmpiW(className(control).c_str(), L"Button") != 0)
        return "picture4";
    if (text == L"Cancel")
        return "command3";
    if (text.rfind(L"Win 7", 0) == 0)
        return "command1";
    if (!text.empty() && text[0] == 0x064A)  // ARABIC LETTER YEH
        return "command2";
    return "button:" + utf8(text);
}

std::vector<HWND> children() {
    std::vector<HWND> found;
    EnumChildWindows(
        launcher.form,
        [](HWND child, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND control(const std::string& name) {
    for (HWND child : children())
        if (controlName(child) == name)
            return child;
    return nullptr;
}

bool launcherRunning() { return WaitForSingleObject(launcher.process.hProcess, 0) == WAIT_TIMEOUT; }

// The launcher's visible top-level window with a title bar.
HWND findForm(DWORD processId) {
    struct Search {
        DWORD processId;
        HWND found;
    } search{processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& search = *reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == search.processId && IsWindowVisible(window) &&
                (GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) {
                search.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The hooks run inside the launcher; the first-tick hook learns where to
// write from the environment the launcher inherits.
using HookProc = LRESULT(CALLBACK*)(int, WPARAM, LPARAM);

struct Hooks {
    std::wstring dll;
    std::wstring firstTickFile;
    bool secondClick = false;
};

// Sets one hook of launcherhooks.dll on the launcher's thread.
void setHook(HMODULE module, const char* name, int type) {
    const auto hook = module ? reinterpret_cast<HookProc>(
                                   reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                             : nullptr;
    if (!hook || !SetWindowsHookExW(type, hook, module, launcher.process.dwThreadId))
        std::printf("hook_error %s %lu\n", name, GetLastError());
}

// Moves the probe to a desktop of its own with this size ("1920x1080"),
// which Wine draws as another virtual desktop; the launcher starts there.
bool useDesktop(const std::wstring& name, const std::wstring& size) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(size.c_str()),
                   static_cast<DWORD>((size.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    HDESK desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    desktopName = name;
    return desktop && SetThreadDesktop(desktop) && GetDesktopWindow();
}

bool start(const std::wstring& path, const std::wstring& arguments, const Hooks& hooks) {
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!desktopName.empty())
        startup.lpDesktop = desktopName.data();
    if (!hooks.firstTickFile.empty())
        SetEnvironmentVariableW(L"LAUNCHERPROBE_FIRST_TICK", hooks.firstTickFile.c_str());
    // Past MAX_PATH a path may need its long form ("\\?\" in front).
    const std::wstring longForm = L"\\\\?\\" + path;
    for (const std::wstring& applicationName : {path, longForm}) {
        if (CreateProcessW(applicationName.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                           CREATE_SUSPENDED, nullptr, nullptr, &startup, &launcher.process))
            break;
        std::printf("start_error %lu %s\n", GetLastError(), utf8(applicationName).c_str());
        if (path.size() < MAX_PATH)
            return false;
    }
    if (!launcher.process.hProcess)
        return false;
    if (!hooks.dll.empty()) {
        HMODULE module = LoadLibraryW(hooks.dll.c_str());
        if (!hooks.firstTickFile.empty())
            setHook(module, "FirstTickHook", WH_GETMESSAGE);
        if (hooks.secondClick)
            setHook(module, "SecondClickHook", WH_CALLWNDPROC);
    }
    ResumeThread(launcher.process.hThread);
    return true;
}

// --first-paint: how long from the start request until the window's
// client area shows these colours at these points ("X,Y,R,G,B;...").
bool timeFirstPaint(LONGLONG startTicks, const std::string& expectedPoints) {
    struct Point {
        int x, y;
        COLORREF colour;
    };
    std::vector<Point> points;
    const char* cursor = expectedPoints.c_str();
    int x, y, r, g, b, used;
    while (std::sscanf(cursor, "%d,%d,%d,%d,%d%n", &x, &y, &r, &g, &b, &used) == 5) {
        points.push_back({x, y, RGB(r, g, b)});
        cursor += used;
        if (*cursor == ';')
            ++cursor;
    }
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    HDC screen = GetDC(nullptr);
    bool painted = false;
    for (int i = 0; i < 200000 && !painted && launcherRunning(); ++i) {
        if (!launcher.form) {
            launcher.form = findForm(launcher.process.dwProcessId);
            continue;
        }
        POINT origin{0, 0};
        ClientToScreen(launcher.form, &origin);
        painted = true;
        for (const Point& point : points)
            painted = painted && GetPixel(screen, origin.x + point.x, origin.y + point.y) == point.colour;
    }
    ReleaseDC(nullptr, screen);
    QueryPerformanceCounter(&now);
    if (!painted) {
        std::printf("first_paint none\n");
        return false;
    }
    std::printf("first_paint_ms %.1f\n",
                1000.0 * static_cast<double>(now.QuadPart - startTicks) / static_cast<double>(frequency.QuadPart));
    return true;
}

bool waitForForm() {
    for (int i = 0; i < 400; ++i) {
        if (!launcherRunning())
            break;
        if ((launcher.form = findForm(launcher.process.dwProcessId)))
            return true;
        Sleep(50);
    }
    std::printf("form none\n");
    return false;
}

HWND focusedWindow() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(launcher.process.dwThreadId, &info))
        return nullptr;
    return info.hwndFocus;
}

void printRect(const char* name, const RECT& rect) {
    std::printf("%s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right, rect.bottom);
}

void facts() {
    HDC screen = GetDC(nullptr);
    std::printf("dpi %d\n", GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    std::printf("screen %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    RECT rect;
    GetWindowRect(launcher.form, &rect);
    printRect("window", rect);
    GetClientRect(launcher.form, &rect);
    std::printf("client_size %ld %ld\n", rect.right, rect.bottom);
    POINT origin{0, 0};
    ClientToScreen(launcher.form, &origin);
    std::printf("client_origin %ld %ld\n", origin.x, origin.y);
    std::printf("style 0x%08lX\n", static_cast<unsigned long>(GetWindowLongW(launcher.form, GWL_STYLE)));
    std::printf("exstyle 0x%08lX\n", static_cast<unsigned long>(GetWindowLongW(launcher.form, GWL_EXSTYLE)));
    std::printf("caption %s\n", codePoints(windowText(launcher.form)).c_str());
    for (HWND child : children()) {
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, launcher.form, reinterpret_cast<POINT*>(&rect), 2);
        std::printf("control %s %ld %ld %ld %ld style 0x%08lX text %s\n", controlName(child).c_str(),
                    rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                    static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
                    codePoints(windowText(child)).c_str());
    }
}

void sendKey(WORD key) {
    INPUT inputs[2]{};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    }
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// Keys go to the foreground window, as they would from a keyboard.
void makeForeground() {
    if (GetForegroundWindow() != launcher.form) {
        std::printf("note launcher was not in the foreground\n");
        SetForegroundWindow(launcher.form);
        Sleep(200);
    }
}

// The close box: the point on the title bar's middle line where the
// window answers HTCLOSE, found from the right edge inwards.
bool closeBoxCentre(POINT& centre) {
    RECT frame;
    GetWindowRect(launcher.form, &frame);
    POINT origin{0, 0};
    ClientToScreen(launcher.form, &origin);
    const int y = (frame.top + origin.y) / 2;
    int right = -1, left = -1;
    for (int x = frame.right - 1; x > frame.left; --x) {
        const LRESULT hit =
            SendMessageW(launcher.form, WM_NCHITTEST, 0, MAKELPARAM(x, y));
        if (hit == HTCLOSE) {
            if (right < 0)
                right = x;
            left = x;
        } else if (right >= 0) {
            break;
        }
    }
    if (right < 0)
        return false;
    centre = {(left + right) / 2, y};
    return true;
}

void click(const std::string& target, int times) {
    POINT point{};
    if (target == "close") {
        if (!closeBoxCentre(point)) {
            std::printf("click_error no close box on the title bar\n");
            return;
        }
    } else {
        HWND button = control(target);
        if (!button) {
            std::printf("click_error no control %s\n", target.c_str());
            return;
        }
        RECT rect;
        GetWindowRect(button, &rect);
        point = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }
    makeForeground();
    // Every event carries the point, in the 0..65535 scale of absolute
    // mouse input, so the click lands there whatever the pointer did before.
    const LONG width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    const LONG x = static_cast<LONG>((static_cast<LONGLONG>(point.x) * 65536 + width - 1) / width);
    const LONG y = static_cast<LONG>((static_cast<LONGLONG>(point.y) * 65536 + height - 1) / height);
    std::vector<INPUT> inputs(1 + 2 * times);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        inputs[i].type = INPUT_MOUSE;
        inputs[i].mi.dx = x;
        inputs[i].mi.dy = y;
        inputs[i].mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE |
                               (i == 0 ? 0 : i % 2 ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP);
    }
    SendInput(1, inputs.data(), sizeof(INPUT));
    Sleep(100);
    SendInput(static_cast<UINT>(inputs.size() - 1), inputs.data() + 1, sizeof(INPUT));
    std::printf("clicked %s %ld %ld x%d\n", target.c_str(), point.x, point.y, times);
}

// The whole screen, top-down, 32 bits per pixel.
struct Capture {
    int width = 0, height = 0;
    std::vector<DWORD> pixels;

    DWORD at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return 0xFFFFFFFF;
        return pixels[static_cast<std::size_t>(y) * width + x];
    }
};

Capture captureScreen() {
    Capture capture;
    capture.width = GetSystemMetrics(SM_CXSCREEN);
    capture.height = GetSystemMetrics(SM_CYSCREEN);
    capture.pixels.resize(static_cast<std::size_t>(capture.width) * capture.height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, capture.width, capture.height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    std::memcpy(capture.pixels.data(), bits, capture.pixels.size() * sizeof(DWORD));
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return capture;
}

void printPixel(const char* name, int x, int y, DWORD pixel) {
    std::printf("%s %d %d %lu %lu %lu\n", name, x, y, (pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF,
                pixel & 0xFF);
}

// "X,Y;X,Y..." in client coordinates.
void pixels(const std::string& list) {
    POINT origin{0, 0};
    ClientToScreen(launcher.form, &origin);
    const Capture capture = captureScreen();
    const char* cursor = list.c_str();
    int x, y, used;
    while (std::sscanf(cursor, "%d,%d%n", &x, &y, &used) == 2) {
        printPixel("pixel", x, y, capture.at(origin.x + x, origin.y + y));
        cursor += used;
        if (*cursor == ';')
            ++cursor;
    }
}

bool writeBmp(const std::wstring& path, const Capture& capture) {
    const int rowBytes = (capture.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = capture.width;
    header.biHeight = -capture.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = rowBytes * capture.height;
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out)
        return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&header, sizeof header, 1, out);
    std::vector<unsigned char> row(rowBytes, 0);
    for (int y = 0; y < capture.height; ++y) {
        for (int x = 0; x < capture.width; ++x) {
            const DWORD pixel = capture.at(x, y);
            row[x * 3] = pixel & 0xFF;
            row[x * 3 + 1] = (pixel >> 8) & 0xFF;
            row[x * 3 + 2] = (pixel >> 16) & 0xFF;
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    return std::fclose(out) == 0;
}

void stripSamples(int count, int intervalMs) {
    HWND strip = control("picture4");
    if (!strip) {
        std::printf("strip_error no strip\n");
        return;
    }
    RECT rect;
    GetWindowRect(strip, &rect);
    const POINT middle{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    const ULONGLONG begin = GetTickCount64();
    for (int i = 0; i < count; ++i) {
        HDC screen = GetDC(nullptr);
        const COLORREF colour = GetPixel(screen, middle.x, middle.y);
        ReleaseDC(nullptr, screen);
        std::printf("strip %llu %d %d %d\n", GetTickCount64() - begin, GetRValue(colour),
                    GetGValue(colour), GetBValue(colour));
        Sleep(intervalMs);
    }
}

// Live GDI objects of the launcher, counted in its GDI handle table (the
// process environment block points to it): every object has an entry
// with a non-zero type. -1 when the table cannot be read.
long gdiTableCount(HANDLE process) {
    using QueryFunction = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
        return -1;
    constexpr SIZE_T gdiTableOffset = 0xF8;  // PEB.GdiSharedHandleTable on x86-64
    ULONG_PTR table = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const char*>(basic.PebBaseAddress) + gdiTableOffset,
                           &table, sizeof table, nullptr) ||
        !table)
        return -1;
    struct Entry {
        UINT64 object;
        ULONG owner;
        USHORT unique;
        UCHAR type;
        UCHAR flags;
        UINT64 userPointer;
    };
    static_assert(sizeof(Entry) == 24);
    std::vector<Entry> entries(0x10000);
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(),
                           entries.size() * sizeof(Entry), &read))
        return -1;
    long count = 0;
    for (std::size_t i = 0; i < read / sizeof(Entry); ++i)
        count += entries[i].type != 0;
    return count;
}

// The table count must see objects come and go, or a flat count means
// nothing: ten brushes made and freed in the probe itself.
void gdiSelfCheck() {
    const long before = gdiTableCount(GetCurrentProcess());
    HBRUSH brushes[10];
    for (int i = 0; i < 10; ++i)
        brushes[i] = CreateSolidBrush(RGB(i, i, i));
    const long during = gdiTableCount(GetCurrentProcess());
    for (HBRUSH brush : brushes)
        DeleteObject(brush);
    std::printf("gdi_selfcheck %ld %ld %ld\n", before, during, gdiTableCount(GetCurrentProcess()));
}

void gdiCounts(int seconds, int intervalMs) {
    gdiSelfCheck();
    const ULONGLONG begin = GetTickCount64();
    while (launcherRunning()) {
        const ULONGLONG elapsed = GetTickCount64() - begin;
        DWORD handles = 0;
        GetProcessHandleCount(launcher.process.hProcess, &handles);
        std::printf("gdi %llu guiresources %lu table %ld handles %lu\n", elapsed,
                    GetGuiResources(launcher.process.hProcess, GR_GDIOBJECTS),
                    gdiTableCount(launcher.process.hProcess), handles);
        std::fflush(stdout);
        if (elapsed >= static_cast<ULONGLONG>(seconds) * 1000)
            break;
        Sleep(intervalMs);
    }
}

bool installerRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        found = !lstrcmpiW(entry.szExeFile, L"setup7.exe") || !lstrcmpiW(entry.szExeFile, L"setup8.exe");
    CloseHandle(snapshot);
    return found;
}

// An installer start is asynchronous: wait until none has run for 1.5 s.
void settle() {
    int quiet = 0;
    for (int i = 0; i < 200 && quiet < 15; ++i) {
        quiet = installerRunning() ? 0 : quiet + 1;
        Sleep(100);
    }
}

void waitForExit() {
    if (WaitForSingleObject(launcher.process.hProcess, 10000) == WAIT_TIMEOUT) {
        std::printf("exit running\n");
        return;
    }
    DWORD code = 0;
    GetExitCodeProcess(launcher.process.hProcess, &code);
    std::printf("exit %lu\n", code);
}

void firstTick(const std::wstring& file) {
    for (int i = 0; i < 100; ++i) {
        if (FILE* in = _wfopen(file.c_str(), L"r")) {
            char line[64] = {};
            std::fgets(line, sizeof line, in);
            std::fclose(in);
            if (line[0]) {
                std::printf("first_tick_strip %s", line);
                return;
            }
        }
        Sleep(50);
    }
    std::printf("first_tick_strip none\n");
}

bool runStep(const std::wstring& step) {
    const std::string text = utf8(step);
    const std::size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (name == "facts") {
        facts();
    } else if (name == "focus") {
        std::printf("focus %s\n", controlName(focusedWindow()).c_str());
    } else if (name == "key") {
        const WORD key = argument == "tab" ? VK_TAB : argument == "esc" ? VK_ESCAPE : VK_SPACE;
        makeForeground();
        sendKey(key);
        Sleep(300);
    } else if (name == "click" || name == "dblclick") {
        click(argument, name == "click" ? 1 : 2);
    } else if (name == "pixels") {
        pixels(argument);
    } else if (name == "shot") {
        const std::wstring path = step.substr(colon + 1);
        if (!writeBmp(path, captureScreen()))
            std::printf("shot_error cannot write %s\n", argument.c_str());
    } else if (name == "strip" || name == "gdi") {
        int a = 0, b = 0;
        std::sscanf(argument.c_str(), "%d:%d", &a, &b);
        if (name == "strip")
            stripSamples(a, b);
        else
            gdiCounts(a, b);
    } else if (name == "exit") {
        waitForExit();
    } else if (name == "settle") {
        settle();
    } else if (name == "sleep") {
        Sleep(std::atoi(argument.c_str()));
    } else {
        std::printf("unknown step %s\n", text.c_str());
        return false;
    }
    std::fflush(stdout);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: launcherprobe LAUNCHER [--args TEXT] [--hooks DLL [--first-tick FILE] "
                     "[--second-click]] [--winedebug CHANNELS] [--desktop NAME WxH] "
                     "[--first-paint X,Y,R,G,B;...] STEP...\n");
        return 2;
    }
    const std::wstring path = argv[1];
    std::wstring arguments;
    Hooks hooks;
    std::string firstPaint;
    int i = 2;
    for (; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--args" && i + 1 < argc)
            arguments = argv[++i];
        else if (option == L"--hooks" && i + 1 < argc)
            hooks.dll = argv[++i];
        else if (option == L"--first-tick" && i + 1 < argc)
            hooks.firstTickFile = argv[++i];
        else if (option == L"--second-click")
            hooks.secondClick = true;
        else if (option == L"--first-paint" && i + 1 < argc) {
            firstPaint = utf8(argv[++i]);
        } else if (option == L"--desktop" && i + 2 < argc) {
            if (!useDesktop(argv[i + 1], argv[i + 2])) {
                std::printf("desktop_error %lu\n", GetLastError());
                return 1;
            }
            i += 2;
        } else if (option == L"--winedebug" && i + 1 < argc) {
            SetEnvironmentVariableW(L"WINEDEBUG", argv[++i]);
        } else
            break;
    }
    LARGE_INTEGER startTicks;
    QueryPerformanceCounter(&startTicks);
    if (!start(path, arguments, hooks)) {
        std::printf("form none\n");
        return 1;
    }
    bool ok = firstPaint.empty() ? waitForForm() : timeFirstPaint(startTicks.QuadPart, firstPaint);
    if (ok && !hooks.firstTickFile.empty())
        firstTick(hooks.firstTickFile);
    for (; ok && i < argc; ++i)
        ok = runStep(argv[i]);
    if (launcherRunning()) {
        std::printf("ended_by_probe\n");
        TerminateProcess(launcher.process.hProcess, 99);
        WaitForSingleObject(launcher.process.hProcess, 5000);
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}
