# The Windows suite, cross-built and run under Wine: the tests of the core, of paging and of the
# kit on the Windows backends, the event log search against a stand-in for the event log service,
# and the Windows end-to-end runs of EventLog.exe. GoogleTest comes from Debian's sources.
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows suite")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The files are those of the test list (tests/CMakeLists.txt) that Windows runs.
add_executable(eventlog_tests ${EVENTLOG_TEST_FILES})
eventlog_version_resource(eventlog_tests "EventLog test suite")
target_link_libraries(eventlog_tests PRIVATE eventlog_test_support monitor kit tool_arguments
                                             eventlog_service_steps GTest::gtest GTest::gtest_main)
# The service's message table, read back as Event Viewer reads it (application_log_win32_test).
eventlog_message_table(eventlog_tests ${PROJECT_SOURCE_DIR}/tools/service/messages.mc)
# eventcreate and eventlog-service are Linux tools: the tests that run them leave them out here.
target_compile_definitions(eventlog_tests PRIVATE
  EVENTLOG_EXE="$<TARGET_FILE:EventLog>"
  EVENTLOG_CHECK_EXE="$<TARGET_FILE:eventlog-check>"
  PAGEGATEWAY_EXE="$<TARGET_FILE:pagegateway>"
  EVENTCREATE_EXE=""
  EVENTLOG_SERVICE_EXE=""
  EVENTLOG_VERSION="${PROJECT_VERSION}"
  PACKAGING_DIR="${PROJECT_SOURCE_DIR}/packaging"
  SHARED_FIXTURES_DIR="${PROJECT_SOURCE_DIR}/../shared/fixtures")
add_dependencies(eventlog_tests EventLog eventlog-check pagegateway)
# One run of the whole suite, as every test of its own would start Wine anew; then the regional
# settings once more in German. A program started under Wine keeps its parent's locale, so the
# language is chosen where Wine starts.
# The tests of the listed files that the suite leaves out, each group with its reason.
set(LEFT_OUT_TESTS
  # They hold Linux to its own sources (TZ set inside the process, the C library's texts and
  # locales, /proc, the kernel's host name, "/" paths, names that differ only in letter case);
  # the Windows runs check the same services against Windows' own sources instead.
  ClockTest.*
  UTCToLocalDateTime.ARefusedConversionRaisesTheSystemError
  PosixLocaleTest.*
  GetAppPathTest.*
  GetHostNameTest.*
  LogWriterTest.InitialSettingsDropEverythingAboveLevelZeroAndNameTheProgram
  MachineUpTimeTest.*
  MemoryStatusTest.*
  ProgramDirectoryOfTest.*
  DeleteOldFilesTest.KeepsTheDatesOfTheLastDaysAndDeletesTheRest
  # They start themselves again through /proc/self/exe in a UTF-8 locale; Windows texts follow
  # the ANSI code page, not the environment (WindowsReport.HoldsOnlyCharactersXmlAllows checks
  # the character filter through MSXML instead).
  ExceptionReportTest.BytesAbove127RoundTripInAUtf8Locale
  ExceptionReportTest.OnlyCharactersXmlCanHoldReachTheReport
  # The alarm tones are read back from a pseudo-terminal, which Windows does not give.
  ExceptionReportTest.TonesPlayOnlyAfterASuccess
  # Wine 8's recv reports a connection the peer reset as closed in good order (0, not
  # WSAECONNRESET), so the reset cannot be seen under Wine.
  HttpClientTest.ResetByThePeerRaisesSocketError10054
  # The stalled resolver is the test program's own getaddrinfo, which only the Linux link takes.
  HttpClientTest.NameLookupSharesTheConnectBound)
list(JOIN LEFT_OUT_TESTS ":" LEFT_OUT_FILTER)
add_test(NAME windows_suite COMMAND eventlog_tests --gtest_filter=-${LEFT_OUT_FILTER})
add_test(NAME windows_suite_de_DE
         COMMAND eventlog_tests --gtest_filter=WindowsProgram.LoggedAfterIsReadInTheLanguagesDateFormat)
set_tests_properties(windows_suite PROPERTIES TIMEOUT 900 ENVIRONMENT "LANG=en_US.UTF-8;LC_ALL=")
set_tests_properties(windows_suite_de_DE PROPERTIES TIMEOUT 300 ENVIRONMENT "LANG=de_DE.UTF-8;LC_ALL=")

# The Windows service under Wine's own Service Control Manager (windows_service_test.sh): EventLog
# over a stand-in event log that the test fills, since Wine's event log service keeps no records.
add_executable(eventlog_fake_log ${PROJECT_SOURCE_DIR}/monitor/main.cpp
                                 ${PROJECT_SOURCE_DIR}/tests/support/fake_log_program_win32.cpp)
target_link_libraries(eventlog_fake_log PRIVATE monitor kit eventlog_test_support)
find_program(BASH_PROGRAM bash)
if(WINE_PROGRAM AND BASH_PROGRAM)
  add_test(NAME windows_service
           COMMAND ${BASH_PROGRAM} ${CMAKE_CURRENT_SOURCE_DIR}/windows_service_test.sh
                   $<TARGET_FILE:eventlog-service> $<TARGET_FILE:eventlog_fake_log>)
  # A prefix of its own, made and booted twice (about 10 s), then some 15 s of service runs.
  set_tests_properties(windows_service PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77
                                                  ENVIRONMENT "LANG=en_US.UTF-8;LC_ALL=")
endif()
