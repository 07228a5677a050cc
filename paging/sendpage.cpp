#include "paging/sendpage.h"

#include <cstdlib>
#include <memory>

#include "core/datetime.h"
#include "core/errors.h"
#include "kit/exceptionreport.h"
#include "kit/helpers.h"
#include "kit/logentry.h"
#include "kit/records.h"
#include "kit/watch.h"
#include "paging/httpclient.h"
#include "platform/clock.h"

namespace {

constexpr char kFunctionName[] = "tarn32.SendPage";
constexpr char kSuccessMarker[] = "Message succesfully sent";
constexpr std::int32_t kGatewayPort = 80;
constexpr std::int32_t kSuccessCode = 50400;
constexpr std::int32_t kFailureCode = 30000;
constexpr std::int32_t kRefusedCode = 40400;
constexpr std::int32_t kRecordLostCode = 30100;
constexpr std::size_t kAnswerShown = 200;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string PercentByte(unsigned char byte) {
  static const char kHex[] = "0123456789ABCDEF";
  return {'%', kHex[byte >> 4], kHex[byte & 15]};
}

// The page record: one line per call. PageSent says whether the gateway accepted the page, so that
// a refused page is not recorded as a sent one. A line that cannot be written ends the record
// there, so that what stands keeps the layout (a later line would land after a gap, or in an
// earlier file that could not be replaced); the system's text for it is returned, empty when all
// was written.
std::string WritePageRecord(const std::string& fileName, const tSendPageRec& page,
                            const std::string& url, bool sent, std::int32_t& trace) {
  const tGlobalSettings& settings = GlobalSettings;
  std::string failure;
  auto line = [&](const std::string& text, bool append) {
    if (!failure.empty()) return;
    if (!AppendTextToFile(text + "\r\n", fileName, append, failure) && failure.empty())
      failure = "an unknown failure";
  };
  trace = 530;
  line("<xml>", false);
  trace = 540;
  line("<PagerRec></PagerRec>", true);
  trace = 550;
  line("<DateTime>" + DateTimeToStrOrEmpty(Now()) + "</DateTime>", true);
  trace = 570;
  line("<SelfName>" + settings.SelfName + "</SelfName>", true);
  line("<Version>" + settings.Version + "</Version>", true);
  line("<HostName>" + settings.HostName + "</HostName>", true);
  line(std::string("<Function>") + kFunctionName + "</Function>", true);
  line("<RunningUnderDelphi>" + IfThenStr(settings.RunningUnderDelphi, "True", "False") +
           "</RunningUnderDelphi>",
       true);
  line("<PagerNo>" + std::to_string(page.PagerNo) + "</PagerNo>", true);
  line("<QoxPagingPassword>" + page.Password + "</QoxPagingPassword>", true);
  line("<URL>" + url + "</URL>", true);
  line("<PageSent>" + IfThenStr(sent, "True", "False") + "</PageSent>", true);
  return failure;
}

void LogFurtherEntry(std::int32_t code, const std::string& text) {
  tLogRec entry;
  entry.Code = code;
  entry.Text = text;
  LogEntry(entry);
}

std::string SuccessText(const std::string& escapedMessage, std::int32_t pagerNo, bool success,
                        const std::string& fileName) {
  return std::string("[Function=") + kFunctionName +
         "][MSG=" + ReplaceAll(escapedMessage, "%20", " ") +
         "][PagerNo=" + std::to_string(pagerNo) + "][RESULT=" + IfThenStr(success, "OK", "Error") +
         "][Filename=" + fileName + "][HTTPResponse.txt Not created]";
}

std::string WithoutFirstLineBreak(std::string message) {
  if (std::size_t at = message.find("\r\n"); at != std::string::npos) message.erase(at, 2);
  return message;
}

// Writes the exception report and the failure entry; the trace marker is the failing step's.
void ReportFailure(const FailureDescription& failure, tLogRec& logRec,
                   tExceptionRec& exceptionRec) {
  exceptionRec.FunctionName = kFunctionName;
  exceptionRec.ClassName = failure.ClassName;
  exceptionRec.Message = failure.Message;
  exceptionRec.Trace = logRec.Trace;
  exceptionRec.Beep = true;
  exceptionRec.FileName = GlobalSettings.ExceptionFileName;
  exceptionRec.FileName = SaveExceptionRecAsXML(exceptionRec);

  logRec.Code = kFailureCode;
  logRec.Text = std::string("[Function=") + kFunctionName +
                "][Classname=" + exceptionRec.ClassName +
                "][Message=" + WithoutFirstLineBreak(failure.Message) +
                "][Trace=" + std::to_string(logRec.Trace) + "][Filename=" + exceptionRec.FileName +
                "][CoInitializeCount=" + std::to_string(GlobalSettings.CoInitializeCount) +
                "][Notes=" + exceptionRec.Notes + "]";
  LogEntry(logRec);
}

}  // namespace

