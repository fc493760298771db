# The Debian package (`make package`, or cpack -G DEB in a build folder):
# everything `cmake --install` installs, under /usr. The runtime
# dependencies come from dpkg-shlibdeps over the library and the tools, plus
# what they load at run time: the windows' font.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zarvik-trk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZarvikTrk")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fuel-dispenser driver library with its serial port service and station tools")
set(CPACK_PACKAGE_DESCRIPTION
    "libZarvikTrk drives fuel dispensers over serial lines and brings its parameter programming window. \
libzarvik-port is the serial port service a host can give it (C++, same compiler and standard library). \
zarvik-host is the reference host (command line and station window), zarvik-sim a dispenser simulator.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZarvikTrk developers <zarvik-trk@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tshark")
include(CPack)
