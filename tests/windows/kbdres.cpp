// kbdres <layout dll>
//
// Reads the layout library's resources back through the Win32 calls that
// the system's control panel uses: the three strings by id, and the version
// block (fixed part, translation, string table). Every failed check prints
// its row and expression; the exit code is 1 when any check failed.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "version.h"

namespace {

// The version as the fixed part of a version block holds it: the first two
// parts in the high and low words of one DWORD, the last two in the next.
constexpr DWORD versionMS = PRODUCT_VERSION_MAJOR << 16 | PRODUCT_VERSION_MINOR;
constexpr DWORD versionLS = PRODUCT_VERSION_BUILD << 16 | PRODUCT_VERSION_REVISION;
// As the layout library's string table writes it: "1, 2, 3, 4" for 1.2.3.4,
// and its internal name "kurd (3.4)".
const std::wstring versionList = std::to_wstring(PRODUCT_VERSION_MAJOR) + L", " +
                                 std::to_wstring(PRODUCT_VERSION_MINOR) + L", " +
                                 std::to_wstring(PRODUCT_VERSION_BUILD) + L", " +
                                 std::to_wstring(PRODUCT_VERSION_REVISION);
const std::wstring internalName = L"kurd (" + std::to_wstring(PRODUCT_VERSION_BUILD) + L"." +
                                  std::to_wstring(PRODUCT_VERSION_REVISION) + L")";

int failures = 0;

std::string printable(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F && unit != L'"' && unit != L'\\') {
            out += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            out += escape;
        }
    }
    return out + "\"";
}

std::string narrow(const wchar_t* ascii) {
    std::string out;
    for (; *ascii != 0; ++ascii) out += static_cast<char>(*ascii);
    return out;
}

void expect(bool ok, const std::string& row, const char* expression, const std::string& got) {
    if (ok) return;
    ++failures;
    std::fprintf(stderr, "FAIL [%s] %s (got %s)\n", row.c_str(), expression, got.c_str());
}

#define EXPECT(row, condition, got) expect((condition), (row), #condition, (got))

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

struct StringResource {
    UINT id;
    const wchar_t* text;
};

constexpr StringResource kStrings[] = {
    {1000, L"Arabic (101) - Kurdish"},
    {1100, L"Arabic (Jordan)"},
    {1200, L"ar-JO"},
};

void check_strings(HMODULE module, const char* how) {
    for (const auto& row : kStrings) {
        const std::string name = std::string(how) + " string " + std::to_string(row.id);
        wchar_t buffer[256] = {};
        const int length = LoadStringW(module, row.id, buffer, static_cast<int>(std::size(buffer)));
        const std::wstring text(buffer, length > 0 ? length : 0);
        EXPECT(name, text == row.text, printable(text) + ", length " + std::to_string(length));
    }
}

void check_loaded_strings(const wchar_t* path) {
    struct LoadMode {
        const char* name;
        DWORD flags;
    };
    constexpr LoadMode kModes[] = {
        {"loaded", 0},
        {"data file", LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE},
    };
    for (const auto& mode : kModes) {
        HMODULE module = LoadLibraryExW(path, nullptr, mode.flags);
        EXPECT(mode.name, module != nullptr, "error " + std::to_string(GetLastError()));
        if (module == nullptr) continue;
        check_strings(module, mode.name);
        FreeLibrary(module);
    }
}

// The version block's value at `path`, or nullptr with its size 0.
const void* query(const std::vector<unsigned char>& block, const std::wstring& path, UINT& size) {
    void* value = nullptr;
    size = 0;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &size)) return nullptr;
    return value;
}

