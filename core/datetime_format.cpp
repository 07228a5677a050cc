#include "core/datetime_format.h"

#include <utility>

#include "core/ascii.h"

namespace {

const char* const kEnglishDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};

std::string Padded(int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// The length of a designator item ("AMPM", "am/pm", "a/p") starting at a position, else 0.
size_t DesignatorItemLength(std::string_view pattern, size_t at) {
  const std::string_view rest = pattern.substr(at);
  if (core::StartsWithIgnoringAsciiCase(rest, "ampm")) return 4;
  if (core::StartsWithIgnoringAsciiCase(rest, "am/pm")) return 5;
  if (core::StartsWithIgnoringAsciiCase(rest, "a/p")) return 3;
  return 0;
}

// A pattern with a designator item shows the hour on the 12-hour clock.
bool UsesTwelveHourClock(std::string_view pattern) {
  for (size_t i = 0; i < pattern.size();) {
    if (pattern[i] == '"' || pattern[i] == '\'') {
      i = QuotedTextEnd(pattern, i);
    } else if (DesignatorItemLength(pattern, i) > 0) {
      return true;
    } else {
      ++i;
    }
  }
  return false;
}

class PatternWriter {
 public:
  PatternWriter(const core::SystemTime& fields, const RegionalSettings& settings, bool twelveHour)
      : fields_(fields), settings_(settings), twelveHour_(twelveHour) {}

  std::string Write(std::string_view pattern) {
    for (size_t i = 0; i < pattern.size();) i = WriteItemAt(pattern, i);
    return std::move(out_);
  }

 private:
  size_t WriteItemAt(std::string_view pattern, size_t at) {
    const char c = pattern[at];
    if (c == '"' || c == '\'') {
      const size_t close = pattern.find(c, at + 1);
      if (close == std::string_view::npos) {
        out_.append(pattern.substr(at + 1));
        return pattern.size();
      }
      out_.append(pattern.substr(at + 1, close - at - 1));
      return close + 1;
    }
    if (c == '/') return Append(settings_.DateSeparator, at + 1);
    if (c == ':') return Append(settings_.TimeSeparator, at + 1);
    if (const size_t length = DesignatorItemLength(pattern, at)) {
      WriteDesignator(pattern.substr(at, length));
      afterHour_ = false;
      return at + length;
    }
    const char letter = core::AsciiLower(c);
    if (std::string_view("ymdhnsz").find(letter) == std::string_view::npos)
      return Append(c, at + 1);
    size_t end = at;
    while (end < pattern.size() && core::AsciiLower(pattern[end]) == letter) ++end;
    WriteNumberItem(letter, static_cast<int>(end - at));
    afterHour_ = letter == 'h';
    return end;
  }

  size_t Append(char c, size_t next) {
    out_ += c;
    return next;
  }

  void WriteDesignator(std::string_view item) {
    const bool morning = fields_.Hour < 12;
    if (item.size() == 4) {
      out_ += morning ? settings_.TimeAMString : settings_.TimePMString;
    } else if (item.size() == 5) {
      out_.append(morning ? item.substr(0, 2) : item.substr(3, 2));
    } else {
      out_ += morning ? item[0] : item[2];
    }
  }

  void WriteNumberItem(char letter, int count) {
    switch (letter) {
      case 'y':
        out_ += count <= 2 ? Padded(fields_.Year % 100, 2) : Padded(fields_.Year, 4);
        break;
      case 'm':
        if (count <= 2 && afterHour_) {
          out_ += Padded(fields_.Minute, count);
        } else if (count <= 2) {
          out_ += Padded(fields_.Month, count);
        } else if (fields_.Month >= 1 && fields_.Month <= 12) {
          out_ += settings_.ShortMonthNames[fields_.Month - 1];
        }
        break;
      case 'd':
        if (count <= 2) {
          out_ += Padded(fields_.Day, count);
        } else {
          const std::string name =
              kEnglishDayNames[core::DayOfWeek(fields_.Year, fields_.Month, fields_.Day)];
          out_ += count == 3 ? name.substr(0, 3) : name;
        }
        break;
      case 'h':
        out_ += Padded(DisplayedHour(), count >= 2 ? 2 : 1);
        break;
      case 'n':
        out_ += Padded(fields_.Minute, count >= 2 ? 2 : 1);
        break;
      case 's':
        out_ += Padded(fields_.Second, count >= 2 ? 2 : 1);
        break;
      case 'z':
        out_ += Padded(fields_.Millisecond, count >= 2 ? 3 : 1);
        break;
    }
  }

  int DisplayedHour() const {
    if (!twelveHour_) return fields_.Hour;
    const int hour = fields_.Hour % 12;
    return hour == 0 ? 12 : hour;
  }

  const core::SystemTime& fields_;
  const RegionalSettings& settings_;
  const bool twelveHour_;
  bool afterHour_ = false;
  std::string out_;
};

std::string FormatFields(std::string_view pattern, const core::SystemTime& fields,
                         const RegionalSettings& settings) {
  return PatternWriter(fields, settings, UsesTwelveHourClock(pattern)).Write(pattern);
}

}  // namespace

size_t QuotedTextEnd(std::string_view pattern, size_t open) {
  const size_t close = pattern.find(pattern[open], open + 1);
  return close == std::string_view::npos ? pattern.size() : close + 1;
}

std::string FormatDateTime(std::string_view pattern, TDateTime moment,
                           const RegionalSettings& settings) {
  return FormatFields(pattern, DecodeDateTime(moment), settings);
}

std::string DateTimeToStr(TDateTime moment, const RegionalSettings& settings) {
  const core::SystemTime fields = DecodeDateTime(moment);
  std::string text = FormatFields(settings.ShortDateFormat, fields, settings);
  if (fields.Hour != 0 || fields.Minute != 0 || fields.Second != 0)
    text += ' ' + FormatFields(settings.LongTimeFormat, fields, settings);
  return text;
}

std::string DateTimeToStrOrEmpty(TDateTime moment) {
  return moment == 0 ? std::string() : DateTimeToStr(moment);
}
