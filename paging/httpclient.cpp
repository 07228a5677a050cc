#include "paging/httpclient.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/ascii.h"

tHttpLimits HttpLimits;

namespace {

constexpr int kProtocolFailureReadTimeout = 2000;

std::int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A port text from a URL or the client's setting as a port number.
std::uint16_t PortNumber(const std::string& text) {
  std::int64_t value = 0;
  if (!core::ParseHttpInteger(text, value))
    throw EConvertError("'" + text + "' is not a valid integer value");
  if (value < 0 || value > 65535) throw ESocketError(core::kWsaeAddrNotAvail);
  return static_cast<std::uint16_t>(value);
}

}  // namespace

tUrl SplitUrl(std::string url) {
  std::replace(url.begin(), url.end(), '\\', '/');
  tUrl result;
  std::string rest = url;
  const std::size_t schemeEnd = url.find("://");
  const bool absolute = schemeEnd != std::string::npos;
  if (absolute) {
    result.Protocol = url.substr(0, schemeEnd);
    rest = url.substr(schemeEnd + 3);
    const std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    const std::size_t at = authority.find('@');
    if (at != std::string::npos) {
      const std::string userInfo = authority.substr(0, at);
      authority.erase(0, at + 1);
      const std::size_t colon = userInfo.find(':');
      result.UserName = userInfo.substr(0, colon);
      if (colon != std::string::npos) result.Password = userInfo.substr(colon + 1);
    }
    SplitHostAndPort(authority, result.Host, result.Port);
  }

  std::size_t query = rest.find('?');
  if (query == std::string::npos) query = rest.find('=');
  const std::size_t lastSlash = rest.rfind('/', query);
  const std::size_t documentStart = lastSlash == std::string::npos ? 0 : lastSlash + 1;
  result.Path = (absolute ? "/" : "") + rest.substr(0, documentStart);
  result.Document = rest.substr(documentStart, query - std::min(query, documentStart));
  if (query != std::string::npos) result.Params = rest.substr(query);

  if (std::size_t hash = result.Document.find('#'); hash != std::string::npos) {
    result.Bookmark = result.Document.substr(hash + 1);
    result.Document.erase(hash);
  } else if (hash = result.Params.find('#'); hash != std::string::npos) {
    result.Bookmark = result.Params.substr(hash + 1);
    result.Params.erase(hash);
  }
  return result;
}

namespace {

bool HoldsLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

bool IsToken(const std::string& text) {
  return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) <= ' ' || c == '\x7F';
  });
}

}  // namespace

void CheckHttpRequest(const tHttpRequest& request) {
  if (!IsToken(request.Method))
    throw EInvalidHttpRequest(
        "The request's method is empty or holds a blank or a control character.");
  // A HEAD response frames no body however its head reads: the reader would wait for one.
  if (request.Method == "HEAD")
    throw EInvalidHttpRequest("The client reads a body after every head: HEAD is not supported.");
  const std::pair<const char*, const std::string*> named[] = {
      {"Content-Type", &request.ContentType},
      {"Accept", &request.Accept},
      {"User-Agent", &request.UserAgent}};
  for (const auto& [name, value] : named)
    if (HoldsLineBreak(*value))
      throw EInvalidHttpRequest(std::string("The request's ") + name +
                                " header holds a line break.");
  for (const std::string& line : request.Headers)
    if (HoldsLineBreak(line))
      throw EInvalidHttpRequest("A header line of the request holds a line break.");
}

// The Host value comes from the URL as it stands, as it always has: a host that cannot be
// sent cannot be resolved either, and the connection fails first.
std::string HttpRequestBytes(const tHttpRequest& request, const std::string& requestTarget,
                             const std::string& hostHeader, const std::string& protocolVersion) {
  CheckHttpRequest(request);
  std::string bytes = request.Method + " " + requestTarget + " HTTP/" + protocolVersion + "\r\n";
  auto header = [&](const char* name, const std::string& value) {
    if (!value.empty()) bytes += std::string(name) + ": " + value + "\r\n";
  };
  header("Content-Type", request.ContentType);
  header("Host", hostHeader);
  header("Accept", request.Accept);
  header("User-Agent", request.UserAgent);
  for (const std::string& line : request.Headers) bytes += line + "\r\n";
  if (request.Method != "GET")
    bytes += "Content-Length: " + std::to_string(request.Body.size()) + "\r\n";
  bytes += "\r\n";
  return bytes + request.Body;
}

struct THttpClient::Target {
  std::uint16_t Port = 0;
  std::string RequestTarget;
  std::string HostHeader;
};

