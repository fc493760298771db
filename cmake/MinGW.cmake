# Cross-building for Windows with Debian's MinGW-w64 toolchains, the "posix"
# thread model (std::thread, std::mutex). Included by the toolchain files
# with ZARVIK_MINGW_TRIPLET and ZARVIK_WINE_LOADER set. What the build does
# differently on Windows: cmake/Windows.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZARVIK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZARVIK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZARVIK_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZARVIK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests (and GoogleTest's discovery) run the Windows programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run ${ZARVIK_WINE_LOADER})
