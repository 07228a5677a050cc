// EventLog's log entries as the journal shows them: the page outcomes, refusals, failures and
// unwritten page records read from the entry's text, any other entry whole, each at its priority.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/service/journal_lines.h"

namespace service {

// Digits only, after an optional minus sign.
bool AllDigits(std::string_view text);

// What an entry says, with its parts as they stand in the entry (before the journal's wording):
//   PageAccepted     {page message, page record}
//   PageRefused      {gateway's answer, page record}
//   PageNotConfirmed {page record} (an outcome "Error" without a refusal said before it)
//   PageFailed       {class name, message, exception report, empty when none was written}
//   RecordUnwritten  {page record, reason}
//   Other            {code, text}
//   AlreadySaid      {} (a refused page's outcome, after its refusal was said)
enum class EntryKind {
  PageAccepted,
  PageRefused,
  PageNotConfirmed,
  PageFailed,
  RecordUnwritten,
  Other,
  AlreadySaid
};

struct JournalEntry {
  Priority Level;
  std::string Text;
  EntryKind Kind = EntryKind::Other;
  std::vector<std::string> Parts;
};

// 50400: "[MSG=<message>][PagerNo=<n>][RESULT=OK|Error][Filename=<record>][HTTPResponse.txt ...]"
std::optional<JournalEntry> PageOutcome(std::string_view text, std::string& refusedRecord);

// 40400: "[Answer=<answer, brackets escaped>][Filename=<record>]"
std::optional<JournalEntry> PageRefusal(std::string_view text, std::string& refusedRecord);

// 30000: "[Classname=<c>][Message=<m>][Trace=<n>][Filename=<report>][CoInitializeCount=<n>]
// [Notes=<URL>]". The message comes from the gateway or the system and the URL from the event:
// the items between them are found as the first run that has their exact shape.
std::optional<JournalEntry> PageFailure(std::string_view text);

// 30100: "[Note=the page record could not be written][Filename=<record>][Reason=<text>]"
std::optional<JournalEntry> UnwrittenRecord(std::string_view text);

// The alert posts' entries, each for one Alertmanager: "[Function=tarn32.PostAlert][URL=<url>]"
// and then 50410 (accepted, info) "[Status=<status line>]", 40410 (refused, warning)
// "[Status=<status line>][Answer=<answer, brackets escaped>]", 30010 (failed, err)
// "[Classname=<c>][Message=<m>][Trace=<n>][Filename=<report>]". Kind Other, parts {code, text}.
std::optional<JournalEntry> AlertPostEntry(const std::string& code, std::string_view text);

// 40500: "[Function=EventLog.Liveness][Note=the liveness file could not be written]
// [Filename=<file>][Reason=<text>]", and 50500 "...[Note=the liveness file is written again]
// [Filename=<file>]": a warning and a note, of the kind Other (code and text as they stand).
std::optional<JournalEntry> LivenessEntry(const std::string& code, std::string_view text);

// Any other entry, or one whose text does not have its shape: shown whole, at the priority of its
// level (the code's first digit), a page outcome that does not read at warning.
JournalEntry OtherEntry(const std::string& code, const std::string& text);

// One entry of the kit's log writer, by its code: the shapes above, else OtherEntry. The record
// of the last refusal said is kept between entries (the outcome after a refusal is AlreadySaid).
JournalEntry ReadLogEntry(const std::string& code, const std::string& text,
                          std::string& refusedRecord);

}  // namespace service
