# 32-bit ARM hard-float calling convention with Debian's armhf cross compiler. Its
# defaults and its libraries are ARMv7-A (Thumb-2, VFPv3): this build checks the
# calling convention; armv6-toolchain.cmake checks the board's instruction set.
set(TAVO_ARM_TRIPLE arm-linux-gnueabihf)
set(TAVO_ARM_FLAGS "")
set(TAVO_ARM_QEMU_OPTIONS "")
set(TAVO_DEB_ARCHITECTURE armhf)
include(${CMAKE_CURRENT_LIST_DIR}/arm-cross.cmake)
