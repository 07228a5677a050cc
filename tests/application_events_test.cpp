// The events the service records in the Windows Application log: every kind of EventLog's log
// entries, read from the texts the kit sends, and the service's own messages, each to its type,
// message ID and insertion strings.
#include "tools/service/application_events.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/service/console_lines.h"
#include "tools/service/journal_lines.h"
#include "tools/service/log_entries.h"

namespace service {
namespace {

using enum ApplicationEventType;

// The text of a datagram after the identifier: "<code>: <text>".
std::optional<ApplicationEvent> EventOfDatagram(const std::string& datagram,
                                                std::string& refusedRecord) {
  const std::size_t colon = datagram.find(": ");
  return ApplicationEventOf(
      ReadLogEntry(datagram.substr(0, colon), datagram.substr(colon + 2), refusedRecord));
}

TEST(ApplicationEvents, EveryLogEntryKindHasItsTypeIdAndStrings) {
  struct Case {
    const char* name;
    std::vector<std::string> datagrams;  // in order; the last one's event is checked
    std::optional<ApplicationEvent> expected;
  };
  const std::string big(9000, 'a');
  const Case cases[] = {
      {"an accepted page",
       {"50400: [Function=tarn32.SendPage][MSG=EventLog: 1/5/20 10:00:00 am Host=h Source=Disk "
        "EventID=7][PagerNo=1][RESULT=OK][Filename=SendPage_1.xml][HTTPResponse.txt Not created]"},
       ApplicationEvent{
           Information,
           50400,
           {"EventLog: 1/5/20 10:00:00 am Host=h Source=Disk EventID=7", "SendPage_1.xml"}}},
      {"a refusal",
       {"40400: [Function=tarn32.SendPage][Answer=No \\x5Bsuch\\x5D "
        "pager][Filename=SendPage_2.xml]"},
       ApplicationEvent{Warning, 40400, {"No \\x5Bsuch\\x5D pager", "SendPage_2.xml"}}},
      {"a refusal with an empty answer",
       {"40400: [Function=tarn32.SendPage][Answer=][Filename=SendPage_2.xml]"},
       ApplicationEvent{Warning, 40400, {"(an empty answer)", "SendPage_2.xml"}}},
      {"the outcome after its refusal was said",
       {"40400: [Function=tarn32.SendPage][Answer=No][Filename=SendPage_2.xml]",
        "50400: [Function=tarn32.SendPage][MSG=m][PagerNo=1][RESULT=Error]"
        "[Filename=SendPage_2.xml][HTTPResponse.txt Not created]"},
       std::nullopt},
      {"a refused outcome without its refusal",
       {"50400: [Function=tarn32.SendPage][MSG=m][PagerNo=1][RESULT=Error]"
        "[Filename=SendPage_3.xml][HTTPResponse.txt Not created]"},
       ApplicationEvent{Warning, 40401, {"SendPage_3.xml"}}},
      {"a failed page",
       {"30000: [Function=tarn32.SendPage][Classname=ESocketError][Message=Socket Error # "
        "10061Connection refused.][Trace=310][Filename=C:\\w\\EXCEPTION-1.XML]"
        "[CoInitializeCount=0][Notes=http://h/cgi-bin/xmhscgi?message=a]"},
       ApplicationEvent{
           Error,
           30000,
           {"ESocketError", "Socket Error # 10061Connection refused.", "C:\\w\\EXCEPTION-1.XML"}}},
      {"a failed page without a report",
       {"30000: [Function=tarn32.SendPage][Classname=EHTTPProtocolException][Message=HTTP/1.1 500 "
        "Boom\r\n][Trace=310][Filename=][CoInitializeCount=0][Notes=]"},
       ApplicationEvent{Error,
                        30000,
                        {"EHTTPProtocolException", "HTTP/1.1 500 Boom\r\n", "(none was written)"}}},
      {"an unwritten page record",
       {"30100: [Function=tarn32.SendPage][Note=the page record could not be written]"
        "[Filename=SendPage_4.xml][Reason=There is not enough space on the disk.]"},
       ApplicationEvent{
           Warning, 30100, {"SendPage_4.xml", "There is not enough space on the disk."}}},
      {"another entry at level 6",
       {"69990: new day"},
       ApplicationEvent{Information, 1009, {"69990", "new day"}}},
      {"another entry at level 3", {"31000: odd"}, ApplicationEvent{Error, 1009, {"31000", "odd"}}},
      {"a page outcome of another shape",
       {"50400: [Function=tarn32.SendPage][MSG=m]"},
       ApplicationEvent{Warning, 1009, {"50400", "[Function=tarn32.SendPage][MSG=m]"}}},
      {"a gateway answer longer than an insertion string takes",
       {"40400: [Function=tarn32.SendPage][Answer=" + big + "][Filename=SendPage_5.xml]"},
       ApplicationEvent{Warning, 40400, {std::string(7994, 'a') + " [...]", "SendPage_5.xml"}}},
  };
  for (const Case& c : cases) {
    std::string refusedRecord;
    std::optional<ApplicationEvent> event;
    for (const std::string& datagram : c.datagrams)
      event = EventOfDatagram(datagram, refusedRecord);
    EXPECT_EQ(event, c.expected) << c.name;
    if (!event) continue;
    for (const std::string& text : event->Strings) {
      EXPECT_LE(text.size(), kMaxInsertionBytes) << c.name;
    }
  }
}

TEST(ApplicationEvents, TheServicesOwnMessagesHaveTheirTypeIdAndStrings) {
  struct Case {
    const char* name;
    std::optional<ApplicationEvent> event;
    std::optional<ApplicationEvent> expected;
  };
  const Case cases[] = {
      {"started", ServiceStartedEvent("1.0.0", "C:\\ProgramData\\EventLog"),
       ApplicationEvent{Information, 1000, {"1.0.0", "C:\\ProgramData\\EventLog"}}},
      {"stopped", ServiceStoppedEvent("EventLog ended with exit code 0"),
       ApplicationEvent{Information, 1001, {"EventLog ended with exit code 0"}}},
      {"LoggedAfter carried", LoggedAfterCarriedEvent("10/9/2017 4:24:00 PM"),
       ApplicationEvent{Information, 1002, {"10/9/2017 4:24:00 PM"}}},
      {"a note", ServiceMessageEvent(Priority::Info, "n"),
       ApplicationEvent{Information, 1003, {"n"}}},
      {"a warning", ServiceMessageEvent(Priority::Warning, "w"),
       ApplicationEvent{Warning, 1004, {"w"}}},
      {"an error", ServiceMessageEvent(Priority::Err, "e"), ApplicationEvent{Error, 1005, {"e"}}},
      {"EventLog's error line",
       EventLogErrorEvent("Error: Socket Error # 10061 (ESocketError) Trace=200"),
       ApplicationEvent{Error, 1006, {"Socket Error # 10061 (ESocketError) Trace=200"}}},
      {"a settings error", SettingsFindingEvent({tSeverity::Error, "EventID: not a number"}),
       ApplicationEvent{Error, 1007, {"EventID: not a number"}}},
      {"a settings warning", SettingsFindingEvent({tSeverity::Warning, "Sleep: 0"}),
       ApplicationEvent{Warning, 1008, {"Sleep: 0"}}},
      {"a settings note", SettingsFindingEvent({tSeverity::Note, "fine"}), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(c.event, c.expected) << c.name;
}

// What the services say reaches the event receivers (the Application log on Windows) once, as the
// event of its kind: a message said only for its line, and EventLog's ordinary lines, give none.
TEST(ApplicationEvents, TheServicesLinesReachTheReceiversAsTheirEvents) {
  static std::vector<ApplicationEvent> recorded;
  static const bool added =
      (AddEventReceiver([](const ApplicationEvent& event) { recorded.push_back(event); }), true);
  ASSERT_TRUE(added);
  recorded.clear();
  Say(Priority::Warning, "cannot relay log entries");
  SayOnly(Priority::Info, "LoggedAfter carried forward");
  ConsoleLines console;
  console.Take("Error: Socket Error # 10061 (ESocketError) Trace=200");
  console.Take("Alert sent");
  console.Take("Error: the last (EFoo) Trace=1");
  console.Release(Priority::Err);
  const std::vector<ApplicationEvent> expected = {
      {Warning, 1004, {"cannot relay log entries"}},
      {Error, 1006, {"the last (EFoo) Trace=1"}},
  };
  EXPECT_EQ(recorded, expected);
}

}  // namespace
}  // namespace service
