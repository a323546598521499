// Halvaro.exe: one fixed window with the layout chart, a button for each
// installer and Cancel, and a strip along the bottom that pulses.
//
// Everything that can be worked out without Windows (geometry, the pulse,
// the installer request) lives in its own unit; this file only creates the
// windows, paints them and passes events on. It must run on Windows XP, so
// it imports nothing newer: later functions are looked up at run time. It
// imports only libraries that Windows takes from the system directory
// alone; the shell and Uniscribe are bound at run time from there.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <usp10.h>

#include <iterator>
#include <string>
#include <string_view>

#include "captions.h"
#include "geometry.h"
#include "install_request.h"
#include "pulse.h"
#include "resource.h"
#include "system_library.h"

namespace halvaro {
namespace {

constexpr wchar_t formClassName[] = L"HalvaroForm";
constexpr wchar_t stripClassName[] = L"HalvaroStrip";

constexpr int command1Id = 101;
constexpr int command2Id = 102;
// Cancel carries the id that Esc sends through the dialog manager.
constexpr int command3Id = IDCANCEL;
constexpr UINT_PTR timer3Id = 3;
constexpr UINT timer3IntervalMs = 20;

constexpr COLORREF formBackColour = RGB(64, 64, 64);
constexpr COLORREF buttonFaceColour = RGB(192, 192, 192);
constexpr wchar_t buttonFontFace[] = L"Microsoft Sans Serif";
constexpr int defaultDpi = 96;

// Fixed single border with the system menu and close box only.
constexpr DWORD formStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD formExStyle = 0;

// Not in the XP-level headers this file is compiled against.
constexpr UINT wmDpiChanged = 0x02E0;

struct Form1 {
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    HWND command1 = nullptr;
    HWND command2 = nullptr;
    HWND command3 = nullptr;
    HWND picture4 = nullptr;
    // The child that had the focus when the window was last deactivated.
    HWND focusedChild = nullptr;
    HFONT buttonFont = nullptr;
    HBITMAP chart = nullptr;
    COLORREF picture4BackColour = 0;
    int dpi = defaultDpi;
    Pulse pulse;
    InstallerStarter installerStarter;
};

// The program's one window.
Form1 form;

// Functions newer than Windows XP are looked up by name; a null result
// means "not here".
using win32::procedure;

HMODULE user32() { return GetModuleHandleW(L"user32.dll"); }

int windowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = procedure<GetDpiForWindowFunction>(user32(), "GetDpiForWindow");
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(window))
            return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : defaultDpi;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : defaultDpi;
}

