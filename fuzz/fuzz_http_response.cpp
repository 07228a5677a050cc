// Feeds the input as an HTTP response to the response reader, once whole and once in pieces.
// The first byte chooses the bounds and whether the peer closes at the end, the next four the
// sizes of the pieces (cycled, 0 an empty piece); the rest is the response. Both feedings must give
// the same outcome, every call must take bytes or finish, and the bounds must hold throughout.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/http_response.h"

namespace {

using core::HttpEvent;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_http_response: %s\n", what);
  std::abort();
}

void Require(bool condition, const char* what) {
  if (!condition) Fail(what);
}

struct Outcome {
  HttpEvent Event = HttpEvent::NeedMore;
  core::HttpFailure Failure = core::HttpFailure::None;
  core::tHttpHead Head;
  bool Rejected = false;
  bool Cut = false;
  int HeadEvents = 0;
  std::string Body;
  std::string Untaken;
  bool operator==(const Outcome& other) const {
    return Event == other.Event && Failure == other.Failure &&
           Head.StatusLine == other.Head.StatusLine && Head.StatusCode == other.Head.StatusCode &&
           Head.RawHeaders == other.Head.RawHeaders &&
           Head.ContentLength == other.Head.ContentLength && Rejected == other.Rejected &&
           Cut == other.Cut && HeadEvents == other.HeadEvents && Body == other.Body &&
           Untaken == other.Untaken;
  }
};

Outcome Read(std::string_view response, const std::vector<std::size_t>& pieceSizes, bool closed,
             const core::tHttpLimits& limits) {
  core::tHttpResponseReader reader;
  core::StartHttpResponse(reader, limits);
  Outcome outcome;
  // Every call takes bytes, ends a piece or hands over the head or the end: no more calls.
  std::size_t calls = 0;
  std::size_t piecesFed = 0;
  bool finished = false;
  auto handle = [&](const core::tHttpStep& step, std::string_view& rest) {
    Require(++calls <= response.size() + piecesFed + 4, "the reader goes round in circles");
    Require(step.Consumed <= rest.size(), "took more than it was given");
    const bool finishing = step.Event == HttpEvent::End || step.Event == HttpEvent::Failed ||
                           step.Event == HttpEvent::HeadComplete;
    Require(step.Consumed > 0 || finishing || rest.empty(), "a call took nothing");
    if (step.Event == HttpEvent::Body) {
      Require(!step.Body.empty() && step.Body.size() <= step.Consumed, "a body piece out of place");
      Require(step.Body.data() >= rest.data() &&
                  step.Body.data() + step.Body.size() <= rest.data() + step.Consumed,
              "a body piece outside the bytes taken");
    }
    rest.remove_prefix(step.Consumed);
    Require(reader.KeptBodyBytes <= limits.MaxBodyBytes, "kept more body than the bound");
    Require(reader.HeadBytes <= limits.MaxHeadBytes, "head past its bound");
    Require(reader.Line.size() <= limits.MaxLineLength, "held line past its bound");
    switch (step.Event) {
      case HttpEvent::Body:
        outcome.Body.append(step.Body);
        Require(outcome.Body.size() == reader.KeptBodyBytes, "body pieces and count differ");
        return false;
      case HttpEvent::HeadComplete:
        Require(++outcome.HeadEvents == 1, "the head was handed over twice");
        return false;
      case HttpEvent::NeedMore:
        Require(rest.empty(), "needs more with bytes left");
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

  std::size_t position = 0;
  for (std::size_t piece = 0; position < response.size(); ++piece) {
    const std::size_t size = pieceSizes[piece % pieceSizes.size()];
    std::string_view rest = response.substr(position, size);
    position += rest.size();
    if (finished) {
      outcome.Untaken.append(rest);
      continue;
    }
    ++piecesFed;
    while (!handle(core::FeedHttpResponse(reader, rest), rest)) {
    }
  }
  if (!finished && closed) {
    ++piecesFed;
    std::string_view none;
    while (!handle(core::FeedHttpResponseClose(reader), none)) {
    }
    Require(finished, "the close did not finish the response");
  }
  if (!finished) outcome.Untaken = reader.Line;
  Require(finished || !closed, "unfinished after the close");
  Require((outcome.Event == HttpEvent::Failed) == (reader.Failure != core::HttpFailure::None),
          "a failure without its kind");
  if (reader.Cut) Require(outcome.Event == HttpEvent::End, "a cut body that did not end");
  outcome.Failure = reader.Failure;
  outcome.Head = reader.Head;
  outcome.Rejected = reader.Rejected;
  outcome.Cut = reader.Cut;
  return outcome;
}

constexpr std::size_t kLineBounds[] = {16, 64, 300, 16384};
constexpr std::size_t kHeadBounds[] = {64, 512, 4096, 65536};
constexpr std::size_t kBodyBounds[] = {0, 10, 1000, 1024 * 1024};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::uint8_t choice = data[0];
  const core::tHttpLimits limits = {.MaxLineLength = kLineBounds[choice & 3],
                                    .MaxHeadBytes = kHeadBounds[(choice >> 2) & 3],
                                    .MaxBodyBytes = kBodyBounds[(choice >> 4) & 3]};
  const bool closed = (choice & 0x40) != 0;
  // A piece size of 0 feeds an empty piece; at least one piece must take bytes.
  std::vector<std::size_t> pieceSizes(data + 1, data + 5);
  if (pieceSizes[0] == 0) pieceSizes[0] = 1;
  const std::string_view response(reinterpret_cast<const char*>(data + 5), size - 5);

  const Outcome whole = Read(response, {response.size() + 1}, closed, limits);
  const Outcome pieces = Read(response, pieceSizes, closed, limits);
  Require(whole == pieces, "fed in pieces the response reads otherwise than whole");
  return 0;
}
