# What the Windows build (cmake/MinGW.cmake, presets windows-i686 and
# windows-x64) does differently: every program and DLL lands in one folder
# (bin/) beside the toolchain's runtime DLLs, so that ZarvikTrk.dll, the host
# and the tests share one C++ runtime (an exception raised in the DLL is
# caught in the executable); GoogleTest is built from Debian's sources for
# this toolchain; the header-only libraries come from the build machine.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# The installed tree's programs and DLLs are stripped (the build tree keeps
# its line tables); this is the installation's first rule, so it holds for
# every target installed after it.
install(CODE "set(CMAKE_INSTALL_DO_STRIP TRUE)" ALL_COMPONENTS)
# Version resources (windres): cmake/VersionResource.cmake.
enable_language(RC)
add_link_options(-shared-libgcc)

# The runtime DLLs of the toolchain, shipped beside the executables.
set(ZARVIK_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_dw2-1.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${found}" AND EXISTS "${found}")
    list(APPEND ZARVIK_RUNTIME_DLLS ${found})
  elseif(EXISTS /usr/${ZARVIK_MINGW_TRIPLET}/lib/${dll})
    list(APPEND ZARVIK_RUNTIME_DLLS /usr/${ZARVIK_MINGW_TRIPLET}/lib/${dll})
  endif()
endforeach()
list(LENGTH ZARVIK_RUNTIME_DLLS count)
if(NOT count EQUAL 3)
  message(FATAL_ERROR "the toolchain's runtime DLLs are not all there: ${ZARVIK_RUNTIME_DLLS}")
endif()
include(GNUInstallDirs)
file(COPY ${ZARVIK_RUNTIME_DLLS} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
install(FILES ${ZARVIK_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT driver)
# Debian builds them with debug information: stripped as ours are.
foreach(dll IN LISTS ZARVIK_RUNTIME_DLLS)
  get_filename_component(name ${dll} NAME)
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\" COMMAND_ERROR_IS_FATAL ANY)"
          COMPONENT driver)
endforeach()

# GoogleTest for this toolchain, from the googletest package's sources, with
# its own warnings settings (it is built before ours are added).
if(ZARVIK_BUILD_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Built for the tests, not debugged here: no debug information (a third of
  # the Windows phase's compile time went into GoogleTest's).
  target_compile_options(gtest PRIVATE -g0)
  target_compile_options(gtest_main PRIVATE -g0)
  # (It names its targets GTest::gtest and GTest::gtest_main itself.)
endif()

# CLI11, nlohmann/json, spdlog and fmt: the build machine's headers,
# through a folder of their own (never the whole of /usr/include).
set(hostHeaders ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${hostHeaders})
foreach(dir CLI nlohmann spdlog fmt)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing (scripts/install-deps installs it)")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${hostHeaders}/${dir} SYMBOLIC)
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${hostHeaders})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${hostHeaders})
# spdlog and fmt header-only (Debian builds their libraries for Linux only).
add_library(spdlog::spdlog INTERFACE IMPORTED)
target_include_directories(spdlog::spdlog SYSTEM INTERFACE ${hostHeaders})
target_compile_definitions(spdlog::spdlog INTERFACE SPDLOG_HEADER_ONLY FMT_HEADER_ONLY)
set(CLI11_FOUND TRUE)
set(nlohmann_json_FOUND TRUE)

# zarvik_stdcall_import_library(TARGET PATTERN): on 32-bit Windows, makes the
# import library of a DLL linked with --kill-at reach its plain exports from
# the decorated names its header's __stdcall declarations ask for
# (cmake/StdcallImportLibrary.cmake). PATTERN: a regex of the function names.
function(zarvik_stdcall_import_library target pattern)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DDLL=$<TARGET_FILE:${target}>
            -DIMPLIB=$<TARGET_LINKER_FILE:${target}> -DDEF=${CMAKE_CURRENT_BINARY_DIR}/${target}-stdcall.def
            "-DPATTERN=${pattern}" -P ${PROJECT_SOURCE_DIR}/cmake/StdcallImportLibrary.cmake
    VERBATIM)
endfunction()
