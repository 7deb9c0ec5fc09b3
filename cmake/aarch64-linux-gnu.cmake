# Cross-compiling for the Raspberry Pi (64-bit Raspberry Pi OS) on a Debian PC
# (`./ostrix setup cross` installs all of it):
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install g++-aarch64-linux-gnu qemu-user-static libpng-dev:arm64 zlib1g-dev:arm64 \
#       qtbase5-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64 libbenchmark-dev:arm64
#   cmake -S . -B build-pi -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(OSTRIX_CROSS_TRIPLE aarch64-linux-gnu)
set(OSTRIX_CROSS_PROCESSOR aarch64)
set(OSTRIX_CROSS_QEMU qemu-aarch64-static)
set(OSTRIX_DEB_ARCHITECTURE arm64)
include(${CMAKE_CURRENT_LIST_DIR}/Cross.cmake)
