# zarvik_version_resource(TARGET DESCRIPTION): on Windows, gives the program
# or DLL TARGET a version resource with the project's version, its file name
# and DESCRIPTION (plain ASCII, no quotes); elsewhere does nothing.
# ZarvikTrk.dll has a fixed resource of its own (lib/library/ZarvikTrk.rc).
function(zarvik_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(ZARVIK_RC_FILETYPE VFT_APP)
  else()
    set(ZARVIK_RC_FILETYPE VFT_DLL)
  endif()
  set(ZARVIK_RC_DESCRIPTION "${description}")
  set(ZARVIK_RC_TARGET ${target})
  set(ZARVIK_RC_FILE "$<TARGET_FILE_NAME:${target}>")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version)
  configure_file(${ZARVIK_VERSION_RESOURCE_TEMPLATE} ${rc}.rc.in @ONLY)
  file(GENERATE OUTPUT ${rc}.rc INPUT ${rc}.rc.in)
  target_sources(${target} PRIVATE ${rc}.rc)
endfunction()
set(ZARVIK_VERSION_RESOURCE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/VersionResource.rc.in)
