// What the check reads back from the files EventLog leaves: the exception reports, the page
// records and the last line of Exception.txt, each made to fit on one line.
#pragma once

#include <string>

namespace check {

// The text of an element of a saved report or page record, read by the platform's XML document
// object (platform/xmldoc.h) with its entities decoded, and its line ends turned into blanks so
// that it fits on one line.
std::string ElementText(const std::string& document, const std::string& element);

// "DateTime ClassName: e.Message" of a saved exception report.
std::string ReportSummary(const std::string& path);

// "DateTime pager PagerNo URL" of a saved page record.
std::string PageRecordSummary(const std::string& path);

// The last line of a text, its control characters shown.
std::string LastLine(const std::string& text);

}  // namespace check
