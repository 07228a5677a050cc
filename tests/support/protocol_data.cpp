#include "tests/support/protocol_data.h"

#include <algorithm>
#include <stdexcept>

namespace {

bool IsMarkLetter(char c) { return c >= 'a' && c <= 'z'; }

using Fill = std::vector<const tProtocolFill::value_type*>;

// The file with its marks replaced: literal text and the values of fill pass through literal(),
// the values of patterns go in as they are.
std::string Expand(std::string_view file, const tProtocolFill& fill, const tProtocolFill& patterns,
                   std::string (*literal)(const std::string&)) {
  const auto& files = ProtocolDataFiles();
  const auto found = std::find_if(files.begin(), files.end(),
                                  [&](const auto& entry) { return entry.first == file; });
  const std::string name = "tests/data/" + std::string(file);
  if (found == files.end())
    throw std::invalid_argument(name + " is not built in: add it to tests/support/CMakeLists.txt");
  Fill values;
  for (const auto& entry : fill) values.push_back(&entry);
  const std::size_t literalValues = values.size();
  for (const auto& entry : patterns) values.push_back(&entry);
  std::vector<bool> used(values.size(), false);

  const std::string_view text = found->second;
  std::string bytes;
  std::string pending;  // literal text not yet passed through literal()
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = at + 1;
    while (text[at] == '{' && end < text.size() && IsMarkLetter(text[end])) ++end;
    if (text[at] != '{' || end == at + 1 || end == text.size() || text[end] != '}') {
      pending += text[at++];
      continue;
    }
    const std::string_view mark = text.substr(at + 1, end - at - 1);
    const auto value = std::find_if(values.begin(), values.end(),
                                    [&](const auto* entry) { return entry->first == mark; });
    if (value == values.end())
      throw std::invalid_argument(name + ": no value for {" + std::string(mark) + "}");
    const auto index = static_cast<std::size_t>(value - values.begin());
    used[index] = true;
    if (index < literalValues) {
      pending += (*value)->second;
    } else {
      bytes += literal(pending) + (*value)->second;
      pending.clear();
    }
    at = end + 1;
  }
  for (std::size_t i = 0; i < values.size(); ++i)
    if (!used[i]) throw std::invalid_argument(name + " has no mark {" + values[i]->first + "}");
  return bytes + literal(pending);
}

std::string AsItStands(const std::string& text) { return text; }

}  // namespace

std::string ProtocolBytes(std::string_view file, const tProtocolFill& fill) {
  return Expand(file, fill, {}, AsItStands);
}

std::string ProtocolPattern(std::string_view file, const tProtocolFill& fill,
                            const tProtocolFill& patterns) {
  return Expand(file, fill, patterns, RegexEscape);
}

std::string RegexEscape(const std::string& text) {
  static const std::string special = R"(\^$.|?*+()[]{}/-)";
  std::string escaped;
  for (char c : text) {
    if (special.find(c) != std::string::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string PageRequestBytes(const std::string& target, const std::string& hostHeader) {
  return ProtocolBytes("requests/page.txt", {{"target", target}, {"host", hostHeader}});
}
