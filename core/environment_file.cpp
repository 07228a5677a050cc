#include "core/environment_file.h"

namespace core {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string Trimmed(const std::string& text) {
  std::size_t start = 0, end = text.size();
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
  return text.substr(start, end - start);
}

bool IsVariableName(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

// The value without its enclosing quotes; in double quotes a backslash escapes the next
// character.
std::string Unquoted(const std::string& value) {
  if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') ||
      value.back() != value.front())
    return value;
  const std::string inner = value.substr(1, value.size() - 2);
  if (value.front() == '\'') return inner;
  std::string result;
  for (std::size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '\\' && i + 1 < inner.size()) ++i;
    result += inner[i];
  }
  return result;
}

}  // namespace

EnvironmentFile ParseEnvironmentFile(const std::string& text) {
  EnvironmentFile file;
  int lineNumber = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    // One logical line: physical lines joined while one ends in a backslash.
    const int firstLine = ++lineNumber;
    std::string line;
    for (;;) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string physical = text.substr(start, end - start);
      start = end + 1;
      if (!physical.empty() && physical.back() == '\r') physical.pop_back();
      const std::string trimmed = Trimmed(physical);
      const bool comment = !trimmed.empty() && (trimmed[0] == '#' || trimmed[0] == ';');
      if (!line.empty() && comment) {  // a comment inside a continued line is left out
        ++lineNumber;
        continue;
      }
      if (!physical.empty() && physical.back() == '\\' && !comment && start < text.size()) {
        physical.pop_back();
        line += physical;
        ++lineNumber;
        continue;
      }
      line += physical;
      break;
    }
    const std::string trimmed = Trimmed(line);
    if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') continue;
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos) {
      file.Problems.push_back({firstLine, line, "no '=' in the line"});
      continue;
    }
    const std::string name = Trimmed(trimmed.substr(0, equals));
    if (!IsVariableName(name)) {
      file.Problems.push_back({firstLine, line, "'" + name + "' is not a variable name"});
      continue;
    }
    file.Assignments.push_back({firstLine, name, Unquoted(Trimmed(trimmed.substr(equals + 1)))});
  }
  return file;
}

}  // namespace core
