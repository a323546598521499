// The C++ run-time pieces a shipped program links instead of the library's
// own: allocation over the C library's heap, and the library's error
// helpers. The programs are built without exceptions, yet the library's
// versions of these throw, and a throw brings the unwinder, the exception
// classes and the verbose terminate handler with its demangler, several
// times the size of a program's own code. Here each failure ends the
// process at once, as a fault does: with no exceptions there is nothing
// that could catch it, and nothing else could be done safely.
//
// The error helpers, like the two virtual-call traps, are all those that
// the library defines together in one object: leaving one out would link
// that object, and with it everything these replace (the link then fails
// on the duplicates, which says so).
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void fail() { __builtin_trap(); }

void* allocate(std::size_t size) {
    // malloc(0) may answer null; operator new must not.
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    fail();
}

}  // namespace

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
