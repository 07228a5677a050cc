// The event channels through the newer event log interface: a query of the channel newest first,
// each event rendered (its system values, its formatted message or else its first data item) into
// the 8-bit record layout.
#include "platform/win32/eventlog_channel.h"

#include <algorithm>
#include <array>
#include <map>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "core/event_record.h"
#include "core/unique_handle.h"
#include "platform/text.h"
#include "platform/win32/windows_api.h"
// clang-format off
#include <winevt.h>
// clang-format on

namespace platform {
namespace {

constexpr DWORD kBatch = 16;  // events asked for per call
// The longest texts a record takes, in UTF-16 units: each unit is at most three bytes in the
// 8-bit set (UTF-8), so a record stays well within the largest read.
constexpr std::size_t kMaxNameUnits = 1024;
constexpr std::size_t kMaxDetailsUnits = 0x12000;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000;
constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600ULL;
// The classic logs' event types.
constexpr std::uint16_t kErrorType = 1;
constexpr std::uint16_t kWarningType = 2;
constexpr std::uint16_t kInformationType = 4;

struct EvtHandleTraits {
  static EVT_HANDLE Invalid() { return nullptr; }
  static void Close(EVT_HANDLE handle) { EvtClose(handle); }
};
using UniqueEvt = core::UniqueHandle<EvtHandleTraits>;

// A message whose inserts could not all be resolved still comes formatted, with the failure.
bool PartlyFormatted(DWORD error) {
  return error == ERROR_EVT_UNRESOLVED_VALUE_INSERT ||
         error == ERROR_EVT_UNRESOLVED_PARAMETER_INSERT || error == ERROR_EVT_MAX_INSERTS_REACHED;
}

bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

// At most limit units of the text, never cutting a surrogate pair in two.
std::u16string_view Cut(std::u16string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  if (cut > 0 && IsLowSurrogate(text[cut])) --cut;
  return text.substr(0, cut);
}

// The first line of a text, line breaks before it skipped.
std::u16string_view FirstLine(std::u16string_view text) {
  const std::size_t start = text.find_first_not_of(u"\r\n");
  if (start == std::u16string_view::npos) return {};
  text.remove_prefix(start);
  return text.substr(0, text.find_first_of(u"\r\n"));
}

std::u16string_view StringOf(const EVT_VARIANT& value) {
  if (value.Type != EvtVarTypeString || value.StringVal == nullptr) return {};
  return std::u16string_view(reinterpret_cast<const char16_t*>(value.StringVal));
}

std::optional<std::uint64_t> UnsignedOf(const EVT_VARIANT& value) {
  switch (value.Type) {
    case EvtVarTypeByte:
      return value.ByteVal;
    case EvtVarTypeUInt16:
      return value.UInt16Val;
    case EvtVarTypeUInt32:
    case EvtVarTypeHexInt32:
      return value.UInt32Val;
    case EvtVarTypeUInt64:
    case EvtVarTypeHexInt64:
    case EvtVarTypeFileTime:
      return value.UInt64Val;
    default:
      return std::nullopt;
  }
}

std::string HexText(std::uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return "0x" + digits;
}

// A data item as the details: a text's first line, a number in digits; other kinds stay empty.
std::string ItemText(const EVT_VARIANT& value) {
  switch (value.Type) {
    case EvtVarTypeString:
      return WideToAnsi(Cut(FirstLine(StringOf(value)), kMaxDetailsUnits));
    case EvtVarTypeSByte:
      return std::to_string(value.SByteVal);
    case EvtVarTypeInt16:
      return std::to_string(value.Int16Val);
    case EvtVarTypeInt32:
      return std::to_string(value.Int32Val);
    case EvtVarTypeInt64:
      return std::to_string(value.Int64Val);
    case EvtVarTypeBoolean:
      return value.BooleanVal ? "true" : "false";
    case EvtVarTypeHexInt32:
    case EvtVarTypeHexInt64:
      return HexText(*UnsignedOf(value));
    default: {
      const std::optional<std::uint64_t> number = UnsignedOf(value);
      return number ? std::to_string(*number) : std::string();
    }
  }
}

// Seconds since 1970 of a FILETIME, within the record's 32 bits.
std::uint32_t SecondsSince1970(std::uint64_t fileTime) {
  const std::uint64_t seconds = fileTime / kFileTimeUnitsPerSecond;
  if (seconds <= kSecondsFrom1601To1970) return 0;
  return std::uint32_t(std::min<std::uint64_t>(seconds - kSecondsFrom1601To1970, 0xFFFFFFFFu));
}

std::uint16_t EventTypeOfLevel(std::uint64_t level) {
  if (level == 1 || level == 2) return kErrorType;
  if (level == 3) return kWarningType;
  return kInformationType;
}

// Values rendered into an array of EVT_VARIANT with the texts behind it.
struct Rendered {
  std::vector<EVT_VARIANT> Buffer = std::vector<EVT_VARIANT>(64);
  DWORD Count = 0;
  const EVT_VARIANT* At(DWORD index) const { return index < Count ? &Buffer[index] : nullptr; }
};

bool Render(EVT_HANDLE context, EVT_HANDLE event, Rendered& values) {
  for (;;) {
    const DWORD size = DWORD(values.Buffer.size() * sizeof(EVT_VARIANT));
    DWORD used = 0;
    values.Count = 0;
    if (EvtRender(context, event, EvtRenderEventValues, size, values.Buffer.data(), &used,
                  &values.Count)) {
      values.Count = std::min<DWORD>(values.Count, used / sizeof(EVT_VARIANT));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || used <= size) return false;
    values.Buffer.resize((used + sizeof(EVT_VARIANT) - 1) / sizeof(EVT_VARIANT));
  }
}

}  // namespace

struct ChannelQuery {
  UniqueEvt Query;
  UniqueEvt SystemContext;
  UniqueEvt UserContext;
  // Each provider's message metadata, opened once; an empty handle where it cannot be opened.
  std::map<std::u16string, UniqueEvt> Publishers;
  std::array<EVT_HANDLE, kBatch> Batch{};
  DWORD BatchSize = 0;
  DWORD BatchNext = 0;
  std::optional<ChannelStep> Ended;
  DWORD Error = ERROR_SUCCESS;  // the refused call's, when the query broke off
  Rendered System;
  Rendered User;
  std::vector<wchar_t> Message = std::vector<wchar_t>(1024);
};

namespace {

EVT_HANDLE Publisher(ChannelQuery& query, std::u16string_view provider) {
  auto [entry, added] = query.Publishers.try_emplace(std::u16string(provider));
  if (added && !provider.empty())
    entry->second.reset(EvtOpenPublisherMetadata(
        nullptr, reinterpret_cast<LPCWSTR>(entry->first.c_str()), nullptr, 0, 0));
  return entry->second.get();
}

// The event's formatted message; nullopt when none can be formatted.
std::optional<std::u16string_view> FormattedMessage(ChannelQuery& query, EVT_HANDLE publisher,
                                                    EVT_HANDLE event) {
  for (;;) {
    const DWORD size = DWORD(query.Message.size());
    DWORD used = 0;
    if (EvtFormatMessage(publisher, event, 0, 0, nullptr, EvtFormatMessageEvent, size,
                         query.Message.data(), &used) ||
        PartlyFormatted(GetLastError())) {
      const std::u16string_view text(reinterpret_cast<const char16_t*>(query.Message.data()),
                                     std::min(used, size));
      return text.substr(0, text.find(u'\0'));
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || used <= size) return std::nullopt;
    query.Message.resize(used);
  }
}

// The details: the message's first line, or else the first data item.
std::string Details(ChannelQuery& query, EVT_HANDLE event, std::u16string_view provider) {
  if (const auto message = FormattedMessage(query, Publisher(query, provider), event))
    return WideToAnsi(Cut(FirstLine(*message), kMaxDetailsUnits));
  if (!Render(query.UserContext.get(), event, query.User)) return {};
  const EVT_VARIANT* first = query.User.At(0);
  return first == nullptr ? std::string() : ItemText(*first);
}

bool RenderRecord(ChannelQuery& query, EVT_HANDLE event, std::string& record) {
  if (!Render(query.SystemContext.get(), event, query.System)) return false;
  auto number = [&](EVT_SYSTEM_PROPERTY_ID id) {
    const EVT_VARIANT* value = query.System.At(id);
    return value == nullptr ? 0 : UnsignedOf(*value).value_or(0);
  };
  auto text = [&](EVT_SYSTEM_PROPERTY_ID id) {
    const EVT_VARIANT* value = query.System.At(id);
    return value == nullptr ? std::u16string_view() : StringOf(*value);
  };
  core::EventRecordFields fields;
  fields.RecordNumber = std::uint32_t(number(EvtSystemEventRecordId));
  fields.TimeGenerated = SecondsSince1970(number(EvtSystemTimeCreated));
  fields.TimeWritten = fields.TimeGenerated;
  fields.EventID = std::uint32_t(number(EvtSystemEventID) & 0xFFFF);
  fields.EventType = EventTypeOfLevel(number(EvtSystemLevel));
  // The texts are taken before the details are formatted: both live in buffers of the query.
  const std::u16string provider(text(EvtSystemProviderName));
  fields.Source = WideToAnsi(Cut(provider, kMaxNameUnits));
  fields.Computer = WideToAnsi(Cut(text(EvtSystemComputer), kMaxNameUnits));
  fields.Strings = {Details(query, event, provider)};
  record = core::BuildEventRecord(fields);
  return true;
}

void CloseBatch(ChannelQuery& query) {
  for (DWORD i = query.BatchNext; i < query.BatchSize; ++i) EvtClose(query.Batch[i]);
  query.BatchSize = query.BatchNext = 0;
}

}  // namespace

bool IsChannelName(const std::string& logName) { return logName.find('/') != std::string::npos; }

ChannelQuery* OpenChannel(const std::string& channel) {
  const std::u16string path = AnsiToWide(channel);
  DWORD error = ERROR_SUCCESS;
  {
    UniqueEvt opened(EvtQuery(nullptr, reinterpret_cast<LPCWSTR>(path.c_str()), L"*",
                              EvtQueryChannelPath | EvtQueryReverseDirection));
    if (!opened) return nullptr;
    UniqueEvt system(EvtCreateRenderContext(0, nullptr, EvtRenderContextSystem));
    if (system) {
      UniqueEvt user(EvtCreateRenderContext(0, nullptr, EvtRenderContextUser));
      if (user) {
        auto* query = new (std::nothrow) ChannelQuery;
        if (query != nullptr) {
          query->Query = std::move(opened);
          query->SystemContext = std::move(system);
          query->UserContext = std::move(user);
          return query;
        }
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      }
    }
    error = GetLastError();
  }
  SetLastError(error);  // as the refusal left it, not as the closes after it did
  return nullptr;
}

void CloseChannel(ChannelQuery* query) {
  if (query == nullptr) return;
  CloseBatch(*query);
  delete query;
}

ChannelStep NextChannelRecord(ChannelQuery& query, std::string& record) {
  while (!query.Ended) {
    if (query.BatchNext == query.BatchSize) {
      CloseBatch(query);
      DWORD returned = 0;
      if (!EvtNext(query.Query.get(), kBatch, query.Batch.data(), INFINITE, 0, &returned)) {
        const DWORD error = GetLastError();
        query.Ended = error == ERROR_NO_MORE_ITEMS ? ChannelStep::kEnd : ChannelStep::kBrokeOff;
        if (error != ERROR_NO_MORE_ITEMS) query.Error = error;
        break;
      }
      // A success without events would be asked again for ever: it ends the channel.
      if (returned == 0) query.Ended = ChannelStep::kEnd;
      query.BatchSize = std::min(returned, kBatch);
      continue;
    }
    const UniqueEvt event(query.Batch[query.BatchNext++]);
    if (RenderRecord(query, event.get(), record)) return ChannelStep::kRecord;
    // An event that does not render leaves the older ones unread.
    query.Ended = ChannelStep::kBrokeOff;
  }
  return *query.Ended;
}

std::uint32_t ChannelQueryError(const ChannelQuery& query) { return query.Error; }

namespace {

UniqueEvt OpenConfiguration(const std::string& channel) {
  const std::u16string path = AnsiToWide(channel);
  return UniqueEvt(EvtOpenChannelConfig(nullptr, reinterpret_cast<LPCWSTR>(path.c_str()), 0));
}

// One property of an open configuration; nullopt when the system does not give it.
std::optional<std::vector<EVT_VARIANT>> Property(EVT_HANDLE config,
                                                 EVT_CHANNEL_CONFIG_PROPERTY_ID id) {
  std::vector<EVT_VARIANT> value(4);
  for (;;) {
    const DWORD size = DWORD(value.size() * sizeof(EVT_VARIANT));
    DWORD used = 0;
    if (EvtGetChannelConfigProperty(config, id, 0, size, value.data(), &used)) return value;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || used <= size) return std::nullopt;
    value.resize((used + sizeof(EVT_VARIANT) - 1) / sizeof(EVT_VARIANT));
  }
}

std::optional<bool> BooleanProperty(EVT_HANDLE config, EVT_CHANNEL_CONFIG_PROPERTY_ID id) {
  const auto value = Property(config, id);
  if (!value || (*value)[0].Type != EvtVarTypeBoolean) return std::nullopt;
  return (*value)[0].BooleanVal != FALSE;
}

}  // namespace

