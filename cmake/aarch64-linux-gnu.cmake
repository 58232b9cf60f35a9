# Cross build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu: the program without a
# window and the tests of the layers below it (no Qt for ARM here), configured with
# -DVARNEL_HEADLESS_ONLY=ON.
#   cmake -S . -B build/arm64 -G Ninja --toolchain cmake/aarch64-linux-gnu.cmake -DVARNEL_HEADLESS_ONLY=ON
# CTest runs the test programs under qemu-user with the cross libraries as the root of their
# libraries; GoogleTest is built from Debian's source package (googletest).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
