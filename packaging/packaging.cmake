# Debian packages: `cpack -G DEB` in a build directory gives two, each with its own copy of the
# shared libraries it needs under /usr/lib/<package>, so neither depends on the other:
#   acerto-server  the application server, its systemd unit, a system user and a data folder
#                  only that user can read (made by the postinst);
#   acerto         the desktop host, the screen module and its report, a desktop file and a
#                  settings file holding the server's address.
set(ACERTO_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

set_target_properties(acerto-server PROPERTIES INSTALL_RPATH "$ORIGIN/../lib/acerto-server")
set_target_properties(acerto_platform acerto_host qlm01200 PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS acerto-server RUNTIME DESTINATION bin COMPONENT server)
install(TARGETS acerto_platform LIBRARY DESTINATION lib/acerto-server COMPONENT server)
install(FILES ${ACERTO_PACKAGING_DIR}/acerto-server.service DESTINATION lib/systemd/system COMPONENT server)
install(FILES ${ACERTO_PACKAGING_DIR}/acerto-server.default DESTINATION /etc/default RENAME acerto-server
  COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/docs/deploy.md ${PROJECT_SOURCE_DIR}/docs/protocol.md
  DESTINATION share/doc/acerto-server COMPONENT server)

if(ACERTO_BUILD_GUI)
  set_target_properties(acerto PROPERTIES INSTALL_RPATH "$ORIGIN/../lib/acerto")
  install(TARGETS acerto RUNTIME DESTINATION bin COMPONENT desktop)
  install(TARGETS qlm01200 acerto_host acerto_platform LIBRARY DESTINATION lib/acerto COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/report/QLM012.json DESTINATION share/acerto/reports COMPONENT desktop)
  install(FILES ${ACERTO_PACKAGING_DIR}/desktop/acerto.desktop DESTINATION share/applications COMPONENT desktop)
  install(FILES ${ACERTO_PACKAGING_DIR}/desktop/acerto.json DESTINATION /etc/acerto COMPONENT desktop)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME acerto)
set(CPACK_PACKAGE_VENDOR "acerto")
set(CPACK_PACKAGE_CONTACT "acerto <acerto@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server)
if(ACERTO_BUILD_GUI)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${CMAKE_BINARY_DIR}/platform ${CMAKE_BINARY_DIR}/host ${CMAKE_BINARY_DIR}/settlement)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME acerto-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "passwd")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  "${ACERTO_PACKAGING_DIR}/server/postinst;${ACERTO_PACKAGING_DIR}/server/prerm;${ACERTO_PACKAGING_DIR}/server/postrm;${ACERTO_PACKAGING_DIR}/server/conffiles")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
  "Servidor de aplicação do Acerto Final (QLM01200.rdmAcertoFinal), sobre SQLite ou PostgreSQL.")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME acerto)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_CONTROL_EXTRA "${ACERTO_PACKAGING_DIR}/desktop/conffiles")
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
  "O sistema de eventos com a tela de Acerto Final; precisa apenas do endereço do servidor de aplicação.")

include(CPack)