// A channel's configuration always holds its enabled state: a configuration without it is no
// channel's (Wine's interface opens a configuration for every name).
bool ChannelExists(const std::string& channel) {
  if (channel.empty()) return false;
  const UniqueEvt config = OpenConfiguration(channel);
  return config && BooleanProperty(config.get(), EvtChannelConfigEnabled).has_value();
}

ChannelConfiguration ReadChannelConfiguration(const std::string& channel) {
  ChannelConfiguration configuration;
  const UniqueEvt config = OpenConfiguration(channel);
  if (!config) {
    configuration.Error = GetLastError();
    if (configuration.Error == ERROR_SUCCESS) configuration.Error = ERROR_EVT_CHANNEL_NOT_FOUND;
    return configuration;
  }
  configuration.Enabled = BooleanProperty(config.get(), EvtChannelConfigEnabled);
  if (!configuration.Enabled) {  // as ChannelExists says: no channel's
    configuration.Error = ERROR_EVT_CHANNEL_NOT_FOUND;
    return configuration;
  }
  configuration.Classic = BooleanProperty(config.get(), EvtChannelConfigClassicEventlog);
  if (const auto path = Property(config.get(), EvtChannelLoggingConfigLogFilePath))
    configuration.LogFilePath = WideToAnsi(Cut(StringOf((*path)[0]), kMaxNameUnits));
  return configuration;
}

bool ListChannels(std::size_t limit, std::vector<std::string>& names, bool& more) {
  more = false;
  const UniqueEvt channels(EvtOpenChannelEnum(nullptr, 0));
  if (!channels) return false;
  std::vector<wchar_t> name(256);
  for (;;) {
    DWORD used = 0;
    if (!EvtNextChannelPath(channels.get(), DWORD(name.size()), name.data(), &used)) {
      const DWORD error = GetLastError();
      if (error == ERROR_NO_MORE_ITEMS) return true;
      if (error == ERROR_INSUFFICIENT_BUFFER && used > name.size()) {
        name.resize(used);
        continue;
      }
      SetLastError(error);
      return false;
    }
    if (names.size() == limit) {
      more = true;
      return true;
    }
    const std::u16string_view text(reinterpret_cast<const char16_t*>(name.data()),
                                   std::min<std::size_t>(used, name.size()));
    names.push_back(WideToAnsi(text.substr(0, text.find(u'\0'))));
  }
}

}  // namespace platform
