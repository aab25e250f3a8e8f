# Where a program finds its files, relative to its own folder: the same in the build tree (bin/
# beside share/) and under any install prefix. The help texts and the sample bookmarks are copied
# into the build tree so that a program run from build/bin finds them as an installed one does.
include(GNUInstallDirs)
file(RELATIVE_PATH CORVANE_DATA_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/corvane)
# The private library folder (the GPIB simulator): a program also looks there itself, as a loader
# wrapped by a sanitizer does not follow the program's run path.
file(RELATIVE_PATH CORVANE_LIB_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/corvane)
file(RELATIVE_PATH CORVANE_DOC_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_FULL_DATAROOTDIR}/doc/corvane)
configure_file(${CMAKE_CURRENT_LIST_DIR}/CorvaneInstallDirs.h.in ${CMAKE_BINARY_DIR}/generated/CorvaneInstallDirs.h)
foreach(text batch-language.txt keyboard.txt)
  configure_file(${PROJECT_SOURCE_DIR}/data/help/${text}
    ${CMAKE_BINARY_DIR}/bin/${CORVANE_DATA_FROM_BIN}/help/${text} COPYONLY)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/src/text/Bookmarks.txt
  ${CMAKE_BINARY_DIR}/bin/${CORVANE_DATA_FROM_BIN}/Bookmarks.txt COPYONLY)
