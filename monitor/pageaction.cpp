#include "monitor/pageaction.h"

#include "kit/helpers.h"
#include "platform/clock.h"

tSendPageRec SendPageRec;

namespace {

constexpr std::int32_t kPagerNo = 730418;
constexpr char kPassword[] = "KRVOT";

}  // namespace

std::string PageMessage(TDateTime now, const std::string& hostName,
                        const tMyEventLogRecord& record) {
  return "EventLog: " + DateTimeToStrOrEmpty(now) + " Host=" + hostName +
         " Source=" + record.Source + " EventID=" + std::to_string(record.EventLogRecord.EventID);
}

tSendPageRec PageRequest(const std::string& message) {
  tSendPageRec request;
  request.PagerNo = kPagerNo;
  request.Password = kPassword;
  request.Reserved = 0;
  request.Message = message;
  return request;
}

void RunPageAction(const tMyEventLogRecord& record) {
  SendPageRec = PageRequest(PageMessage(Now(), GetHostName(), record));
  SendPage(SendPageRec);
}
