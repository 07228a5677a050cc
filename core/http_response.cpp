#include "core/http_response.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "core/ascii.h"

namespace core {

namespace {

// Without blanks and control characters at both ends.
std::string_view Trim(std::string_view text) {
  auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool IsContinuationLine(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

tHttpStep Failed(tHttpResponseReader& reader, HttpFailure failure, std::size_t consumed) {
  reader.Phase = HttpReadPhase::Failed;
  reader.Failure = failure;
  return {HttpEvent::Failed, consumed, {}};
}

void StartHead(tHttpResponseReader& reader) {
  reader.Phase = HttpReadPhase::StatusLine;
  reader.Head = tHttpHead();
  reader.HeadBytes = 0;
}

void CutBody(tHttpResponseReader& reader) {
  reader.Cut = true;
  reader.Phase = HttpReadPhase::Done;
}

// Counted bytes, a chunk's or the whole body's, shortened to the room left under the kept bound.
void TakeCounted(tHttpResponseReader& reader, std::uint64_t count, HttpReadPhase phase) {
  const std::size_t room =
      reader.Limits.MaxBodyBytes - std::min(reader.Limits.MaxBodyBytes, reader.KeptBodyBytes);
  reader.CutAfterRemaining = count > room;
  reader.Remaining = std::min<std::uint64_t>(count, room);
  reader.Phase = phase;
  if (reader.Remaining == 0) CutBody(reader);
}

void TakeUntilClose(tHttpResponseReader& reader) {
  reader.Phase = HttpReadPhase::UntilClose;
  if (reader.KeptBodyBytes >= reader.Limits.MaxBodyBytes) CutBody(reader);
}

// Only Content-Length and Transfer-Encoding frame the body; Content-Length wins.
void StartBody(tHttpResponseReader& reader) {
  const tHttpHead& head = reader.Head;
  if (head.ContentLength >= 1)
    TakeCounted(reader, static_cast<std::uint64_t>(head.ContentLength), HttpReadPhase::Counted);
  else if (HttpHeaderValue(head.RawHeaders, "Transfer-Encoding").find("chunked") !=
           std::string::npos)
    reader.Phase = HttpReadPhase::ChunkSize;
  else if (head.ContentLength < 0)
    TakeUntilClose(reader);
  else
    reader.Phase = HttpReadPhase::Done;
}

// The head ended at its empty line or at the peer's close. An interim 100 is passed over; a
// redirect or any code outside 200-299 is rejected, but its body is still read.
tHttpStep EndHead(tHttpResponseReader& reader, std::size_t consumed) {
  tHttpHead& head = reader.Head;
  if (head.StatusCode == 100) {
    StartHead(reader);
    return {HttpEvent::NeedMore, consumed, {}};
  }
  std::int64_t length = -1;
  if (ParseHttpInteger(HttpHeaderValue(head.RawHeaders, "Content-Length"), length) && length >= 0)
    head.ContentLength = length;
  const std::int32_t code = head.StatusCode;
  const bool redirect = (code >= 300 && code <= 399 && code != 304) ||
                        !HttpHeaderValue(head.RawHeaders, "Location").empty();
  reader.Rejected = redirect || code < 200 || code > 299;
  if (!reader.Rejected && reader.PeerClosed)
    return Failed(reader, HttpFailure::UndefinedSituation, consumed);
  if (!reader.Rejected && code == 204)
    reader.Phase = HttpReadPhase::Done;
  else
    StartBody(reader);
  return {HttpEvent::HeadComplete, consumed, {}};
}

enum class LineState { Whole, Partial, ClosedPartial, TooLong, HeadTooLong };

// Takes bytes up to and including the next LF into reader.Line, without the LF and one CR before
// it. A line of the head counts towards the head's bound. A failing line is left untaken.
LineState TakeLine(tHttpResponseReader& reader, std::string_view bytes, std::size_t& position,
                   bool inHead) {
  const std::size_t maxLength = reader.Limits.MaxLineLength;
  const std::size_t lineEnd = bytes.find('\n', position);
  if (lineEnd == std::string_view::npos) {
    const std::size_t available = bytes.size() - position;
    if (reader.Line.size() + available > maxLength) return LineState::TooLong;
    reader.Line.append(bytes.substr(position));
    position = bytes.size();
    return reader.PeerClosed ? LineState::ClosedPartial : LineState::Partial;
  }
  const std::size_t length = reader.Line.size() + (lineEnd - position);
  if (length > maxLength) return LineState::TooLong;
  if (inHead) {
    if (reader.HeadBytes + length + 1 > reader.Limits.MaxHeadBytes) return LineState::HeadTooLong;
    reader.HeadBytes += length + 1;
  }
  reader.Line.append(bytes.substr(position, lineEnd - position));
  position = lineEnd + 1;
  if (!reader.Line.empty() && reader.Line.back() == '\r') reader.Line.pop_back();
  return LineState::Whole;
}

// One line of the phase taken whole: the phase moves on. Returns an event to hand back, or
// NeedMore to go on reading.
tHttpStep OnLine(tHttpResponseReader& reader, std::string line, std::size_t consumed) {
  switch (reader.Phase) {
    case HttpReadPhase::StatusLine:
      reader.Head.StatusCode = ParseStatusCode(line);
      reader.Head.StatusLine = std::move(line);
      reader.Phase = HttpReadPhase::HeaderLines;
      break;
    case HttpReadPhase::HeaderLines:
      if (line.empty()) return EndHead(reader, consumed);
      reader.Head.RawHeaders.push_back(std::move(line));
      break;
    case HttpReadPhase::ChunkSize:
      if (const std::uint64_t size = ParseChunkSize(line); size > 0)
        TakeCounted(reader, size, HttpReadPhase::ChunkData);
      else
        reader.Phase = HttpReadPhase::LastLine;  // trailer headers are not supported
      break;
    case HttpReadPhase::ChunkDataEnd:
      reader.Phase = HttpReadPhase::ChunkSize;
      break;
    case HttpReadPhase::LastLine:
      reader.Phase = HttpReadPhase::Done;
      break;
    default:
      break;
  }
  return {HttpEvent::NeedMore, consumed, {}};
}

// The peer closed before a line's end: a header line counts as the last of the head, anywhere
// else that is a failure.
tHttpStep OnClosedLine(tHttpResponseReader& reader, std::string line, std::size_t consumed) {
  if (reader.Phase != HttpReadPhase::HeaderLines)
    return Failed(reader, HttpFailure::ClosedGracefully, consumed);
  if (!line.empty()) reader.Head.RawHeaders.push_back(std::move(line));
  return EndHead(reader, consumed);
}

bool IsLinePhase(HttpReadPhase phase) {
  return phase == HttpReadPhase::StatusLine || phase == HttpReadPhase::HeaderLines ||
         phase == HttpReadPhase::ChunkSize || phase == HttpReadPhase::ChunkDataEnd ||
         phase == HttpReadPhase::LastLine;
}

bool IsHeadPhase(HttpReadPhase phase) {
  return phase == HttpReadPhase::StatusLine || phase == HttpReadPhase::HeaderLines;
}

tHttpStep ReadLinePhase(tHttpResponseReader& reader, std::string_view bytes,
                        std::size_t& position) {
  const LineState state = TakeLine(reader, bytes, position, IsHeadPhase(reader.Phase));
  switch (state) {
    case LineState::TooLong:
      return Failed(reader, HttpFailure::LineTooLong, position);
    case LineState::HeadTooLong:
      return Failed(reader, HttpFailure::HeadTooLong, position);
    case LineState::Partial:
      return {HttpEvent::NeedMore, position, {}};
    case LineState::ClosedPartial:
      return OnClosedLine(reader, std::exchange(reader.Line, std::string()), position);
    case LineState::Whole:
      break;
  }
  return OnLine(reader, std::exchange(reader.Line, std::string()), position);
}

// Counted bytes of the body or of a chunk, as many as are at hand.
tHttpStep ReadCounted(tHttpResponseReader& reader, std::string_view bytes, std::size_t& position) {
  if (position == bytes.size()) {
    if (!reader.PeerClosed) return {HttpEvent::NeedMore, position, {}};
    // A peer that ends a counted body early leaves what came; inside a chunk that is a failure.
    if (reader.Phase == HttpReadPhase::ChunkData)
      return Failed(reader, HttpFailure::ClosedGracefully, position);
    reader.Phase = HttpReadPhase::Done;
    return {HttpEvent::End, position, {}};
  }
  const std::size_t take =
      static_cast<std::size_t>(std::min<std::uint64_t>(reader.Remaining, bytes.size() - position));
  const std::string_view piece = bytes.substr(position, take);
  position += take;
  reader.Remaining -= take;
  reader.KeptBodyBytes += take;
  if (reader.Remaining == 0) {
    if (reader.CutAfterRemaining)
      CutBody(reader);
    else
      reader.Phase = reader.Phase == HttpReadPhase::ChunkData ? HttpReadPhase::ChunkDataEnd
                                                              : HttpReadPhase::Done;
  }
  return {HttpEvent::Body, position, piece};
}

tHttpStep ReadUntilClose(tHttpResponseReader& reader, std::string_view bytes,
                         std::size_t& position) {
  if (position == bytes.size()) {
    if (!reader.PeerClosed) return {HttpEvent::NeedMore, position, {}};
    reader.Phase = HttpReadPhase::Done;
    return {HttpEvent::End, position, {}};
  }
  const std::size_t room = reader.Limits.MaxBodyBytes - reader.KeptBodyBytes;
  const std::string_view piece = bytes.substr(position, std::min(room, bytes.size() - position));
  position += piece.size();
  reader.KeptBodyBytes += piece.size();
  if (reader.KeptBodyBytes >= reader.Limits.MaxBodyBytes) CutBody(reader);
  return {HttpEvent::Body, position, piece};
}

}  // namespace

void StartHttpResponse(tHttpResponseReader& reader, const tHttpLimits& limits) {
  reader = tHttpResponseReader();
  reader.Limits = limits;
  StartHead(reader);
}

tHttpStep FeedHttpResponse(tHttpResponseReader& reader, std::string_view bytes) {
  std::size_t position = 0;
  for (;;) {
    tHttpStep step;
    switch (reader.Phase) {
      case HttpReadPhase::Done:
        return {HttpEvent::End, position, {}};
      case HttpReadPhase::Failed:
        return {HttpEvent::Failed, position, {}};
      case HttpReadPhase::Counted:
      case HttpReadPhase::ChunkData:
        return ReadCounted(reader, bytes, position);
      case HttpReadPhase::UntilClose:
        return ReadUntilClose(reader, bytes, position);
      default:
        step = ReadLinePhase(reader, bytes, position);
        break;
    }
    // A whole line moves the phase on; go on while bytes are left or the close is still news.
    if (step.Event != HttpEvent::NeedMore) return step;
    if (position == bytes.size() && !reader.PeerClosed && IsLinePhase(reader.Phase)) return step;
  }
}

tHttpStep FeedHttpResponseClose(tHttpResponseReader& reader) {
  reader.PeerClosed = true;
  return FeedHttpResponse(reader, {});
}

std::string HttpHeaderValue(const std::vector<std::string>& rawHeaders, std::string_view name) {
  for (std::size_t i = 0; i < rawHeaders.size(); ++i) {
    const std::string_view line = rawHeaders[i];
    const std::size_t colon = line.find(':');
    if (IsContinuationLine(line) || colon == std::string_view::npos ||
        !core::EqualsIgnoringAsciiCase(Trim(line.substr(0, colon)), name))
      continue;
    std::string value(Trim(line.substr(colon + 1)));
    for (std::size_t next = i + 1; next < rawHeaders.size() && IsContinuationLine(rawHeaders[next]);
         ++next)
      value.append(" ").append(Trim(rawHeaders[next]));
    return std::string(Trim(value));
  }
  return {};
}

std::string tHttpHead::Header(std::string_view name) const {
  return HttpHeaderValue(RawHeaders, name);
}

bool ParseHttpInteger(std::string_view text, std::int64_t& value) {
  std::size_t position = 0;
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-'))
    negative = text[position++] == '-';
  if (position == text.size()) return false;
  std::int64_t result = 0;
  for (; position < text.size(); ++position) {
    const char c = text[position];
    if (c < '0' || c > '9') return false;
    if (result > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) return false;
    result = result * 10 + (c - '0');
  }
  value = negative ? -result : result;
  return true;
}

std::int32_t ParseStatusCode(std::string_view statusLine) {
  const std::size_t blank = statusLine.find(' ');
  std::string_view code =
      blank == std::string_view::npos ? std::string_view() : Trim(statusLine.substr(blank + 1));
  code = code.substr(0, code.find(' '));
  std::int64_t value = 0;
  if (!ParseHttpInteger(code, value) || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    return -1;
  return static_cast<std::int32_t>(value);
}

std::uint64_t ParseChunkSize(std::string_view line) {
  const std::string_view digits = line.substr(0, line.find(' '));
  if (digits.empty() || digits.size() > 15) return 0;
  std::uint64_t size = 0;
  for (const char c : digits) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return 0;
    size = size * 16 + static_cast<std::uint64_t>(digit);
  }
  return size;
}

}  // namespace core
