// The HTTP client of the page sender: one blocking HTTP/1.1 exchange over one TCP connection, to
// an IPv4 or IPv6 host ("[::1]" in a URL, which the Host header carries as written).
// The request says its method, URL, headers and body (a page is a plain GET); the response body
// comes back as text, the final head stays with the client, and every other outcome is raised as
// a named failure.
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
EVENTLOG_DECLARE_EXCEPTION(EInvalidHttpRequest)           // names the part that cannot be sent

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

// Splits a URL, every "\" first turned into "/". An IPv6 host keeps its brackets
// (SplitHostAndPort).
tUrl SplitUrl(std::string url);

// The bounds of an exchange (core/http_response.h). Every client copies the process-wide values
// when it is created; tests shorten them.
using tHttpLimits = core::tHttpLimits;
extern tHttpLimits HttpLimits;

// The head of the last exchange's response, as the reader kept it.
using tHttpResponse = core::tHttpHead;

// One request. The client sends the method and the URL's request target, then Content-Type, Host
// (from the URL), Accept and User-Agent when they are not empty, the further header lines in their
// order, Content-Length for every method but GET, the empty line and the body.
struct tHttpRequest {
  std::string Method = "GET";
  std::string Url{};
  std::string ContentType = "text/html";
  std::string Accept = "text/html, */*";
  std::string UserAgent = "Mozilla/3.0 (compatible; Tarn32 Library)";
  std::vector<std::string> Headers{};  // "Name: value", without a line end
  std::string Body{};
};

// Raises EInvalidHttpRequest for a method that is empty or holds a blank or a control character,
// and for a header value or line of the request that holds a CR or an LF: either would end the
// request line or a header early. HEAD is refused too: its answer's head may announce a body
// that never comes, and the response reader would wait for it.
void CheckHttpRequest(const tHttpRequest& request);

// The request's bytes on the wire for the request target and Host value its URL gives; checks the
// request first.
std::string HttpRequestBytes(const tHttpRequest& request, const std::string& requestTarget,
                             const std::string& hostHeader, const std::string& protocolVersion);

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
  std::int32_t RecvBufferSize = 32768;
  bool UseNagle = true;
  tHttpLimits Limits;  // MaxLineLength is the longest line of a response

  // Performs the exchange and returns the response body.
  std::string Perform(const tHttpRequest& request);
  // Perform with a plain GET of the URL.
  std::string Get(const std::string& url);
  const tHttpResponse& Response() const { return response_; }
  // True while the socket is open; a connection the peer has closed is closed here.
  bool IsConnected();
  void CloseConnection();

 private:
  struct Target;
  Target TargetOf(const tUrl& url);
  void Connect(const std::string& host, std::uint16_t port);
  void SendRequest(const std::string& bytes);
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
