#include "system_library.h"

#include <string>

namespace setup {

HMODULE loadSystemLibrary(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
        if (length == 0)
            return nullptr;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(length);
    }
    path += L'\\';
    path += name;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace setup
