# Install rules (GNUInstallDirs) and the Debian package (CPack DEB).
#
# `cmake --install <build> --prefix P` installs the program, its desktop entry, icon, AppStream
# metadata, manual page, README and licences. `cpack -G DEB` in the build folder packs the same
# files for /usr, with the manual page and the changelog compressed as Debian wants them. The
# package's version has no Debian revision (1.0.0, not 1.0.0-1): it is a native package, so
# its changelog is changelog.gz (changelog.Debian.gz belongs to a package of someone else's
# upstream release).
# Install components: "program" (all but the manual page), "manual" (the plain manual page,
# installed but not packed) and "debian" (only packed: the compressed manual page and the changelog).
include(GNUInstallDirs)

# Directories made by the install are world-readable whatever the umask, as packages need.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(KESTRUM_PACKAGING_OUT "${CMAKE_BINARY_DIR}/packaging")
set(KESTRUM_MAINTAINER "The Kestrum developers <maintainers@kestrum.example>")

# The release date in the form of Debian's changelog: "Fri, 11 Dec 2026 00:00:00 +0000".
string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _ "${KESTRUM_RELEASE_DATE}")
set(_y ${CMAKE_MATCH_1})
math(EXPR _m "${CMAKE_MATCH_2}")
math(EXPR _d "${CMAKE_MATCH_3}")
# Day of the week by Zeller's congruence (0 = Saturday).
set(_zm ${_m})
set(_zy ${_y})
if(_m LESS 3)
  math(EXPR _zm "${_m} + 12")
  math(EXPR _zy "${_y} - 1")
endif()
math(EXPR _dow "(${_d} + (13 * (${_zm} + 1)) / 5 + ${_zy} % 100 + (${_zy} % 100) / 4 + (${_zy} / 100) / 4 + 5 * (${_zy} / 100)) % 7")
set(_days "Sat;Sun;Mon;Tue;Wed;Thu;Fri")
list(GET _days ${_dow} _dayname)
math(EXPR _mi "${_m} - 1")
set(_months "Jan;Feb;Mar;Apr;May;Jun;Jul;Aug;Sep;Oct;Nov;Dec")
list(GET _months ${_mi} _monthname)
set(KESTRUM_RELEASE_DATE_RFC2822 "${_dayname}, ${CMAKE_MATCH_3} ${_monthname} ${_y} 00:00:00 +0000")

configure_file(packaging/kestrum.desktop.in "${KESTRUM_PACKAGING_OUT}/${KESTRUM_APP_ID}.desktop" @ONLY)
configure_file(packaging/kestrum.metainfo.xml.in "${KESTRUM_PACKAGING_OUT}/${KESTRUM_APP_ID}.metainfo.xml" @ONLY)
configure_file(packaging/kestrum.1.in "${KESTRUM_PACKAGING_OUT}/kestrum.1" @ONLY)
configure_file(packaging/changelog.in "${KESTRUM_PACKAGING_OUT}/changelog" @ONLY)

# Compressed copies for the package: gzip -9n, so they carry no name and no time stamp.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
foreach(pair "kestrum.1;kestrum.1.gz" "changelog;changelog.gz")
  list(GET pair 0 in)
  list(GET pair 1 out)
  add_custom_command(OUTPUT "${KESTRUM_PACKAGING_OUT}/${out}"
    COMMAND "${GZIP_EXECUTABLE}" -9n -c "${KESTRUM_PACKAGING_OUT}/${in}" > "${KESTRUM_PACKAGING_OUT}/${out}"
    DEPENDS "${KESTRUM_PACKAGING_OUT}/${in}" VERBATIM)
  list(APPEND _compressed "${KESTRUM_PACKAGING_OUT}/${out}")
endforeach()
add_custom_target(kestrum_packaging ALL DEPENDS ${_compressed})

# ---- The program and what the desktop finds of it ----
install(TARGETS kestrum RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT program)
install(FILES "${KESTRUM_PACKAGING_OUT}/${KESTRUM_APP_ID}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications" COMPONENT program)
install(FILES "${KESTRUM_PACKAGING_OUT}/${KESTRUM_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo" COMPONENT program)
install(FILES packaging/icons/kestrum.svg RENAME "${KESTRUM_APP_ID}.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps" COMPONENT program)
foreach(size 48 64 128 256)
  install(FILES "packaging/icons/kestrum-${size}.png" RENAME "${KESTRUM_APP_ID}.png"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps" COMPONENT program)
endforeach()

# ---- Documentation: README, the stations' notes with their licences, the copyright ----
install(FILES README.md packaging/copyright DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT program)
install(FILES data/README.md RENAME README.stations.md DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT program)
install(FILES "${KESTRUM_PACKAGING_OUT}/kestrum.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT manual)
install(FILES "${KESTRUM_PACKAGING_OUT}/kestrum.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1"
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES "${KESTRUM_PACKAGING_OUT}/changelog.gz" DESTINATION "${CMAKE_INSTALL_DOCDIR}"
        COMPONENT debian EXCLUDE_FROM_ALL)

# ---- The Debian package: kestrum_<version>_<arch>.deb ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrum)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${KESTRUM_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program debian)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRUM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beyond the libraries: the fonts the window asks for by their substitutes. DejaVu draws every
# text; the IPA Gothic font draws the glyph rain's katakana, which without it fall back to
# whatever CJK font is there, or to boxes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "scanner of a simulated FM radio band
Kestrum shows a dial of 206 channels, 87.5 to 108.0 MHz, that sweeps
upward one channel at a time and wraps around. While the dial rests on one
of its thirty stations you hear the station from the point it has reached
on air, filtered like a small radio; every other channel hisses with
static and crackles. Nineteen stations are built in.
.
Echo and reverb switch, sliders set the sweep speed, volume and static,
and the sound goes to the default audio device or, from a button or the
command line, into a 16-bit mono WAV file.")
include(CPack)
