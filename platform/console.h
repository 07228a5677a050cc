// The console: standard input and output as 8-bit text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Writes the text and flushes it; a failing write raises EInOutError.
void ConsoleWrite(std::string_view text);
// Writes the text with CR LF and flushes it.
void ConsoleWriteLine(std::string_view text);
// Reads one answer: up to LF or CR LF, a lone CR dropped; Ctrl-Z or the end of input ends
// the input, after which every answer is empty. A failing read raises EInOutError.
std::string ConsoleReadLine();
// Writes to standard error; failures are ignored (there is nowhere left to report them).
void ErrorWrite(std::string_view text);

namespace platform {
// Raw standard streams. The writes return false, and the read -1, with errorCode set on failure.
bool WriteStandardOutput(const char* data, std::size_t size, int& errorCode);
bool WriteStandardError(const char* data, std::size_t size, int& errorCode);
long ReadStandardInput(char* buffer, std::size_t size, int& errorCode);
}  // namespace platform