THttpClient::THttpClient() : Limits(HttpLimits) {}

THttpClient::~THttpClient() { CloseSocket(); }

// The connection's host and port are also the defaults for a URL that lacks them.
void THttpClient::SetHost(const std::string& host) { host_ = host; }

void THttpClient::SetPort(std::int32_t port) { port_ = port; }

bool THttpClient::IsConnected() { return static_cast<bool>(socket_); }

void THttpClient::CloseConnection() {
  if (!socket_) return;
  platform::ShutdownSending(socket_.get());
  CloseSocket();
}

void THttpClient::CloseSocket() { socket_.reset(); }

THttpClient::Target THttpClient::TargetOf(const tUrl& url) {
  const std::string host = url.Host.empty() ? host_ : url.Host;
  const std::string scheme = url.Protocol.empty() ? "http" : url.Protocol;
  std::string portText = url.Port;
  if (portText.empty()) {
    const bool standardPort = port_ == 0 || port_ == 80 || port_ == 443;
    if (!standardPort)
      portText = std::to_string(port_);
    else if (core::EqualsIgnoringAsciiCase(scheme, "http"))
      portText = "80";
    else if (core::EqualsIgnoringAsciiCase(scheme, "https"))
      portText = "443";
    else
      throw EUnknownProtocol("");
  }

  Target target;
  target.Port = PortNumber(portText);
  target.RequestTarget = url.Path + url.Document + url.Params;
  target.HostHeader = portText == "80" ? host : host + ":" + portText;
  if (!core::EqualsIgnoringAsciiCase(host, host_) || target.Port != port_) {
    CloseSocket();
    host_ = host;
    port_ = target.Port;
  }
  if (core::EqualsIgnoringAsciiCase(scheme, "https"))
    throw ETransportInvalid("Transport value is not valid");
  return target;
}

std::string THttpClient::Get(const std::string& url) { return Perform({.Url = url}); }

std::string THttpClient::Perform(const tHttpRequest& request) {
  CheckHttpRequest(request);
  response_ = tHttpResponse();
  deadline_ = SteadyMilliseconds() + Limits.ExchangeMilliseconds;
  const Target target = TargetOf(SplitUrl(request.Url));
  if (!socket_) Connect(host_, target.Port);
  SendRequest(HttpRequestBytes(request, target.RequestTarget, target.HostHeader, ProtocolVersion));
  core::StartHttpResponse(reader_, Limits);
  std::string body;
  if (ReadResponse(body) == core::HttpEvent::Failed) RaiseReadFailure();
  if (reader_.Rejected) RaiseProtocolFailure(body);
  if (ReadResponse(body) == core::HttpEvent::Failed) RaiseReadFailure();
  FinishExchange();
  return body;
}

void THttpClient::Connect(const std::string& host, std::uint16_t port) {
  platform::StartSocketLayer();
  // The name lookup and the connect share one time limit.
  std::int64_t timeout =
      std::min<std::int64_t>(Limits.ConnectMilliseconds, deadline_ - SteadyMilliseconds());
  if (ReadTimeout > 0) timeout = std::min<std::int64_t>(timeout, ReadTimeout);
  const std::int64_t connectDeadline = SteadyMilliseconds() + std::max<std::int64_t>(timeout, 0);
  auto remaining = [&] {
    return static_cast<int>(std::max<std::int64_t>(connectDeadline - SteadyMilliseconds(), 0));
  };
  const tSocketAddress address = ResolveSocketAddress(host, remaining());
  int errorCode = 0;
  socket_.reset(platform::OpenStreamSocket(address, errorCode));
  if (!socket_) throw EInvalidSocket("Cannot allocate socket.");
  buffer_.clear();
  bufferStart_ = 0;
  if (!platform::BindAnyAddress(socket_.get(), address, errorCode) ||
      !platform::ConnectStream(socket_.get(), address, port, remaining(), errorCode)) {
    CloseSocket();
    throw ESocketError(errorCode);
  }
}

void THttpClient::SendRequest(const std::string& bytes) {
  int errorCode = 0;
  if (!platform::SendAll(socket_.get(), bytes.data(), bytes.size(), NextWaitMilliseconds(),
                         errorCode))
    throw ESocketError(errorCode);
}

