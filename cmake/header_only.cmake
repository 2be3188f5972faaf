# CLI11 and nlohmann-json, header-only, from the system's packages. A native build finds their
# CMake packages; a cross build (MinGW, ARM) uses the same headers, which are the same on every
# processor, from a folder of their own: the host's whole include folder on the path would hide
# the target's C library headers.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json 3.10 CONFIG REQUIRED)
  return()
endif()

set(glowstep_header_only_dir ${CMAKE_BINARY_DIR}/header-only-include)
foreach(folder CLI nlohmann)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/install-deps")
  endif()
  file(COPY /usr/include/${folder} DESTINATION ${glowstep_header_only_dir})
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${glowstep_header_only_dir})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${glowstep_header_only_dir})
