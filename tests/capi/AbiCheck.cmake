# cmake -DABIDIFF=... -DBASELINE=abi/libzarvik.abi -DLIBRARY=libzarvik.so.1 -P AbiCheck.cmake
# The built library's ABI against the checked-in baseline: any change
# (a function added or removed, a record's layout changed) fails until the
# baseline is regenerated on purpose with scripts/abi-baseline.
if(NOT ABIDIFF)
  message(FATAL_ERROR "no abidiff: scripts/install-deps test installs abigail-tools")
endif()
execute_process(COMMAND ${ABIDIFF} --no-default-suppression ${BASELINE} ${LIBRARY}
  OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the ABI of ${LIBRARY} differs from ${BASELINE} (abidiff ${rc}); "
                      "if that is meant, run scripts/abi-baseline and commit the result:\n${out}")
endif()
message("ABI as in the baseline")