void check_fixed_info(const std::vector<unsigned char>& block) {
    UINT size = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(block, L"\\", size));
    EXPECT("\\", fixed != nullptr && size == sizeof(VS_FIXEDFILEINFO), "size " + std::to_string(size));
    if (fixed == nullptr) return;

    struct Field {
        const char* name;
        DWORD value;
        DWORD expected;
    };
    const Field fields[] = {
        {"dwSignature", fixed->dwSignature, 0xFEEF04BD},
        {"dwFileVersionMS", fixed->dwFileVersionMS, versionMS},
        {"dwFileVersionLS", fixed->dwFileVersionLS, versionLS},
        {"dwProductVersionMS", fixed->dwProductVersionMS, versionMS},
        {"dwProductVersionLS", fixed->dwProductVersionLS, versionLS},
        {"dwFileFlagsMask", fixed->dwFileFlagsMask, 0x3F},
        {"dwFileFlags", fixed->dwFileFlags, 0},
        {"dwFileOS", fixed->dwFileOS, VOS_NT_WINDOWS32},
        {"dwFileType", fixed->dwFileType, VFT_DLL},
        {"dwFileSubtype", fixed->dwFileSubtype, VFT2_DRV_KEYBOARD},
    };
    for (const auto& field : fields)
        EXPECT(std::string("\\ ") + field.name, field.value == field.expected, hex(field.value));
}

void check_translation(const std::vector<unsigned char>& block) {
    UINT size = 0;
    const auto* pairs = static_cast<const WORD*>(query(block, L"\\VarFileInfo\\Translation", size));
    EXPECT("\\VarFileInfo\\Translation", pairs != nullptr && size == 2 * sizeof(WORD), "size " + std::to_string(size));
    if (pairs == nullptr || size < 2 * sizeof(WORD)) return;
    EXPECT("\\VarFileInfo\\Translation language", pairs[0] == 0x0000, hex(pairs[0]));
    EXPECT("\\VarFileInfo\\Translation code page", pairs[1] == 0x04B0, hex(pairs[1]));
}

std::wstring string_value(const std::vector<unsigned char>& block, const wchar_t* key) {
    UINT size = 0;
    const auto* text = static_cast<const wchar_t*>(query(block, std::wstring(L"\\StringFileInfo\\000004B0\\") + key, size));
    return text == nullptr ? std::wstring() : std::wstring(text);
}

void check_string_table(const std::vector<unsigned char>& block) {
    struct Entry {
        const wchar_t* key;
        const wchar_t* expected;  // nullptr: any non-empty text
    };
    const Entry kEntries[] = {
        {L"CompanyName", nullptr},
        {L"FileDescription", L"Arabic (101) - Halvaro Layout"},
        {L"FileVersion", versionList.c_str()},
        {L"InternalName", internalName.c_str()},
        {L"ProductName", nullptr},
        {L"Release Information", nullptr},
        {L"LegalCopyright", nullptr},
        {L"OriginalFilename", L"kurd"},
        {L"ProductVersion", versionList.c_str()},
    };
    for (const auto& entry : kEntries) {
        const std::string row = "\\StringFileInfo\\000004B0\\" + narrow(entry.key);
        const std::wstring value = string_value(block, entry.key);
        if (entry.expected == nullptr)
            EXPECT(row, !value.empty(), printable(value));
        else
            EXPECT(row, value == entry.expected, printable(value));
    }
    const std::wstring product = string_value(block, L"ProductName");
    const std::wstring release = string_value(block, L"Release Information");
    EXPECT("ProductName, Release Information", product == release, printable(product) + " and " + printable(release));
}

void check_version(const wchar_t* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    EXPECT("GetFileVersionInfoSizeW", size > 0, "error " + std::to_string(GetLastError()));
    if (size == 0) return;
    std::vector<unsigned char> block(size);
    const BOOL read = GetFileVersionInfoW(path, 0, size, block.data());
    EXPECT("GetFileVersionInfoW", read, "error " + std::to_string(GetLastError()));
    if (!read) return;
    check_fixed_info(block);
    check_translation(block);
    check_string_table(block);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kbdres <layout dll>\n");
        return 2;
    }
    check_loaded_strings(argv[1]);
    check_version(argv[1]);
    if (failures > 0) std::fprintf(stderr, "%d checks failed\n", failures);
    else std::printf("all resource checks passed\n");
    return failures > 0 ? 1 : 0;
}
