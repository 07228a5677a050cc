// The service's events in the Windows Application log: what reaches the event log service (through
// its stand-in), the source's registration in Wine's registry, and the message table read back
// from the executable as Event Viewer reads it, each message formatted with its strings.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/application_log.h"
#include "platform/errors.h"
#include "tests/support/fake_event_source.h"
#include "tools/service/application_events.h"
#include "tools/service/application_log.h"

namespace service {
namespace {

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

TEST(ApplicationLogWin32, EachEventReachesTheEventLogWithItsTypeIdAndStrings) {
  RegisterApplicationLogSource("C:\\EventLog\\eventlog-service.exe");
  struct Case {
    ApplicationEvent event;
    FakeReportedEvent expected;
  };
  std::string refusedRecord;
  // "\xE4" is a-umlaut in the ANSI code page the suite runs under (1252).
  const Case cases[] = {
      {*ApplicationEventOf(ReadLogEntry(
           "50400",
           "[Function=tarn32.SendPage][MSG=EventLog: Host=h Source=Disk EventID=7][PagerNo=1]"
           "[RESULT=OK][Filename=SendPage_1.xml][HTTPResponse.txt Not created]",
           refusedRecord)),
       {"EventLogPager",
        EVENTLOG_INFORMATION_TYPE,
        0,
        50400,
        {u"EventLog: Host=h Source=Disk EventID=7", u"SendPage_1.xml"},
        false}},
      {ServiceMessageEvent(Priority::Warning, "K\xE4se"),
       {"EventLogPager", EVENTLOG_WARNING_TYPE, 0, 1004, {u"K\u00E4se"}, false}},
      {EventLogErrorEvent("Error: boom (EOSError) Trace=100"),
       {"EventLogPager", EVENTLOG_ERROR_TYPE, 0, 1006, {u"boom (EOSError) Trace=100"}, false}},
  };
  ScopedFakeEventSource fake;
  ApplicationLog log;
  std::vector<FakeReportedEvent> expected;
  for (const Case& c : cases) {
    EXPECT_EQ(RecordInApplicationLog(log, c.event), std::nullopt);
    expected.push_back(c.expected);
  }
  EXPECT_EQ(fake.Events(), expected);
  EXPECT_EQ(fake.Opens(), 1);
  CloseApplicationLog(log);
  EXPECT_EQ(fake.OpenHandles(), 0);
  EXPECT_EQ(fake.BadCloses(), 0);
  UnregisterApplicationLogSource();
}

TEST(ApplicationLogWin32, AFailingLogIsSaidOnceAndAgainOnlyAfterASuccess) {
  RegisterApplicationLogSource("C:\\EventLog\\eventlog-service.exe");
  ScopedFakeEventSource fake;
  ApplicationLog log;
  const ApplicationEvent event = ServiceStoppedEvent("EventLog ended with exit code 0");
  const std::string said = "cannot record in the Application log (source EventLogPager): " +
                           platform::SystemErrorText(ERROR_LOG_FILE_FULL) +
                           "; paging goes on, and this is said again after a success";
  fake.RefuseReports(ERROR_LOG_FILE_FULL);
  EXPECT_EQ(RecordInApplicationLog(log, event), said);
  EXPECT_EQ(RecordInApplicationLog(log, event), std::nullopt);
  fake.RefuseReports(0);
  EXPECT_EQ(RecordInApplicationLog(log, event), std::nullopt);
  fake.RefuseReports(ERROR_LOG_FILE_FULL);
  EXPECT_EQ(RecordInApplicationLog(log, event), said);
  EXPECT_EQ(fake.Events().size(), 1u);
  CloseApplicationLog(log);

  // A source that cannot be opened at all.
  fake.RefuseOpens(ERROR_ACCESS_DENIED);
  ApplicationLog refused;
  EXPECT_EQ(RecordInApplicationLog(refused, event),
            "cannot record in the Application log (source EventLogPager): " +
                platform::SystemErrorText(ERROR_ACCESS_DENIED) +
                "; paging goes on, and this is said again after a success");
  UnregisterApplicationLogSource();
}

TEST(ApplicationLogWin32, AnUnregisteredSourceIsSaidOnceAndItsEventsStillGo) {
  UnregisterApplicationLogSource();
  ScopedFakeEventSource fake;
  ApplicationLog log;
  const ApplicationEvent event = LoggedAfterCarriedEvent("10/9/2017 4:24:00 PM");
  EXPECT_EQ(RecordInApplicationLog(log, event),
            "the event source EventLogPager is not registered, so Event Viewer shows its events "
            "without their texts; run eventlog-service.exe --register-source as administrator");
  EXPECT_EQ(RecordInApplicationLog(log, event), std::nullopt);
  EXPECT_EQ(fake.Events().size(), 2u);
  CloseApplicationLog(log);
}

TEST(ApplicationLogWin32, RegistrationIsWrittenReadBackAndRemoved) {
  const std::string exe = "C:\\Program Files\\EventLog\\eventlog-service.exe";
  RegisterApplicationLogSource(exe);
  std::string file;
  std::uint32_t types = 0, errorCode = 0;
  ASSERT_TRUE(platform::ReadEventSourceRegistration("EventLogPager", file, types, errorCode))
      << errorCode;
  EXPECT_EQ(file, exe);
  EXPECT_EQ(types, 7u);
  // The value's type is the expandable string Event Viewer expects.
  DWORD type = 0;
  EXPECT_EQ(
      RegGetValueW(HKEY_LOCAL_MACHINE,
                   L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\EventLogPager",
                   L"EventMessageFile", RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_EXPAND_SZ});
  UnregisterApplicationLogSource();
  EXPECT_FALSE(platform::ReadEventSourceRegistration("EventLogPager", file, types, errorCode));
  EXPECT_EQ(errorCode, platform::kErrorNotRegistered);
  EXPECT_NO_THROW(UnregisterApplicationLogSource());  // not there: nothing to do
  // A name that would reach another key.
  EXPECT_FALSE(platform::WriteEventSourceRegistration("..\\System\\x", exe, errorCode));
  EXPECT_EQ(errorCode, DWORD{ERROR_INVALID_NAME});
  EXPECT_THROW(platform::RegisterApplicationEventSource("", exe), EOSError);
}

// The test program links the service's message table, as eventlog-service.exe does.
TEST(ApplicationLogWin32, EveryMessageIsFormattedFromTheTableAsEventViewerDoes) {
  wchar_t path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  const HMODULE table = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(table, nullptr) << GetLastError();
  struct Case {
    std::uint32_t id;
    std::vector<std::wstring> strings;
    std::wstring expected;
  };
  const Case cases[] = {
      {kMsgPageAccepted,
       {L"EventLog: 1/5/20 Host=h", L"SendPage_1.xml"},
       L"The paging gateway accepted EventLog's page.\r\n\r\nPage: EventLog: 1/5/20 Host=h\r\n"
       L"Page record: SendPage_1.xml\r\n"},
      {kMsgPageRefused,
       {L"No such pager", L"SendPage_2.xml"},
       L"The paging gateway refused EventLog's page; the operator was not paged.\r\n\r\n"
       L"Gateway's answer: No such pager\r\nPage record: SendPage_2.xml\r\n"},
      {kMsgPageNotConfirmed,
       {L"SendPage_3.xml"},
       L"The paging gateway's answer to EventLog's page lacks its success text; the page counts "
       L"as refused.\r\n\r\nPage record: SendPage_3.xml\r\n"},
      {kMsgPageFailed,
       {L"ESocketError", L"Socket Error # 10061", L"EXCEPTION-1.XML"},
       L"EventLog could not send a page: Socket Error # 10061 (ESocketError).\r\n\r\n"
       L"Exception report: EXCEPTION-1.XML\r\n"},
      {kMsgRecordUnwritten,
       {L"SendPage_4.xml", L"disk full"},
       L"EventLog could not write the page record SendPage_4.xml: disk full\r\n"},
      {kMsgServiceStarted,
       {L"1.0.0", L"C:\\EventLog"},
       L"The EventLogPager service started EventLog 1.0.0 in C:\\EventLog.\r\n"},
      {kMsgServiceStopped,
       {L"exit code 0"},
       L"The EventLogPager service stopped: exit code 0.\r\n"},
      {kMsgLoggedAfterCarried,
       {L"10/9/2017"},
       L"LoggedAfter 10/9/2017 was carried forward from the last report: only events after it "
       L"are reported.\r\n"},
      {kMsgServiceNote, {L"n"}, L"The EventLogPager service reports: n\r\n"},
      {kMsgServiceWarning, {L"w"}, L"The EventLogPager service reports a problem: w\r\n"},
      {kMsgServiceError, {L"e"}, L"The EventLogPager service failed: e\r\n"},
      {kMsgEventLogError, {L"boom"}, L"EventLog stopped on an error: boom\r\n"},
      {kMsgSettingsError, {L"f"}, L"The check of EventLog's settings found an error: f\r\n"},
      {kMsgSettingsWarning, {L"f"}, L"The check of EventLog's settings found a problem: f\r\n"},
      {kMsgOtherEntry, {L"69990", L"new day"}, L"EventLog log entry 69990: new day\r\n"},
  };
  for (const Case& c : cases) {
    std::vector<DWORD_PTR> arguments;
    for (const std::wstring& text : c.strings)
      arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY |
            FORMAT_MESSAGE_ALLOCATE_BUFFER,
        table, c.id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<LPWSTR>(&text),
        0, reinterpret_cast<va_list*>(arguments.data()));
    ASSERT_GT(length, 0u) << c.id << ": error " << GetLastError();
    EXPECT_EQ(U16(std::wstring(text, length)), U16(c.expected)) << c.id;
    LocalFree(text);
  }
  // An ID the table does not hold, as Event Viewer would meet it.
  wchar_t* text = nullptr;
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           table, 4242, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr),
            0u);
  FreeLibrary(table);
}

}  // namespace
}  // namespace service
