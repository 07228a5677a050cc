// The settings file: read as plain text, a setting being the text between "<tag>" and the
// first "</tag>" after it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/datetime.h"

// The tag's text, or the empty text when the file is absent or a marker is missing.
std::string ReadXMLTag(std::string fileName, std::string tagName);

// The file's bytes, or a failure text: "<name> does not exist", "Error: <message> (<class>)".
std::string ReadFileToString(std::string fileName);

// The text after the start marker, cut before the first end marker that follows it.
std::string ExtractBetween(std::string text, std::string startMarker, std::string endMarker);

// The whole text as a decimal or hexadecimal 32-bit integer, or 0.
std::int32_t StrToIntOrZero(std::string text);

// 0 for the empty text, else the date-time; EConvertError when the text is not one.
TDateTime StrToDateTimeOrZero(std::string text);
