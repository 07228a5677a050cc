#include "core/http_response.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using core::HttpEvent;
using core::HttpFailure;
using core::tHttpLimits;

const std::string kMarker = "Message succesfully sent";
const std::string kHead200 = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const std::size_t kMebibyte = 1024 * 1024;

std::string Repeated(const std::string& text, std::size_t count) {
  std::string all;
  all.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i) all += text;
  return all;
}

std::string Pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('0' + (i * 7 + i / 10) % 75);
  return text;
}

// A header line of the given length, counted before the LF with its CR.
std::string LongLine(std::size_t length) {
  return "X-Long: " + std::string(length - 9, 'a') + "\r\n";
}

// Header lines of 100 bytes each, LF included.
const std::string kPadLine = "X-Pad: " + std::string(91, 'p') + "\r\n";

std::vector<std::string> Lines(const std::string& line, std::size_t count) {
  return std::vector<std::string>(count, line);
}

tHttpLimits Limits(std::size_t maxLine, std::size_t maxHead, std::size_t maxBody) {
  return {.MaxLineLength = maxLine, .MaxHeadBytes = maxHead, .MaxBodyBytes = maxBody};
}

// What reading a response gave.
struct Outcome {
  HttpEvent Event = HttpEvent::NeedMore;  // End, Failed, or NeedMore when more was awaited
  HttpFailure Failure = HttpFailure::None;
  std::string StatusLine;
  std::int32_t StatusCode = -1;
  std::vector<std::string> Headers;
  std::int64_t ContentLength = -1;
  bool HeadComplete = true;  // the final head was handed over once
  bool Rejected = false;
  bool Cut = false;
  std::string Body;
  std::string Untaken;  // the bytes left unread, a held part of a line first
};

const char* EventName(HttpEvent event) {
  switch (event) {
    case HttpEvent::NeedMore:
      return "NeedMore";
    case HttpEvent::Body:
      return "Body";
    case HttpEvent::HeadComplete:
      return "HeadComplete";
    case HttpEvent::End:
      return "End";
    case HttpEvent::Failed:
      return "Failed";
  }
  return "?";
}

// The differences from the expected outcome, empty when there are none.
std::string Differences(const Outcome& got, const Outcome& want) {
  std::string text;
  auto check = [&](bool same, const std::string& what) {
    if (!same) text += what + "; ";
  };
  check(got.Event == want.Event,
        std::string("event ") + EventName(got.Event) + " instead of " + EventName(want.Event));
  check(got.Failure == want.Failure, "failure " + std::to_string(int(got.Failure)) +
                                         " instead of " + std::to_string(int(want.Failure)));
  check(got.StatusLine == want.StatusLine, "status line \"" + got.StatusLine + "\"");
  check(got.StatusCode == want.StatusCode, "status code " + std::to_string(got.StatusCode));
  check(got.Headers == want.Headers, std::to_string(got.Headers.size()) + " header lines");
  check(got.ContentLength == want.ContentLength,
        "content length " + std::to_string(got.ContentLength));
  check(got.HeadComplete == want.HeadComplete, "head complete " + std::to_string(got.HeadComplete));
  check(got.Rejected == want.Rejected, "rejected " + std::to_string(got.Rejected));
  check(got.Cut == want.Cut, "cut " + std::to_string(got.Cut));
  check(got.Body == want.Body,
        "body of " + std::to_string(got.Body.size()) + " bytes \"" + got.Body.substr(0, 40) + "\"");
  check(got.Untaken == want.Untaken, "untaken " + std::to_string(got.Untaken.size()) + " bytes \"" +
                                         got.Untaken.substr(0, 40) + "\"");
  return text;
}

