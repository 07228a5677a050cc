// The journal behind the event log service: entries read through sd-journal, newest first,
// each delivered as a record in the 8-bit layout.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/eventlog.h"
#include "platform/journal.h"

namespace platform::journal {

// The fields of one entry that its record carries; the texts as the journal holds them (UTF-8,
// possibly with zero bytes).
struct Entry {
  std::string_view Identifier;  // SYSLOG_IDENTIFIER
  std::string_view Command;     // _COMM
  std::string_view Hostname;    // _HOSTNAME
  std::string_view Message;     // MESSAGE
  std::string_view Unit;        // _SYSTEMD_UNIT
  std::string_view Priority;    // PRIORITY
  std::string_view Transport;   // _TRANSPORT, _UID, _EXE: for the rules only
  std::string_view Uid;
  std::string_view Executable;
  bool HasUnit = false;
  std::uint64_t RealtimeMicroseconds = 0;
  std::uint64_t SequenceNumber = 0;
};

// The entry's source: SYSLOG_IDENTIFIER, else _COMM, else empty; in the locale's character set.
std::string SourceOf(const Entry& entry);

// Appends the entry's record in the 8-bit layout (at most evt::kMaxRecordSize bytes). The
// record number is the low 32 bits of the entry's sequence number.
void AppendRecord(const Entry& entry, std::uint16_t eventId, std::string& out);

EventLogHandle Open();
bool Owns(EventLogHandle handle);
bool ReadBackwards(EventLogHandle handle, void* buffer, std::uint32_t bufferSize,
                   std::uint32_t& bytesRead, std::uint32_t& bytesNeeded, std::uint32_t& errorCode);
void Close(EventLogHandle handle);
EventLogLocation Locate();
bool VisitNewestFirst(const std::function<bool(const JournalFields&)>& visit);

}  // namespace platform::journal
