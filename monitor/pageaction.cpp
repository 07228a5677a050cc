#include "monitor/pageaction.h"

#include "kit/helpers.h"
#include "platform/clock.h"

tSendPageRec SendPageRec;

std::string PageMessage(TDateTime now, const std::string& hostName,
                        const tMyEventLogRecord& record) {
  return "EventLog: " + DateTimeToStrOrEmpty(now) + " Host=" + hostName +
         " Source=" + record.Source + " EventID=" + std::to_string(record.EventLogRecord.EventID);
}

tSendPageRec PageRequest(const std::string& message) {
  tSendPageRec request;
  request.PagerNo = kBuiltInPagerNo;
  request.Password = kBuiltInPassword;
  request.Reserved = 0;
  request.Message = message;
  return request;
}

void RunPageAction(const tMyEventLogRecord& record) {
  SendPageRec = PageRequest(PageMessage(Now(), GetHostName(), record));
  SendPageToConfiguredPager(SendPageRec);
}
