# x86-64 Windows with LLVM 16: clang compiles against the mingw-w64 headers,
# lld-link links MSVC-style, llvm-rc compiles resources.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_CXX_COMPILER clang-16)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER llvm-rc-16)
set(CMAKE_LINKER lld-link-16)
file(GLOB mingw_cxx /usr/lib/gcc/x86_64-w64-mingw32/*-win32/include/c++)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${mingw_cxx} ${mingw_cxx}/x86_64-w64-mingw32 /usr/x86_64-w64-mingw32/include)
# Nothing here links a run-time library, so compiler checks stop at objects.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
