# glowstep_warnings: an interface target that every project target links PRIVATE.
add_library(glowstep_warnings INTERFACE)
target_compile_options(glowstep_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Woverloaded-virtual -Wold-style-cast -Wcast-align -Wnull-dereference)
# GCC 12 reports impossible overlaps inside std::basic_string when optimising (GCC bug 105329);
# the warning says nothing about this code.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(glowstep_warnings INTERFACE -Wno-restrict)
endif()
if(GLOWSTEP_WARNINGS_AS_ERRORS)
  target_compile_options(glowstep_warnings INTERFACE -Werror)
endif()