// Feeds the pieces in order, each until it is taken or the response ended, then the peer's close
// when it closed. Every call must take bytes or finish, and the bounds must hold throughout.
Outcome Read(const std::vector<std::string_view>& pieces, bool closed, const tHttpLimits& limits,
             std::string& fault) {
  core::tHttpResponseReader reader;
  core::StartHttpResponse(reader, limits);
  Outcome outcome;
  int headEvents = 0;
  std::size_t total = 0;
  for (std::string_view piece : pieces) total += piece.size();
  std::size_t calls = 0;
  bool finished = false;
  // One step handled: true when the piece is done with (taken, or the response ended).
  auto handle = [&](const core::tHttpStep& step, std::string_view& rest) {
    if (++calls > 3 * total + 20) fault = "too many calls: the reader goes round in circles";
    if (step.Consumed > rest.size()) fault = "took more than it was given";
    rest.remove_prefix(std::min(step.Consumed, rest.size()));
    if (reader.KeptBodyBytes > limits.MaxBodyBytes) fault = "kept more body than the bound";
    if (reader.HeadBytes > limits.MaxHeadBytes) fault = "head past its bound";
    if (reader.Line.size() > limits.MaxLineLength) fault = "held line past its bound";
    switch (step.Event) {
      case HttpEvent::Body:
        if (step.Body.empty()) fault = "an empty body piece";
        outcome.Body.append(step.Body);
        return !fault.empty();
      case HttpEvent::HeadComplete:
        ++headEvents;
        return !fault.empty();
      case HttpEvent::NeedMore:
        if (!rest.empty()) fault = "needs more with bytes left";
        return true;
      case HttpEvent::End:
      case HttpEvent::Failed:
        finished = true;
        outcome.Event = step.Event;
        outcome.Untaken = reader.Line + std::string(rest);
        return true;
    }
    return true;
  };
  for (std::string_view piece : pieces) {
    if (finished) {
      outcome.Untaken += piece;
      continue;
    }
    std::string_view rest = piece;
    while (!handle(core::FeedHttpResponse(reader, rest), rest)) {
    }
  }
  if (!finished && closed) {
    std::string_view none;
    while (!handle(core::FeedHttpResponseClose(reader), none)) {
    }
    if (!finished) fault = "the close did not finish the response";
  }
  if (!finished) outcome.Untaken = reader.Line;
  if (headEvents > 1) fault = "the head was handed over more than once";
  outcome.Failure = reader.Failure;
  outcome.StatusLine = reader.Head.StatusLine;
  outcome.StatusCode = reader.Head.StatusCode;
  outcome.Headers = reader.Head.RawHeaders;
  outcome.ContentLength = reader.Head.ContentLength;
  outcome.HeadComplete = headEvents == 1;
  outcome.Rejected = reader.Rejected;
  outcome.Cut = reader.Cut;
  return outcome;
}

struct Case {
  std::string what;
  std::string bytes;
  bool closed;  // the peer closes after the bytes
  tHttpLimits limits;
  Outcome want;
};

Outcome Ended(std::string statusLine, std::int32_t code, std::vector<std::string> headers,
              std::int64_t contentLength, std::string body, std::string untaken = "") {
  Outcome outcome;
  outcome.Event = HttpEvent::End;
  outcome.StatusLine = std::move(statusLine);
  outcome.StatusCode = code;
  outcome.Headers = std::move(headers);
  outcome.ContentLength = contentLength;
  outcome.Body = std::move(body);
  outcome.Untaken = std::move(untaken);
  return outcome;
}

Outcome Rejected(Outcome outcome) {
  outcome.Rejected = true;
  return outcome;
}

Outcome CutAt(Outcome outcome) {
  outcome.Cut = true;
  return outcome;
}

// Still waiting for bytes when the feeding stops.
Outcome Waiting(Outcome outcome, bool headComplete) {
  outcome.Event = HttpEvent::NeedMore;
  outcome.HeadComplete = headComplete;
  return outcome;
}

Outcome FailedWith(HttpFailure failure, Outcome outcome, bool headComplete) {
  outcome.Event = HttpEvent::Failed;
  outcome.Failure = failure;
  outcome.HeadComplete = headComplete;
  return outcome;
}

Outcome Nothing() { return Ended("", -1, {}, -1, ""); }

const tHttpLimits kDefault;

