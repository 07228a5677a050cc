// The gateway (gateway_probe.h).
#include "tools/check/gateway_probe.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "core/errors.h"
#include "monitor/pageaction.h"
#include "monitor/settings_lint.h"
#include "paging/httpclient.h"
#include "paging/sendpage.h"
#include "platform/sockets.h"

namespace check {

namespace {

constexpr std::uint16_t kGatewayPort = 80;

// Connects to the gateway as the page's HTTP client does (the name lookup and the connect
// within its connect time limit) and closes again without a request.
void ProbeGateway(const std::string& gateway, Findings& findings) {
  const tHostAndPort target = SplitHostAndPort(gateway, kGatewayPort);
  const int limit = HttpLimits.ConnectMilliseconds;
  const auto start = std::chrono::steady_clock::now();
  const auto remaining = [&] {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    return static_cast<int>(std::max<long long>(limit - spent, 0));
  };
  try {
    platform::StartSocketLayer();
    const tSocketAddress address = ResolveSocketAddress(target.Host, remaining());
    int errorCode = 0;
    const platform::UniqueSocket socket(platform::OpenStreamSocket(address, errorCode));
    if (!socket || !platform::BindAnyAddress(socket.get(), address, errorCode) ||
        !platform::ConnectStream(socket.get(), address, target.Port, remaining(), errorCode))
      throw ESocketError(errorCode);
    platform::ShutdownSending(socket.get());
    Print("  probe: " + gateway + " accepted a connection, closed again without a request");
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    std::string message = description.Message;
    for (std::size_t at = message.find("\r\n"); at != std::string::npos; at = message.find("\r\n"))
      message.replace(at, 2, " ");
    findings.Fail("the gateway " + gateway + " did not answer the probe: " + EscapedText(message) +
                  " (" + description.ClassName + "): a page sent now would fail");
  }
}

}  // namespace

void CheckGateway(const tEventSearchRecord* settings, bool probe, Findings& findings) {
  const auto [gateway, fromEnvironment] = GatewayHost();
  Print("The gateway: http://" + EscapedText(gateway) + "/cgi-bin/xmhscgi " +
        (fromEnvironment ? "(from PAGING_GATEWAY_HOST)"
                         : "(built in; PAGING_GATEWAY_HOST overrides it)"));
  const tPagingSetting pagerId = PagerIdSetting();
  const tPagingSetting password = PasswordSetting();
  const bool pagerUsable = PagerIdProblem(pagerId.Text).empty();
  Print("  pager: " + (pagerUsable ? pagerId.Text : VisibleText(pagerId.Text) + ", no pager") +
        (pagerId.FromEnvironment ? " (from PAGING_PAGER_ID)"
                                 : " (built in; PAGING_PAGER_ID overrides it)"));
  Print("  password: " + MaskedSecret(password.Text) +
        (password.FromEnvironment ? " (from PAGING_PASSWORD)"
                                  : " (built in; PAGING_PASSWORD overrides it)"));
  if (settings != nullptr && settings->Action != kPageAction)
    Print("  EventLog pages only with <Action>page</Action>");
  const std::string problem = HostProblem(gateway);
  if (!problem.empty() && !fromEnvironment)  // the environment's value is judged above
    findings.Fail("the built-in gateway " + VisibleText(gateway) + " " + problem +
                  ": set PAGING_GATEWAY_HOST to host or host:port");
  if (!fromEnvironment)
    findings.Note("the gateway is the built-in " + gateway +
                  ": set PAGING_GATEWAY_HOST (host or host:port) to page another one");
  if (!probe) return;
  if (problem.empty())
    ProbeGateway(gateway, findings);
  else
    Print("  probe: not tried, the host can never work");
}

}  // namespace check
