# Installation rules and the Debian package (cpack -G DEB in the build directory).
include(GNUInstallDirs)

set(TARVEX_LOG_RETENTION_DAYS 90 CACHE STRING "Days the daily log files are kept")
set(TARVEX_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TARVEX_GENERATED_DIR ${CMAKE_BINARY_DIR}/packaging)
set(TARVEX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tarvex)

configure_file(${TARVEX_PACKAGING_DIR}/tarvex-tmpfiles.conf.in
               ${TARVEX_GENERATED_DIR}/tarvex-tmpfiles.conf @ONLY)
configure_file(${TARVEX_PACKAGING_DIR}/Tarvex.8 ${TARVEX_GENERATED_DIR}/Tarvex.8 @ONLY)
configure_file(${TARVEX_PACKAGING_DIR}/changelog.in ${TARVEX_GENERATED_DIR}/changelog @ONLY)

# One bridge per PBX, tarvex-amibridge@<name> with /etc/tarvex/amibridge-<name>.conf:
# made from the single bridge's unit, so that both keep one sandbox.
set(bridge_unit_file ${TARVEX_PACKAGING_DIR}/tarvex-amibridge.service)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${bridge_unit_file})
file(READ ${bridge_unit_file} bridge_unit)
foreach(change "Description=Tarvex PBX bridge:|Description=Tarvex PBX bridge %i:"
               "/etc/tarvex/amibridge.conf|/etc/tarvex/amibridge-%i.conf")
  string(REPLACE "|" ";" change "${change}")
  list(GET change 0 from)
  list(GET change 1 to)
  string(FIND "${bridge_unit}" "${from}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${bridge_unit_file} has no \"${from}\" to make the template unit from")
  endif()
  string(REPLACE "${from}" "${to}" bridge_unit "${bridge_unit}")
endforeach()
file(CONFIGURE OUTPUT ${TARVEX_GENERATED_DIR}/tarvex-amibridge@.service CONTENT "${bridge_unit}" @ONLY)

# Debian wants manual pages and changelogs compressed, reproducibly.
find_program(GZIP_PROGRAM gzip REQUIRED)
foreach(text Tarvex.8 changelog)
  add_custom_command(OUTPUT ${TARVEX_GENERATED_DIR}/${text}.gz
                     COMMAND ${GZIP_PROGRAM} -9nkf ${TARVEX_GENERATED_DIR}/${text}
                     DEPENDS ${TARVEX_GENERATED_DIR}/${text})
  list(APPEND TARVEX_COMPRESSED_TEXTS ${TARVEX_GENERATED_DIR}/${text}.gz)
endforeach()
add_custom_target(tarvex_packaging_texts ALL DEPENDS ${TARVEX_COMPRESSED_TEXTS})

install(TARGETS Tarvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(tool telsim extclient ldkclient tarvex-amibridge tarvex-events)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(FILES ${TARVEX_PACKAGING_DIR}/tarvex.service ${TARVEX_PACKAGING_DIR}/tarvex-amibridge.service
              ${TARVEX_GENERATED_DIR}/tarvex-amibridge@.service
        DESTINATION /lib/systemd/system)
install(FILES ${TARVEX_GENERATED_DIR}/tarvex-tmpfiles.conf
        DESTINATION lib/tmpfiles.d RENAME tarvex.conf)
install(FILES ${TARVEX_PACKAGING_DIR}/tarvex.conf DESTINATION /etc/tarvex
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
install(FILES ${TARVEX_PACKAGING_DIR}/tarvex.env DESTINATION /etc/tarvex
        PERMISSIONS OWNER_READ OWNER_WRITE)
# The bridge's settings hold the manager interface's secret.
install(FILES ${TARVEX_PACKAGING_DIR}/amibridge.conf DESTINATION /etc/tarvex
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)

install(FILES ${TARVEX_GENERATED_DIR}/Tarvex.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/core/db/sql/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex/sql
        FILES_MATCHING PATTERN "*.sql")
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${TARVEX_PACKAGING_DIR}/copyright
              ${TARVEX_GENERATED_DIR}/changelog.gz
        DESTINATION ${TARVEX_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${TARVEX_DOC_DIR}
        FILES_MATCHING PATTERN "*.md")
install(FILES ${TARVEX_PACKAGING_DIR}/tarvex-ip-allow.conf DESTINATION ${TARVEX_DOC_DIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarvex developers <tarvex@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "caller-ID relay between a telephony server and call-centre desktops
Tarvex signs up to 60 telephone accounts in to the call centre's telephony
server and relays a notice of every incoming call to the agents' desktop
programs (extension clients on port 8688, LDK505 clients on port 5100). It
keeps daily call logs and records incoming calls in a database over ODBC.

The package holds the relay with its systemd service, the bridge
tarvex-amibridge that feeds the relay a PBX's calls over the Asterisk Manager
Interface (with a service of its own), tarvex-events that prints the call
events the relay publishes to a RabbitMQ broker, the telephony server
simulator telsim and the sample clients extclient and ldkclient.")
# The libraries the binaries link, as dpkg-shlibdeps finds them, and what the scripts use.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, unixodbc")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "odbc-postgresql | tdsodbc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${TARVEX_PACKAGING_DIR}/conffiles ${TARVEX_PACKAGING_DIR}/postinst ${TARVEX_PACKAGING_DIR}/prerm
    ${TARVEX_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
