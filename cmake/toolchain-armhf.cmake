# Cross build for Debian's armhf with its multiarch toolchain and libraries
# (crossbuild-essential-armhf, the -dev packages as :armhf, pkgconf:armhf):
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
# Test programs run under qemu-user, which finds the multiarch loader and C
# library where dpkg put them, so it needs no -L.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(PKG_CONFIG_EXECUTABLE arm-linux-gnueabihf-pkg-config CACHE FILEPATH "pkg-config for armhf")
find_program(VB_QEMU qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VB_QEMU})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
