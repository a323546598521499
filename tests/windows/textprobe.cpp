// textprobe [seconds [expected dpi]]
//
// Shows a window whose caption, button and client text hold Arabic script
// (the caption and the button mixed with Latin, as the launcher's are),
// drawn with the font the launcher asks for (Microsoft Sans Serif, Arabic
// character set), and closes itself after the given time (default 10 s).
// On stdout it reports the DPI the program sees and, for each font it uses,
// the face Windows picked and how many characters of its text that face
// lacks. Exit code 1 when a face lacks characters or the DPI is not the
// expected one, so a test can check the prefix's font and DPI set-up
// without looking at pixels.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Kurdish sample: "lam heh space seen heh ZWNJ reh" and the letters the
// layout adds to the Arabic set.
constexpr wchar_t kSample[] = {
    0x0644,  // ARABIC LETTER LAM
    0x0647,  // ARABIC LETTER HEH
    0x0020,  // SPACE
    0x0633,  // ARABIC LETTER SEEN
    0x0647,  // ARABIC LETTER HEH
    0x200C,  // ZERO WIDTH NON-JOINER
    0x0631,  // ARABIC LETTER REH
    0x0020,  // SPACE
    0x0695,  // ARABIC LETTER REH WITH SMALL V BELOW
    0x06B5,  // ARABIC LETTER LAM WITH SMALL V
    0x06C6,  // ARABIC LETTER OE
    0x06CE,  // ARABIC LETTER YEH WITH SMALL V
    0x06D5,  // ARABIC LETTER AE
    0,
};

constexpr UINT_PTR kCloseTimer = 1;
HFONT button_font = nullptr;
HFONT large_font = nullptr;

HFONT launcher_font(int height) {
    return CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ARABIC_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Microsoft Sans Serif");
}

// The face GDI chose for `font` and how many characters of `text` it has no glyph for.
bool report_font(const char* role, HFONT font, const std::wstring& text) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    std::vector<WORD> glyphs(text.size());
    GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
    int missing = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (glyphs[i] == 0xFFFF && text[i] != 0x200C) ++missing;
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    char face_utf8[LF_FACESIZE * 3] = {};
    WideCharToMultiByte(CP_UTF8, 0, face, -1, face_utf8, sizeof face_utf8, nullptr, nullptr);
    std::printf("font %s face \"%s\" missing %d\n", role, face_utf8, missing);
    return missing == 0;
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            HGDIOBJ previous = SelectObject(dc, large_font);
            SetBkMode(dc, TRANSPARENT);
            RECT text_area = {10, 10, 630, 110};
            DrawTextW(dc, kSample, -1, &text_area, DT_RIGHT | DT_RTLREADING | DT_SINGLELINE);
            SelectObject(dc, previous);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_TIMER:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const int seconds = __argc > 1 ? _wtoi(__wargv[1]) : 10;
    const int expected_dpi = __argc > 2 ? _wtoi(__wargv[2]) : 0;

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    std::printf("dpi %d\n", dpi);
    bool ok = expected_dpi == 0 || dpi == expected_dpi;

    const std::wstring caption = std::wstring(L"textprobe ") + kSample;
    const std::wstring button_text = std::wstring(L"Win 10, Win 8.1 ") + kSample;
    button_font = launcher_font(-11);  // 8.25 pt at 96 DPI
    large_font = launcher_font(-48);
    ok &= report_font("button", button_font, button_text);
    ok &= report_font("large", large_font, kSample);
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT caption_font = CreateFontIndirectW(&metrics.lfCaptionFont);
    ok &= report_font("caption", caption_font, caption);
    std::fflush(stdout);

    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    window_class.lpszClassName = L"textprobe";
    RegisterClassW(&window_class);

    HWND window = CreateWindowExW(0, L"textprobe", caption.c_str(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                  40, 40, 660, 240, nullptr, nullptr, instance, nullptr);
    HWND button = CreateWindowExW(0, L"BUTTON", button_text.c_str(), WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 130, 265, 41,
                                  window, nullptr, instance, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(button_font), TRUE);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetTimer(window, kCloseTimer, static_cast<UINT>(seconds) * 1000, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DeleteObject(caption_font);
    DeleteObject(large_font);
    DeleteObject(button_font);
    return ok ? 0 : 1;
}
