# The reasons shown in the status lines' tooltips: a library of its own so that the window and
# its test both link it. No Qt here.
add_library(varnel_linkerrors STATIC ${CMAKE_CURRENT_LIST_DIR}/LinkErrors.cpp)
target_include_directories(varnel_linkerrors PUBLIC ${PROJECT_SOURCE_DIR})
