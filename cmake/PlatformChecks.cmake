# Probes of what this platform offers, gathered into one generated header.
include(CheckSymbolExists)
check_symbol_exists(eventfd "sys/eventfd.h" CORVANE_HAVE_EVENTFD)
check_symbol_exists(TIOCEXCL "sys/ioctl.h" CORVANE_HAVE_TIOCEXCL)
check_symbol_exists(B921600 "termios.h" CORVANE_HAVE_B921600)
check_symbol_exists(MSG_NOSIGNAL "sys/socket.h" CORVANE_HAVE_MSG_NOSIGNAL)
configure_file(${CMAKE_CURRENT_LIST_DIR}/CorvaneConfig.h.in ${CMAKE_BINARY_DIR}/generated/CorvaneConfig.h)
