# Shared part of the toolchain files for the Raspberry Pi: the caller sets OSTRIX_CROSS_TRIPLE,
# OSTRIX_CROSS_PROCESSOR and OSTRIX_CROSS_QEMU. Debian keeps every architecture's libraries,
# headers and CMake package files side by side (multiarch: /usr/lib/<triple>,
# /usr/include/<triple>), so the sysroot is the PC's own "/" and CMake only has to be told
# which architecture folder to look in.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${OSTRIX_CROSS_PROCESSOR})

set(CMAKE_C_COMPILER ${OSTRIX_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${OSTRIX_CROSS_TRIPLE}-g++)

# find_library and find_package look in /usr/lib/<triple> (and /usr/lib/<triple>/cmake/<Pkg>);
# without it Qt 5, GTest and benchmark are never found.
set(CMAKE_LIBRARY_ARCHITECTURE ${OSTRIX_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH / /usr/${OSTRIX_CROSS_TRIPLE})
set(CMAKE_PREFIX_PATH /usr/lib/${OSTRIX_CROSS_TRIPLE}/cmake)
# Programs (moc, rcc, uic, gzip, python3) come from the PC; Qt's package files of the target
# architecture name the PC's /usr/lib/qt5/bin tools, which run on the PC.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${OSTRIX_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The target's programs run on the PC under user-mode emulation: ctest, the test discovery of
# gtest_discover_tests and custom commands that run a program built here. "-L /" makes the
# emulator take the dynamic loader and libraries from the PC's multiarch folders.
find_program(OSTRIX_CROSS_QEMU_PROGRAM ${OSTRIX_CROSS_QEMU})
if(OSTRIX_CROSS_QEMU_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTRIX_CROSS_QEMU_PROGRAM} -L /)
endif()
