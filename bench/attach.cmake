# Used by bench/run only while the root CMakeLists.txt has no QEL_BUILD_BENCH
# option: adds bench/ after the root directory has been processed.
function(qel_attach_bench)
  if(NOT TARGET qelbench)
    add_subdirectory(${CMAKE_CURRENT_FUNCTION_LIST_DIR} ${CMAKE_BINARY_DIR}/bench)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qel_attach_bench)
