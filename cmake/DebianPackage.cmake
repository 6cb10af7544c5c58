# The manual pages and the package's documentation, installed by `cmake --install` too, and the
# Debian package of every install rule (scripts/package): one list of what is installed, with the
# runtime dependencies read by dpkg-shlibdeps from the libraries actually linked.

set(ORVEL_MAINTAINER "The Orvel developers <developers@orvel.org>")
set(ORVEL_LIBEXEC "${CMAKE_INSTALL_FULL_LIBEXECDIR}/orvel")
execute_process(COMMAND date -u -R -d "${ORVEL_RELEASE_DATE} 12:00"
    OUTPUT_VARIABLE ORVEL_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)

# Each file configured with the version and paths of this build, then compressed as Debian wants
# (gzip -9, without a time stamp, so that the package builds the same twice).
set(orvel_compressed)
function(orvel_gzipped source name destination)
    set(configured ${PROJECT_BINARY_DIR}/doc/${name})
    configure_file(${source} ${configured} @ONLY)
    add_custom_command(OUTPUT ${configured}.gz
        COMMAND gzip -9 -n -f -k ${configured}
        DEPENDS ${configured}
        VERBATIM)
    install(FILES ${configured}.gz DESTINATION ${destination})
    set(orvel_compressed ${orvel_compressed} ${configured}.gz PARENT_SCOPE)
endfunction()
orvel_gzipped(${PROJECT_SOURCE_DIR}/resources/man/Orvel.1 Orvel.1 ${CMAKE_INSTALL_MANDIR}/man1)
# Another package may own caffeinate.1; this section's suffix keeps Orvel's apart, and
# `man caffeinate` still finds it.
orvel_gzipped(${PROJECT_SOURCE_DIR}/resources/man/caffeinate.1 caffeinate.1orvel
    ${CMAKE_INSTALL_MANDIR}/man1)
orvel_gzipped(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in changelog
    ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvel)
add_custom_target(orvel_documents ALL DEPENDS ${orvel_compressed})
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvel)
set(CPACK_PACKAGE_VENDOR "The Orvel developers")
set(CPACK_PACKAGE_CONTACT "${ORVEL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps the computer awake for as long as you ask")
set(CPACK_PACKAGE_DESCRIPTION "A tray program that keeps the display or the system from sleeping
while a session runs: for a chosen time, until an application quits, or by
rules (a Bluetooth device, a network, an application, a schedule, the power
source).")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs Orvel runs, beside the libraries dpkg-shlibdeps adds. Needed: Qt's Wayland plugin
# (without it no native Wayland client) and xdg-open (every address and file Orvel opens).
# Recommended, each for one feature that says why where it is missing: xset (sleeping X11's
# displays, greyed out without it), gio (mounting a dropped share again), pkexec (asking for an
# administrator to turn on the wake helper or the input rule) and systemctl (the wake helper).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "x11-xserver-utils, libglib2.0-bin, pkexec, systemd")
# Only for what a user enabled or allowed while it was installed; see the scripts.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/resources/debian/postinst
    ${PROJECT_SOURCE_DIR}/resources/debian/prerm
    ${PROJECT_SOURCE_DIR}/resources/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
