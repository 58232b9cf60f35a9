# One test program per folder of code, run by CTest with a time limit.
if(CMAKE_CROSSCOMPILING)
    # The cross build compiles GoogleTest from Debian's source package (googletest) with its own
    # compiler; CTest runs the test programs through CMAKE_CROSSCOMPILING_EMULATOR.
    set(VARNEL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
    if(BUILD_TESTING)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
        add_subdirectory(${VARNEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
        # GoogleTest is not ours: its own warnings do not fail the build.
        foreach(target gtest gtest_main gmock gmock_main)
            target_compile_options(${target} PRIVATE -w)
        endforeach()
    endif()
else()
    find_package(GTest)
endif()

function(varnel_add_test name)
    cmake_parse_arguments(T "QT" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set(env "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp"
            "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
    if(T_QT)
        list(APPEND env "QT_QPA_PLATFORM=offscreen")
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
