# Installation of the programs, manual pages, desktop entry, icon and examples,
# and the Debian package built from them (`make package`: cpack -G DEB).
#
#   cmake --install build --prefix /usr/local
#   cd build && cpack -G DEB        -> vs32rx_1.4-1_<arch>.deb
include(GNUInstallDirs)

# Installing and packaging take what has been built (`make package` builds
# first); without this cpack would rebuild every test and benchmark first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VS32_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vs32rx)

# The programs that exist in this build (Vs32Rx needs Qt 6 Widgets).
set(VS32_INSTALLED_PROGRAMS)
foreach(program Vs32Rx Vs32RxC vs32decode vs32gen)
  if(TARGET ${program})
    list(APPEND VS32_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()
if(VS32_INSTALLED_PROGRAMS)
  install(TARGETS ${VS32_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Manual pages, one per program built. Debian wants them compressed with
# gzip -9n (no name or time stamp, so that two builds give the same bytes);
# they are compressed at configure time, and a change of a page re-runs it.
find_program(VS32_GZIP gzip)
set(VS32_MAN_BUILD_DIR ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${VS32_MAN_BUILD_DIR})
foreach(program ${VS32_INSTALLED_PROGRAMS})
  set(page ${CMAKE_SOURCE_DIR}/man/${program}.1)
  if(NOT EXISTS ${page})
    continue()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${page})
  if(VS32_GZIP)
    execute_process(COMMAND ${VS32_GZIP} -9 -n -c ${page}
                    OUTPUT_FILE ${VS32_MAN_BUILD_DIR}/${program}.1.gz
                    RESULT_VARIABLE gzip_result)
    if(gzip_result EQUAL 0)
      install(FILES ${VS32_MAN_BUILD_DIR}/${program}.1.gz
              DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
      continue()
    endif()
  endif()
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The windowed program's menu entry and icon.
if(TARGET Vs32Rx)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/vs32rx.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/vs32rx.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The console receiver as a systemd user service. With libsystemd it tells
# systemd when it is ready and pings the watchdog while audio comes in.
if(TARGET Vs32RxC)
  if(SYSTEMD_FOUND)
    set(VS32_SERVICE_TYPE notify)
    set(VS32_SERVICE_WATCHDOG "# Restarted when no audio has come for this long.\nWatchdogSec=300")
  else()
    set(VS32_SERVICE_TYPE simple)
    set(VS32_SERVICE_WATCHDOG "")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/packaging/vs32rxc.service.in
                 ${CMAKE_BINARY_DIR}/packaging/vs32rxc.service @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/vs32rxc.service DESTINATION lib/systemd/user)
endif()

# The user guide and the station folder example its quick start copies.
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${VS32_DOC_DIR})
if(EXISTS ${CMAKE_SOURCE_DIR}/docs/screenshot.png)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/screenshot.png DESTINATION ${VS32_DOC_DIR}/docs)
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${VS32_DOC_DIR}/examples
        FILES_MATCHING PATTERN "*.txt" PATTERN "*.INI")

# ---- Debian package --------------------------------------------------------
set(CPACK_PACKAGE_NAME vs32rx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vesta-32 receiver project")
set(CPACK_PACKAGE_CONTACT "Vesta-32 receiver project <vs32rx@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "receiver and decoder for Vesta-32 LF callsign beacons")
# The extended description; cpack indents it and marks the empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vesta-32 is a very slow on/off-keyed callsign beacon mode for the amateur
low-frequency band (136 kHz). The receiver listens to a radio's audio through
a sound card, watches a 100 Hz band in 1230 channels and decodes the
32-minute frames, logging each decode with distance, Eb/No and SNR and
optionally uploading it as a spot.

Programs: Vs32Rx (windowed), Vs32RxC (console), vs32decode (batch decoder
for recordings) and vs32gen (test recordings and frames).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)

# Runtime dependencies: dpkg-shlibdeps (dpkg-dev) derives them, with versions,
# from the libraries the programs link; without it they are named here.
find_program(VS32_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VS32_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(vs32_depends "libc6, libstdc++6, libgcc-s1, libportaudio2")
  if(ALSA_FOUND)
    string(APPEND vs32_depends ", libasound2")
  endif()
  if(TARGET Vs32Rx)
    string(APPEND vs32_depends ", libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2)")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS ${vs32_depends})
endif()
# The window's X11 platform plugin comes with libqt6gui6 on Debian 12, which
# libqt6widgets6 pulls in.

set(CPACK_GENERATOR DEB)
include(CPack)
