# Cross build for 64-bit Windows with MinGW-w64 (POSIX threads), run through wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# One self-contained program per test: no MinGW run-time DLLs to find under wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Every program the build runs (test discovery, ctest) runs under wine in the build tree's own
# prefix, made on first use.
find_program(GLOWSTEP_WINE wine REQUIRED)
set(GLOWSTEP_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${GLOWSTEP_WINE_PREFIX})
