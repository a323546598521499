// kbdload [--long-pointers] <layout dll> <walk file> [<release file>]
//
// Loads a keyboard-layout library the way the keyboard-layout loader does,
// but with its preferred base (read from the file) already taken, so the
// image only works if every stored pointer was relocated. Calls
// KbdLayerDescriptor twice and writes the canonical walk of the tables it
// returns, read with pointer fields of this process's width, or of 8 bytes
// with --long-pointers (the WOW64 image in a 32-bit process). Exit code 0
// when everything holds, 1 otherwise, with the failed checks on stderr.
//
// With a release file, the library then stays loaded, as a selected layout
// keeps it, until that file exists (at most two minutes): the installer
// tests replace a Kurd.dll that is in use.
#include <windows.h>

#include <cstdio>
#include <cstdint>
#include <cwchar>
#include <string>

#include "table_walk.h"

namespace {

// Far more than the library needs, so that no part of it can fit at its base.
constexpr SIZE_T kReservedSize = 0x1000000;

int failures = 0;

void expect(bool ok, const char* expression, const std::string& detail) {
    if (ok) return;
    ++failures;
    std::fprintf(stderr, "FAIL %s: %s\n", expression, detail.c_str());
}

#define EXPECT(condition, detail) expect((condition), #condition, (detail))

std::string address(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
    return text;
}

table_walk::Image mapped_image(HMODULE module) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return {base, base + nt->OptionalHeader.SizeOfImage};
}

// The image base the file asks for, or 0 when its headers are not those of
// an image for this process's machine.
std::uintptr_t preferred_base(const wchar_t* path) {
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) return 0;
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS nt{};
    const bool read = std::fread(&dos, sizeof dos, 1, file) == 1 && dos.e_magic == IMAGE_DOS_SIGNATURE &&
                      std::fseek(file, dos.e_lfanew, SEEK_SET) == 0 && std::fread(&nt, sizeof nt, 1, file) == 1;
    std::fclose(file);
    if (!read || nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC)
        return 0;
    return static_cast<std::uintptr_t>(nt.OptionalHeader.ImageBase);
}

bool write_file(const wchar_t* path, const std::string& text) {
    FILE* file = _wfopen(path, L"wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool long_pointers = argc > 1 && std::wcscmp(argv[1], L"--long-pointers") == 0;
    const int first_argument = long_pointers ? 2 : 1;
    const int arguments = argc - first_argument;
    if (arguments != 2 && arguments != 3) {
        std::fprintf(stderr, "usage: kbdload [--long-pointers] <layout dll> <walk file> [<release file>]\n");
        return 2;
    }
    const wchar_t* dll = argv[first_argument];
    const wchar_t* walk_file = argv[first_argument + 1];
    const wchar_t* release_file = arguments == 3 ? argv[first_argument + 2] : nullptr;
    const auto width = long_pointers ? table_walk::PointerWidth::Wide
                                     : static_cast<table_walk::PointerWidth>(sizeof(void*));

    const std::uintptr_t base = preferred_base(dll);
    if (base == 0) {
        std::fprintf(stderr, "FAIL the file is no image for this machine\n");
        return 1;
    }
    void* blocker = VirtualAlloc(reinterpret_cast<void*>(base), kReservedSize, MEM_RESERVE, PAGE_NOACCESS);
    if (reinterpret_cast<std::uintptr_t>(blocker) != base) {
        std::fprintf(stderr, "FAIL cannot reserve the preferred base: VirtualAlloc gave %s, error %lu\n",
                     address(blocker).c_str(), GetLastError());
        return 1;
    }

    HMODULE module = LoadLibraryW(dll);
    if (module == nullptr) {
        std::fprintf(stderr, "FAIL LoadLibraryW: error %lu\n", GetLastError());
        return 1;
    }
    EXPECT(reinterpret_cast<std::uintptr_t>(module) != base, "module at " + address(module));

    using Descriptor = const void* (*)();
    const auto descriptor = reinterpret_cast<Descriptor>(
        reinterpret_cast<void*>(GetProcAddress(module, "KbdLayerDescriptor")));
    if (descriptor == nullptr) {
        std::fprintf(stderr, "FAIL GetProcAddress(KbdLayerDescriptor): error %lu\n", GetLastError());
        return 1;
    }
    const table_walk::Image image = mapped_image(module);
    const void* first = descriptor();
    const void* second = descriptor();
    const auto* tables = static_cast<const unsigned char*>(first);
    EXPECT(first != nullptr, "first call returned null");
    EXPECT(first == second, "first " + address(first) + ", second " + address(second));
    EXPECT(tables >= image.begin && tables < image.end,
           "record " + address(first) + ", module " + address(image.begin) + ".." + address(image.end));
    if (failures > 0) return 1;

    try {
        const std::string walk = table_walk::canonical_walk(first, image, width);
        if (!write_file(walk_file, walk)) {
            std::fprintf(stderr, "FAIL cannot write the walk file\n");
            return 1;
        }
    } catch (const table_walk::WalkError& error) {
        std::fprintf(stderr, "FAIL walk: %s\n", error.what());
        return 1;
    }
    std::printf("loaded at %s, record at %s\n", address(module).c_str(), address(first).c_str());
    if (release_file) {
        constexpr DWORD kPollMs = 100;
        constexpr int kMaxPolls = 1200;
        int polls = 0;
        while (GetFileAttributesW(release_file) == INVALID_FILE_ATTRIBUTES && ++polls < kMaxPolls)
            Sleep(kPollMs);
        if (polls == kMaxPolls) {
            std::fprintf(stderr, "FAIL the release file never appeared\n");
            return 1;
        }
    }
    return 0;
}
