# zarvik_man_page(TARGET SUMMARY [ENV NAME=VALUE...]): section-1 man page of
# a tool, made by help2man from the tool's --help when the tool is built (run
# with the ENV settings, so that it describes the installed tool rather than
# the build tree), gzipped and installed. Skipped (with a warning) where the
# tool cannot run on the build machine or help2man is missing.
find_program(ZARVIK_HELP2MAN help2man)
find_program(ZARVIK_GZIP gzip)

function(zarvik_man_page target summary)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" ENV)
  if(CMAKE_CROSSCOMPILING OR NOT ZARVIK_HELP2MAN OR NOT ZARVIK_GZIP)
    message(WARNING "no man page for ${target}: help2man or gzip missing, or a cross build")
    return()
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env ${arg_ENV} ${ZARVIK_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
            --name=${summary} --output=${page} $<TARGET_FILE:${target}>
    COMMAND ${ZARVIK_GZIP} -9nf ${page}
    DEPENDS ${target}
    COMMENT "Man page of ${target}"
    VERBATIM)
  add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
