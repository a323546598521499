# windows_program(<target>): how every shipped Windows program is built
# with mingw-w64, so that it carries no run-time piece it does not use.
#  - Code for size (-Oz: -Os that also picks the shorter of two instruction
#    sequences), with no exceptions, no RTTI and no unwind tables; switches
#    as compares rather than tables of addresses (each address a
#    relocation), and a function called once left whole rather than inlined
#    into its caller: both, measured, make the installer smaller;
#    function-local statics without thread-safe guards (the programs run
#    their code on one thread), each function and datum in its own section
#    so that the linker drops what nothing uses.
#  - minimal_runtime.cpp in place of the C library's start-up code and the
#    C++ library's allocation and error helpers, which would link its
#    exception machinery.
#  - A GUI program entered at minimal_runtime.cpp's entry, then at wWinMain;
#    linked statically against the GCC and C++ libraries (msvcrt.dll is the
#    only C run-time it imports), stripped, and marked to start on Windows
#    XP: 5.01 for x86, 5.02 (the first 64-bit Windows) for x86-64.
#  - A link map, <target>.map beside the program, for the tests to read what
#    was linked.
include_guard(GLOBAL)

function(windows_program target)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/minimal_runtime.cpp)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:-Oz -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
            -fno-unwind-tables -fno-threadsafe-statics -ffunction-sections -fdata-sections
            -fno-jump-tables -fno-inline-functions-called-once>)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(minor_version 1)
        # 32-bit Windows keeps the stack 4-byte aligned; GCC's default of 16
        # costs code in every function that keeps a frame, as does a frame
        # pointer (64-bit code has none by default).
        target_compile_options(${target} PRIVATE
            $<$<COMPILE_LANGUAGE:CXX>:-mpreferred-stack-boundary=2 -fomit-frame-pointer>)
    else()
        set(minor_version 2)
    endif()
    target_link_options(${target} PRIVATE
        -nostartfiles -static -static-libgcc -static-libstdc++ -mwindows -s
        LINKER:--gc-sections
        LINKER:--major-subsystem-version,5,--minor-subsystem-version,${minor_version}
        LINKER:--major-os-version,5,--minor-os-version,${minor_version}
        LINKER:-Map=$<TARGET_FILE_DIR:${target}>/${target}.map)
endfunction()
