// The fixed protocol bytes the tests assert, kept as files under tests/data the way they travel:
// the page request and other requests, the gateway's answers, the page record, CR LF kept. The
// files are built into this library byte for byte (the list in CMakeLists.txt), so a test finds
// them wherever it runs, under Wine as well. A mark "{name}" (lower-case letters) in a file
// stands for a value the test gives: the loopback gateway's host and port, a request target.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

using tProtocolFill = std::vector<std::pair<std::string, std::string>>;

// The bytes of the file (its path below tests/data) with every mark replaced by its value; the
// values are not searched for marks again. An unknown file, a mark without a value or a value
// for a mark the file lacks raises std::invalid_argument naming it.
std::string ProtocolBytes(std::string_view file, const tProtocolFill& fill = {});

// The file as a regular expression: its bytes and the values of fill match themselves, and each
// mark given in patterns matches that pattern (a page's message whose time varies).
std::string ProtocolPattern(std::string_view file, const tProtocolFill& fill,
                            const tProtocolFill& patterns);

// The text as a regular expression that matches exactly it.
std::string RegexEscape(const std::string& text);

// The page's GET request as the gateway receives it (requests/page.txt).
std::string PageRequestBytes(const std::string& target, const std::string& hostHeader);

// Every file built in, by its path below tests/data; made from the files by CMake.
const std::vector<std::pair<std::string_view, std::string_view>>& ProtocolDataFiles();
