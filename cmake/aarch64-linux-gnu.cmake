# Cross build for 64-bit ARM Linux with Debian's aarch64 tool chain. The programs run through
# qemu-user on Debian's own arm64 libraries (C, C++ and libudev, installed beside the host's by
# `scripts/install-deps arm64`), as on an ARM board: the tool chain's copy of the C library has no
# libudev, and mixing the two C libraries in one process does not work.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(GLOWSTEP_AARCH64_ROOT /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${GLOWSTEP_AARCH64_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The Linux HID backend opens libudev at run time and needs only its header, which is the same on
# every processor. The host's copy is used from a folder of its own: the host's whole include
# folder on the path would hide the ARM C library's headers.
if(EXISTS /usr/include/libudev.h AND NOT GLOWSTEP_LIBUDEV_INCLUDE_DIR)
  file(COPY /usr/include/libudev.h DESTINATION ${CMAKE_BINARY_DIR}/aarch64-include)
  set(GLOWSTEP_LIBUDEV_INCLUDE_DIR ${CMAKE_BINARY_DIR}/aarch64-include
      CACHE PATH "Folder with libudev.h for the ARM build")
endif()

find_program(GLOWSTEP_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${GLOWSTEP_QEMU_AARCH64})
