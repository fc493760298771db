# zarvik_system_runpath(FILE COMPONENT name): an install into /usr drops the
# RUNPATH of FILE (relative to the prefix): the libraries are then in the
# system's own folders, where a Debian package's programs find them without
# one. An install under any other prefix keeps it.
function(zarvik_system_runpath file)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT" "")
  if(WIN32)
    return()
  endif()
  install(CODE "if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
  file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\")
endif()" COMPONENT ${arg_COMPONENT})
endfunction()
