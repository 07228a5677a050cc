// The syslog forwarder: one UDP datagram per line to Log.SyslogHost, "host" or "host:port" (port
// 514 when none).
#pragma once

#include <cstdint>
#include <string>

#include "core/datetime.h"

constexpr std::uint16_t kSyslogPort = 514;

// The receiver's host and port from a SyslogHost text: the port after the first colon, read as the
// gateway's port is (an optional sign and decimal digits), 1 to 65535; 514 when there is no colon.
// False when the host is empty or the port does not read.
bool SplitSyslogHost(const std::string& text, std::string& host, std::uint16_t& port);

// Sends the text with its header; raises when the datagram cannot be sent.
void SendSyslog(const std::string& text, std::int32_t severity, std::int32_t facility);

// "<PRI>MMM DD YYYY HH:MM:SS: %ident: text".
std::string SyslogDatagram(std::int32_t pri, TDateTime moment, const std::string& ident,
                           const std::string& text);
