// EventLog's log entries (log_entries.h).
#include "tools/service/log_entries.h"

#include <algorithm>
#include <cstddef>

namespace service {

namespace {

// The items of a log entry's text, read from both ends: texts from the event and the gateway
// lie in the middle, and may hold anything.
bool CutPrefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}
bool CutSuffix(std::string_view& text, std::string_view suffix) {
  if (!text.ends_with(suffix)) return false;
  text.remove_suffix(suffix.size());
  return true;
}
// Splits at the last occurrence of the separator: before stays in text, the rest is returned.
std::optional<std::string_view> CutLast(std::string_view& text, std::string_view separator) {
  const std::size_t at = text.rfind(separator);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view after = text.substr(at + separator.size());
  text = text.substr(0, at);
  return after;
}

constexpr std::string_view kSendPage = "[Function=tarn32.SendPage]";

}  // namespace

bool AllDigits(std::string_view text) {
  if (text.starts_with('-')) text.remove_prefix(1);
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// 50400: "[MSG=<message>][PagerNo=<n>][RESULT=OK|Error][Filename=<record>][HTTPResponse.txt ...]"
std::optional<JournalEntry> PageOutcome(std::string_view text, std::string& refusedRecord) {
  if (!CutPrefix(text, kSendPage) || !CutPrefix(text, "[MSG=") ||
      !CutSuffix(text, "][HTTPResponse.txt Not created]"))
    return std::nullopt;
  const auto record = CutLast(text, "][Filename=");
  const auto result = CutLast(text, "][RESULT=");
  const auto pager = CutLast(text, "][PagerNo=");
  if (!record || !result || !pager || !AllDigits(*pager)) return std::nullopt;
  if (*result == "OK")
    return JournalEntry{
        Priority::Info,
        "page accepted: " + std::string(text) + " (record " + std::string(*record) + ")",
        EntryKind::PageAccepted,
        {std::string(text), std::string(*record)}};
  if (*result != "Error") return std::nullopt;
  // The refusal was said by its own entry just before, with the gateway's answer.
  if (refusedRecord == *record) {
    refusedRecord.clear();
    return JournalEntry{Priority::Info, "", EntryKind::AlreadySaid, {}};
  }
  return JournalEntry{Priority::Warning,
                      "page refused by the gateway: its answer lacks the success text (record " +
                          std::string(*record) + ")",
                      EntryKind::PageNotConfirmed,
                      {std::string(*record)}};
}

// 40400: "[Answer=<answer, brackets escaped>][Filename=<record>]"
std::optional<JournalEntry> PageRefusal(std::string_view text, std::string& refusedRecord) {
  if (!CutPrefix(text, kSendPage) || !CutPrefix(text, "[Answer=") || !CutSuffix(text, "]"))
    return std::nullopt;
  const std::size_t at = text.find("][Filename=");
  if (at == std::string_view::npos) return std::nullopt;
  const std::string answer(text.substr(0, at));
  refusedRecord = std::string(text.substr(at + 11));
  return JournalEntry{
      Priority::Warning,
      "page refused by the gateway: " + (answer.empty() ? "(an empty answer)" : answer) +
          " (record " + refusedRecord + ")",
      EntryKind::PageRefused,
      {answer, refusedRecord}};
}

// 30000: "[Classname=<c>][Message=<m>][Trace=<n>][Filename=<report>][CoInitializeCount=<n>]
// [Notes=<URL>]". The message comes from the gateway or the system and the URL from the event:
// the items between them are found as the first run that has their exact shape.
std::optional<JournalEntry> PageFailure(std::string_view text) {
  if (!CutPrefix(text, kSendPage) || !CutPrefix(text, "[Classname=") || !CutSuffix(text, "]"))
    return std::nullopt;
  const std::size_t classEnd = text.find("][Message=");
  if (classEnd == std::string_view::npos) return std::nullopt;
  const std::string_view className = text.substr(0, classEnd);
  const std::string_view rest = text.substr(classEnd + 10);
  for (std::size_t at = rest.find("][Trace="); at != std::string_view::npos;
       at = rest.find("][Trace=", at + 1)) {
    std::string_view items = rest.substr(at + 8);
    const std::size_t traceEnd = items.find("][Filename=");
    if (traceEnd == std::string_view::npos || !AllDigits(items.substr(0, traceEnd))) continue;
    items.remove_prefix(traceEnd + 11);
    const std::size_t reportEnd = items.find("][CoInitializeCount=");
    if (reportEnd == std::string_view::npos) continue;
    const std::string_view report = items.substr(0, reportEnd);
    if (report.find(']') != std::string_view::npos) continue;
    items.remove_prefix(reportEnd + 20);
    const std::size_t countEnd = items.find("][Notes=");
    if (countEnd == std::string_view::npos || !AllDigits(items.substr(0, countEnd))) continue;
    return JournalEntry{
        Priority::Err,
        "page failed: " + std::string(rest.substr(0, at)) + " (" + std::string(className) + "); " +
            (report.empty() ? std::string("no report was written")
                            : "report " + std::string(report)),
        EntryKind::PageFailed,
        {std::string(className), std::string(rest.substr(0, at)), std::string(report)}};
  }
  return std::nullopt;
}

// 30100: "[Note=the page record could not be written][Filename=<record>][Reason=<text>]"
std::optional<JournalEntry> UnwrittenRecord(std::string_view text) {
  if (!CutPrefix(text, kSendPage) ||
      !CutPrefix(text, "[Note=the page record could not be written][Filename=") ||
      !CutSuffix(text, "]"))
    return std::nullopt;
  const std::size_t at = text.find("][Reason=");
  if (at == std::string_view::npos) return std::nullopt;
  return JournalEntry{Priority::Err,
                      "page record " + std::string(text.substr(0, at)) +
                          " could not be written: " + std::string(text.substr(at + 9)),
                      EntryKind::RecordUnwritten,
                      {std::string(text.substr(0, at)), std::string(text.substr(at + 9))}};
}

// The alert posts' entries (50410 accepted, 40410 refused, 30010 failed), each for one
// Alertmanager: "[Function=tarn32.PostAlert][URL=<url>]" and then
//   50410 "[Status=<status line>]"
//   40410 "[Status=<status line>][Answer=<answer, brackets escaped>]"
//   30010 "[Classname=<c>][Message=<m>][Trace=<n>][Filename=<report>]"
// The journal says them in words; their parts stay the entry's code and text (an entry of the
// Other kind to the Windows Application log).
std::optional<JournalEntry> AlertPostEntry(const std::string& code, std::string_view text) {
  const std::string whole(text);
  if (!CutPrefix(text, "[Function=tarn32.PostAlert][URL=") || !CutSuffix(text, "]"))
    return std::nullopt;
  auto entry = [&](Priority level, std::string line) {
    return JournalEntry{level, std::move(line), EntryKind::Other, {code, whole}};
  };
  if (code == "50410" || code == "40410") {
    std::optional<std::string_view> answer;
    if (code == "40410" && !(answer = CutLast(text, "][Answer="))) return std::nullopt;
    const auto status = CutLast(text, "][Status=");
    if (!status) return std::nullopt;
    if (code == "50410")
      return entry(Priority::Info,
                   "alert posted to " + std::string(text) + ": " + std::string(*status));
    return entry(Priority::Warning, "alert refused by the Alertmanager at " + std::string(text) +
                                        ": " + std::string(*status) + "; its answer: " +
                                        (answer->empty() ? "(empty)" : std::string(*answer)));
  }
  const auto report = CutLast(text, "][Filename=");
  const auto trace = CutLast(text, "][Trace=");
  if (!report || !trace || !AllDigits(*trace)) return std::nullopt;
  const std::size_t classAt = text.find("][Classname=");
  if (classAt == std::string_view::npos) return std::nullopt;
  std::string_view failure = text.substr(classAt + 12);
  const std::size_t messageAt = failure.find("][Message=");
  if (messageAt == std::string_view::npos) return std::nullopt;
  return entry(Priority::Err, "alert post to " + std::string(text.substr(0, classAt)) +
                                  " failed: " + std::string(failure.substr(messageAt + 10)) + " (" +
                                  std::string(failure.substr(0, messageAt)) + "); " +
                                  (report->empty() ? std::string("no report was written")
                                                   : "report " + std::string(*report)));
}

// 40500 and 50500: the liveness file that EVENTLOG_METRICS_FILE names.
std::optional<JournalEntry> LivenessEntry(const std::string& code, std::string_view text) {
  const std::vector<std::string> parts = {code, std::string(text)};
  if (!CutPrefix(text, "[Function=EventLog.Liveness][Note=the liveness file ") ||
      !CutSuffix(text, "]"))
    return std::nullopt;
  if (code == "40500" && CutPrefix(text, "could not be written][Filename=")) {
    const std::size_t at = text.find("][Reason=");
    if (at == std::string_view::npos) return std::nullopt;
    return JournalEntry{Priority::Warning,
                        "liveness file " + std::string(text.substr(0, at)) +
                            " could not be written (" + std::string(text.substr(at + 9)) +
                            "); paging goes on",
                        EntryKind::Other, parts};
  }
  if (code == "50500" && CutPrefix(text, "is written again][Filename="))
    return JournalEntry{Priority::Info, "liveness file " + std::string(text) + " is written again",
                        EntryKind::Other, parts};
  return std::nullopt;
}

// Any other entry, or one whose text does not have its shape: shown whole, at the priority of its
// level (the code's first digit), a page outcome that does not read at warning.
JournalEntry OtherEntry(const std::string& code, const std::string& text) {
  const int level = code.starts_with('-') ? 0 : code[0] - '0';
  const Priority priority = level <= 3 || code == "30000" || code == "30100" ? Priority::Err
                            : level == 4 || code == "50400"                  ? Priority::Warning
                                                                             : Priority::Info;
  return {priority, "log entry " + code + ": " + text, EntryKind::Other, {code, text}};
}

// One entry of the kit's log writer, by its code.
JournalEntry ReadLogEntry(const std::string& code, const std::string& text,
                          std::string& refusedRecord) {
  std::optional<JournalEntry> entry;
  if (code == "50400") entry = PageOutcome(text, refusedRecord);
  if (code == "40400") entry = PageRefusal(text, refusedRecord);
  if (code == "30000") entry = PageFailure(text);
  if (code == "30100") entry = UnwrittenRecord(text);
  if (code == "50410" || code == "40410" || code == "30010") entry = AlertPostEntry(code, text);
  if (code == "40500" || code == "50500") entry = LivenessEntry(code, text);
  return entry ? *entry : OtherEntry(code, text);
}

}  // namespace service
