// holder file <path> <ready file> <release file>
// holder exclusive <path> <ready file> <release file>
// holder lock <name> <ready file> <release file>
//
// Holds something the installer meets on real machines until the release
// file exists (at most two minutes): a file open without sharing delete
// or write, as a program reading it would (it can then be neither renamed
// nor deleted); a file open without sharing anything, as a backup or
// scanning program may hold one (it cannot even be read); or the named
// lock another installer run would hold. The ready file is written once
// it is held. Exit code 0, or 1 if it could not be taken.
#include <windows.h>

#include <cwchar>

namespace {

bool exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

void touch(const wchar_t* path) {
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5)
        return 1;
    HANDLE held = nullptr;
    if (std::wcscmp(argv[1], L"file") == 0 || std::wcscmp(argv[1], L"exclusive") == 0) {
        const DWORD sharing = std::wcscmp(argv[1], L"file") == 0 ? FILE_SHARE_READ : 0;
        held = CreateFileW(argv[2], GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE)
            return 1;
    } else if (std::wcscmp(argv[1], L"lock") == 0) {
        held = CreateMutexW(nullptr, TRUE, argv[2]);
        if (!held || GetLastError() == ERROR_ALREADY_EXISTS)
            return 1;
    } else {
        return 1;
    }
    touch(argv[3]);
    for (int i = 0; i < 1200 && !exists(argv[4]); ++i)
        Sleep(100);
    CloseHandle(held);
    return 0;
}
