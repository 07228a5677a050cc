// The page sender: one page to the paging gateway as one HTTP GET, a page record file for every
// exchange that completed, a log entry for the outcome and an exception report on failure; and the
// gateway's host, the pager and the password, each read in one place.
#pragma once

#include <cstdint>
#include <string>

#include "core/errors.h"

struct tSendPageRec {
  std::string Message;   // the page text, not escaped
  std::string Password;  // the gateway password, sent and recorded unchanged
  std::int32_t PagerNo = 0;
  std::int32_t Reserved = 0;  // callers set 0; the sender does not read it
};

// The gateway's host and where it came from.
struct tGatewayHost {
  std::string Host;              // "host" or "host:port"
  bool FromEnvironment = false;  // PAGING_GATEWAY_HOST was set and not empty
};

// The one place PAGING_GATEWAY_HOST is read, anew at every call: the environment's value when it
// is set and not empty, else the value the program was built with. The sender and eventlog-check
// both ask here.
tGatewayHost GatewayHost();

// GatewayHost().Host.
std::string PagingGatewayHost();

// The pager and password pages go to when the environment names none.
inline constexpr std::int32_t kBuiltInPagerNo = 730418;
inline constexpr char kBuiltInPassword[] = "KRVOT";

// A paging variable whose value cannot be used; the message names the variable, the value and
// the fix.
EVENTLOG_DECLARE_EXCEPTION(EPagingSetting)

// One paging value and where it came from.
struct tPagingSetting {
  std::string Text;              // the variable's value, else the built-in value
  bool FromEnvironment = false;  // the variable was set and not empty
  bool SetEmpty = false;         // the variable was set to the empty text: the built-in holds
};
// PAGING_PAGER_ID and PAGING_PASSWORD, read anew at every call; unset or empty they give the
// built-in 730418 and KRVOT.
tPagingSetting PagerIdSetting();
tPagingSetting PasswordSetting();

// What keeps a PAGING_PAGER_ID text from naming a pager, empty when nothing does: it must be a
// whole decimal number in the range of tSendPageRec.PagerNo, an optional "-" and digits without
// blanks, "+" or a leading zero (which the number would drop, so that the gateway would see
// another text than the one set).
std::string PagerIdProblem(const std::string& text);

// Puts the pager and password of the settings above into the request. A PAGING_PAGER_ID that
// names no pager raises EPagingSetting: the built-in pager is never paged in its place.
void ApplyConfiguredPager(tSendPageRec& request);

// The message as the URL carries it: letters, digits and - . _ ~ ! $ ' ( ) * , ; : @ / ? stay
// as they are; every other byte ("&", "=", "+", blank, "%", "#", quotes, angle brackets,
// controls, bytes of 0x80 and above ...) becomes "%" and two upper-case hex digits.
std::string EscapePageMessage(const std::string& message);

// The gateway URL for a request, with the password and the message escaped alike ("KRVOT" stays
// as it is; a "&" or "#" in a password cannot cut the query).
std::string PageUrl(const std::string& gatewayHost, const tSendPageRec& request);

// The gateway's answer as the refusal entry (40400) shows it: its first 200 bytes, control
// characters and bytes of 0x80 and above as \xHH, "[" and "]" as \x5B and \x5D.
std::string PageAnswerText(const std::string& body);

// Sends the page; true when the gateway's answer holds the success marker. Never raises.
bool SendPage(const tSendPageRec& request);

// SendPage to the pager and with the password the environment names (ApplyConfiguredPager, under
// trace marker 100, its values left in the request): a PAGING_PAGER_ID that names no pager ends
// on the failure path (exception report and 30000 entry naming the variable and the fix), and no
// page goes out.
bool SendPageToConfiguredPager(tSendPageRec& request);
