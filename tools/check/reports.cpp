// The files EventLog leaves, read back (reports.h).
#include "tools/check/reports.h"

#include <algorithm>
#include <cstddef>

#include "monitor/settings.h"
#include "paging/sendpage.h"
#include "platform/xmldoc.h"

namespace check {

std::string ElementText(const std::string& document, const std::string& element) {
  std::string text = platform::SavedElementText(document, element);
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.replace(at, 2, " ");
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return EscapedText(text);
}

std::string ReportSummary(const std::string& path) {
  const std::string report = ReadFileToString(path);
  return ElementText(report, "DateTime") + " " + ElementText(report, "ClassName") + ": " +
         ElementText(report, "e.Message");
}

std::string PageRecordSummary(const std::string& path) {
  const std::string record = ReadFileToString(path);
  // A password of the operator's own shows as "***"; the built-in one is no secret of theirs.
  std::string url = ElementText(record, "URL");
  const std::string key = "?password=";
  if (const std::size_t at = url.find(key); at != std::string::npos) {
    const std::size_t start = at + key.size();
    const std::size_t end = std::min(url.find('&', start), url.size());
    if (url.compare(start, end - start, kBuiltInPassword) != 0)
      url.replace(start, end - start, "***");
  }
  return ElementText(record, "DateTime") + " pager " + ElementText(record, "PagerNo") + " " + url;
}

std::string LastLine(const std::string& text) {
  std::string rest = text;
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.pop_back();
  const std::size_t start = rest.find_last_of('\n');
  return EscapedText(start == std::string::npos ? rest : rest.substr(start + 1));
}

}  // namespace check
