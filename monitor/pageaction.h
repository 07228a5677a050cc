// The page action: a reported record becomes a one-line page to the gateway.
#pragma once

#include <string>

#include "monitor/eventsearch.h"
#include "paging/sendpage.h"
#include "platform/datetime.h"

// The monitor's one page request, refilled before every page.
extern tSendPageRec SendPageRec;

// "EventLog: <date-time> Host=<computer> Source=<source> EventID=<id>"
std::string PageMessage(TDateTime now, const std::string& hostName,
                        const tMyEventLogRecord& record);

// Pages the record just reported; the outcome stays in the page sender's files and logs.
void RunPageAction(const tMyEventLogRecord& record);
