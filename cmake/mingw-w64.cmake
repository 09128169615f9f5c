# Cross-compiles the Windows build (x86-64) with Debian's mingw-w64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(UIPPACK_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: the win32 one of GCC 12 has no std::mutex or std::once_flag.
find_program(CMAKE_C_COMPILER NAMES ${UIPPACK_MINGW_TRIPLE}-gcc-posix ${UIPPACK_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${UIPPACK_MINGW_TRIPLE}-g++-posix ${UIPPACK_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${UIPPACK_MINGW_TRIPLE}-windres)

# The mingw-w64 packages, and the static libarchive scripts/windows-tools.sh builds for uipcheck.
set(CMAKE_FIND_ROOT_PATH /usr/${UIPPACK_MINGW_TRIPLE} ${CMAKE_BINARY_DIR}/wine/libarchive)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: no libgcc, libstdc++, winpthread or zlib DLLs beside them.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
