# Installation in the usual layout, and the Debian package cpack makes from it:
#   bin/kalidrome
#   lib/kalidrome/kalidrome-ui.so    the window part of the program, loaded by bin/kalidrome
#                                    when it runs as the instance (app/InstanceStart.h)
#   libexec/kalidrome/KDScreensaver  the companion screen saver
#   share/kalidrome/                 installation data (language files, overlay bitmaps),
#                                    the seed of each user's System folder
#   share/applications/              the launcher
#   share/metainfo/                  the AppStream description
#   share/icons/hicolor/*/apps/      the icon, SVG and PNG sizes
#   share/doc/kalidrome/             copyright and changelog, as Debian wants them
#   share/man/man1/kalidrome.1.gz    the manual page
# The program finds its data at "../share/kalidrome" from its own folder (see
# platform/SystemFolder.h), so the bin and data folders keep their usual names.
include(GNUInstallDirs)

# Installing (and cpack) takes what is built and does not first build everything, tests
# and benchmarks included: build, then install.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(KALIDROME_APP_ID io.github.kalidrome.Kalidrome)
set(KALIDROME_DESKTOP_DATA ${CMAKE_SOURCE_DIR}/data/desktop)

if(NOT CMAKE_INSTALL_BINDIR STREQUAL "bin" OR NOT CMAKE_INSTALL_DATADIR STREQUAL "share"
   OR NOT CMAKE_INSTALL_LIBEXECDIR STREQUAL "libexec")
  message(WARNING "Kalidrome looks for its installed data at ../share/kalidrome and ../libexec/kalidrome "
                  "beside its bin folder; CMAKE_INSTALL_BINDIR=${CMAKE_INSTALL_BINDIR}, "
                  "CMAKE_INSTALL_DATADIR=${CMAKE_INSTALL_DATADIR} and CMAKE_INSTALL_LIBEXECDIR=${CMAKE_INSTALL_LIBEXECDIR} "
                  "will leave a new user's System folder without language files or screen saver.")
endif()

install(TARGETS kalidrome RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The program looks for it at "../${CMAKE_INSTALL_LIBDIR}/kalidrome" from its own folder.
install(TARGETS kalidrome_window LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/kalidrome)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/System/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kalidrome)
# The companion screen saver, a program of its own: in libexec/kalidrome, from where each
# user's System folder gets it (see platform/SystemFolder.h).
install(TARGETS kalidrome_screensaver RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/kalidrome)

install(FILES ${KALIDROME_DESKTOP_DATA}/${KALIDROME_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KALIDROME_DESKTOP_DATA}/${KALIDROME_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KALIDROME_DESKTOP_DATA}/icons/kalidrome.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${KALIDROME_DESKTOP_DATA}/icons/kalidrome-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kalidrome.png)
endforeach()

# The manual page, compressed as Debian wants it (gzip -9n: no name, no time stamp).
set(KALIDROME_MAN_GZ ${CMAKE_BINARY_DIR}/kalidrome.1.gz)
add_custom_command(OUTPUT ${KALIDROME_MAN_GZ}
  COMMAND gzip -9nc ${KALIDROME_DESKTOP_DATA}/kalidrome.1 > ${KALIDROME_MAN_GZ}
  DEPENDS ${KALIDROME_DESKTOP_DATA}/kalidrome.1 VERBATIM)
install(FILES ${KALIDROME_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian wants the changelog compressed with gzip -9n (no name, no time stamp).
set(KALIDROME_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${KALIDROME_CHANGELOG_GZ}
  COMMAND gzip -9nc ${KALIDROME_DESKTOP_DATA}/changelog > ${KALIDROME_CHANGELOG_GZ}
  DEPENDS ${KALIDROME_DESKTOP_DATA}/changelog VERBATIM)
add_custom_target(kalidrome_install_docs ALL DEPENDS ${KALIDROME_CHANGELOG_GZ} ${KALIDROME_MAN_GZ})
install(FILES ${KALIDROME_DESKTOP_DATA}/copyright ${KALIDROME_CHANGELOG_GZ}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kalidrome)

# cpack -G DEB: a package for Debian 12 that lintian finds no error in.
set(CPACK_PACKAGE_NAME kalidrome)
set(CPACK_PACKAGE_VENDOR "The Kalidrome developers")
set(CPACK_PACKAGE_CONTACT "The Kalidrome developers <maintainers@users.noreply.c-seed-374fc19d.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "wallpaper cycler for the Linux desktop")
set(CPACK_PACKAGE_DESCRIPTION
    "Kalidrome keeps a list of pictures (JPEG, PNG, BMP) and changes the desktop\n\
wallpaper from it: on a countdown, on command and on calendar rules. It lives\n\
in the tray and hands the wallpaper to GNOME, Cinnamon, MATE, Xfce, KDE Plasma,\n\
LXQt, sway, Hyprland or a bare X server.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://kalidrome.github.io/")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The desktops' own tools that hand the wallpaper over are only suggested:
# each user needs only the one of their desktop. XScreenSaver runs the companion
# screen saver, for those who want it.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libglib2.0-bin, dconf-cli, xfconf, swaybg, xscreensaver")
# Qt's own Wayland platform: on a Wayland session the program is a Wayland client and learns
# the monitors from the compositor (without it, a session with no Xwayland has no window).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
