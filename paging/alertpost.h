// The alert poster: one alert posted to each Alertmanager that ALERTMANAGER_URL lists (each
// instance of a cluster gets it; they deduplicate among themselves), with a log entry for each
// outcome and an exception report for a post that got no answer; and the list itself, read in
// one place.
#pragma once

#include <string>
#include <vector>

#include "core/errors.h"

// A base URL that cannot be posted to; the message says what is wrong and how to write it.
EVENTLOG_DECLARE_EXCEPTION(EAlertmanagerUrl)

// One listed Alertmanager.
struct tAlertmanager {
  std::string Url;      // the base URL as listed: "http://host:port", maybe with a path prefix
  std::string Problem;  // why it cannot be used, with the fix; empty when it can
};

// The entries of a list: base URLs separated by blanks, tabs or commas, each checked.
std::vector<tAlertmanager> ReadAlertmanagerList(const std::string& list);

// The one place ALERTMANAGER_URL is read, anew at every call; empty when it is unset or blank.
std::vector<tAlertmanager> AlertmanagersFromEnvironment();

// Empty when alerts can be posted to the base URL: "http://" (any letter case), a host, an
// optional port from 1 to 65535 (80 when none is given), an optional path prefix, no user, query
// or fragment. "https://" is refused: the HTTP client speaks plain HTTP only.
std::string AlertmanagerUrlProblem(const std::string& baseUrl);

// The base URL with the API path after it, one "/" between them.
std::string AlertmanagerEndpoint(const std::string& baseUrl, const std::string& apiPath);

// Posts the body (alerts as JSON) to the Alertmanager's POST /api/v2/alerts; true when it
// answers 2xx. Writes the outcome's log entry (50410 accepted, 40410 refused, 30010 failed with
// its exception report) and counts the post in RunCounters. Never raises.
bool PostAlert(const std::string& baseUrl, const std::string& body);
