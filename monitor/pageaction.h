// The page action: a reported record becomes a one-line page to the gateway.
#pragma once

#include <string>

#include "core/datetime.h"
#include "monitor/eventsearch.h"
#include "paging/sendpage.h"

// The action word that pages, after lower-casing; its row in monitor/actions runs RunPageAction.
inline constexpr char kPageAction[] = "page";

// The monitor's one page request, refilled before every page.
extern tSendPageRec SendPageRec;

// "EventLog: <date-time> Host=<computer> Source=<source> EventID=<id>"
std::string PageMessage(TDateTime now, const std::string& hostName,
                        const tMyEventLogRecord& record);

// A page request to the built-in pager with that message.
tSendPageRec PageRequest(const std::string& message);

// Pages the record just reported, to the pager PAGING_PAGER_ID and PAGING_PASSWORD name (the
// built-in one without them); the outcome stays in the page sender's files and logs.
void RunPageAction(const tMyEventLogRecord& record);
