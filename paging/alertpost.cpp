#include "paging/alertpost.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "core/ascii.h"
#include "core/socket_errors.h"
#include "kit/exceptionreport.h"
#include "kit/logentry.h"
#include "kit/records.h"
#include "kit/watch.h"
#include "paging/httpclient.h"
#include "paging/sendpage.h"

namespace {

constexpr char kFunctionName[] = "tarn32.PostAlert";
constexpr char kAlertsPath[] = "/api/v2/alerts";
constexpr std::int32_t kAcceptedCode = 50410;
constexpr std::int32_t kRefusedCode = 40410;
constexpr std::int32_t kFailedCode = 30010;

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n'; }

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

void LogOutcome(std::int32_t code, std::int32_t trace, const std::string& text) {
  tLogRec entry;
  entry.Code = code;
  entry.Trace = trace;
  entry.Text = std::string("[Function=") + kFunctionName + "]" + text;
  LogEntry(entry);
}

// One line for the log entry: each line break (CR LF, CR or LF) becomes one blank.
std::string WithoutLineBreaks(const std::string& text) {
  std::string line;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') continue;
    line += text[at] == '\r' || text[at] == '\n' ? ' ' : text[at];
  }
  return line;
}

}  // namespace

std::string AlertmanagerUrlProblem(const std::string& baseUrl) {
  const std::string how =
      "; write http://host:port, with a path prefix after it if the "
      "Alertmanager has one (http://host:port/alertmanager)";
  const std::size_t schemeEnd = baseUrl.find("://");
  const std::string scheme = schemeEnd == std::string::npos ? "" : baseUrl.substr(0, schemeEnd);
  if (core::EqualsIgnoringAsciiCase(scheme, "https"))
    return "https is not supported: EventLog posts alerts over plain HTTP only; give the "
           "Alertmanager's http:// address, or that of a local proxy that forwards to it";
  if (!core::EqualsIgnoringAsciiCase(scheme, "http")) return "it does not begin with http://" + how;
  for (char c : baseUrl)
    if (static_cast<unsigned char>(c) <= ' ' || c == '\x7F' || c == '\\')
      return "it holds a control character or a backslash" + how;
  const std::string rest = baseUrl.substr(schemeEnd + 3);
  if (rest.find_first_of("?#") != std::string::npos)
    return "a query or fragment (\"?\", \"#\") has no place in it" + how;
  const std::string authority = rest.substr(0, rest.find('/'));
  if (authority.find('@') != std::string::npos)
    return "a user name or password has no place in it" + how;
  std::string host;
  std::string port;
  SplitHostAndPort(authority, host, port);
  if (host.empty()) return "it names no host" + how;
  std::array<std::uint8_t, 16> address;
  if (host.starts_with('[') &&
      (!host.ends_with(']') || !ParseIPv6Address(host.substr(1, host.size() - 2), address)))
    return "its host is no IPv6 address in brackets (as in http://[2001:db8::1]:9093)" + how;
  // A port follows the host's last ':' (after the "]" of an IPv6 address).
  const bool portGiven = authority.size() > host.size();
  if (portGiven &&
      (!AllDigits(port) || port.size() > 5 || std::stol(port) < 1 || std::stol(port) > 65535))
    return "its port is not a number from 1 to 65535" + how;
  return "";
}

std::vector<tAlertmanager> ReadAlertmanagerList(const std::string& list) {
  std::vector<tAlertmanager> entries;
  for (std::size_t at = 0; at < list.size();) {
    if (IsSeparator(list[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < list.size() && !IsSeparator(list[end])) ++end;
    const std::string url = list.substr(at, end - at);
    entries.push_back({url, AlertmanagerUrlProblem(url)});
    at = end;
  }
  return entries;
}

std::vector<tAlertmanager> AlertmanagersFromEnvironment() {
  const char* configured = std::getenv("ALERTMANAGER_URL");
  return configured == nullptr ? std::vector<tAlertmanager>() : ReadAlertmanagerList(configured);
}

std::string AlertmanagerEndpoint(const std::string& baseUrl, const std::string& apiPath) {
  std::string base = baseUrl;
  while (base.ends_with('/')) base.pop_back();
  return base + apiPath;
}

bool PostAlert(const std::string& baseUrl, const std::string& body) {
  std::int32_t trace = 110;
  const std::string url = AlertmanagerEndpoint(baseUrl, kAlertsPath);
  // Declared first so that it goes last, after the failure report and entry.
  std::unique_ptr<THttpClient> client;
  try {
    try {
      if (const std::string problem = AlertmanagerUrlProblem(baseUrl); !problem.empty())
        throw EAlertmanagerUrl("ALERTMANAGER_URL " + baseUrl + ": " + problem);
      trace = 200;
      client = std::make_unique<THttpClient>();
      tHttpRequest request;
      request.Method = "POST";
      request.Url = url;
      request.ContentType = "application/json";
      request.Accept = "application/json";
      request.Body = body;
      trace = 310;
      client->Perform(request);
      trace = 320;
      if (client->IsConnected()) client->CloseConnection();
      trace = 1130;
      ++RunCounters.AlertPostsAccepted;
      LogOutcome(kAcceptedCode, trace,
                 "[URL=" + url + "][Status=" + client->Response().StatusLine + "]");
      return true;
    } catch (const EHTTPProtocolException& refusal) {
      ++RunCounters.AlertPostsFailed;
      LogOutcome(kRefusedCode, trace,
                 "[URL=" + url + "][Status=" + WithoutLineBreaks(refusal.what()) +
                     "][Answer=" + PageAnswerText(refusal.ErrorMessage()) + "]");
      return false;
    }
  } catch (const std::exception& failure) {
    try {
      ++RunCounters.AlertPostsFailed;
      const FailureDescription description = DescribeFailure(failure);
      tExceptionRec report;
      report.FunctionName = kFunctionName;
      report.ClassName = description.ClassName;
      report.Message = description.Message;
      report.Trace = trace;
      report.Notes = url;
      report.Beep = true;
      report.FileName = GlobalSettings.ExceptionFileName;
      report.FileName = SaveExceptionRecAsXML(report);
      LogOutcome(kFailedCode, trace,
                 "[URL=" + url + "][Classname=" + description.ClassName +
                     "][Message=" + WithoutLineBreaks(description.Message) +
                     "][Trace=" + std::to_string(trace) + "][Filename=" + report.FileName + "]");
    } catch (const std::exception&) {
      // Memory ran out while reporting: the false result is all that is left to give.
    }
  }
  return false;
}
