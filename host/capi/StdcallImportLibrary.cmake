# cmake -DNM=... -DDLLTOOL=... -DDLL=zarvik.dll -DIMPLIB=libzarvik.dll.a -DDEF=... -P StdcallImportLibrary.cmake
# 32-bit Windows: the DLL exports its __stdcall functions undecorated
# (--kill-at), but a caller compiled against the header asks for
# _zarvik_start@16. This rewrites the import library so that each decorated
# name imports the plain export, from the decorated names in the DLL's own
# symbol table.
execute_process(COMMAND ${NM} ${DLL} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "${NM} ${DLL} failed: ${rc}")
endif()
string(REGEX MATCHALL " T _zarvik_[a-z_0-9]+@[0-9]+" symbols "${out}")
if(NOT symbols)
  message(FATAL_ERROR "${DLL} has no decorated zarvik_ functions")
endif()
set(def "LIBRARY zarvik.dll\nEXPORTS\n")
foreach(symbol IN LISTS symbols)
  string(REGEX REPLACE "^ T _" "" name "${symbol}")
  string(APPEND def "  ${name}\n")
endforeach()
file(WRITE ${DEF} "${def}")
execute_process(COMMAND ${DLLTOOL} --kill-at --input-def ${DEF} --dllname zarvik.dll --output-lib ${IMPLIB}
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "${DLLTOOL} failed: ${rc}")
endif()
