# Cross toolchain: 32-bit Windows with mingw-w64's posix thread model.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
list(APPEND CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# With this GCC, alignof(std::max_align_t) depends on whether <cstdint> or
# <cstddef> comes first; forcing stddef.h first keeps every translation unit
# (the engine's and ours) agreeing on the layout of its classes.
set(CMAKE_C_FLAGS_INIT "-include stddef.h")
set(CMAKE_CXX_FLAGS_INIT "-include stddef.h")
set(CMAKE_RC_FLAGS_INIT "-c 65001")
