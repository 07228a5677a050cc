// EventLog's log entries as the journal shows them: the page outcomes, refusals, failures and
// unwritten page records read from the entry's text, any other entry whole, each at its priority.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/service/journal_lines.h"

namespace service {

// Digits only, after an optional minus sign.
bool AllDigits(std::string_view text);

struct JournalEntry {
  Priority Level;
  std::string Text;
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

// Any other entry, or one whose text does not have its shape: shown whole, at the priority of its
// level (the code's first digit), a page outcome that does not read at warning.
JournalEntry OtherEntry(const std::string& code, const std::string& text);

}  // namespace service
