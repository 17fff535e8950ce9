# Cross-compiles the Windows test build for 64-bit Windows with MinGW-w64's posix thread model,
# whose runtime has the std::mutex that GoogleTest needs. Everything is linked statically, so the
# test executable runs under Wine's 64-bit loader with nothing beside it. The DLL keeps the win32
# thread model of mingw-x86_64.cmake, whose settings this takes, compilers apart.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