// The outer size of the form for its client size at this DPI.
SIZE formWindowSize(int dpi) {
    const PixelSize client = clientSizePixels(dpi);
    RECT frame{0, 0, client.width, client.height};
    using AdjustForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi =
        procedure<AdjustForDpiFunction>(user32(), "AdjustWindowRectExForDpi");
    if (!adjustForDpi || !adjustForDpi(&frame, formStyle, FALSE, formExStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&frame, formStyle, FALSE, formExStyle);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

void place(HWND control, const TwipRect& twips) {
    const PixelRect px = toPixels(twips, form.dpi);
    MoveWindow(control, px.left, px.top, px.width, px.height, TRUE);
}

// Sizes the form and its controls and makes the buttons' font for the
// current DPI.
void layOut() {
    HFONT font = CreateFontW(buttonFontHeight(form.dpi), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                             ARABIC_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, buttonFontFace);
    if (font) {
        if (form.buttonFont)
            DeleteObject(form.buttonFont);
        form.buttonFont = font;
    }
    const SIZE size = formWindowSize(form.dpi);
    SetWindowPos(form.window, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    place(form.command2, command2Twips);
    place(form.command1, command1Twips);
    place(form.command3, command3Twips);
    place(form.picture4, picture4Twips);
    InvalidateRect(form.window, nullptr, TRUE);
}

void centreOnScreen() {
    RECT frame;
    GetWindowRect(form.window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(form.window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Hands the request to the shell, bound from the system directory when it
// is first needed.
void requestStart(const InstallRequest& request) {
    const auto shellExecute = procedure<decltype(&ShellExecuteW)>(
        win32::loadSystemLibrary(L"shell32.dll"), "ShellExecuteW");
    if (shellExecute)
        shellExecute(nullptr, request.verb.c_str(), request.file.c_str(),
                     request.parameters.c_str(), nullptr, request.showMode);
}

void startInstallerAndClose(std::wstring_view installer) {
    form.installerStarter.startAndClose(win32::modulePath(), GetCommandLineW(), installer,
                                        requestStart, [] { DestroyWindow(form.window); });
}

void Command1_Click() { startInstallerAndClose(olderWindowsInstaller); }

void Command2_Click() { startInstallerAndClose(newerWindowsInstaller); }

void Command3_Click() { ExitProcess(0); }

void Form_Load() { form.pulse.Form_Load(); }

COLORREF colorref(Rgb colour) { return RGB(colour.red, colour.green, colour.blue); }

// The DC brush paints the strip, so no GDI object is made per tick.
void fillPicture4(HDC dc, const RECT& area) {
    SetDCBrushColor(dc, form.picture4BackColour);
    FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// Paints the new colour at once rather than through WM_PAINT: fifty
// invalidations a second cost the window system more than the fill itself.
void Timer3_Timer() {
    form.picture4BackColour = colorref(form.pulse.Timer3_Timer());
    if (HDC dc = GetDC(form.picture4)) {
        RECT area;
        GetClientRect(form.picture4, &area);
        fillPicture4(dc, area);
        ReleaseDC(form.picture4, dc);
    }
}

// The chart is stored as an 8-bit run-length bitmap, which GDI draws on
// every Windows; it is unpacked once into a 24-bit DIB section, the bitmap
// that Image3 stretches. Null if the resource is not such a bitmap.
HBITMAP loadChart(HINSTANCE instance) {
    const HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDB_CHART), RT_BITMAP);
    const HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
    const auto* packed = loaded ? static_cast<const BITMAPINFO*>(LockResource(loaded)) : nullptr;
    const DWORD size = found ? SizeofResource(instance, found) : 0;
    if (!packed || size < sizeof(BITMAPINFOHEADER))
        return nullptr;
    const BITMAPINFOHEADER& header = packed->bmiHeader;
    constexpr DWORD mostColours = 256;
    const DWORD colours = header.biClrUsed ? header.biClrUsed : mostColours;
    if (header.biSize != sizeof(BITMAPINFOHEADER) || header.biBitCount != 8 ||
        header.biCompression != BI_RLE8 || header.biWidth <= 0 || header.biHeight <= 0 ||
        colours > mostColours)
        return nullptr;
    const DWORD bitsOffset = header.biSize + colours * sizeof(RGBQUAD);
    if (bitsOffset > size || header.biSizeImage > size - bitsOffset)
        return nullptr;

    BITMAPINFO unpacked{};
    unpacked.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    unpacked.bmiHeader.biWidth = header.biWidth;
    unpacked.bmiHeader.biHeight = header.biHeight;
    unpacked.bmiHeader.biPlanes = 1;
    unpacked.bmiHeader.biBitCount = 24;
    unpacked.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP chart = CreateDIBSection(nullptr, &unpacked, DIB_RGB_COLORS, &pixels, nullptr, 0);
    HDC screen = GetDC(nullptr);
    const bool drawn = chart && screen &&
                       SetDIBits(screen, chart, 0, static_cast<UINT>(header.biHeight),
                                 reinterpret_cast<const BYTE*>(packed) + bitsOffset, packed,
                                 DIB_RGB_COLORS) != 0;
    if (screen)
        ReleaseDC(nullptr, screen);
    if (chart && !drawn) {
        DeleteObject(chart);
        chart = nullptr;
    }
    return chart;
}

// Image3: the chart, stretched to its rectangle with both axes scaled on
// their own; halftoning keeps the downscaled lettering readable.
void paintImage3(HDC dc) {
    if (!form.chart)
        return;
    BITMAP bitmap;
    if (!GetObjectW(form.chart, sizeof bitmap, &bitmap))
        return;
    HDC source = CreateCompatibleDC(dc);
    if (!source)
        return;
    const HGDIOBJ previous = SelectObject(source, form.chart);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    const PixelRect target = toPixels(image3Twips, form.dpi);
    StretchBlt(dc, target.left, target.top, target.width, target.height, source, 0, 0,
               bitmap.bmWidth, bitmap.bmHeight, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
}

// Uniscribe, bound from the system directory when the first caption is
// drawn. Where it cannot be bound, captions are drawn by DrawTextW.
struct Uniscribe {
    decltype(&ScriptStringAnalyse) analyse;
    decltype(&ScriptString_pSize) size;
    decltype(&ScriptStringOut) out;
    decltype(&ScriptStringFree) free;

    bool bound() const { return analyse && size && out && free; }
};

const Uniscribe& uniscribe() {
    static const Uniscribe functions = [] {
        const HMODULE usp10 = win32::loadSystemLibrary(L"usp10.dll");
        return Uniscribe{procedure<decltype(&ScriptStringAnalyse)>(usp10, "ScriptStringAnalyse"),
                         procedure<decltype(&ScriptString_pSize)>(usp10, "ScriptString_pSize"),
                         procedure<decltype(&ScriptStringOut)>(usp10, "ScriptStringOut"),
                         procedure<decltype(&ScriptStringFree)>(usp10, "ScriptStringFree")};
    }();
    return functions;
}

// Centres a caption in `area`. Uniscribe orders the mixed Arabic-script and
// Latin runs, shapes them, and measures the shaped text it draws, so the
// centring holds where joined Arabic letters are narrower than their
// isolated forms (DrawTextW measures the isolated forms under Wine).
void drawCaption(HDC dc, const wchar_t* text, int length, RECT area) {
    const Uniscribe& script = uniscribe();
    SCRIPT_STRING_ANALYSIS analysis = nullptr;
    const int glyphCapacity = length * 3 / 2 + 16;
    if (length > 0 && script.bound() &&
        SUCCEEDED(script.analyse(dc, text, length, glyphCapacity, -1, SSA_GLYPHS | SSA_FALLBACK, 0,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, &analysis))) {
        const SIZE* size = script.size(analysis);
        const int x = area.left + (area.right - area.left - (size ? size->cx : 0)) / 2;
        const int y = area.top + (area.bottom - area.top - (size ? size->cy : 0)) / 2;
        script.out(analysis, x, y, 0, nullptr, 0, 0, FALSE);
        script.free(&analysis);
        return;
    }
    DrawTextW(dc, text, length, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

// The buttons are drawn by the form so their grey face shows: a raised
// edge, sunken while pressed, and a dark frame and dotted rectangle while
// focused.
void drawButton(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT face = item.rcItem;
    const bool pressed = item.itemState & ODS_SELECTED;
    const bool focused = item.itemState & ODS_FOCUS;
    const HBRUSH dcBrush = static_cast<HBRUSH>(GetStockObject(DC_BRUSH));

    if (focused) {
        SetDCBrushColor(dc, GetSysColor(COLOR_WINDOWFRAME));
        FrameRect(dc, &face, dcBrush);
        InflateRect(&face, -1, -1);
    }
    SetDCBrushColor(dc, buttonFaceColour);
    FillRect(dc, &face, dcBrush);
    DrawEdge(dc, &face, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

    wchar_t caption[128];
    const int length = GetWindowTextW(item.hwndItem, caption, static_cast<int>(std::size(caption)));
    RECT text = face;
    if (pressed)
        OffsetRect(&text, 1, 1);
    const HGDIOBJ previousFont = SelectObject(dc, form.buttonFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    drawCaption(dc, caption, length, text);
    SelectObject(dc, previousFont);

    if (focused && !(item.itemState & ODS_NOFOCUSRECT)) {
        const int inset = twipsToPixels(60, form.dpi);
        RECT focus = face;
        InflateRect(&focus, -inset, -inset);
        DrawFocusRect(dc, &focus);
    }
}

HWND createButton(const wchar_t* caption, int id) {
    return CreateWindowExW(0, L"BUTTON", caption,
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 0, 0, 0, 0,
                           form.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           form.instance, nullptr);
}

// Children are made in tab order: Command1, Command2, Command3, Picture4.
// The strip reacts to nothing, so Tab passes it by.
bool createControls() {
    form.command1 = createButton(command1Caption, command1Id);
    form.command2 = createButton(command2Caption, command2Id);
    form.command3 = createButton(command3Caption, command3Id);
    form.picture4 = CreateWindowExW(0, stripClassName, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                    form.window, nullptr, form.instance, nullptr);
    if (!form.command1 || !form.command2 || !form.command3 || !form.picture4)
        return false;
    form.picture4BackColour = colorref(stripStartColour);
    form.focusedChild = form.command1;
    return true;
}

void onCommand(int id, int notification) {
    if (notification != BN_CLICKED)
        return;
    switch (id) {
    case command1Id:
        Command1_Click();
        break;
    case command2Id:
        Command2_Click();
        break;
    case command3Id:
        Command3_Click();
        break;
    case IDOK: {
        // Enter, routed by the dialog manager: it presses the focused button.
        HWND focus = GetFocus();
        if (focus == form.command1 || focus == form.command2 || focus == form.command3)
            SendMessageW(focus, BM_CLICK, 0, 0);
        break;
    }
    }
}

void onDpiChanged(int dpi, const RECT& suggested) {
    form.dpi = dpi;
    SetWindowPos(form.window, nullptr, suggested.left, suggested.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    layOut();
}

LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        paintImage3(dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DRAWITEM:
        drawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == timer3Id)
            Timer3_Timer();
        return 0;
    case WM_ACTIVATE:
        // Keep the focus on the same button across a switch to another window.
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (HWND focus = GetFocus(); focus && IsChild(window, focus))
                form.focusedChild = focus;
        } else if (form.focusedChild) {
            SetFocus(form.focusedChild);
        }
        return 0;
    case wmDpiChanged:
        onDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        KillTimer(window, timer3Id);
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        form.window = nullptr;
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Picture4: a plain child that only shows its background colour.
LRESULT CALLBACK stripProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        fillPicture4(dc, paint.rcPaint);
        EndPaint(window, &paint);
        return 0;
    }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool registerClasses() {
    WNDCLASSEXW formClass{};
    formClass.cbSize = sizeof formClass;
    formClass.lpfnWndProc = formProc;
    formClass.hInstance = form.instance;
    formClass.hIcon = LoadIconW(form.instance, MAKEINTRESOURCEW(IDI_HALVARO));
    formClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    formClass.hbrBackground = CreateSolidBrush(formBackColour);
    formClass.lpszClassName = formClassName;

    WNDCLASSEXW stripClass{};
    stripClass.cbSize = sizeof stripClass;
    // Its own DC: the strip is painted fifty times a second.
    stripClass.style = CS_OWNDC;
    stripClass.lpfnWndProc = stripProc;
    stripClass.hInstance = form.instance;
    stripClass.hCursor = formClass.hCursor;
    stripClass.lpszClassName = stripClassName;

    return RegisterClassExW(&formClass) && RegisterClassExW(&stripClass);
}

int run(HINSTANCE instance, int showCommand) {
    // Before anything else can load a library by name.
    win32::restrictLibrarySearch();
    form.instance = instance;
    // The shell may hand the start request to COM-based extensions.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (!registerClasses())
        return 1;
    form.window = CreateWindowExW(formExStyle, formClassName, formCaption, formStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!form.window || !createControls())
        return 1;
    form.chart = loadChart(instance);
    SetTimer(form.window, timer3Id, timer3IntervalMs, nullptr);

    Form_Load();
    form.dpi = windowDpi(form.window);
    layOut();
    centreOnScreen();
    ShowWindow(form.window, showCommand);
    UpdateWindow(form.window);
    SetFocus(form.command1);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // The dialog manager gives Tab, Esc, Enter and Space their usual meaning.
        if (form.window && IsDialogMessageW(form.window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return static_cast<int>(message.wParam);
}

}  // namespace
}  // namespace halvaro

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return halvaro::run(instance, showCommand);
}
