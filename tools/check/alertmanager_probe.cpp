// The Alertmanagers (alertmanager_probe.h).
#include "tools/check/alertmanager_probe.h"

#include <exception>
#include <string>
#include <vector>

#include "core/errors.h"
#include "monitor/settings.h"
#include "paging/alertpost.h"
#include "paging/httpclient.h"

namespace check {

namespace {

constexpr char kStatusPath[] = "/api/v2/status";

// GET /api/v2/status within the client's limits, as the alert's post would reach the instance.
void ProbeAlertmanager(const std::string& baseUrl, Findings& findings) {
  const std::string url = AlertmanagerEndpoint(baseUrl, kStatusPath);
  try {
    THttpClient client;
    tHttpRequest request;
    request.Url = url;
    request.Accept = "application/json";
    client.Perform(request);
    if (client.Response().StatusCode == 200) {
      Print("  probe: " + url + " answered " + EscapedText(client.Response().StatusLine));
      return;
    }
    findings.Fail("the Alertmanager " + url + " answered " +
                  EscapedText(client.Response().StatusLine) +
                  " instead of 200: is it an Alertmanager (with its path prefix, if any)?");
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    std::string message = description.Message;
    for (std::size_t at = message.find("\r\n"); at != std::string::npos; at = message.find("\r\n"))
      message.replace(at, 2, " ");
    findings.Fail("the Alertmanager " + url + " did not answer the probe: " + EscapedText(message) +
                  " (" + description.ClassName + "): an alert posted now would fail");
  }
}

}  // namespace

void CheckAlertmanagers(bool probe, Findings& findings) {
  const std::vector<tAlertmanager> alertmanagers = AlertmanagersFromEnvironment();
  if (alertmanagers.empty()) return;
  Print("The Alertmanagers (ALERTMANAGER_URL), each sent every report as an alert:");
  for (const tAlertmanager& alertmanager : alertmanagers) {
    Print("  " + VisibleText(alertmanager.Url));
    if (!alertmanager.Problem.empty()) {
      findings.Fail("ALERTMANAGER_URL entry " + VisibleText(alertmanager.Url) + ": " +
                    alertmanager.Problem + "; each alert to it fails");
      continue;
    }
    if (probe) ProbeAlertmanager(alertmanager.Url, findings);
  }
}

}  // namespace check
