# The version resource of each Windows executable: one template, cmake/version.rc.in, filled in
# per executable and compiled by windres (CMake's RC language). The version is the project's;
# the holder of the copyright is the one the Debian copyright file names.
if(WIN32)
  enable_language(RC)
endif()

set(EVENTLOG_COPYRIGHT_FILE ${PROJECT_SOURCE_DIR}/packaging/debian/copyright)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${EVENTLOG_COPYRIGHT_FILE})
file(STRINGS ${EVENTLOG_COPYRIGHT_FILE} EVENTLOG_COPYRIGHT_LINE REGEX "^Copyright: " LIMIT_COUNT 1)
# "Copyright: 2017-2026 The EventLog authors": the years, then the holder.
if(NOT EVENTLOG_COPYRIGHT_LINE MATCHES "^Copyright: ([0-9-]+) (.+)$")
  message(FATAL_ERROR "${EVENTLOG_COPYRIGHT_FILE} has no line \"Copyright: <years> <holder>\"")
endif()
set(EVENTLOG_COPYRIGHT_YEARS "${CMAKE_MATCH_1}")
set(EVENTLOG_COMPANY "${CMAKE_MATCH_2}")
set(EVENTLOG_COPYRIGHT "Copyright (C) ${EVENTLOG_COPYRIGHT_YEARS} ${EVENTLOG_COMPANY}")

# eventlog_version_resource(<target> <description>): gives a Windows executable its version
# resource; nothing elsewhere.
function(eventlog_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(EVENTLOG_RC_TARGET "${target}")
  set(EVENTLOG_RC_FILENAME "${target}.exe")
  set(EVENTLOG_RC_DESCRIPTION "${description}")
  set(EVENTLOG_RC_COMPANY "${EVENTLOG_COMPANY}")
  set(EVENTLOG_RC_COPYRIGHT "${EVENTLOG_COPYRIGHT}")
  # FILEVERSION takes four numbers: 1.0.0 is 1,0,0,0.
  set(EVENTLOG_RC_NUMBERS "")
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(number "${PROJECT_VERSION_${part}}")
    if(number STREQUAL "")
      set(number 0)
    endif()
    list(APPEND EVENTLOG_RC_NUMBERS ${number})
  endforeach()
  list(JOIN EVENTLOG_RC_NUMBERS "," EVENTLOG_RC_NUMBERS)
  set(file ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${file} @ONLY)
  target_sources(${target} PRIVATE ${file})
endfunction()