tGatewayHost GatewayHost() {
  const char* configured = std::getenv("PAGING_GATEWAY_HOST");
  if (configured != nullptr && *configured != '\0') return {configured, true};
  return {PAGING_GATEWAY_HOST, false};
}

std::string PagingGatewayHost() { return GatewayHost().Host; }

namespace {

tPagingSetting PagingSetting(const char* name, const std::string& builtIn) {
  const char* configured = std::getenv(name);
  if (configured != nullptr && *configured != '\0') return {configured, true, false};
  return {builtIn, false, configured != nullptr};
}

}  // namespace

tPagingSetting PagerIdSetting() {
  return PagingSetting("PAGING_PAGER_ID", std::to_string(kBuiltInPagerNo));
}

tPagingSetting PasswordSetting() { return PagingSetting("PAGING_PASSWORD", kBuiltInPassword); }

std::string PagerIdProblem(const std::string& text) {
  const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  if (digits == text.size() || text.find_first_not_of("0123456789", digits) != std::string::npos)
    return "is not a whole decimal number (digits, a \"-\" at most, no blanks)";
  if (text[digits] == '0' && text.size() > digits + 1)
    return "has a leading zero, which the pager number would drop";
  if (text == "-0") return "is no pager number";
  const std::string limit = digits == 1 ? "2147483648" : "2147483647";
  const std::string magnitude = text.substr(digits);
  if (magnitude.size() > limit.size() || (magnitude.size() == limit.size() && magnitude > limit))
    return "lies outside -2147483648 to 2147483647";
  return "";
}

void ApplyConfiguredPager(tSendPageRec& request) {
  const tPagingSetting pagerId = PagerIdSetting();
  if (const std::string problem = PagerIdProblem(pagerId.Text); !problem.empty())
    throw EPagingSetting("PAGING_PAGER_ID=\"" + PageAnswerText(pagerId.Text) + "\" " + problem +
                         ": no page was sent; set it to the pager's number, as in "
                         "PAGING_PAGER_ID=" +
                         std::to_string(kBuiltInPagerNo) +
                         ", or unset it to page the built-in pager");
  request.PagerNo = static_cast<std::int32_t>(std::stoll(pagerId.Text));
  request.Password = PasswordSetting().Text;
}

