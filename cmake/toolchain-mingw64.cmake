# Cross-compiling for 64-bit Windows with Debian's MinGW-w64, posix thread model (which has
# std::thread, std::mutex and std::condition_variable). Use with
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRUM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRUM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_ASM_COMPILER ${KESTRUM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_RC_COMPILER ${KESTRUM_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KESTRUM_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KESTRUM_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine (64-bit); the caller sets WINEPREFIX and WINEDEBUG.
find_program(KESTRUM_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KESTRUM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRUM_WINE})
endif()
