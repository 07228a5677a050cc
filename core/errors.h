// Failures of the system: every failure carries the class name and the message that the
// operator sees in the error line, "Error: <message> (<class name>) Trace=<marker>".
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  Exception(std::string className, std::string message)
      : className_(std::move(className)), message_(std::move(message)) {}
  const std::string& ClassName() const { return className_; }
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string className_;
  std::string message_;
};

#define EVENTLOG_DECLARE_EXCEPTION(Name)                                         \
  class Name : public Exception {                                                \
   public:                                                                       \
    explicit Name(std::string message) : Exception(#Name, std::move(message)) {} \
  };

EVENTLOG_DECLARE_EXCEPTION(EConvertError)
// A file refused unread: a symbolic link, no regular file, or past the size it may have.
EVENTLOG_DECLARE_EXCEPTION(EFOpenError)
EVENTLOG_DECLARE_EXCEPTION(EInOutError)
EVENTLOG_DECLARE_EXCEPTION(EOutOfMemory)

// A refused operating system call; the message holds the system's text for the code.
class EOSError : public Exception {
 public:
  EOSError(std::uint32_t errorCode, std::string message)
      : Exception("EOSError", std::move(message)), errorCode_(errorCode) {}
  std::uint32_t ErrorCode() const { return errorCode_; }

 private:
  std::uint32_t errorCode_;
};

// "System Error.  Code: %d." CR LF + the system's text (its trailing blanks, controls and full
// stops cut, at most 256 bytes), or the text for a missing code.
EOSError OSErrorFor(std::uint32_t errorCode, const std::string& systemText);

// The class name and message of any failure that reaches a boundary; exhausted memory is
// EOutOfMemory, a failure from outside the system keeps its own description.
struct FailureDescription {
  std::string ClassName;
  std::string Message;
};
FailureDescription DescribeFailure(const std::exception& failure);
