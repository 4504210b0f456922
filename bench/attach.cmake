# Used by bench/run only while the root CMakeLists.txt has no QEL_BUILD_BENCH
# option (CMAKE_PROJECT_INCLUDE): adds bench/ right after the root project().
# bench/CMakeLists.txt finds its own packages; the module's targets it links
# are resolved when the build is generated.
if(NOT TARGET qelbench)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${CMAKE_BINARY_DIR}/bench)
endif()
