# GoogleTest: the system package natively; for a cross build, from the source tree that Debian's
# googletest package installs, built with the same tool chain.
include(GoogleTest)
if(CMAKE_CROSSCOMPILING)
  set(GLOWSTEP_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GLOWSTEP_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

# glowstep_add_gtest(name SOURCES ... LIBS ...): one test program, its cases registered with
# ctest one by one.
function(glowstep_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main glowstep_warnings)
  # Discovery runs the test program; a cross-built one runs through the emulator (wine). The
  # label is the program's name, so ctest -L picks one program's cases.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 120 LABELS ${name})
endfunction()
