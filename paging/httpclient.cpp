#include "paging/httpclient.h"

#include <algorithm>
#include <chrono>
#include <limits>

tHttpLimits HttpLimits;

namespace {

constexpr int kWouldBlock = core::kWsaeWouldBlock;
constexpr int kConnectionAborted = core::kWsaeConnAborted;
constexpr int kSocketShutDown = core::kWsaeShutdown;
constexpr int kAddressNotAvailable = core::kWsaeAddrNotAvail;
constexpr int kProtocolFailureReadTimeout = 2000;

std::int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

char LowerCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerCase(x) == LowerCase(y);
         });
}

// Without blanks and control characters at both ends.
std::string Trim(const std::string& text) {
  auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  auto first = std::find_if_not(text.begin(), text.end(), isSpace);
  auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
  return first < last ? std::string(first, last) : std::string();
}

// An optional sign and decimal digits, nothing else.
bool ParseDecimal(const std::string& text, std::int64_t& value) {
  std::size_t position = 0;
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-'))
    negative = text[position++] == '-';
  if (position == text.size()) return false;
  std::int64_t result = 0;
  for (; position < text.size(); ++position) {
    char c = text[position];
    if (c < '0' || c > '9') return false;
    if (result > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) return false;
    result = result * 10 + (c - '0');
  }
  value = negative ? -result : result;
  return true;
}

// The status code: after the first blank, trimmed, up to the next blank; -1 when none.
std::int32_t ParseStatusCode(const std::string& statusLine) {
  std::size_t blank = statusLine.find(' ');
  std::string code =
      blank == std::string::npos ? std::string() : Trim(statusLine.substr(blank + 1));
  code = code.substr(0, code.find(' '));
  std::int64_t value = 0;
  if (!ParseDecimal(code, value) || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    return -1;
  return static_cast<std::int32_t>(value);
}

// A chunk size: the text before the first blank in hex; 0 when it is not a hex number.
std::uint64_t ParseChunkSize(const std::string& line) {
  const std::string digits = line.substr(0, line.find(' '));
  if (digits.empty() || digits.size() > 15) return 0;
  std::uint64_t size = 0;
  for (char c : digits) {
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) return 0;
    size = size * 16 + static_cast<std::uint64_t>(digit);
  }
  return size;
}

bool IsContinuationLine(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// A port text from a URL or the client's setting as a port number.
std::uint16_t PortNumber(const std::string& text) {
  std::int64_t value = 0;
  if (!ParseDecimal(text, value))
    throw EConvertError("'" + text + "' is not a valid integer value");
  if (value < 0 || value > 65535) throw ESocketError(kAddressNotAvailable);
  return static_cast<std::uint16_t>(value);
}

[[noreturn]] void RaiseClosedGracefully() {
  throw EConnClosedGracefully("Connection Closed Gracefully.");
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
    const std::size_t colon = authority.find(':');
    result.Host = authority.substr(0, colon);
    if (colon != std::string::npos) result.Port = authority.substr(colon + 1);
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

std::string tHttpResponse::Header(const std::string& name) const {
  for (std::size_t i = 0; i < RawHeaders.size(); ++i) {
    const std::string& line = RawHeaders[i];
    const std::size_t colon = line.find(':');
    if (IsContinuationLine(line) || colon == std::string::npos ||
        !EqualsIgnoringCase(Trim(line.substr(0, colon)), name))
      continue;
    std::string value = Trim(line.substr(colon + 1));
    for (std::size_t next = i + 1; next < RawHeaders.size() && IsContinuationLine(RawHeaders[next]);
         ++next)
      value += " " + Trim(RawHeaders[next]);
    return Trim(value);
  }
  return {};
}

struct THttpClient::Target {
  std::uint16_t Port = 0;
  std::string RequestTarget;
  std::string HostHeader;
};

THttpClient::THttpClient() : Limits(HttpLimits) {}

THttpClient::~THttpClient() = default;

// The connection's host and port are also the defaults for a URL that lacks them.
void THttpClient::SetHost(const std::string& host) { host_ = host; }

void THttpClient::SetPort(std::int32_t port) { port_ = port; }

bool THttpClient::IsConnected() { return bool(socket_); }

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
    else if (EqualsIgnoringCase(scheme, "http"))
      portText = "80";
    else if (EqualsIgnoringCase(scheme, "https"))
      portText = "443";
    else
      throw EUnknownProtocol("");
  }

  Target target;
  target.Port = PortNumber(portText);
  target.RequestTarget = url.Path + url.Document + url.Params;
  target.HostHeader = portText == "80" ? host : host + ":" + portText;
  if (!EqualsIgnoringCase(host, host_) || target.Port != port_) {
    CloseSocket();
    host_ = host;
    port_ = target.Port;
  }
  if (EqualsIgnoringCase(scheme, "https")) throw ETransportInvalid("Transport value is not valid");
  return target;
}

