# Probes of what this platform offers, gathered into one generated header. eventfd and MSG_NOSIGNAL
# are not probed: the connection layer needs both and every Linux has them.
include(CheckSymbolExists)
check_symbol_exists(TIOCEXCL "sys/ioctl.h" CORVANE_HAVE_TIOCEXCL)
check_symbol_exists(B921600 "termios.h" CORVANE_HAVE_B921600)
configure_file(${CMAKE_CURRENT_LIST_DIR}/CorvaneConfig.h.in ${CMAKE_BINARY_DIR}/generated/CorvaneConfig.h)
# The version in a header of its own, so that a new version rebuilds only the programs' entries.
configure_file(${CMAKE_CURRENT_LIST_DIR}/CorvaneVersion.h.in ${CMAKE_BINARY_DIR}/generated/CorvaneVersion.h)
