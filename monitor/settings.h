// The settings file: read as plain text, a setting being the text between "<tag>" and the
// first "</tag>" after it. One table, kSettingTags, names the tags and says for each how the
// monitor converts its text, how a check describes the value and what EventLog does without it:
// the monitor's reader and the settings check (monitor/settings_lint.h) both go by it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/datetime.h"
#include "core/errors.h"

// The settings file in the current directory, and the log watched when it names none.
inline constexpr char kSettingsFileName[] = "EventLog.XML";
inline constexpr char kDefaultLogName[] = "Application";
// A record's event ID is compared by its low 16 bits: a setting outside 0..65535 never matches.
inline constexpr std::int32_t kLargestEventId = 65535;

// The monitor's settings, which are also the search criteria (monitor/eventsearch.h).
struct tEventSearchRecord {
  std::string LogFile;
  std::int32_t EventID = 0;
  std::string Source;
  std::string Action;
  TDateTime LoggedAfter = 0;
  std::int32_t Sleep = 0;
};

// The five settings as the file holds them: the raw text between each tag's markers.
struct tSettingsText {
  std::string LogFile;
  std::string EventID;
  std::string Action;
  std::string LoggedAfter;
  std::string Sleep;
};

// One tag of the settings file.
struct tSettingTag {
  const char* Name;
  std::string tSettingsText::*Text;
  // Turns the tag's text into the monitor's setting; may raise EConvertError (WhenRefused).
  void (*Apply)(const std::string& text, tEventSearchRecord& settings);
  // The setting as the monitor uses it, in an operator's words: "7036", "0 (any event)".
  std::string (*Describe)(const tEventSearchRecord& settings);
  // What EventLog does when the tag is missing or empty.
  const char* WhenMissing;
  // What a text that Apply refuses is, "" for a tag whose every text converts.
  const char* WhenRefused;
};

// The tags in the order the monitor converts them: LogFile, EventID, Action, LoggedAfter, Sleep.
extern const std::array<tSettingTag, 5> kSettingTags;

// Reads the tags of the settings file, each with ReadXMLTag.
tSettingsText ReadSettingsText(const std::string& fileName);

// The tags' texts in a settings file's content, as ReadXMLTag finds them.
tSettingsText SettingsTextOf(const std::string& content);

// Turns the texts into the monitor's settings, tag by tag in the table's order: numbers by
// StrToIntOrZero, the action lower-cased (letters a to z), LoggedAfter by StrToDateTimeOrZero,
// which raises EConvertError for a text that is no date-time (the tags after it stay as they
// were). LogFile stays as written; an empty one means kDefaultLogName.
void ApplySettingsText(const tSettingsText& text, tEventSearchRecord& settings);

// The letters A to Z lower-cased; every other byte stays.
std::string AsciiLowerCase(std::string text);

// The tag's text, or the empty text when the file is absent or a marker is missing.
std::string ReadXMLTag(std::string fileName, std::string tagName);

// The text of the tag in a file's content: from the first "<tag>" to the first "</tag>" after
// it; the empty text when either marker occurs nowhere.
std::string TagText(const std::string& content, const std::string& tagName);

// A whole file as the settings reader reads it: its bytes, or why they could not be read.
struct tFileContent {
  bool Exists = false;  // as platform::FileExists says
  // It could be opened; one that exists but cannot be opened reads as no bytes (its reads fail).
  bool Opened = false;
  std::string Bytes;
  std::optional<FailureDescription> Failure;  // reading failed; Bytes holds what was read
};
tFileContent ReadFileContent(const std::string& fileName);

// The file's bytes, or a failure text: "<name> does not exist", "Error: <message> (<class>)".
std::string ReadFileToString(std::string fileName);

// The text after the start marker, cut before the first end marker that follows it.
std::string ExtractBetween(std::string text, std::string startMarker, std::string endMarker);

// The whole text as a decimal or hexadecimal 32-bit integer, or 0.
std::int32_t StrToIntOrZero(std::string text);

// 0 for the empty text, else the date-time; EConvertError when the text is not one.
TDateTime StrToDateTimeOrZero(std::string text);

// A text for an operator: in double quotes, with \r \n \t, \" and \\ and \xNN for the other
// control characters, so that a blank, a line end or a zero byte is seen for what it is.
std::string VisibleText(const std::string& text);
// The same escapes without the quotes (and without escaping quotes and backslashes).
std::string EscapedText(const std::string& text);

// A moment in the regional short date and long time format, but always with a four-digit year
// ("1/1/2099", "10/9/2017 4:24:00 pm"), so that no year reads as another century.
std::string FullYearDateTimeText(TDateTime moment);
