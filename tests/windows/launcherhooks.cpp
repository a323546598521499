// launcherhooks.dll: message hooks that launcherprobe sets on the
// launcher's GUI thread before that thread runs.
//
// FirstTickHook (WH_GETMESSAGE): when the first timer message is taken
// from the queue, before it is handled, reads the colour the strip shows
// (the one child of the form that is no button) and writes it as "R G B"
// to the file named by LAUNCHERPROBE_FIRST_TICK.
//
// SecondClickHook (WH_CALLWNDPROC): when the form is told it is being
// destroyed, as an installer button closes it after its start request,
// sends the form one click of Command1 (the older-Windows installer): a
// second activation while the first is still in progress.
//
// PulseHook (WH_GETMESSAGE): the pulse's rate and colours as the launcher's
// own thread sees them. At the form's first timer message it sets a 20 ms
// reference timer of its own on the same thread, so that both count in the
// same queue under the same load. For each timer message of the form taken
// from the queue, before it is handled, it records the time and the colour
// the strip shows (what the previous tick painted); for each reference
// message, the time. After kPulseTicks ticks of the form it writes them to
// the file named by LAUNCHERPROBE_PULSE: "frequency F", then "tick T R G B"
// and "reference T" lines in the order they came (T in performance-counter
// counts), then "end".
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iterator>

namespace {

bool recorded = false;
bool clickSent = false;

HWND strip(HWND form) {
    for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        if (lstrcmpiW(name, L"Button") != 0)
            return child;
    }
    return nullptr;
}

// The colour the strip shows, or CLR_INVALID when there is none.
COLORREF stripColour(HWND form) {
    HWND child = strip(form);
    if (!child)
        return CLR_INVALID;
    RECT rect;
    GetClientRect(child, &rect);
    HDC dc = GetDC(child);
    const COLORREF colour = GetPixel(dc, rect.right / 2, rect.bottom / 2);
    ReleaseDC(child, dc);
    return colour;
}

void record(HWND form) {
    recorded = true;
    wchar_t path[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"LAUNCHERPROBE_FIRST_TICK", path, MAX_PATH))
        return;
    const COLORREF colour = stripColour(form);
    if (FILE* out = _wfopen(path, L"w")) {
        if (colour == CLR_INVALID)
            std::fprintf(out, "unreadable\n");
        else
            std::fprintf(out, "%d %d %d\n", GetRValue(colour), GetGValue(colour), GetBValue(colour));
        std::fclose(out);
    }
}

// Command1, known by its caption, which begins with "Win 7".
HWND command1(HWND form) {
    for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t caption[8] = {};
        GetWindowTextW(child, caption, 8);
        if (std::wcsncmp(caption, L"Win 7", 5) == 0)
            return child;
    }
    return nullptr;
}

constexpr int kPulseTicks = 240;  // 4.8 s at 20 ms: the first rise and two periods after it
constexpr UINT kReferenceMs = 20;

struct PulseEvent {
    LONGLONG time;
    COLORREF colour;  // CLR_INVALID for a reference tick
};

PulseEvent pulseEvents[2 * kPulseTicks + 64];
int pulseEventCount = 0;
int pulseTicks = 0;
UINT_PTR referenceTimer = 0;
bool pulseWritten = false;

LONGLONG now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

void writePulse() {
    pulseWritten = true;
    KillTimer(nullptr, referenceTimer);
    wchar_t path[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"LAUNCHERPROBE_PULSE", path, MAX_PATH))
        return;
    FILE* out = _wfopen(path, L"w");
    if (!out)
        return;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::fprintf(out, "frequency %lld\n", frequency.QuadPart);
    for (int i = 0; i < pulseEventCount; ++i) {
        const PulseEvent& event = pulseEvents[i];
        if (event.colour == CLR_INVALID)
            std::fprintf(out, "reference %lld\n", event.time);
        else
            std::fprintf(out, "tick %lld %d %d %d\n", event.time, GetRValue(event.colour),
                         GetGValue(event.colour), GetBValue(event.colour));
    }
    std::fprintf(out, "end\n");
    std::fclose(out);
}

void recordPulse(const MSG& message) {
    const bool formTick = message.hwnd && !GetParent(message.hwnd);
    const bool referenceTick = !message.hwnd && referenceTimer && message.wParam == referenceTimer;
    if (!formTick && !referenceTick)
        return;
    if (formTick && !referenceTimer)
        referenceTimer = SetTimer(nullptr, 0, kReferenceMs, nullptr);
    if (pulseEventCount < static_cast<int>(std::size(pulseEvents)))
        pulseEvents[pulseEventCount++] = {now(), formTick ? stripColour(message.hwnd) : CLR_INVALID};
    if (formTick && ++pulseTicks == kPulseTicks)
        writePulse();
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK PulseHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE && !pulseWritten) {
        const MSG& message = *reinterpret_cast<const MSG*>(lParam);
        if (message.message == WM_TIMER)
            recordPulse(message);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK SecondClickHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && !clickSent) {
        const CWPSTRUCT& message = *reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message.message == WM_DESTROY && !GetParent(message.hwnd)) {
            if (HWND button = command1(message.hwnd)) {
                clickSent = true;
                SendMessageW(message.hwnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                             reinterpret_cast<LPARAM>(button));
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK FirstTickHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE && !recorded) {
        const MSG& message = *reinterpret_cast<const MSG*>(lParam);
        if (message.message == WM_TIMER && message.hwnd && !GetParent(message.hwnd))
            record(message.hwnd);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
