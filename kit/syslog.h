// The syslog forwarder: one UDP datagram per line to port 514 of Log.SyslogHost.
#pragma once

#include <cstdint>
#include <string>

#include "core/datetime.h"

constexpr std::uint16_t kSyslogPort = 514;

// Sends the text with its header; raises when the datagram cannot be sent.
void SendSyslog(const std::string& text, std::int32_t severity, std::int32_t facility);

// "<PRI>MMM DD YYYY HH:MM:SS: %ident: text".
std::string SyslogDatagram(std::int32_t pri, TDateTime moment, const std::string& ident,
                           const std::string& text);