std::vector<Case> Cases() {
  const std::string binary("\0\xFF\r\n\x7F", 5);
  const std::string large = Pattern(100000);
  const std::string pattern = Pattern(5000);
  const std::string ok = "Content-Length: 2\r\n\r\nok";
  const std::string status200 = "HTTP/1.1 200 OK";
  const std::string headerPad = kPadLine.substr(0, kPadLine.size() - 2);
  std::vector<Case> cases = {
      // The responses of the client's loopback tests: bodies framed by length, chunks or close.
      {"content length 24",
       kHead200 + "Content-Length: 24\r\n\r\n" + kMarker,
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length: 24"}, 24, kMarker)},
      {"content length shorter than what follows",
       kHead200 + "Content-Length: 5\r\n\r\nHelloWorld",
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length: 5"}, 5, "Hello", "World")},
      {"content length in another case, padded",
       kHead200 + "content-LENGTH:   3  \r\n\r\nabcdef",
       false,
       kDefault,
       Ended(status200, 200, {"content-LENGTH:   3  "}, 3, "abc", "def")},
      {"until the close",
       kHead200 + "Content-Type: text/plain\r\n\r\nfirst part, second part",
       true,
       kDefault,
       Ended(status200, 200, {"Content-Type: text/plain"}, -1, "first part, second part")},
      {"content length that is no number: until the close",
       kHead200 + "Content-Length: many\r\n\r\nall of it",
       true,
       kDefault,
       Ended(status200, 200, {"Content-Length: many"}, -1, "all of it")},
      {"chunked 18 then 0",
       kChunked + "18\r\n" + kMarker + "\r\n0\r\n\r\n",
       false,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, kMarker)},
      {"chunked size line 18;ext=1 reads as 0: the next line ends the body",
       kChunked + "18;ext=1\r\n" + kMarker + "\r\n0\r\n\r\n",
       false,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "", "0\r\n\r\n")},
      {"chunks in hex of both cases",
       kChunked + "A\r\n0123456789\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
       false,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1,
             "0123456789abcdefghijklmnopqrstuvwxyz")},
      {"chunk size with a blank after it",
       kChunked + "3 \r\nabc\r\n0\r\n\r\n",
       false,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "abc")},
      {"Chunked in capitals is no chunking: until the close",
       kHead200 + "Transfer-Encoding: Chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       true,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: Chunked"}, -1, "3\r\nabc\r\n0\r\n\r\n")},
      {"content length wins over chunked",
       kHead200 + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\nabc",
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length: 3", "Transfer-Encoding: chunked"}, 3, "abc")},
      {"100 Continue, then 200",
       "HTTP/1.1 100 Continue\r\n\r\n" + kHead200 + "Content-Length: 24\r\n\r\n" + kMarker,
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length: 24"}, 24, kMarker)},
      {"two interim responses",
       "HTTP/1.1 100 Continue\r\nX-A: 1\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n" + kHead200 + ok,
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length: 2"}, 2, "ok")},
      {"204 has no body",
       "HTTP/1.1 204 No Content\r\n\r\n",
       false,
       kDefault,
       Ended("HTTP/1.1 204 No Content", 204, {}, -1, "")},
      {"content length 0",
       kHead200 + "Content-Length: 0\r\n\r\n",
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length: 0"}, 0, "")},
      {"bare LF line ends",
       "HTTP/1.1 200 OK\nContent-Length: 3\n\nxyz",
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length: 3"}, 3, "xyz")},
      {"bytes unchanged",
       kHead200 + "Content-Length: 5\r\n\r\n" + binary,
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length: 5"}, 5, binary)},
      {"a body over many blocks",
       kHead200 + "Content-Length: 100000\r\n\r\n" + large,
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length: 100000"}, 100000, large)},
      {"content length cut short by the close: every byte that came is kept",
       kHead200 + "Content-Length: 100\r\n\r\n" + std::string(30, 'k'),
       true,
       kDefault,
       Ended(status200, 200, {"Content-Length: 100"}, 100, std::string(30, 'k'))},
      {"an empty Location is no redirect",
       kHead200 + "Location: \r\n" + ok,
       false,
       kDefault,
       Ended(status200, 200, {"Location: ", "Content-Length: 2"}, 2, "ok")},
      {"blanks around the code",
       "HTTP/1.1   201   Created\r\nContent-Length: 1\r\n\r\n!",
       false,
       kDefault,
       Ended("HTTP/1.1   201   Created", 201, {"Content-Length: 1"}, 1, "!")},
      {"HTTP/1.0 status line",
       "HTTP/1.0 299 Whatever\r\nContent-Length: 1\r\n\r\n?",
       false,
       kDefault,
       Ended("HTTP/1.0 299 Whatever", 299, {"Content-Length: 1"}, 1, "?")},
      {"the response record's headers",
       kHead200 + "X-AB: longer name\r\nx-a:   first  \r\nX-A: second\r\nContent-Length: 4\r\n\r\nbody",
       false,
       kDefault,
       Ended(status200, 200, {"X-AB: longer name", "x-a:   first  ", "X-A: second", "Content-Length: 4"},
             4, "body")},
      {"Connection: close",
       kHead200 + "Connection: close\r\n" + ok,
       false,
       kDefault,
       Ended(status200, 200, {"Connection: close", "Content-Length: 2"}, 2, "ok")},

      // Redirects and codes outside 200-299: the body is read all the same.
      {"302 with Location",
       "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 0\r\n\r\n",
       false,
       kDefault,
       Rejected(Ended("HTTP/1.1 302 Found", 302,
                      {"Location: http://elsewhere/", "Content-Length: 0"}, 0, ""))},
      {"301 without Location",
       "HTTP/1.1 301 Moved Permanently\r\nContent-Length: 5\r\n\r\nmoved",
       false,
       kDefault,
       Rejected(Ended("HTTP/1.1 301 Moved Permanently", 301, {"Content-Length: 5"}, 5, "moved"))},
      {"200 with Location",
       kHead200 + "Location: /other\r\n" + ok,
       false,
       kDefault,
       Rejected(Ended(status200, 200, {"Location: /other", "Content-Length: 2"}, 2, "ok"))},
      {"304",
       "HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n",
       false,
       kDefault,
       Rejected(Ended("HTTP/1.1 304 Not Modified", 304, {"Content-Length: 0"}, 0, ""))},
      {"304 without a length reads until the close",
       "HTTP/1.1 304 Not Modified\r\n\r\nstale",
       true,
       kDefault,
       Rejected(Ended("HTTP/1.1 304 Not Modified", 304, {}, -1, "stale"))},
      {"500 with a body",
       "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 16\r\n\r\nGateway exploded",
       false,
       kDefault,
       Rejected(Ended("HTTP/1.1 500 Internal Server Error", 500, {"Content-Length: 16"}, 16,
                      "Gateway exploded"))},
      {"404 with a chunked body",
       "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n8\r\nnot here\r\n0\r\n\r\n",
       false,
       kDefault,
       Rejected(Ended("HTTP/1.1 404 Not Found", 404, {"Transfer-Encoding: chunked"}, -1,
                      "not here"))},
      {"401 with a body until the close",
       "HTTP/1.0 401 Unauthorized\r\n\r\nwho are you",
       true,
       kDefault,
       Rejected(Ended("HTTP/1.0 401 Unauthorized", 401, {}, -1, "who are you"))},
      {"100 Continue, then 500",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 500 Internal Server Error\r\nContent-Length: "
       "3\r\n\r\nbad",
       false,
       kDefault,
       Rejected(Ended("HTTP/1.1 500 Internal Server Error", 500, {"Content-Length: 3"}, 3,
                      "bad"))},
      {"101 is no interim response",
       "HTTP/1.1 101 Switching Protocols\r\n\r\nrest",
       true,
       kDefault,
       Rejected(Ended("HTTP/1.1 101 Switching Protocols", 101, {}, -1, "rest"))},
      {"204 with Location reads its body",
       "HTTP/1.1 204 No Content\r\nLocation: /x\r\n" + ok,
       false,
       kDefault,
       Rejected(
           Ended("HTTP/1.1 204 No Content", 204, {"Location: /x", "Content-Length: 2"}, 2, "ok"))},
      {"204 leaves its stated body unread",
       "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\nhello",
       false,
       kDefault,
       Ended("HTTP/1.1 204 No Content", 204, {"Content-Length: 5"}, 5, "", "hello")},
      {"garbage status line",
       "garbage\r\n\r\n",
       true,
       kDefault,
       Rejected(Ended("garbage", -1, {}, -1, ""))},
      {"status without a number",
       "HTTP/1.1 OK\r\n\r\n",
       true,
       kDefault,
       Rejected(Ended("HTTP/1.1 OK", -1, {}, -1, ""))},
      {"status with letters in the number",
       "HTTP/1.1 2OO OK\r\n\r\n",
       true,
       kDefault,
       Rejected(Ended("HTTP/1.1 2OO OK", -1, {}, -1, ""))},
      {"a continuation line joins the header's value",
       kHead200 + "Content-Length:\r\n 3\r\n\r\nabcd",
       false,
       kDefault,
       Ended(status200, 200, {"Content-Length:", " 3"}, 3, "abc", "d")},

      // Truncated at each stage by the peer's close.
      {"a server that closes without answering", "", true, kDefault,
       FailedWith(HttpFailure::ClosedGracefully, Nothing(), false)},
      {"closed inside the status line", "HTTP/1.1 200 O", true, kDefault,
       FailedWith(HttpFailure::ClosedGracefully, Nothing(), false)},
      {"closed after the status line", kHead200, true, kDefault,
       FailedWith(HttpFailure::UndefinedSituation, Ended(status200, 200, {}, -1, ""), false)},
      {"200 closed inside the headers",
       kHead200 + "Content-Length: 24\r\n",
       true,
       kDefault,
       FailedWith(HttpFailure::UndefinedSituation,
                  Ended(status200, 200, {"Content-Length: 24"}, 24, ""), false)},
      {"503 closed inside the headers",
       "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\n",
       true,
       kDefault,
       Rejected(Ended("HTTP/1.1 503 Service Unavailable", 503, {"Retry-After: 5"}, -1, ""))},
      {"503 closed inside a header line: it counts as sent, CR and all",
       "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nRetry-After: 5\r",
       true,
       kDefault,
       Rejected(Ended("HTTP/1.1 503 Service Unavailable", 503,
                      {"Content-Length: 0", "Retry-After: 5\r"}, 0, ""))},
      {"closed after an interim response", "HTTP/1.1 100 Continue\r\n\r\n", true, kDefault,
       FailedWith(HttpFailure::ClosedGracefully, Nothing(), false)},
      {"closed inside an interim response's headers",
       "HTTP/1.1 100 Continue\r\nX-A: 1\r\n",
       true,
       kDefault,
       FailedWith(HttpFailure::ClosedGracefully, Nothing(), false)},
      {"closed inside chunk data",
       kChunked + "18\r\nMessage",
       true,
       kDefault,
       FailedWith(HttpFailure::ClosedGracefully,
                  Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "Message"), true)},
      {"closed right after chunk data",
       kChunked + "5\r\nhello",
       true,
       kDefault,
       FailedWith(HttpFailure::ClosedGracefully,
                  Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "hello"), true)},
      {"closed inside the line end after chunk data",
       kChunked + "5\r\nhello\r",
       true,
       kDefault,
       FailedWith(HttpFailure::ClosedGracefully,
                  Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "hello"), true)},
      {"closed before the next size line",
       kChunked + "5\r\nhello\r\n",
       true,
       kDefault,
       FailedWith(HttpFailure::ClosedGracefully,
                  Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "hello"), true)},
      {"closed inside a size line",
       kChunked + "5\r\nhello\r\n1",
       true,
       kDefault,
       FailedWith(HttpFailure::ClosedGracefully,
                  Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "hello"), true)},
      {"closed before the line that ends the body",
       kChunked + "5\r\nhello\r\n0\r\n",
       true,
       kDefault,
       FailedWith(HttpFailure::ClosedGracefully,
                  Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "hello"), true)},

      // Peers that stop sending without closing: the reader waits, holding a part of a line.
      {"silent inside the head",
       kHead200 + "Content-Le",
       false,
       kDefault,
       Waiting(Ended(status200, 200, {}, -1, "", "Content-Le"), false)},
      {"silent inside the body",
       kHead200 + "Content-Length: 10\r\n\r\nabc",
       false,
       kDefault,
       Waiting(Ended(status200, 200, {"Content-Length: 10"}, 10, "abc"), true)},
      {"silent inside a chunk",
       kChunked + "10\r\nabc",
       false,
       kDefault,
       Waiting(Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "abc"), true)},
      {"a failing head's body that stops",
       "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 10\r\n\r\nabc",
       false,
       kDefault,
       Waiting(Rejected(Ended("HTTP/1.1 500 Internal Server Error", 500, {"Content-Length: 10"}, 10,
                              "abc")),
               true)},
      {"a head dripping in",
       kHead200 + "X-Drip: " + std::string(40, 'a'),
       false,
       kDefault,
       Waiting(Ended(status200, 200, {}, -1, "", "X-Drip: " + std::string(40, 'a')), false)},
      {"interim responses without end",
       Repeated("HTTP/1.1 100 Continue\r\n\r\n", 50),
       false,
       kDefault,
       Waiting(Nothing(), false)},

      // Chunk framing that is not what it should be.
      {"a chunk size that is no hex number reads as 0",
       kChunked + "zz\r\nabc\r\n0\r\n\r\n",
       false,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "", "0\r\n\r\n")},
      {"a negative chunk size reads as 0",
       kChunked + "-5\r\nabc\r\n",
       false,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "")},
      {"a chunk size of 16 digits reads as 0",
       kChunked + "1000000000000000\r\n\r\nrest",
       false,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "", "rest")},
      {"an empty chunk size line reads as 0",
       kChunked + "\r\nend\r\n",
       false,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "")},
      {"the line after a chunk's data may hold anything",
       kChunked + "3\r\nabcXYZ\r\n2\r\nde\n0\n\n",
       false,
       kDefault,
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "abcde")},
      {"a chunk of 15 hex digits stops at the kept bound",
       kChunked + "fffffffffffffff\r\n0123456789ABC",
       false,
       Limits(16384, 65536, 10),
       CutAt(Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "0123456789", "ABC"))},

      // Lines and heads over their bounds.
      {"a header line of 16384",
       kHead200 + LongLine(16384) + ok,
       false,
       kDefault,
       Ended(status200, 200, {LongLine(16384).substr(0, 16383), "Content-Length: 2"}, 2, "ok")},
      {"a header line of 16385",
       kHead200 + LongLine(16385) + ok,
       false,
       kDefault,
       FailedWith(HttpFailure::LineTooLong, Ended(status200, 200, {}, -1, "", LongLine(16385) + ok),
                  false)},
      {"a bare-LF line of 16384",
       kHead200 + "X-Long: " + std::string(16376, 'a') + "\n" + ok,
       false,
       kDefault,
       Ended(status200, 200, {"X-Long: " + std::string(16376, 'a'), "Content-Length: 2"}, 2, "ok")},
      {"a bare-LF line of 16385",
       kHead200 + "X-Long: " + std::string(16377, 'a') + "\n" + ok,
       false,
       kDefault,
       FailedWith(HttpFailure::LineTooLong,
                  Ended(status200, 200, {}, -1, "", "X-Long: " + std::string(16377, 'a') + "\n" + ok),
                  false)},
      {"a status line over the bound",
       "HTTP/1.1 200 " + std::string(20000, 'O') + "\r\n" + ok,
       false,
       kDefault,
       FailedWith(HttpFailure::LineTooLong,
                  Ended("", -1, {}, -1, "", "HTTP/1.1 200 " + std::string(20000, 'O') + "\r\n" + ok),
                  false)},
      {"a chunk-size line over the bound",
       kChunked + "2" + std::string(16384, ' ') + "\r\nok\r\n0\r\n\r\n",
       false,
       kDefault,
       FailedWith(HttpFailure::LineTooLong,
                  Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "",
                        "2" + std::string(16384, ' ') + "\r\nok\r\n0\r\n\r\n"),
                  true)},
      {"a line that never ends",
       kHead200 + "X-Endless: " + std::string(16374, 'a'),
       false,
       kDefault,
       FailedWith(HttpFailure::LineTooLong,
                  Ended(status200, 200, {}, -1, "", "X-Endless: " + std::string(16374, 'a')),
                  false)},
      {"a line just short of the bound that the close ends",
       "HTTP/1.1 503 X\r\nX-Endless: " + std::string(16373, 'a'),
       true,
       kDefault,
       Rejected(Ended("HTTP/1.1 503 X", 503, {"X-Endless: " + std::string(16373, 'a')}, -1, ""))},
      {"a shorter line bound",
       kHead200 + LongLine(65) + ok,
       false,
       Limits(64, 65536, kMebibyte),
       FailedWith(HttpFailure::LineTooLong, Ended(status200, 200, {}, -1, "", LongLine(65) + ok),
                  false)},
      {"a head of 60000 bytes",
       kHead200 + Repeated(kPadLine, 600) + ok,
       false,
       kDefault,
       [&] {
         std::vector<std::string> headers = Lines(headerPad, 600);
         headers.push_back("Content-Length: 2");
         return Ended(status200, 200, headers, 2, "ok");
       }()},
      {"two heads of 40000 bytes: the bound is per head",
       "HTTP/1.1 100 Continue\r\n" + Repeated(kPadLine, 400) + "\r\n" + kHead200 +
           Repeated(kPadLine, 400) + ok,
       false,
       kDefault,
       [&] {
         std::vector<std::string> headers = Lines(headerPad, 400);
         headers.push_back("Content-Length: 2");
         return Ended(status200, 200, headers, 2, "ok");
       }()},
      // 17 + 655 * 100 = 65517 bytes fit, the 656th line does not.
      {"a head of 70000 bytes",
       kHead200 + Repeated(kPadLine, 700) + ok,
       false,
       kDefault,
       FailedWith(HttpFailure::HeadTooLong,
                  Ended(status200, 200, Lines(headerPad, 655), -1, "",
                        Repeated(kPadLine, 45) + ok),
                  false)},
      // 17 + 5039 * 13 = 65524 bytes fit.
      {"a head that never ends",
       kHead200 + Repeated("X-Pad: aaaa\r\n", 5100),
       false,
       kDefault,
       FailedWith(HttpFailure::HeadTooLong,
                  Ended(status200, 200, Lines("X-Pad: aaaa", 5039), -1, "",
                        Repeated("X-Pad: aaaa\r\n", 61)),
                  false)},
      // 17 + 81 + 2 = 100: the whole head, its empty line included, is at the bound.
      {"a head of exactly the bound",
       kHead200 + "X: " + std::string(76, 'a') + "\r\n\r\nbody",
       true,
       Limits(16384, 100, kMebibyte),
       Ended(status200, 200, {"X: " + std::string(76, 'a')}, -1, "body")},
      {"a head one byte over the bound",
       kHead200 + "X: " + std::string(77, 'a') + "\r\n\r\nbody",
       true,
       Limits(16384, 100, kMebibyte),
       FailedWith(HttpFailure::HeadTooLong,
                  Ended(status200, 200, {"X: " + std::string(77, 'a')}, -1, "", "\r\nbody"),
                  false)},

      // Bodies past the kept bound: the first bytes are kept, the rest is left unread.
      {"endless until the close",
       kHead200 + "\r\n" + std::string(kMebibyte + 8192, 'x'),
       false,
       kDefault,
       CutAt(Ended(status200, 200, {}, -1, std::string(kMebibyte, 'x'), std::string(8192, 'x')))},
      {"content length above the bound",
       kHead200 + "Content-Length: 5000000\r\n\r\n" + std::string(kMebibyte + 8192, 'x'),
       false,
       kDefault,
       CutAt(Ended(status200, 200, {"Content-Length: 5000000"}, 5000000,
                   std::string(kMebibyte, 'x'), std::string(8192, 'x')))},
      {"endless chunks",
       kChunked + Repeated("1000\r\n" + std::string(4096, 'y') + "\r\n", 258),
       false,
       kDefault,
       CutAt(Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, std::string(kMebibyte, 'y'),
                   std::string(4096, 'y') + "\r\n1000\r\n" + std::string(4096, 'y') + "\r\n"))},
      {"a shorter bound keeps the first bytes",
       kHead200 + "Content-Length: 5000\r\n\r\n" + pattern,
       false,
       Limits(16384, 65536, 1000),
       CutAt(Ended(status200, 200, {"Content-Length: 5000"}, 5000, pattern.substr(0, 1000),
                   pattern.substr(1000)))},
      {"a body of exactly the bound is whole",
       kHead200 + "Content-Length: 5000\r\n\r\n" + pattern,
       false,
       Limits(16384, 65536, 5000),
       Ended(status200, 200, {"Content-Length: 5000"}, 5000, pattern)},
      {"a failing response with an endless body",
       "HTTP/1.1 500 Internal Server Error\r\n\r\n" + std::string(kMebibyte + 4096, 'e'),
       false,
       kDefault,
       CutAt(Rejected(Ended("HTTP/1.1 500 Internal Server Error", 500, {}, -1,
                            std::string(kMebibyte, 'e'), std::string(4096, 'e'))))},
      {"a bound of 0 cuts a body until the close at once",
       kHead200 + "\r\nabc",
       true,
       Limits(16384, 65536, 0),
       CutAt(Ended(status200, 200, {}, -1, "", "abc"))},
      {"a bound of 0 cuts a counted body at once",
       kHead200 + "Content-Length: 3\r\n\r\nabc",
       false,
       Limits(16384, 65536, 0),
       CutAt(Ended(status200, 200, {"Content-Length: 3"}, 3, "", "abc"))},
      {"a bound of 0 cuts at the first chunk",
       kChunked + "3\r\nabc\r\n0\r\n\r\n",
       false,
       Limits(16384, 65536, 0),
       CutAt(Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "", "abc\r\n0\r\n\r\n"))},
      {"a bound of 0 leaves an empty chunked body whole",
       kChunked + "0\r\n\r\n",
       false,
       Limits(16384, 65536, 0),
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "")},
      {"chunks of exactly the bound end whole",
       kChunked + "4\r\nabcd\r\n0\r\n\r\n",
       false,
       Limits(16384, 65536, 4),
       Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "abcd")},
      {"a chunk past exactly the bound is cut",
       kChunked + "4\r\nabcd\r\n1\r\ne\r\n0\r\n\r\n",
       false,
       Limits(16384, 65536, 4),
       CutAt(Ended(status200, 200, {"Transfer-Encoding: chunked"}, -1, "abcd", "e\r\n0\r\n\r\n"))},
  };
  return cases;
}

