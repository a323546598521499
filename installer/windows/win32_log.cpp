#include "win32_log.h"

#include "arguments.h"

namespace setup {

std::string utf8(std::wstring_view text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

Log::~Log() {
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
}

DWORD Log::open(const std::wstring& path, unsigned* problem) {
    // Appending is all this handle may do: without write access to the
    // data as such, nothing already in the file can be overwritten. A link
    // is opened as itself, not followed.
    file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file_ == INVALID_HANDLE_VALUE)
        return GetLastError();
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file_, &information))
        information.dwFileAttributes = FILE_ATTRIBUTE_DEVICE;
    *problem = logFileProblem(GetFileType(file_), information.dwFileAttributes);
    if (*problem != 0) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    return ERROR_SUCCESS;
}

void Log::line(std::wstring_view text) {
    if (file_ == INVALID_HANDLE_VALUE)
        return;
    const std::string bytes = utf8(text) + "\r\n";
    DWORD written = 0;
    WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace setup
