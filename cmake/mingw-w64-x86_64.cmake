# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX threads), tested under Wine.
#   cmake -S . -B build/win64 -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
# Programs are linked statically, so they need no DLL beyond those of Windows itself. CTest runs
# the test programs through cmake/wine-run, which uses the Wine prefix in VARNEL_WINEPREFIX
# (scripts/wine-prefix makes it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)

# OpenSSL: Debian ships none for mingw-w64; scripts/openssl-mingw builds its static libraries once
# into a cache folder and prints it, given here as -DVARNEL_OPENSSL_MINGW=<folder>. The folder is
# one more root of the cross build's searches.
set(OPENSSL_USE_STATIC_LIBS TRUE)
if(VARNEL_OPENSSL_MINGW)
    list(APPEND CMAKE_FIND_ROOT_PATH ${VARNEL_OPENSSL_MINGW})
endif()
