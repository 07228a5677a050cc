// Reading an HTTP response off a byte stream: status line, header lines and body, fed in pieces of
// any size as they arrive, into the head the client hands back. The reader does no I/O; the socket
// loop feeds it and tells it when the peer has closed the connection. The bounds of an exchange
// (sizes the reader keeps to, times the socket loop keeps to) are one record here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// The bounds that keep a gateway from holding the monitor or exhausting its memory. The reader
// keeps to the sizes; the client's socket loop keeps to the times.
struct tHttpLimits {
  std::size_t MaxLineLength = 16384;       // characters before the LF, a CR included
  std::size_t MaxHeadBytes = 64 * 1024;    // of each head (an interim response has its own)
  std::size_t MaxBodyBytes = 1024 * 1024;  // kept; the rest is left unread
  int ConnectMilliseconds = 30000;         // connecting; then ESocketError 10060
  int WaitMilliseconds = 30000;            // each wait for data; then EReadTimeout
  int ExchangeMilliseconds = 60000;        // connecting to the last byte; then EReadTimeout
};

// The head of the response: the final one once an interim 100 has been passed over.
struct tHttpHead {
  std::string StatusLine;
  std::int32_t StatusCode = -1;
  std::vector<std::string> RawHeaders;  // as received, continuation lines on their own
  std::int64_t ContentLength = -1;      // -1: none or not a number
  bool HasContentLength() const { return ContentLength >= 0; }
  // The first header of that name (letter case aside) with its continuation lines, trimmed.
  std::string Header(std::string_view name) const;
};

// Why a response could not be read; each has one failure of the HTTP client.
enum class HttpFailure {
  None,
  ClosedGracefully,    // the peer closed inside the status line or inside a chunked body
  LineTooLong,         // a line over MaxLineLength
  HeadTooLong,         // a head over MaxHeadBytes
  UndefinedSituation,  // a 2xx response whose peer closed before its head was whole
};

enum class HttpEvent {
  NeedMore,      // every byte was taken: feed more, or tell the peer's close
  Body,          // the step holds body bytes: feed the rest again
  HeadComplete,  // the final head is whole: feed the rest again for the body
  End,           // the response is complete; any untaken bytes follow it
  Failed,        // reader.Failure says why; untaken bytes and reader.Line are left unread
};

struct tHttpStep {
  HttpEvent Event = HttpEvent::NeedMore;
  std::size_t Consumed = 0;  // bytes of the fed piece taken
  std::string_view Body;     // with HttpEvent::Body: a piece of the body, within the fed bytes
};

enum class HttpReadPhase {
  StatusLine,
  HeaderLines,
  Counted,       // Content-Length bytes
  ChunkSize,     // a chunk-size line
  ChunkData,     // the bytes of one chunk
  ChunkDataEnd,  // the line end after a chunk's bytes
  LastLine,      // the line after the last chunk-size line
  UntilClose,    // every byte until the peer closes
  Done,
  Failed,
};

// The state of reading one response (of any request but HEAD). Start it with StartHttpResponse.
struct tHttpResponseReader {
  tHttpLimits Limits;
  HttpReadPhase Phase = HttpReadPhase::StatusLine;
  tHttpHead Head;
  std::string Line;                // a line taken in part: no LF has come yet
  std::size_t HeadBytes = 0;       // of the head being read, its whole lines with their LF
  std::uint64_t Remaining = 0;     // bytes of the counted body or chunk still to take
  bool CutAfterRemaining = false;  // the bytes to take stop at the kept bound
  std::size_t KeptBodyBytes = 0;
  bool PeerClosed = false;
  bool Rejected = false;  // a redirect or a code outside 200-299: its body is read all the same
  bool Cut = false;       // the body reached the kept bound; the rest is left unread
  HttpFailure Failure = HttpFailure::None;
};

void StartHttpResponse(tHttpResponseReader& reader, const tHttpLimits& limits);

// Takes bytes of the response until one event; call again with the untaken rest.
tHttpStep FeedHttpResponse(tHttpResponseReader& reader, std::string_view bytes);

// The peer has closed the connection: no byte follows. Call until End or Failed.
tHttpStep FeedHttpResponseClose(tHttpResponseReader& reader);

// The first header of that name (letter case aside), with its continuation lines, trimmed.
std::string HttpHeaderValue(const std::vector<std::string>& rawHeaders, std::string_view name);

// An optional sign and decimal digits, nothing else, within 64 bits.
bool ParseHttpInteger(std::string_view text, std::int64_t& value);

// The code after the first blank of a status line, trimmed, up to the next blank; -1 when none.
std::int32_t ParseStatusCode(std::string_view statusLine);

// A chunk size: the text before the first blank in hex; 0 when it is not a hex number.
std::uint64_t ParseChunkSize(std::string_view line);

}  // namespace core
