# Warnings for the project's own targets. Qt, GoogleTest and the system
# headers come in as system includes, so only our own files are judged.
#   QEL_WERROR=ON (scripts/setup.sh, CI): a new warning fails the build.
option(QEL_WERROR "Treat warnings in the project's own code as errors" OFF)

# qel_warnings(TARGET...): -Wall -Wextra -Wshadow on the targets' own sources.
# What moc generates is compiled without warnings; uic's headers are read
# from a system include folder (see package/CMakeLists.txt).
function(qel_warnings)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow)
    set_property(TARGET ${target} PROPERTY COMPILE_WARNING_AS_ERROR ${QEL_WERROR})
    get_target_property(autogen_dir ${target} AUTOGEN_BUILD_DIR)
    if(NOT autogen_dir)
      set(autogen_dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen)
    endif()
    set_source_files_properties(${autogen_dir}/mocs_compilation.cpp PROPERTIES COMPILE_OPTIONS -w)
  endforeach()
endfunction()
