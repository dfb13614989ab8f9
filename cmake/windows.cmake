# The Windows build (MinGW-w64 cross-compile, cmake/toolchain-mingw64.cmake): the same core as
# the Linux build, with the Windows platform backends of src/platform/win32/ and the built-in
# data as RCDATA resources of the module. Included from CMakeLists.txt when WIN32 is true.
#
# Targets: kestrum (kestrum.exe, once the display and canvas backends exist), the core
# libraries, and with KESTRUM_TESTS the unit tests that run under Wine through the
# cross-compiling emulator (tests/windows/CMakeLists.txt).

enable_language(RC)
find_package(Threads REQUIRED)

set(MINIMP3_DIR "${CMAKE_SOURCE_DIR}/.deps/minimp3")
if(NOT EXISTS "${MINIMP3_DIR}/minimp3.h")
  message(FATAL_ERROR "minimp3.h is missing from ${MINIMP3_DIR}: run scripts/setup.sh first.")
endif()
add_library(minimp3 INTERFACE)
target_include_directories(minimp3 SYSTEM INTERFACE "${MINIMP3_DIR}")

# One file: the C and C++ runtimes and winpthreads linked in, so the exe needs no DLL beside it.
add_link_options(-static -static-libgcc -static-libstdc++)
# Windows headers in their wide-character form, without the min/max macros.
set(KESTRUM_WIN32_DEFS UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
set(KESTRUM_WIN32 "${CMAKE_SOURCE_DIR}/src/platform/win32")

# ---- Built-in data: data/ as RCDATA resources ----
include(cmake/embed_data_rc.cmake)
kestrum_embed_data_rc("${CMAKE_BINARY_DIR}/data_blocks.rc")
set_source_files_properties("${CMAKE_BINARY_DIR}/data_blocks.rc" PROPERTIES OBJECT_DEPENDS "${KESTRUM_DATA_FILES}")
# An object library: resources in a static archive would be dropped by the linker, as
# nothing refers to them by symbol.
add_library(kestrum_data OBJECT "${CMAKE_BINARY_DIR}/data_blocks.rc" "${KESTRUM_WIN32}/data_blocks.cpp")
target_include_directories(kestrum_data PUBLIC src)
target_compile_definitions(kestrum_data PRIVATE ${KESTRUM_WIN32_DEFS})
target_compile_options(kestrum_data PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${KESTRUM_WARNINGS}>)

# ---- Platform: services with no outside library (clocks, paths, arguments, files, folders) ----
# The UTF-8 conversions and the block table lookup are shared with the Linux build.
add_library(kestrum_platform_base STATIC
  src/platform/base_paths.cpp src/platform/base_data_blocks.cpp
  "${KESTRUM_WIN32}/base_clock.cpp" "${KESTRUM_WIN32}/base_paths.cpp" "${KESTRUM_WIN32}/base_files.cpp"
  "${KESTRUM_WIN32}/base_staged_file.cpp")
target_include_directories(kestrum_platform_base PUBLIC src "${CMAKE_BINARY_DIR}/generated")
target_compile_definitions(kestrum_platform_base PRIVATE ${KESTRUM_WIN32_DEFS})
target_compile_options(kestrum_platform_base PRIVATE ${KESTRUM_WARNINGS})
target_link_libraries(kestrum_platform_base PUBLIC Threads::Threads PRIVATE shell32 ole32 uuid)

# ---- Core: every subsystem, the same sources as on Linux ----
file(GLOB CORE_SOURCES CONFIGURE_DEPENDS
  src/base/*.cpp src/catalog/*.cpp src/engine/*.cpp src/audio/*.cpp src/ui/*.cpp src/app/*.cpp)
list(REMOVE_ITEM CORE_SOURCES "${CMAKE_SOURCE_DIR}/src/app/main.cpp")
add_library(kestrum_core STATIC ${CORE_SOURCES})
target_include_directories(kestrum_core PUBLIC src)
target_compile_options(kestrum_core PRIVATE ${KESTRUM_WARNINGS})
target_link_libraries(kestrum_core PUBLIC kestrum_platform_base minimp3 Threads::Threads)

# ---- Platform backends ----
# A library from the listed sources that exist; an interface library while none does yet.
function(kestrum_win32_lib name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;GLOBS;LINK")
  set(srcs "")
  foreach(s IN LISTS arg_SOURCES)
    if(EXISTS "${CMAKE_SOURCE_DIR}/${s}")
      list(APPEND srcs "${CMAKE_SOURCE_DIR}/${s}")
    endif()
  endforeach()
  foreach(g IN LISTS arg_GLOBS)
    file(GLOB found CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${g}")
    list(APPEND srcs ${found})
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
    target_compile_definitions(${name} PRIVATE ${KESTRUM_WIN32_DEFS})
    target_compile_options(${name} PRIVATE ${KESTRUM_WARNINGS})
    target_link_libraries(${name} ${arg_LINK})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}/src")
  endif()
endfunction()

# Canvas on GDI.
kestrum_win32_lib(kestrum_platform_canvas GLOBS "src/platform/win32/canvas_*.cpp"
  LINK PUBLIC kestrum_platform_base PRIVATE gdi32 user32)
# The window tree and message routing (shared with Linux), and the Win32 display under it.
kestrum_win32_lib(kestrum_platform_window SOURCES src/platform/window_core.cpp
  LINK PUBLIC kestrum_platform_canvas)
kestrum_win32_lib(kestrum_platform_win32 GLOBS "src/platform/win32/window_*.cpp"
  LINK PUBLIC kestrum_platform_window PRIVATE user32 gdi32 dwmapi comctl32 shell32)
# The audio device: its backend-independent part and Core Audio.
kestrum_win32_lib(kestrum_platform_audio SOURCES src/platform/audio_device.cpp src/platform/win32/audio_event.cpp
  LINK PUBLIC kestrum_platform_base)
kestrum_win32_lib(kestrum_platform_coreaudio SOURCES src/platform/win32/audio_coreaudio.cpp
  LINK PUBLIC kestrum_platform_audio PRIVATE ole32 uuid)

target_link_libraries(kestrum_core PUBLIC kestrum_platform_window kestrum_platform_audio)

# ---- The program ----
# Built once the display and canvas backends exist; until then the core and the unit tests
# build on their own.
file(GLOB KESTRUM_WIN32_WINDOW_SOURCES CONFIGURE_DEPENDS "${KESTRUM_WIN32}/window_*.cpp")
file(GLOB KESTRUM_WIN32_CANVAS_SOURCES CONFIGURE_DEPENDS "${KESTRUM_WIN32}/canvas_*.cpp")
if(KESTRUM_WIN32_WINDOW_SOURCES AND KESTRUM_WIN32_CANVAS_SOURCES)
  file(GLOB KESTRUM_WIN32_RC CONFIGURE_DEPENDS "${KESTRUM_WIN32}/*.rc")
  add_executable(kestrum WIN32 src/app/main.cpp ${KESTRUM_WIN32_RC})
  target_compile_options(kestrum PRIVATE ${KESTRUM_WARNINGS})
  target_link_libraries(kestrum PRIVATE kestrum_core kestrum_platform_win32 kestrum_platform_coreaudio kestrum_data)
  target_link_options(kestrum PRIVATE -s)  # the shipped file carries no debug information
endif()

if(KESTRUM_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()

include(cmake/package_windows.cmake OPTIONAL)
