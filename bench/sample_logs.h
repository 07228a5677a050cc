// What the benchmarks fill their logs with: a server's usual mix of records and journal entries,
// the same from run to run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/evt_codec.h"
#include "tests/support/journal_writer.h"

namespace bench {

// The count-th record of a .evt log.
inline core::evt::NewRecord SampleEvtRecord(std::uint32_t count) {
  core::evt::NewRecord record;
  record.TimeGenerated = 1500000000 + count;
  record.TimeWritten = record.TimeGenerated;
  record.EventID = 7000 + count % 50;
  record.Source = count % 3 == 0 ? u"Service Control Manager" : u"Tcpip";
  record.Computer = u"WORKSTATION-01";
  record.Strings = {u"The Print Spooler service entered the running state.", u"running",
                    std::u16string(count % 40, u'x')};
  record.Data.assign(count % 64, std::uint8_t(count));
  return record;
}

// The first entry's stamp (2023-11-14 22:13:20 UTC); the entries follow a millisecond apart.
constexpr std::uint64_t kSampleJournalStart = 1700000000000000;

// The i-th journal entry; with busy its message is lengthened to about 300 bytes, as a busy
// server's are.
inline JournalEntry SampleJournalEntry(std::size_t i, bool busy = false) {
  static const char* const kIdentifiers[] = {"kernel", "systemd", "sshd",
                                             "CRON",   "nginx",   "dbus-daemon"};
  static const char* const kMessages[] = {
      "pam_unix(cron:session): session opened for user root(uid=0) by (uid=0)",
      "Started session-4711.scope - Session 4711 of User deploy.",
      "Accepted publickey for deploy from 10.1.2.3 port 51234 ssh2: ED25519 SHA256:abcdefghijk",
      "10.0.0.7 - - [14/Nov/2023:22:13:20 +0000] \"GET /healthz HTTP/1.1\" 200 2 \"-\" "
      "\"kube-probe\"",
      "audit: type=1400 audit(1700000000.123:42): apparmor=\"STATUS\" operation=\"profile_load\"",
      "Activating via systemd: service name='org.freedesktop.hostname1' unit='dbus-org.service'",
  };
  const std::size_t kind = i % 6;
  std::string message = std::string(kMessages[kind]) + " #" + std::to_string(i);
  if (busy) {
    message += " request_id=" + std::to_string(i * 7919 % 1000003) + " user=deploy" +
               " path=/srv/app/releases/2023111" + std::to_string(i % 10) +
               "/config/settings.yaml status=ok duration_ms=" + std::to_string(i % 997);
    while (message.size() < 300) message += " detail=" + std::to_string(i % 101);
  }
  JournalEntry entry;
  entry.RealtimeMicroseconds = kSampleJournalStart + i * 1000;
  entry.Fields = {{"SYSLOG_IDENTIFIER", kIdentifiers[kind]},
                  {"_COMM", kIdentifiers[kind]},
                  {"_PID", std::to_string(1000 + i % 5000)},
                  {"_UID", "0"},
                  {"_HOSTNAME", "web-01"},
                  {"PRIORITY", std::to_string(3 + i % 5)},
                  {"SYSLOG_FACILITY", "3"},
                  {"_TRANSPORT", "syslog"},
                  {"MESSAGE", message}};
  if (i % 3 == 0)
    entry.Fields.push_back({"_SYSTEMD_UNIT", "unit-" + std::to_string(i % 40) + ".service"});
  return entry;
}

}  // namespace bench
