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
#include <windows.h>

#include <cstdio>
#include <cwchar>

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

void record(HWND form) {
    recorded = true;
    wchar_t path[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"LAUNCHERPROBE_FIRST_TICK", path, MAX_PATH))
        return;
    COLORREF colour = CLR_INVALID;
    if (HWND child = strip(form)) {
        RECT rect;
        GetClientRect(child, &rect);
        HDC dc = GetDC(child);
        colour = GetPixel(dc, rect.right / 2, rect.bottom / 2);
        ReleaseDC(child, dc);
    }
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

}  // namespace

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
