# The board's instruction set, ARMv6 with VFPv2 and no Thumb-2, with Debian's armel
# cross compiler: softfp keeps armel's calling convention, whose libraries are built
# for an older core and so run on ARMv6. Programs run on qemu's ARM1176, an ARMv6 core.
set(TAVO_ARM_TRIPLE arm-linux-gnueabi)
set(TAVO_ARM_FLAGS "-march=armv6 -marm -mfpu=vfp -mfloat-abi=softfp")
set(TAVO_ARM_QEMU_OPTIONS -cpu arm1176)
set(TAVO_DEB_ARCHITECTURE armel)
set(TAVO_ARM_ARCH v6)
include(${CMAKE_CURRENT_LIST_DIR}/arm-cross.cmake)
