# Cross-compiling for the Raspberry Pi (32-bit Raspberry Pi OS, armhf) on a Debian PC
# (`./ostrix setup cross` installs all of it):
#   dpkg --add-architecture armhf && apt-get update
#   apt-get install g++-arm-linux-gnueabihf qemu-user-static libpng-dev:armhf zlib1g-dev:armhf \
#       qtbase5-dev:armhf libgtest-dev:armhf libgmock-dev:armhf libbenchmark-dev:armhf
#   cmake -S . -B build-pi32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(OSTRIX_CROSS_TRIPLE arm-linux-gnueabihf)
set(OSTRIX_CROSS_PROCESSOR arm)
set(OSTRIX_CROSS_QEMU qemu-arm-static)
set(OSTRIX_DEB_ARCHITECTURE armhf)
include(${CMAKE_CURRENT_LIST_DIR}/Cross.cmake)
