#include "win32_messages.h"

#include <windows.h>

#include "resource.h"
#include "system_library.h"
#include "win32_system.h"

namespace setup {

// Read through the resource calls of kernel32: the installer does not
// import user32 (see show()).
std::wstring loadString(LanguageId language, unsigned id) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found =
        FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1), language);  // RT_STRING
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* block = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
    if (!block)
        return {};
    // Sixteen strings to a block, each with its length first.
    const wchar_t* const end = block + SizeofResource(module, found) / sizeof(wchar_t);
    for (unsigned i = 0; i < id % 16 && block < end; ++i)
        block += 1 + *block;
    if (block >= end || block + 1 + *block > end)
        return {};
    return std::wstring(block + 1, *block);
}

// user32 is bound here, by its full path, rather than imported: Wine's
// user32 imports libraries that Windows would then look for beside the
// installer, and a quiet run needs no window at all.
void show(const Report& report, bool quiet) {
    if (quiet)
        return;
    using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
    const auto messageBox =
        win32::procedure<MessageBoxFunction>(win32::loadSystemLibrary(L"user32.dll"), "MessageBoxW");
    if (!messageBox)
        return;
    const UINT icon = report.icon == Icon::Information ? MB_ICONINFORMATION
                      : report.icon == Icon::Warning   ? MB_ICONWARNING
                                                       : MB_ICONERROR;
    // The languages follow the user's display language and regional format.
    const ShownMessage shown = composeMessage(GetUserDefaultUILanguage(), LANGIDFROMLCID(GetUserDefaultLCID()),
                                              IDS_TITLE, report.text, {loadString, systemErrorText});
    messageBox(nullptr, shown.text.c_str(), shown.caption.c_str(), MB_OK | icon | shown.extraFlags);
}

}  // namespace setup