namespace {

// The bytes a query carries as they stand: letters, digits, the unreserved "-._~", and the
// sub-delimiters and separators that the gateway takes literally. "&", "=" and "+" are left
// out (the gateway reads them as separators and as a blank), and so is everything a query may
// not hold raw: controls, blank, '"', "#", "%", "<", ">", "[", "\\", "]", "^", "`", "{", "|",
// "}", DEL and every byte of 0x80 and above.
bool StandsInQuery(unsigned char byte) {
  if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9'))
    return true;
  switch (byte) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '\'':
    case '(':
    case ')':
    case '*':
    case ',':
    case ';':
    case ':':
    case '@':
    case '/':
    case '?':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string EscapePageMessage(const std::string& message) {
  std::string escaped;
  escaped.reserve(message.size());
  // Every other byte goes as "%" and two hex digits, so the gateway decodes exactly the
  // message: a "#" cannot end the request target, a "%" cannot start an escape of its own, a
  // CR LF cannot start a header, and "<", ">", "&" and '"' cannot break the page record.
  for (char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (StandsInQuery(byte))
      escaped += c;
    else
      escaped += PercentByte(byte);
  }
  return escaped;
}

std::string PageAnswerText(const std::string& body) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (char c : body.substr(0, kAnswerShown)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte >= 127 || c == '[' || c == ']')
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    else
      shown += c;
  }
  return shown;
}

std::string PageUrl(const std::string& gatewayHost, const tSendPageRec& request) {
  return "http://" + gatewayHost +
         "/cgi-bin/xmhscgi?password=" + EscapePageMessage(request.Password) +
         "&pagerid=" + std::to_string(request.PagerNo) +
         "&message=" + EscapePageMessage(request.Message);
}

namespace {

// The page, to the request's pager or (configured) to the environment's, whose values are left in
// the request.
bool Send(tSendPageRec& request, bool configured) {
  tLogRec logRec;
  tExceptionRec exceptionRec;
  // Declared first so that it goes last, after the failure report and entry.
  std::unique_ptr<THttpClient> client;
  try {
    if (configured) {
      logRec.Trace = 100;
      ApplyConfiguredPager(request);
    }
    logRec.Trace = 110;
    const tSendPageRec page = request;
    const std::string gatewayHost = PagingGatewayHost();
    const std::string escapedMessage = EscapePageMessage(page.Message);
    const std::string url = PageUrl(gatewayHost, page);
    exceptionRec.Notes = url;

    logRec.Trace = 200;
    client = std::make_unique<THttpClient>();
    logRec.Trace = 210;
    client->SetHost(gatewayHost);
    logRec.Trace = 220;
    client->SetPort(kGatewayPort);

    logRec.Trace = 310;
    const std::string response = client->Get(url);
    logRec.Trace = 320;
    if (client->IsConnected()) client->CloseConnection();
    logRec.Trace = 400;
    const bool success = response.find(kSuccessMarker) != std::string::npos;

    logRec.Trace = 520;
    const std::string fileName = "SendPage_" + FormatDateTime("yyyymmddhhnnsszzz", Now()) + ".xml";
    const std::string recordFailure = WritePageRecord(fileName, page, url, success, logRec.Trace);
    if (!recordFailure.empty())
      LogFurtherEntry(kRecordLostCode, std::string("[Function=") + kFunctionName +
                                           "][Note=the page record could not be written]"
                                           "[Filename=" +
                                           fileName + "][Reason=" + recordFailure + "]");
    if (!success)
      LogFurtherEntry(kRefusedCode, std::string("[Function=") + kFunctionName + "][Answer=" +
                                        PageAnswerText(response) + "][Filename=" + fileName + "]");

    logRec.Trace = 1130;
    logRec.Code = kSuccessCode;
    logRec.Text = SuccessText(escapedMessage, page.PagerNo, success, fileName);
    logRec.Trace = 1140;
    LogEntry(logRec);
    ++(success ? RunCounters.PagesAccepted : RunCounters.PagesRefused);
    return success;
  } catch (const std::exception& failure) {
    ++RunCounters.PagesFailed;
    try {
      ReportFailure(DescribeFailure(failure), logRec, exceptionRec);
    } catch (const std::exception&) {
      // Memory ran out while reporting: the false result is all that is left to give.
    }
  }
  return false;
}

}  // namespace

bool SendPage(const tSendPageRec& request) {
  tSendPageRec page = request;
  return Send(page, false);
}

bool SendPageToConfiguredPager(tSendPageRec& request) { return Send(request, true); }