// Fed whole, in two pieces split at each position and one byte at a time, every response gives
// its one outcome. Responses over 20000 bytes are split at every position of their first and
// last 200 bytes and at some 200 positions in between.
TEST(HttpResponseReader, EveryResponseGivesItsOutcomeHoweverItArrives) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    const std::string_view bytes = c.bytes;
    auto check = [&](const std::vector<std::string_view>& pieces, const std::string& how) {
      std::string fault;
      const Outcome got = Read(pieces, c.closed, c.limits, fault);
      EXPECT_EQ(fault, "") << how;
      const std::string differences = Differences(got, c.want);
      EXPECT_EQ(differences, "") << how;
      return fault.empty() && differences.empty();
    };
    if (!check({bytes}, "whole")) continue;
    for (std::size_t at = 0; at <= bytes.size(); ++at) {
      const bool edge = bytes.size() <= 20000 || at < 200 || bytes.size() - at < 200;
      if (!edge && at % std::max<std::size_t>(97, bytes.size() / 200) != 0) continue;
      if (!check({bytes.substr(0, at), bytes.substr(at)}, "split at " + std::to_string(at))) break;
    }
    std::vector<std::string_view> single;
    single.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size(); ++at) single.push_back(bytes.substr(at, 1));
    check(single, "a byte at a time");
  }
}

