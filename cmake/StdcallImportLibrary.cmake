# cmake -DNM=... -DDLLTOOL=... -DDLL=X.dll -DIMPLIB=libX.dll.a -DDEF=X.def -DPATTERN=regex -P StdcallImportLibrary.cmake
# 32-bit Windows: a DLL linked with --kill-at exports its __stdcall functions
# under their plain names, and the linker's import library then offers only
# those, while a caller compiled against the header asks for the decorated
# name ("_GetVM30@12"). This rewrites the import library so that each
# decorated name imports the plain export. The names are the DLL's own
# decorated symbols that match PATTERN (without the leading underscore).
execute_process(COMMAND ${NM} ${DLL} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "${NM} ${DLL} failed: ${rc}")
endif()
string(REGEX MATCHALL " T _(${PATTERN})@[0-9]+" symbols "${out}")
if(NOT symbols)
  message(FATAL_ERROR "${DLL} has no decorated functions matching ${PATTERN}")
endif()
get_filename_component(dll_name ${DLL} NAME)
set(def "LIBRARY ${dll_name}\nEXPORTS\n")
foreach(symbol IN LISTS symbols)
  string(REGEX REPLACE "^ T _" "" name "${symbol}")
  string(APPEND def "  ${name}\n")
endforeach()
file(WRITE ${DEF} "${def}")
execute_process(COMMAND ${DLLTOOL} --kill-at --input-def ${DEF} --dllname ${dll_name} --output-lib ${IMPLIB}
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "${DLLTOOL} failed: ${rc}")
endif()
