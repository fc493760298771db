# 32-bit Windows (the library's original platform), run under Wine's i386 build.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZARVIK_MINGW_TRIPLET i686-w64-mingw32)
set(ZARVIK_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
