# The Debian package of the board build (./ostrix package): the programs in /usr/bin, the
# resources and default configuration under /usr/share/ostrix and /etc/ostrix, the
# systemd units. The units start the programs from /home/pi/Ostrix, which the package's
# postinst fills with links to the installed files (a board's own files there are kept).
include(GNUInstallDirs)
# Packing takes the programs as built: it does not build every target of the folder first
# (./ostrix package and the package test build what the package holds).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(OSTRIX_PACKAGE_PROGRAMS OstrixPi Ostrix_Gui qflashprog spiload ostrix-check)
foreach(program IN LISTS OSTRIX_PACKAGE_PROGRAMS)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/ DESTINATION share/ostrix/resources
    PATTERN "systemd" EXCLUDE
    PATTERN "debian" EXCLUDE
    PATTERN "ostrix.cfg" EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/resources/ostrix.cfg DESTINATION /etc/ostrix)
install(FILES ${CMAKE_SOURCE_DIR}/resources/systemd/ostrixpi.service
              ${CMAKE_SOURCE_DIR}/resources/systemd/ostrix-gui.service
    DESTINATION /lib/systemd/system)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/resources/systemd/wait-for-devices DESTINATION share/ostrix)
# /dev/i2c-1 exists only with the i2c-dev driver loaded; systemd loads it at every boot.
install(FILES ${CMAKE_SOURCE_DIR}/resources/debian/modules-load.conf DESTINATION /usr/lib/modules-load.d
    RENAME ostrix.conf)

# Debian wants the copyright and a compressed changelog beside every package.
set(OSTRIX_DEB_DIR ${CMAKE_BINARY_DIR}/debian-package)
file(MAKE_DIRECTORY ${OSTRIX_DEB_DIR})
configure_file(${CMAKE_SOURCE_DIR}/resources/debian/changelog ${OSTRIX_DEB_DIR}/changelog @ONLY)
find_program(OSTRIX_GZIP gzip REQUIRED)
execute_process(COMMAND ${OSTRIX_GZIP} -9nf ${OSTRIX_DEB_DIR}/changelog)
install(FILES ${OSTRIX_DEB_DIR}/changelog.gz ${CMAKE_SOURCE_DIR}/resources/debian/copyright
    DESTINATION share/doc/ostrix)
# Maintainer scripts must be executable; conffiles names what dpkg keeps on upgrade.
foreach(script postinst postrm)
    file(COPY ${CMAKE_SOURCE_DIR}/resources/debian/${script} DESTINATION ${OSTRIX_DEB_DIR}
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
file(WRITE ${OSTRIX_DEB_DIR}/conffiles "/etc/ostrix/ostrix.cfg\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ostrix developers <software@ostrix-microscope.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stereoscopic video microscope controller and overlay GUI")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "OstrixPi powers up and controls the microscope's camera board, display FPGA,\n\
HDMI devices, lights and audio codec from a Raspberry Pi; Ostrix_Gui draws the\n\
on-screen menu that the display FPGA mixes over the live picture. The service\n\
tools program the FPGA's configuration flash and load its warp tables.\n\
systemd units start both programs from /home/pi/Ostrix at boot.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${OSTRIX_DEB_DIR}/postinst ${OSTRIX_DEB_DIR}/postrm ${OSTRIX_DEB_DIR}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Programs the controller runs through the shell (sudo, mount, unzip, ...).
set(OSTRIX_RUNTIME_DEPENDS "sudo, mount, unzip")
if(CMAKE_CROSSCOMPILING)
    # dpkg-shlibdeps reads the host's package database; for another architecture the
    # libraries the programs link are named here.
    if(NOT OSTRIX_DEB_ARCHITECTURE)
        message(FATAL_ERROR "the toolchain file names no Debian architecture (OSTRIX_DEB_ARCHITECTURE)")
    endif()
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${OSTRIX_DEB_ARCHITECTURE})
    set(OSTRIX_LIBRARY_DEPENDS "libc6, libstdc++6, libgcc-s1, libpng16-16, zlib1g")
    if(TARGET Ostrix_Gui)
        string(APPEND OSTRIX_LIBRARY_DEPENDS ", libqt5core5a, libqt5gui5, libqt5widgets5")
    endif()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${OSTRIX_LIBRARY_DEPENDS}, ${OSTRIX_RUNTIME_DEPENDS}")
else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${OSTRIX_RUNTIME_DEPENDS}")
endif()
include(CPack)
