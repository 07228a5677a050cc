// The HTTP client of the page sender: one blocking HTTP/1.1 GET over one IPv4 TCP connection,
// the response body handed back as text and every other outcome raised as a named failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/http_response.h"
#include "platform/sockets.h"

EVENTLOG_DECLARE_EXCEPTION(EConnClosedGracefully)         // "Connection Closed Gracefully."
EVENTLOG_DECLARE_EXCEPTION(ENetException)                 // "Undefined situation"
EVENTLOG_DECLARE_EXCEPTION(EReadTimeout)                  // "Read Timeout"
EVENTLOG_DECLARE_EXCEPTION(EReadLnMaxLineLengthExceeded)  // "Max line length exceeded."
EVENTLOG_DECLARE_EXCEPTION(EUnknownProtocol)              // empty message
EVENTLOG_DECLARE_EXCEPTION(ETransportInvalid)             // "Transport value is not valid"

// A response outside 200-299, or a redirect: the message is the status line.
class EHTTPProtocolException : public Exception {
 public:
  EHTTPProtocolException(std::string statusLine, std::int32_t errorCode, std::string body)
      : Exception("EHTTPProtocolException", std::move(statusLine)),
        errorCode_(errorCode),
        body_(std::move(body)) {}
  std::int32_t ErrorCode() const { return errorCode_; }
  const std::string& ErrorMessage() const { return body_; }

 private:
  std::int32_t errorCode_;
  std::string body_;
};

// The parts of a URL. Only the host, port and request target are ever sent.
struct tUrl {
  std::string Protocol;
  std::string UserName;
  std::string Password;
  std::string Host;
  std::string Port;
  std::string Path;
  std::string Document;
  std::string Params;
  std::string Bookmark;  // the fragment after "#", never sent
};

// Splits a URL, every "\" first turned into "/".
tUrl SplitUrl(std::string url);

// The bounds that keep a gateway from holding the monitor or exhausting its memory. Every
// client copies the process-wide values when it is created; tests shorten them.
struct tHttpLimits {
  int ConnectMilliseconds = 30000;   // connecting; then ESocketError 10060
  int WaitMilliseconds = 30000;      // each wait for data; then EReadTimeout
  int ExchangeMilliseconds = 60000;  // connecting to the last byte; then EReadTimeout
  std::size_t MaxHeadBytes = 64 * 1024;
  std::size_t MaxBodyBytes = 1024 * 1024;  // the rest of a longer body is not read
};
extern tHttpLimits HttpLimits;

// The response of the last exchange.
struct tHttpResponse {
  std::string StatusLine;
  std::int32_t StatusCode = -1;
  std::vector<std::string> RawHeaders;
  std::int64_t ContentLength = -1;
  bool HasContentLength() const { return ContentLength >= 0; }
  // The first header of that name (letter case aside) with its continuation lines, trimmed.
  std::string Header(const std::string& name) const;
};

class THttpClient {
 public:
  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host);
  std::int32_t Port() const { return port_; }
  void SetPort(std::int32_t port);

  std::int32_t ReadTimeout = 0;  // milliseconds; 0 waits as long as the limits allow
  std::string ProtocolVersion = "1.1";
  bool HandleRedirects = false;
  std::int32_t MaxLineLength = 16384;
  std::int32_t RecvBufferSize = 32768;
  bool UseNagle = true;
  tHttpLimits Limits;

  // Performs the exchange and returns the response body.
  std::string Get(const std::string& url);
  const tHttpResponse& Response() const { return response_; }
  // True while the socket is open; a connection the peer has closed is closed here.
  bool IsConnected();
  void CloseConnection();

 private:
  struct Target;
  Target TargetOf(const tUrl& url);
  void Connect(const std::string& host, std::uint16_t port);
  void SendRequest(const std::string& requestTarget, const std::string& hostHeader);
  [[noreturn]] void RaiseProtocolFailure(std::string& body);
  [[noreturn]] void RaiseReadFailure();
  // Feeds the response reader from the receive buffer, receiving while it needs more, until the
  // head is whole, the response ends or it fails. Body bytes are added to the body.
  core::HttpEvent ReadResponse(std::string& body);
  core::HttpEvent FeedReader(std::string& body);
  void KeepHead();
  void CutBody();
  // Closes the connection unless the response lets it stay open.
  void FinishExchange();

  // Receives into the empty receive buffer; false when the peer has closed. A held part of a line
  // decides whether an aborted connection ends like a close.
  bool ReceiveMore(bool partHeld);
  int NextWaitMilliseconds();
  void CloseSocket();

  std::string host_;
  std::int32_t port_ = 80;
  platform::UniqueSocket socket_;
  // Bytes received and not yet taken by the reader, from bufferStart_ on.
  std::string buffer_;
  std::size_t bufferStart_ = 0;
  core::tHttpResponseReader reader_;
  std::int64_t deadline_ = 0;  // steady-clock milliseconds when the exchange must end
  tHttpResponse response_;
};
