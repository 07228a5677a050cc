#include "tests/support/record_builder.h"

#include <cstddef>

#include "core/byteorder.h"
#include "core/event_record.h"

namespace {

using core::EventLogRecord;

void AppendText(std::vector<std::uint8_t>& record, const std::string& text) {
  record.insert(record.end(), text.begin(), text.end());
  record.push_back(0);
}

void PadToFour(std::vector<std::uint8_t>& record) {
  while (record.size() % 4 != 0) record.push_back(0);
}

}  // namespace

std::vector<std::uint8_t> BuildAnsiRecord(const AnsiRecordFields& fields) {
  std::vector<std::uint8_t> record(core::kEventRecordHeaderSize, 0);
  AppendText(record, fields.Source);
  AppendText(record, fields.Computer);
  PadToFour(record);
  const auto sidOffset = std::uint32_t(record.size());
  record.insert(record.end(), fields.UserSid.begin(), fields.UserSid.end());
  const auto stringOffset = std::uint32_t(record.size());
  for (const std::string& text : fields.Strings) AppendText(record, text);
  const auto dataOffset = std::uint32_t(record.size());
  record.insert(record.end(), fields.Data.begin(), fields.Data.end());
  PadToFour(record);
  record.resize(record.size() + 4);
  const auto length = std::uint32_t(record.size());

  std::uint8_t* h = record.data();
  const auto put32 = [h](std::size_t at, std::uint32_t value) { core::StoreU32(h + at, value); };
  const auto put16 = [h](std::size_t at, std::uint16_t value) { core::StoreU16(h + at, value); };
  put32(offsetof(EventLogRecord, Length), length);
  put32(offsetof(EventLogRecord, Reserved), core::kEventRecordSignature);
  put32(offsetof(EventLogRecord, RecordNumber), fields.RecordNumber);
  put32(offsetof(EventLogRecord, TimeGenerated), fields.TimeGenerated);
  put32(offsetof(EventLogRecord, TimeWritten), fields.TimeWritten);
  put32(offsetof(EventLogRecord, EventID), fields.EventID);
  put16(offsetof(EventLogRecord, EventType), fields.EventType);
  put16(offsetof(EventLogRecord, NumStrings), std::uint16_t(fields.Strings.size()));
  put16(offsetof(EventLogRecord, EventCategory), fields.EventCategory);
  put32(offsetof(EventLogRecord, StringOffset), stringOffset);
  put32(offsetof(EventLogRecord, UserSidLength), std::uint32_t(fields.UserSid.size()));
  put32(offsetof(EventLogRecord, UserSidOffset), sidOffset);
  put32(offsetof(EventLogRecord, DataLength), std::uint32_t(fields.Data.size()));
  put32(offsetof(EventLogRecord, DataOffset), dataOffset);
  put32(length - 4, length);
  return record;
}
