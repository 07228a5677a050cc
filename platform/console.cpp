#include "platform/console.h"

#include "core/errors.h"

namespace {

constexpr char kEndOfInput = 26;  // Ctrl-Z

[[noreturn]] void RaiseInOutError(int errorCode) {
  throw EInOutError("I/O error " + std::to_string(errorCode));
}

// Standard input, read in blocks; once Ctrl-Z or the end has been seen it stays ended.
class InputReader {
 public:
  // The next byte, or -1 when the input has ended.
  int Next() {
    if (ended_) return -1;
    if (position_ == filled_ && !Refill()) return -1;
    char byte = buffer_[position_++];
    if (byte == kEndOfInput) {
      ended_ = true;
      return -1;
    }
    return static_cast<unsigned char>(byte);
  }

 private:
  bool Refill() {
    int errorCode = 0;
    long count = platform::ReadStandardInput(buffer_, sizeof buffer_, errorCode);
    if (count < 0) RaiseInOutError(errorCode);
    if (count == 0) {
      ended_ = true;
      return false;
    }
    position_ = 0;
    filled_ = static_cast<std::size_t>(count);
    return true;
  }

  char buffer_[4096];
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  bool ended_ = false;
};

InputReader& StandardInput() {
  static InputReader reader;
  return reader;
}

}  // namespace

void ConsoleWrite(std::string_view text) {
  int errorCode = 0;
  if (!platform::WriteStandardOutput(text.data(), text.size(), errorCode))
    RaiseInOutError(errorCode);
}

void ConsoleWriteLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  ConsoleWrite(line);
}

std::string ConsoleReadLine() {
  std::string line;
  for (int byte = StandardInput().Next(); byte != -1 && byte != '\n';
       byte = StandardInput().Next()) {
    // CR LF ends a line like LF does, and a CR on its own is dropped.
    if (byte != '\r') line += static_cast<char>(byte);
  }
  return line;
}

void ErrorWrite(std::string_view text) {
  int errorCode = 0;
  platform::WriteStandardError(text.data(), text.size(), errorCode);
}