TEST(HttpResponseReader, HeaderValuesFollowTheFirstLineOfTheName) {
  const std::vector<std::string> headers = {
      "X-AB: longer name", "x-a:   first  ", "  folded", "\tagain", "X-A: second",
      "Content-Length: 4", "No colon here",  " : 5",     "Empty:"};
  EXPECT_EQ(core::HttpHeaderValue(headers, "X-A"), "first folded again");
  EXPECT_EQ(core::HttpHeaderValue(headers, "x-ab"), "longer name");
  EXPECT_EQ(core::HttpHeaderValue(headers, "CONTENT-LENGTH"), "4");
  EXPECT_EQ(core::HttpHeaderValue(headers, "No colon here"), "");
  EXPECT_EQ(core::HttpHeaderValue(headers, ""), "");  // " : 5" is a continuation line
  EXPECT_EQ(core::HttpHeaderValue(headers, "Empty"), "");
  EXPECT_EQ(core::HttpHeaderValue(headers, "X-Missing"), "");
}

TEST(HttpResponseReader, StatusCodesAndChunkSizesReadAsTheyStand) {
  const std::pair<std::string, std::int32_t> codes[] = {{"HTTP/1.1 200 OK", 200},
                                                        {"HTTP/1.1   201   Created", 201},
                                                        {"HTTP/1.1 -5 Odd", -5},
                                                        {"HTTP/1.1 +7", 7},
                                                        {"HTTP/1.1 2147483647 X", 2147483647},
                                                        {"HTTP/1.1 2147483648 X", -1},
                                                        {"HTTP/1.1 2OO OK", -1},
                                                        {"HTTP/1.1", -1},
                                                        {"garbage", -1},
                                                        {"HTTP/1.1 \t200\t OK", -1},
                                                        {"", -1}};
  for (const auto& [line, code] : codes) EXPECT_EQ(core::ParseStatusCode(line), code) << line;
  const std::pair<std::string, std::uint64_t> sizes[] = {{"18", 24},
                                                         {"1a", 26},
                                                         {"1A ext", 26},
                                                         {"18;ext=1", 0},
                                                         {"", 0},
                                                         {" 5", 0},
                                                         {"-5", 0},
                                                         {"0x10", 0},
                                                         {"fffffffffffffff", 0xfffffffffffffffu},
                                                         {"1000000000000000", 0}};
  for (const auto& [line, size] : sizes) EXPECT_EQ(core::ParseChunkSize(line), size) << line;
}

}  // namespace
