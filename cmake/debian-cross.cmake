# What the toolchain files share: Debian's multiarch cross toolchain for the
# triplet VB_TRIPLET (crossbuild-essential-ARCH, the -dev packages as :ARCH,
# pkgconf:ARCH), and qemu-user (VB_QEMU_NAME) to run test programs. qemu-user
# finds the multiarch loader and C library where dpkg put them, so no -L.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_LIBRARY_ARCHITECTURE ${VB_TRIPLET})
set(CMAKE_C_COMPILER ${VB_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VB_TRIPLET}-g++)
set(PKG_CONFIG_EXECUTABLE ${VB_TRIPLET}-pkg-config CACHE FILEPATH "pkg-config for ${VB_TRIPLET}")
find_program(VB_QEMU ${VB_QEMU_NAME} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VB_QEMU})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
