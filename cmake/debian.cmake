# The Debian package eventlog: the programs, the service's unit, environment and tmpfiles rule,
# the sample settings as the operator's conffile, and the documentation; built with CPack's DEB
# generator (packaging/debian/build-deb.sh), its Depends computed by dpkg-shlibdeps.
if(WIN32)
  return()
endif()

set(EVENTLOG_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
# CPack installs what the target deb has built, without building everything else first (the test
# suite among it).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(EVENTLOG_PACKAGED_PROGRAMS EventLog eventcreate pagegateway eventlog-service)
if(TARGET eventlog-check)
  list(APPEND EVENTLOG_PACKAGED_PROGRAMS eventlog-check)
endif()
install(TARGETS ${EVENTLOG_PACKAGED_PROGRAMS} DESTINATION usr/bin)
install(FILES ${EVENTLOG_DEBIAN_DIR}/eventlog.service ${EVENTLOG_DEBIAN_DIR}/eventlog@.service
        DESTINATION lib/systemd/system)
install(FILES ${EVENTLOG_DEBIAN_DIR}/eventlog.default DESTINATION etc/default RENAME eventlog)
install(FILES ${EVENTLOG_DEBIAN_DIR}/eventlog.tmpfiles DESTINATION usr/lib/tmpfiles.d
        RENAME eventlog.conf)
install(FILES ${PROJECT_SOURCE_DIR}/samples/EventLog.XML DESTINATION etc/eventlog)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/samples/EventLog.XML
              ${PROJECT_SOURCE_DIR}/samples/journal.rules ${EVENTLOG_DEBIAN_DIR}/copyright
        DESTINATION usr/share/doc/eventlog)
# Debian's changelog.gz (gzip -n: no name or time stamp inside the archive); its trailer names the
# maintainer, so the maintainer is set first.
set(EVENTLOG_DEB_MAINTAINER "EventLog maintainers <eventlog@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")
string(TIMESTAMP EVENTLOG_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${EVENTLOG_DEBIAN_DIR}/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/debian/changelog)
install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION usr/share/doc/eventlog)
# The man pages (docs/man), the version filled in and compressed with gzip -9n as Debian does.
set(EVENTLOG_MAN_PAGES EventLog.1 eventcreate.1 eventlog-check.1 pagegateway.1 eventlog-service.8)
set(EVENTLOG_MAN_FILES)
foreach(page ${EVENTLOG_MAN_PAGES})
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page} ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/man/gz/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/man/${page} ${CMAKE_BINARY_DIR}/man/gz/${page}
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/gz/${page}
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page} VERBATIM)
  string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${CMAKE_BINARY_DIR}/man/gz/${page}.gz DESTINATION usr/share/man/man${section})
  list(APPEND EVENTLOG_MAN_FILES ${CMAKE_BINARY_DIR}/man/gz/${page}.gz)
endforeach()
add_custom_target(eventlog_man ALL DEPENDS ${EVENTLOG_MAN_FILES})
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/operating.md)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/operating.md ${PROJECT_SOURCE_DIR}/docs/fleet.md
          DESTINATION usr/share/doc/eventlog)
  # The alert rules and the Alertmanager route of fleet.md, to copy into Prometheus' setup.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/prometheus/eventlog.rules.yml
                ${PROJECT_SOURCE_DIR}/docs/prometheus/alertmanager.yml
          DESTINATION usr/share/doc/eventlog/examples/prometheus)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME eventlog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${EVENTLOG_DEB_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "event log monitor that pages on a chosen event")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "EventLog watches one event log (a .evt file written with eventcreate, or the\n"
       "systemd journal) for a chosen event, reports each new occurrence and pages it\n"
       "through an HTTP paging gateway. The package runs it as the service\n"
       "eventlog.service under its own system user.")
# The destinations above are relative to the root of the installed system.
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The maintainer scripts make the service user with adduser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${EVENTLOG_DEBIAN_DIR}/conffiles ${EVENTLOG_DEBIAN_DIR}/postinst
    ${EVENTLOG_DEBIAN_DIR}/prerm ${EVENTLOG_DEBIAN_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# `cmake --build build --target deb` builds the packaged programs, then dist/eventlog_*.deb.
add_custom_target(deb
  COMMAND ${EVENTLOG_DEBIAN_DIR}/build-deb.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/dist
  COMMENT "Building the Debian package" VERBATIM)
add_dependencies(deb ${EVENTLOG_PACKAGED_PROGRAMS} eventlog_man)

# The package installed, run as the service user, restarted and purged (root only).
if(BUILD_TESTING)
  add_test(NAME debian_package
           COMMAND ${PROJECT_SOURCE_DIR}/tests/debian_package_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(debian_package PROPERTIES RUN_SERIAL ON SKIP_RETURN_CODE 77 TIMEOUT 300)
  # The package under a real systemd in a container (root, debootstrap, systemd-nspawn). Labelled
  # container, so that a pass can leave it out: ctest -LE container.
  add_test(NAME service_container
           COMMAND ${PROJECT_SOURCE_DIR}/tests/system/service_container_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(service_container PROPERTIES RUN_SERIAL ON SKIP_RETURN_CODE 77 TIMEOUT 900
                                                    LABELS container)
endif()
