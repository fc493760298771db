# The Debian packages (`make package`, or the target debs in a build folder):
# scripts/build-debs makes one package per install component from
# `cmake --install --component` trees with dpkg-deb. (Not CPack: its DEB
# generator writes ldconfig maintainer scripts for every library under
# /usr/lib, where Debian wants a trigger, has no Multi-Arch field, and reads
# no shlibs of our own packages when it computes the tools' dependencies.)
if(NOT WIN32)
  add_custom_target(debs COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/build-debs ${PROJECT_BINARY_DIR} USES_TERMINAL
    COMMENT "Debian packages into ${PROJECT_BINARY_DIR}")
endif()
