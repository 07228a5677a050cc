// The settings file: read as plain text, a setting being the text between "<tag>" and the
// first "</tag>" after it.
#pragma once

#include <cstdint>
#include <string>

#include "core/datetime.h"
#include "monitor/eventsearch.h"

// The settings file in the current directory, and the log watched when it names none.
inline constexpr char kSettingsFileName[] = "EventLog.XML";
inline constexpr char kDefaultLogName[] = "Application";

// The five settings as the file holds them: the raw text between each tag's markers.
struct tSettingsText {
  std::string LogFile;
  std::string EventID;
  std::string Action;
  std::string LoggedAfter;
  std::string Sleep;
};

// Reads the five tags of the settings file, each with ReadXMLTag.
tSettingsText ReadSettingsText(const std::string& fileName);

// Turns the texts into the monitor's settings: numbers by StrToIntOrZero, the action lower-cased
// (letters a to z), LoggedAfter by StrToDateTimeOrZero, which raises EConvertError for a text
// that is no date-time. LogFile stays as written; an empty one means kDefaultLogName.
void ApplySettingsText(const tSettingsText& text, tEventSearchRecord& settings);

// The letters A to Z lower-cased; every other byte stays.
std::string AsciiLowerCase(std::string text);

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
