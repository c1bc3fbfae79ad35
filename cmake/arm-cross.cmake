# The part the 32-bit ARM toolchain files share: Debian's cross compiler for
# TAVO_ARM_TRIPLE, its sysroot, and qemu-arm to run what the build and the tests run.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER ${TAVO_ARM_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TAVO_ARM_TRIPLE}-g++)
set(CMAKE_C_FLAGS_INIT "${TAVO_ARM_FLAGS}")
# GCC notes that GCC 7.1 changed how some arguments are passed on ARM; everything here is
# built by one compiler, so the note only buries real warnings.
set(CMAKE_CXX_FLAGS_INIT "${TAVO_ARM_FLAGS} -Wno-psabi")

set(CMAKE_FIND_ROOT_PATH /usr/${TAVO_ARM_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm ${TAVO_ARM_QEMU_OPTIONS} -L /usr/${TAVO_ARM_TRIPLE})
