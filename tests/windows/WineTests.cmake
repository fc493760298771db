# Running the Windows build's tests under Wine (included by tests/ when
# cross-building). Every test needs the fixture "wine": the test windows.WinePrefixStart
# makes the build folder's scratch prefix afresh (wineboot) and keeps one
# wineserver running for the run; windows.WinePrefixStop stops it. Programs are started
# through wine-run (the toolchain file's emulator) without a display.
#
# A machine whose kernel cannot run 32-bit programs (no IA32 emulation) cannot
# run Wine's 32-bit loader: there the i686 tests report themselves skipped
# (exit code 77) rather than passed.
set(ZARVIK_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)

function(zarvik_wine_test test label)
  zarvik_label_needs("windows;${label}" ${ARGN})
  set_tests_properties(${test} PROPERTIES
    LABELS "windows;${label}"
    FIXTURES_REQUIRED wine
    ENVIRONMENT "ZARVIK_WINEPREFIX=${ZARVIK_WINEPREFIX}"
    SKIP_RETURN_CODE 77
    TIMEOUT 300)
endfunction()

# A GoogleTest program under Wine: the whole program is one test (listing its
# cases would start Wine at build time).
function(zarvik_gtest target label)
  cmake_parse_arguments(arg "" "TIMEOUT;DISCOVERY_TIMEOUT;TEST_FILTER" "LABELS;NEEDS" ${ARGN})
  add_test(NAME ${label}.${target} COMMAND ${target} --gtest_brief=1)
  zarvik_wine_test(${label}.${target} ${label} ${target} ${arg_NEEDS})
endfunction()
