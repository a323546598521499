// messagehooks.dll: the hook messageprobe sets on a program's GUI thread
// before that thread runs.
//
// MessageBoxStyleHook (WH_CALLWNDPROC): when a message box is told to
// initialise, its parameters (MSGBOXPARAMSW, which MessageBoxW passes to
// the dialog's WM_INITDIALOG) say the style the program asked for: icon,
// reading direction, alignment. The hook keeps that style on the box as
// the window property "MessageProbeStyle", with bit 31 set so that a
// style of 0 is still seen; the probe reads it from its own process.
#include <windows.h>

namespace {

constexpr wchar_t styleProperty[] = L"MessageProbeStyle";
constexpr ULONG_PTR styleSeen = 0x80000000;

bool isDialog(HWND window) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return lstrcmpW(name, L"#32770") == 0;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK MessageBoxStyleHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT& message = *reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message.message == WM_INITDIALOG && message.lParam && isDialog(message.hwnd)) {
            const auto& parameters = *reinterpret_cast<const MSGBOXPARAMSW*>(message.lParam);
            if (parameters.cbSize == sizeof(MSGBOXPARAMSW))
                SetPropW(message.hwnd, styleProperty,
                         reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(parameters.dwStyle) | styleSeen));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
