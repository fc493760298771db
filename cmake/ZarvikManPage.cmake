# zarvik_man_page(TARGET [ENV NAME=VALUE...]): the section-1 page of a tool,
# written when the tool is built from its hand-written template
# man/TARGET.1.in and the tool's own --help and its commands' (cmake/man-page.sh,
# run with the ENV settings, so that it describes the installed tool rather
# than the build tree), gzipped and installed with the tools. Skipped (with a
# warning) where the tool cannot run on the build machine.
#
# zarvik_man_page_file(FILE SECTION [COMPONENT c]): a hand-written page,
# gzipped and installed (with the tools unless another component is named).
find_program(ZARVIK_GZIP gzip)

function(zarvik_man_page target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" ENV)
  if(CMAKE_CROSSCOMPILING OR NOT ZARVIK_GZIP)
    message(WARNING "no man page for ${target}: gzip missing, or a cross build")
    return()
  endif()
  set(template ${PROJECT_SOURCE_DIR}/man/${target}.1.in)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env ${arg_ENV} bash ${PROJECT_SOURCE_DIR}/cmake/man-page.sh
            $<TARGET_FILE:${target}> ${target} ${PROJECT_VERSION} ${template} ${page}
    COMMAND ${ZARVIK_GZIP} -9nf ${page}
    DEPENDS ${target} ${template} ${PROJECT_SOURCE_DIR}/cmake/man-page.sh
    COMMENT "Man page of ${target}"
    VERBATIM)
  add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endfunction()

function(zarvik_man_page_file file section)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "COMPONENT" "")
  if(NOT arg_COMPONENT)
    set(arg_COMPONENT tools)
  endif()
  if(NOT ZARVIK_GZIP)
    return()
  endif()
  get_filename_component(name ${file} NAME)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${ZARVIK_GZIP} -9nc ${file} > ${page}
    DEPENDS ${file}
    COMMENT "Man page ${name}")
  add_custom_target(${name}-man ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${arg_COMPONENT})
endfunction()
