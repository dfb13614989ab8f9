# The Windows package: kestrum-<version>-win64.zip with the program, the README and the
# licences of what the program contains (minimp3, and the MinGW-w64 runtime and winpthreads,
# which are linked in), and an NSIS installer with a Start-menu entry and an uninstaller.
# Build with: bash scripts/build-windows.sh package
if(NOT TARGET kestrum)
  return()
endif()

install(TARGETS kestrum RUNTIME DESTINATION .)
install(FILES README.md DESTINATION .)

# Licences, gathered at configure time into the build folder.
set(licences "${CMAKE_BINARY_DIR}/licences")
file(MAKE_DIRECTORY "${licences}")
file(READ "${MINIMP3_DIR}/minimp3.h" minimp3_head LIMIT 600)
string(REGEX MATCH "/\\*[^*]*\\*/" minimp3_notice "${minimp3_head}")
file(WRITE "${licences}/minimp3.txt" "minimp3, the MP3 decoder built into kestrum.exe:\n${minimp3_notice}\n")
set(KESTRUM_MINGW_COPYRIGHT /usr/share/doc/mingw-w64-common/copyright CACHE FILEPATH
    "Copyright file of the MinGW-w64 runtime and winpthreads linked into the program")
if(EXISTS "${KESTRUM_MINGW_COPYRIGHT}")
  configure_file("${KESTRUM_MINGW_COPYRIGHT}" "${licences}/mingw-w64-runtime.txt" COPYONLY)
endif()
file(GLOB own_licences "${CMAKE_SOURCE_DIR}/LICENSE*" "${CMAKE_SOURCE_DIR}/COPYING*")
install(FILES ${own_licences} DESTINATION .)
install(DIRECTORY "${licences}/" DESTINATION licences)

set(CPACK_PACKAGE_NAME kestrum)
set(CPACK_PACKAGE_VENDOR "Kestrum")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "FM radio band scanner")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "kestrum-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Kestrum")
set(CPACK_PACKAGE_EXECUTABLES kestrum Kestrum)  # the Start-menu entry
set(CPACK_GENERATOR ZIP)
find_program(KESTRUM_MAKENSIS makensis)
if(KESTRUM_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS)
endif()
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_DISPLAY_NAME "Kestrum ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "Kestrum")
set(CPACK_NSIS_INSTALLED_ICON_NAME kestrum.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
