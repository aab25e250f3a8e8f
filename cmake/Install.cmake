# What `cmake --install` puts where (GNUInstallDirs). The programs go to bin; the GPIB simulator
# and the navigator's library to a folder of their own below lib, which the programs carry as
# their run path: the navigator's library is linked, and the GPIB driver lookup, after the
# program's own folder, asks the system's library search, which reads the caller's run path.
set(CORVANE_INSTALL_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/corvane)
set(CORVANE_INSTALL_SHAREDIR ${CMAKE_INSTALL_DATADIR}/corvane)
set(CORVANE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvane)
file(RELATIVE_PATH private_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${CORVANE_INSTALL_PRIVATE_LIBDIR})

set(installed_programs corvane-batch ampsim)
if(CORVANE_WITH_QT)
  list(APPEND installed_programs corvane)
endif()
set_target_properties(${installed_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/${private_from_bin}")
install(TARGETS ${installed_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS GpibSimulator LIBRARY DESTINATION ${CORVANE_INSTALL_PRIVATE_LIBDIR})
if(CORVANE_WITH_QT)
  install(TARGETS corvane_projects LIBRARY DESTINATION ${CORVANE_INSTALL_PRIVATE_LIBDIR})
  install(FILES data/corvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/corvane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

foreach(page corvane corvane-batch)
  configure_file(data/man/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(FILES src/text/Bookmarks.txt DESTINATION ${CORVANE_INSTALL_SHAREDIR})
install(DIRECTORY examples/ DESTINATION ${CORVANE_INSTALL_SHAREDIR}/examples)
install(DIRECTORY data/help/ DESTINATION ${CORVANE_INSTALL_SHAREDIR}/help)
install(FILES README.md DESTINATION ${CORVANE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CORVANE_INSTALL_DOCDIR}/docs)
