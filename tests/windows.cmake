# The Windows suite, cross-built and run under Wine: the tests of the core that need no POSIX
# helper, and the Windows end-to-end runs of EventLog.exe. GoogleTest comes from Debian's sources.
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows suite")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(WINDOWS_TEST_SOURCES
  datetime_test.cpp
  eventsearch_test.cpp
  kit_cleanup_test.cpp
  kit_helpers_test.cpp
  kit_logentry_test.cpp
  regional_test.cpp
  monitor_test.cpp
  settings_test.cpp
  versionprobe_test.cpp
  windows_e2e_test.cpp
  xml_text_test.cpp
  loopback_server.cpp
  process.cpp
  process_win32.cpp
  socket_reset_win32.cpp)
list(TRANSFORM WINDOWS_TEST_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
add_executable(eventlog_tests ${WINDOWS_TEST_SOURCES})
target_link_libraries(eventlog_tests PRIVATE monitor kit GTest::gtest GTest::gtest_main)
target_compile_definitions(eventlog_tests PRIVATE
  EVENTLOG_EXE="$<TARGET_FILE:EventLog>"
  SHARED_FIXTURES_DIR="${PROJECT_SOURCE_DIR}/../shared/fixtures")
add_dependencies(eventlog_tests EventLog)
# One run of the whole suite, as every test of its own would start Wine anew; then the regional
# settings once more in German. A program started under Wine keeps its parent's locale, so the
# language is chosen where Wine starts.
# These tests hold Linux to its own sources (TZ set inside the process, the C library's texts and
# locales, /proc, the kernel's host name, "/" paths, names that differ only in letter case);
# the Windows runs check the same services against Windows' own sources instead.
set(LINUX_ONLY_TESTS
  ClockTest.*
  UTCToLocalDateTime.ARefusedConversionRaisesTheSystemError
  PosixLocaleTest.*
  GetAppPathTest.*
  GetHostNameTest.*
  LogWriterTest.InitialSettingsDropEverythingAboveLevelZeroAndNameTheProgram
  MachineUpTimeTest.*
  MemoryStatusTest.*
  ProgramDirectoryOfTest.*
  DeleteOldFilesTest.KeepsTheDatesOfTheLastDaysAndDeletesTheRest)
list(JOIN LINUX_ONLY_TESTS ":" LINUX_ONLY_FILTER)
add_test(NAME windows_suite COMMAND eventlog_tests --gtest_filter=-${LINUX_ONLY_FILTER})
add_test(NAME windows_suite_de_DE
         COMMAND eventlog_tests --gtest_filter=WindowsProgram.LoggedAfterIsReadInTheLanguagesDateFormat)
set_tests_properties(windows_suite PROPERTIES TIMEOUT 900 ENVIRONMENT "LANG=en_US.UTF-8;LC_ALL=")
set_tests_properties(windows_suite_de_DE PROPERTIES TIMEOUT 300 ENVIRONMENT "LANG=de_DE.UTF-8;LC_ALL=")
