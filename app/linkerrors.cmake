# The reasons shown in the status lines' tooltips: a library of its own so that the window and
# its test both link it. No Qt here; the serial layer tells serial lines from other devices. The
# reasons that depend on the platform's devices sit in linux/ or win32/.
if(WIN32)
    set(linkerrors_backend ${CMAKE_CURRENT_LIST_DIR}/win32/SerialReasons.cpp)
else()
    set(linkerrors_backend ${CMAKE_CURRENT_LIST_DIR}/linux/SerialReasons.cpp)
endif()
add_library(varnel_linkerrors STATIC ${CMAKE_CURRENT_LIST_DIR}/LinkErrors.cpp ${linkerrors_backend})
target_include_directories(varnel_linkerrors PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(varnel_linkerrors PUBLIC varnel_comm)