std::string THttpClient::Get(const std::string& url) {
  response_ = tHttpResponse();
  bodyCut_ = false;
  deadline_ = SteadyMilliseconds() + Limits.ExchangeMilliseconds;
  const Target target = TargetOf(SplitUrl(url));
  if (!socket_) Connect(host_, target.Port);
  SendRequest(target.RequestTarget, target.HostHeader);
  ReadResponseHead();

  const std::int32_t code = response_.StatusCode;
  const bool redirect =
      (code >= 300 && code <= 399 && code != 304) || !response_.Header("Location").empty();
  if (redirect || code < 200 || code > 299) RaiseProtocolFailure();
  if (!socket_) throw ENetException("Undefined situation");
  std::string body = code == 204 ? std::string() : ReadBody();
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
  const std::uint32_t address = ResolveHostAddress(host, remaining());
  int errorCode = 0;
  socket_.reset(platform::OpenStreamSocket(errorCode));
  if (!socket_) throw EInvalidSocket("Cannot allocate socket.");
  buffer_.clear();
  if (!platform::BindAnyAddress(socket_.get(), errorCode) ||
      !platform::ConnectStream(socket_.get(), address, port, remaining(), errorCode)) {
    CloseSocket();
    throw ESocketError(errorCode);
  }
}

void THttpClient::SendRequest(const std::string& requestTarget, const std::string& hostHeader) {
  std::string request = "GET " + requestTarget + " HTTP/" + ProtocolVersion + "\r\n";
  request += "Content-Type: text/html\r\n";
  request += "Host: " + hostHeader + "\r\n";
  request += "Accept: text/html, */*\r\n";
  request += "User-Agent: Mozilla/3.0 (compatible; Tarn32 Library)\r\n";
  request += "\r\n";
  int errorCode = 0;
  if (!platform::SendAll(socket_.get(), request.data(), request.size(), NextWaitMilliseconds(),
                         errorCode))
    throw ESocketError(errorCode);
}

void THttpClient::ReadResponseHead() {
  do {
    response_ = tHttpResponse();
    headBytes_ = 0;
    std::string statusLine;
    if (!ReadLine(statusLine, true)) RaiseClosedGracefully();
    response_.StatusLine = statusLine;
    response_.StatusCode = ParseStatusCode(statusLine);
    ReadHeaderLines();
  } while (response_.StatusCode == 100);

  std::int64_t length = -1;
  if (ParseDecimal(response_.Header("Content-Length"), length) && length >= 0)
    response_.ContentLength = length;
}

void THttpClient::ReadHeaderLines() {
  for (;;) {
    std::string line;
    const bool complete = ReadLine(line, true);
    if (line.empty()) return;
    response_.RawHeaders.push_back(line);
    // A peer that closes inside the head leaves the lines read so far as the headers.
    if (!complete) return;
  }
}

void THttpClient::RaiseProtocolFailure() {
  const std::int32_t savedTimeout = ReadTimeout;
  ReadTimeout = kProtocolFailureReadTimeout;
  std::string body;
  try {
    body = ReadBody();
  } catch (...) {
    ReadTimeout = savedTimeout;
    throw;
  }
  ReadTimeout = savedTimeout;
  FinishExchange();
  throw EHTTPProtocolException(response_.StatusLine, response_.StatusCode, body);
}

std::string THttpClient::ReadBody() {
  std::string body;
  if (response_.ContentLength >= 1)
    ReadExactly(body, static_cast<std::uint64_t>(response_.ContentLength), false);
  else if (response_.Header("Transfer-Encoding").find("chunked") != std::string::npos)
    ReadChunkedBody(body);
  else if (!response_.HasContentLength())
    ReadUntilClose(body);
  return body;
}

