// The page sender: one page to the paging gateway as one HTTP GET, a page record file for every
// exchange that completed, a log entry for the outcome and an exception report on failure; and the
// gateway's host, read in one place.
#pragma once

#include <cstdint>
#include <string>

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

// The message as the URL carries it: letters, digits and - . _ ~ ! $ ' ( ) * , ; : @ / ? stay
// as they are; every other byte ("&", "=", "+", blank, "%", "#", quotes, angle brackets,
// controls, bytes of 0x80 and above ...) becomes "%" and two upper-case hex digits.
std::string EscapePageMessage(const std::string& message);

// The gateway URL for a request, with the message escaped.
std::string PageUrl(const std::string& gatewayHost, const tSendPageRec& request);

// The gateway's answer as the refusal entry (40400) shows it: its first 200 bytes, control
// characters and bytes of 0x80 and above as \xHH, "[" and "]" as \x5B and \x5D.
std::string PageAnswerText(const std::string& body);

// Sends the page; true when the gateway's answer holds the success marker. Never raises.
bool SendPage(const tSendPageRec& request);
