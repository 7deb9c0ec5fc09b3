# Cross-compiling for the Raspberry Pi (64-bit Raspberry Pi OS) on a Debian PC:
#   apt-get install g++-aarch64-linux-gnu
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install libpng-dev:arm64 zlib1g-dev:arm64 [qtbase5-dev:arm64 for the GUI]
#   cmake -S . -B build-pi -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DOSTRIX_BUILD_TESTS=OFF [-DOSTRIX_BUILD_GUI=OFF]
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(OSTRIX_CROSS_TRIPLE aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${OSTRIX_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${OSTRIX_CROSS_TRIPLE}-g++)

# Libraries and headers come from Debian's arm64 packages (multiarch), programs from the PC.
set(CMAKE_FIND_ROOT_PATH /usr/${OSTRIX_CROSS_TRIPLE} /usr/lib/${OSTRIX_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${OSTRIX_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
