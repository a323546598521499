// The run-time pieces a shipped program links instead of the libraries'
// own: the process entry, allocation over the C library's heap, and the C++
// library's error helpers.
//
// The entry replaces the C library's start-up code, which brings argument
// globbing, thread-local storage callbacks, pseudo-relocation and a fault
// handler that no program here uses: msvcrt.dll sets itself up when it is
// loaded, so the entry only runs the static constructors and calls
// wWinMain as that code would.
//
// The programs are built without exceptions, yet the C++ library's own
// allocation and error helpers throw, and a throw brings the unwinder, the
// exception classes and the verbose terminate handler with its demangler,
// several times the size of a program's own code. Here each failure ends the
// process at once, as a fault does: with no exceptions there is nothing
// that could catch it, and nothing else could be done safely.
//
// The error helpers, like the two virtual-call traps, are all those that
// the library defines together in one object: leaving one out would link
// that object, and with it everything these replace (the link then fails
// on the duplicates, which says so).
#include <windows.h>

#include <cstdlib>
#include <new>

#include "command_line.h"

namespace {

[[noreturn]] void fail() { __builtin_trap(); }

void* allocate(std::size_t size) {
    // malloc(0) may answer null; operator new must not.
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    fail();
}

}  // namespace

// The static constructors, between the markers the linker puts around
// them: -1 before, 0 after. They run last to first, as GCC's own start-up
// code runs them; each registers its destructor with atexit.
extern "C" void (*__CTOR_LIST__[])();

// The C library's start-up code would define this over its exit list;
// msvcrt.dll keeps one for the program and runs it in exit(). This and the
// entry are called from outside the program's own code, so they stay
// visible to the linker when the program is compiled as a whole.
extern "C" [[gnu::externally_visible]] int atexit(void (*function)()) {
    return _onexit(reinterpret_cast<_onexit_t>(function)) ? 0 : -1;
}

// The linker's default entry for a Windows-subsystem program.
extern "C" [[gnu::externally_visible]] void WinMainCRTStartup() {
    std::size_t constructors = 0;
    while (__CTOR_LIST__[constructors + 1])
        ++constructors;
    for (; constructors; --constructors)
        __CTOR_LIST__[constructors]();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const int show = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : SW_SHOWDEFAULT;
    // The arguments are the rest of the command line, so they end with it.
    const std::wstring_view arguments = win32::argumentText(GetCommandLineW());
    std::exit(wWinMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(arguments.data()), show));
}

// A call through a vtable slot that has no function: a program fault.
extern "C" void __cxa_pure_virtual() { fail(); }
extern "C" void __cxa_deleted_virtual() { fail(); }

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace std {

void __throw_bad_exception() { fail(); }
void __throw_bad_alloc() { fail(); }
void __throw_bad_array_new_length() { fail(); }
void __throw_bad_cast() { fail(); }
void __throw_bad_typeid() { fail(); }
void __throw_logic_error(const char*) { fail(); }
void __throw_domain_error(const char*) { fail(); }
void __throw_invalid_argument(const char*) { fail(); }
void __throw_length_error(const char*) { fail(); }
void __throw_out_of_range(const char*) { fail(); }
void __throw_out_of_range_fmt(const char*, ...) { fail(); }
void __throw_runtime_error(const char*) { fail(); }
void __throw_range_error(const char*) { fail(); }
void __throw_overflow_error(const char*) { fail(); }
void __throw_underflow_error(const char*) { fail(); }

// A call of an empty std::function.
void __throw_bad_function_call() { fail(); }

}  // namespace std
