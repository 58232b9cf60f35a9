# OpenSSL 3 as the targets OpenSSL::SSL and OpenSSL::Crypto, for every build but that of the serial
# library alone (VARNEL_SERIAL_ONLY). Natively Debian's libssl-dev; the cross builds link it
# statically, from where their toolchain files point: the 64-bit ARM one Debian's
# libssl-dev:arm64, the Windows one what scripts/openssl-mingw builds.
if(VARNEL_SERIAL_ONLY)
    return()
endif()

if(WIN32 AND NOT VARNEL_OPENSSL_MINGW)
    message(FATAL_ERROR "The Windows build needs OpenSSL built for mingw-w64: run "
                        "scripts/openssl-mingw and configure with -DVARNEL_OPENSSL_MINGW=<the "
                        "folder it prints>")
endif()

find_package(OpenSSL 3 REQUIRED)

if(CMAKE_CROSSCOMPILING)
    # The static libraries of the target, never the host's.
    foreach(library ${OPENSSL_SSL_LIBRARY} ${OPENSSL_CRYPTO_LIBRARY})
        set(inside TRUE)
        if(WIN32)
            cmake_path(IS_PREFIX VARNEL_OPENSSL_MINGW "${library}" NORMALIZE inside)
        endif()
        if(NOT EXISTS "${library}" OR NOT library MATCHES "\\.a$" OR NOT inside)
            message(FATAL_ERROR "OpenSSL for the cross build: ${library} is not the static "
                                "library expected (run scripts/deps)")
        endif()
    endforeach()
endif()
if(WIN32)
    # What the static libraries call in Windows beyond ws2_32 and crypt32, which FindOpenSSL adds:
    # the event log and crypto providers (advapi32), the message box of a fatal error (user32).
    set_property(TARGET OpenSSL::Crypto APPEND PROPERTY INTERFACE_LINK_LIBRARIES advapi32 user32)
endif()
