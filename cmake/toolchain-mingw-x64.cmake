# 64-bit Windows, run under Wine's 64-bit build.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZARVIK_MINGW_TRIPLET x86_64-w64-mingw32)
set(ZARVIK_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