bool THttpClient::KeepBodyBytes(std::string& body, std::uint64_t& count) {
  const std::size_t room = Limits.MaxBodyBytes - std::min(Limits.MaxBodyBytes, body.size());
  if (count <= room) return false;
  count = room;
  return true;
}

bool THttpClient::ReadExactly(std::string& body, std::uint64_t count, bool closeIsFailure) {
  const bool cut = KeepBodyBytes(body, count);
  while (count > 0) {
    if (buffer_.empty() && !ReceiveMore()) {
      // A peer that ends a counted body early: what arrived is kept.
      if (closeIsFailure) RaiseClosedGracefully();
      return false;
    }
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer_.size()));
    body.append(buffer_, 0, take);
    buffer_.erase(0, take);
    count -= take;
  }
  if (cut) CutBody();
  return !cut;
}

void THttpClient::ReadChunkedBody(std::string& body) {
  std::string line;
  auto readLine = [&] {
    if (!ReadLine(line, false)) RaiseClosedGracefully();
  };
  readLine();
  for (std::uint64_t size = ParseChunkSize(line); size > 0; size = ParseChunkSize(line)) {
    if (!ReadExactly(body, size, true)) return;
    readLine();  // the line end after the chunk's data
    readLine();  // the next size line
  }
  readLine();  // the empty line that ends the body
}

void THttpClient::ReadUntilClose(std::string& body) {
  for (;;) {
    std::uint64_t count = buffer_.size();
    const bool cut = KeepBodyBytes(body, count);
    body.append(buffer_, 0, static_cast<std::size_t>(count));
    buffer_.erase(0, static_cast<std::size_t>(count));
    if (cut || body.size() >= Limits.MaxBodyBytes) {
      CutBody();
      return;
    }
    if (!ReceiveMore()) return;
  }
}

void THttpClient::CutBody() {
  bodyCut_ = true;
  buffer_.clear();
  CloseSocket();
}

void THttpClient::FinishExchange() {
  if (!socket_) return;
  if (EqualsIgnoringCase(response_.Header("Connection"), "close") ||
      EqualsIgnoringCase(response_.Header("Proxy-Connection"), "close"))
    CloseSocket();
}

bool THttpClient::ReadLine(std::string& line, bool inHead) {
  const std::size_t maxLength = static_cast<std::size_t>(std::max<std::int32_t>(MaxLineLength, 0));
  std::size_t searchFrom = 0;
  for (;;) {
    const std::size_t lineEnd = buffer_.find('\n', searchFrom);
    if (lineEnd != std::string::npos) {
      if (lineEnd > maxLength) throw EReadLnMaxLineLengthExceeded("Max line length exceeded.");
      CountHeadBytes(inHead, lineEnd + 1);
      line.assign(buffer_, 0, lineEnd);
      buffer_.erase(0, lineEnd + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    if (buffer_.size() > maxLength) throw EReadLnMaxLineLengthExceeded("Max line length exceeded.");
    searchFrom = buffer_.size();
    if (!ReceiveMore()) {
      line = std::move(buffer_);
      buffer_.clear();
      return false;
    }
  }
}

void THttpClient::CountHeadBytes(bool inHead, std::size_t count) {
  if (!inHead) return;
  headBytes_ += count;
  if (headBytes_ > Limits.MaxHeadBytes)
    throw EReadLnMaxLineLengthExceeded("Max line length exceeded.");
}

int THttpClient::NextWaitMilliseconds() {
  std::int64_t wait = Limits.WaitMilliseconds;
  if (ReadTimeout > 0) wait = std::min<std::int64_t>(wait, ReadTimeout);
  const std::int64_t remaining = deadline_ - SteadyMilliseconds();
  if (remaining <= 0) throw EReadTimeout("Read Timeout");
  return static_cast<int>(std::min(wait, remaining));
}

bool THttpClient::ReceiveMore() {
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
    if (errorCode == kWouldBlock) continue;
    if (errorCode == kConnectionAborted || errorCode == kSocketShutDown) {
      CloseSocket();
      if (!buffer_.empty()) return false;
    }
    throw ESocketError(errorCode);
  }
}
