#include "kit/logsettings.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "core/errors.h"
#include "core/socket_errors.h"
#include "kit/syslog.h"
#include "platform/system.h"

namespace {

// The value as the error line shows it: a control character as \xHH, so that the line stays one.
std::string Shown(const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127)
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    else
      shown += c;
  }
  return shown;
}

[[noreturn]] void Refuse(const std::string& variable, const std::string& value,
                         const std::string& expected) {
  throw EConvertError(variable + "='" + Shown(value) + "' is not valid: " + expected +
                      ", or unset it");
}

// Decimal digits with a leading minus when negatives are allowed, nothing around them, within 32
// bits.
bool ReadWholeNumber(const std::string& text, bool negativeAllowed, std::int32_t& value) {
  std::size_t position = negativeAllowed && !text.empty() && text[0] == '-' ? 1 : 0;
  if (position == text.size()) return false;
  std::int64_t result = 0;
  for (; position < text.size(); ++position) {
    if (text[position] < '0' || text[position] > '9') return false;
    result = result * 10 + (text[position] - '0');
    if (result > std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1) return false;
  }
  if (text[0] == '-') result = -result;
  if (result < std::numeric_limits<std::int32_t>::min() ||
      result > std::numeric_limits<std::int32_t>::max())
    return false;
  value = static_cast<std::int32_t>(result);
  return true;
}

bool HoldsControlCharacter(const std::string& text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) return true;
  }
  return false;
}

}  // namespace

void ApplyLogSetting(tLog& log, const std::string& variable, const std::string& value) {
  if (value.empty()) return;
  if (variable == "EVENTLOG_LOG_LEVEL") {
    if (!ReadWholeNumber(value, true, log.Level))
      Refuse(variable, value, "give a whole number, such as 5 to log every page's outcome");
  } else if (variable == "EVENTLOG_LOG_KEEPDAYS") {
    if (!ReadWholeNumber(value, false, log.KeepDays))
      Refuse(variable, value, "give the days to keep dated files as a whole number from 0");
  } else if (variable == "EVENTLOG_LOG_FILE") {
    // A base that ends in a separator names no file: the daily files would be "-yyyymmdd.CSV"
    // and the clean-up, which compares names with the base's file-name part, would age none.
    if (platform::IsPathSeparator(value.back()) || HoldsControlCharacter(value))
      Refuse(variable, value, "give the base name of the daily files, such as /var/log/EventLog");
    log.FileName = value;
  } else if (variable == "EVENTLOG_SYSLOG_HOST") {
    std::string host;
    std::uint16_t port = 0;
    std::uint32_t address = 0;
    // Digits and dots that are no address would never be looked up: no datagram could ever go.
    const bool usable = SplitSyslogHost(value, host, port) && !HoldsControlCharacter(host) &&
                        host.find(' ') == std::string::npos &&
                        (!IsNumericHost(host) || ParseHostAddress(host, address));
    if (!usable) Refuse(variable, value, "give host or host:port with a port from 1 to 65535");
    log.SyslogHost = value;
  } else if (variable == "EVENTLOG_LOG_IDENT") {
    if (HoldsControlCharacter(value))
      Refuse(variable, value, "give an identifier without control characters");
    log.Ident = value;
  }
}

void ReadLogSettingsFromEnvironment() {
  for (const char* variable : kLogSettingVariables) {
    const char* value = std::getenv(variable);
    if (value != nullptr) ApplyLogSetting(GlobalSettings.Log, variable, value);
  }
}