// The body of a redirect or failing code is read with a read time-out of its own, then dropped
// into the failure.
void THttpClient::RaiseProtocolFailure(std::string& body) {
  const std::int32_t savedTimeout = ReadTimeout;
  ReadTimeout = kProtocolFailureReadTimeout;
  core::HttpEvent event;
  try {
    event = ReadResponse(body);
  } catch (...) {
    ReadTimeout = savedTimeout;
    throw;
  }
  ReadTimeout = savedTimeout;
  if (event == core::HttpEvent::Failed) RaiseReadFailure();
  FinishExchange();
  throw EHTTPProtocolException(response_.StatusLine, response_.StatusCode, body);
}

void THttpClient::RaiseReadFailure() {
  switch (reader_.Failure) {
    case core::HttpFailure::ClosedGracefully:
      throw EConnClosedGracefully("Connection Closed Gracefully.");
    case core::HttpFailure::LineTooLong:
    case core::HttpFailure::HeadTooLong:
      throw EReadLnMaxLineLengthExceeded("Max line length exceeded.");
    case core::HttpFailure::UndefinedSituation:
    case core::HttpFailure::None:
      break;
  }
  throw ENetException("Undefined situation");
}

core::HttpEvent THttpClient::ReadResponse(std::string& body) {
  try {
    core::HttpEvent event = FeedReader(body);
    while (event == core::HttpEvent::NeedMore) {
      buffer_.clear();
      bufferStart_ = 0;
      // After the close the reader reads on as closed; the close itself yields no body bytes.
      event = ReceiveMore(!reader_.Line.empty()) ? FeedReader(body)
                                                 : core::FeedHttpResponseClose(reader_).Event;
    }
    if (event == core::HttpEvent::End && reader_.Cut) CutBody();
    if (event != core::HttpEvent::End) KeepHead();
    if (event == core::HttpEvent::Failed) buffer_.insert(bufferStart_, reader_.Line);
    return event;
  } catch (...) {
    // The head so far and the bytes not yet taken stay with the client, the part of a line too.
    KeepHead();
    buffer_.insert(bufferStart_, reader_.Line);
    throw;
  }
}

core::HttpEvent THttpClient::FeedReader(std::string& body) {
  for (;;) {
    const core::tHttpStep step =
        core::FeedHttpResponse(reader_, std::string_view(buffer_).substr(bufferStart_));
    bufferStart_ += step.Consumed;
    if (step.Event != core::HttpEvent::Body) return step.Event;
    body.append(step.Body);
  }
}

void THttpClient::KeepHead() { response_ = reader_.Head; }

// The rest of a body past the kept bound is left unread: the connection goes with it.
void THttpClient::CutBody() {
  buffer_.clear();
  bufferStart_ = 0;
  CloseSocket();
}

void THttpClient::FinishExchange() {
  if (!socket_) return;
  if (core::EqualsIgnoringAsciiCase(response_.Header("Connection"), "close") ||
      core::EqualsIgnoringAsciiCase(response_.Header("Proxy-Connection"), "close"))
    CloseSocket();
}

int THttpClient::NextWaitMilliseconds() {
  std::int64_t wait = Limits.WaitMilliseconds;
  if (ReadTimeout > 0) wait = std::min<std::int64_t>(wait, ReadTimeout);
  const std::int64_t remaining = deadline_ - SteadyMilliseconds();
  if (remaining <= 0) throw EReadTimeout("Read Timeout");
  return static_cast<int>(std::min(wait, remaining));
}

bool THttpClient::ReceiveMore(bool partHeld) {
  if (!socket_) return false;
  const std::size_t blockSize =
      static_cast<std::size_t>(std::clamp<std::int32_t>(RecvBufferSize, 1, 1 << 20));
  for (;;) {
    int errorCode = 0;
    switch (platform::WaitUntilReadable(socket_.get(), NextWaitMilliseconds(), errorCode)) {
      case platform::WaitResult::Ready:
        break;
      case platform::WaitResult::TimedOut:
        throw EReadTimeout("Read Timeout");
      case platform::WaitResult::Failed:
        throw ESocketError(errorCode);
    }
    const std::size_t oldSize = buffer_.size();
    buffer_.resize(oldSize + blockSize);
    const long received =
        platform::ReceiveAvailable(socket_.get(), buffer_.data() + oldSize, blockSize, errorCode);
    buffer_.resize(oldSize + static_cast<std::size_t>(std::max(received, 0L)));
    if (received > 0) return true;
    if (received == 0) {
      CloseSocket();
      return false;
    }
    if (errorCode == core::kWsaeWouldBlock) continue;
    if (errorCode == core::kWsaeConnAborted || errorCode == core::kWsaeShutdown) {
      CloseSocket();
      if (partHeld) return false;
    }
    throw ESocketError(errorCode);
  }
}
