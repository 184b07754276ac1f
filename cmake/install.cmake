# What `cmake --install` puts where (the Debian packages split the same tree):
#   bin/                                the programs
#   <libdir>/veldrane/                  the driver, the framework and class libraries and the
#                                       configuration window, which the driver finds beside itself
#   <libdir>/veldrane/host/             the reference host's run-time modules
#   include/veldrane/, <libdir>/pkgconfig/veldrane.pc   the SDK
#   share/man/, share/bash-completion/completions/, share/doc/veldrane/examples/
# Components: runtime (no Qt), window (the window module and the tag browser that need Qt) and
# sdk.
set(VELDRANE_INSTALL_HOSTDIR ${VELDRANE_INSTALL_LIBDIR}/host)

install(TARGETS veldrane-host veldrane-meter veldrane-cfg
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(TARGETS Veldrane fw TarkoSub
  LIBRARY DESTINATION ${VELDRANE_INSTALL_LIBDIR} COMPONENT runtime)
install(TARGETS TarkoDbm TarkoRt TarkoEd
  LIBRARY DESTINATION ${VELDRANE_INSTALL_HOSTDIR} COMPONENT runtime)
if(VELDRANE_UI)
  install(TARGETS VeldraneWindow
    LIBRARY DESTINATION ${VELDRANE_INSTALL_LIBDIR} COMPONENT window)
  install(TARGETS veldrane-clipkeeper
    RUNTIME DESTINATION ${VELDRANE_INSTALL_LIBDIR} COMPONENT window)
  install(TARGETS TarkoTg LIBRARY DESTINATION ${VELDRANE_INSTALL_HOSTDIR} COMPONENT window)
else()
  install(TARGETS TarkoTg LIBRARY DESTINATION ${VELDRANE_INSTALL_HOSTDIR} COMPONENT runtime)
endif()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/sdk/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veldrane COMPONENT sdk FILES_MATCHING PATTERN "*.h")
configure_file(${CMAKE_SOURCE_DIR}/cmake/veldrane.pc.in ${CMAKE_BINARY_DIR}/veldrane.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/veldrane.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT sdk)

install(FILES docs/man/veldrane-host.1 docs/man/veldrane-meter.1 docs/man/veldrane-cfg.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES docs/man/veldrane.7 DESTINATION ${CMAKE_INSTALL_MANDIR}/man7 COMPONENT runtime)
# One completion script serves the three programs; bash loads it by the program's name.
foreach(program veldrane-host veldrane-meter veldrane-cfg)
  install(FILES docs/completion/veldrane RENAME ${program}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT runtime)
endforeach()
install(FILES examples/demo.cfg examples/demo-stations.txt examples/line1.options
  examples/70-veldrane-ports.rules
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/veldrane/examples COMPONENT runtime)
