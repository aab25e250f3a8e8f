# The Debian package: `cpack -G DEB` in a build folder. Its Depends come from dpkg-shlibdeps
# (dpkg-dev), which reads what the installed programs and libraries link; the private folder of
# the navigator's library is found through the programs' run path ($ORIGIN).
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Veltrask")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for power amplifiers and instruments (serial, TCP, GPIB)")
set(CPACK_PACKAGE_DESCRIPTION
  "Corvane drives power amplifiers and other instruments that speak line-oriented text over a
serial port, TCP, GPIB, VXI-11 or HiSLIP: a console window with command buttons and batch
scripts, corvane-batch to run batch scripts and Lua test scripts without a display, and ampsim,
a simulated amplifier.")
set(CORVANE_PACKAGE_MAINTAINER "Veltrask lab software <corvane@lab.veltrask.com>" CACHE STRING
  "The Debian package's Maintainer field")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CORVANE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
