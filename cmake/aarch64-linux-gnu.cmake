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

# The C library is the cross one, beside its loader: Debian's arm64 libc6, which libssl-dev:arm64
# (below) brings along, sits in /lib/aarch64-linux-gnu, where the loader would look first and find
# a C library of another build than itself (creating a thread then hangs).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu
    -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)

# OpenSSL: Debian's arm64 one (libssl-dev:arm64, a foreign-architecture package that scripts/deps
# installs), linked statically so that the programs and the package need no libssl3:arm64. Its
# libraries sit in /usr/lib/aarch64-linux-gnu; its headers in /usr/include/openssl (shared by all
# architectures) and /usr/include/aarch64-linux-gnu/openssl, both of which Debian's cross compiler
# searches by itself, after its own folders.
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(OPENSSL_INCLUDE_DIR /usr/include CACHE PATH "OpenSSL's headers (arm64 multiarch)")
set(OPENSSL_SSL_LIBRARY /usr/lib/aarch64-linux-gnu/libssl.a CACHE FILEPATH "arm64 libssl")
set(OPENSSL_CRYPTO_LIBRARY /usr/lib/aarch64-linux-gnu/libcrypto.a CACHE FILEPATH "arm64 libcrypto")
