# Cross build for Debian's arm64 with its multiarch toolchain and libraries
# (crossbuild-essential-arm64, the -dev packages as :arm64, pkgconf:arm64):
#   cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
# Test programs run under qemu-user, which finds the multiarch loader and C
# library where dpkg put them, so it needs no -L.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")
find_program(VB_QEMU qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VB_QEMU})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
