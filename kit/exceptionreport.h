// Exception reports: one small XML file per failure next to the program, with a dated line in
// "Exception.txt" when the report cannot be written.
#pragma once

#include <string>

#include "kit/records.h"

// Writes the report and returns its file name as far as it was built; never raises.
std::string SaveExceptionRecAsXML(tExceptionRec record);

// The report file's name: the directory, then the template with its first "{timestamp}"
// replaced, or "EXCEPTION-" + timestamp + ".XML" for an empty template.
std::string ExceptionReportFileName(const std::string& directory, const std::string& nameTemplate,
                                    const std::string& timestamp);
