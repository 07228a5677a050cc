// The event channel interface of the suite's program (fake_channels.h): the channels' XML is
// taken apart once, and each call answers from it as the system does, with its buffer sizes,
// its errors and its handles.
// clang-format off
#include <windows.h>
#include <winevt.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string_view>

#include "tests/support/fake_channels.h"

namespace {

struct Event {
  std::u16string Provider, Computer, Message;
  bool HasMessage = false;
  std::uint16_t EventID = 0;
  std::uint8_t Level = 0;
  std::uint64_t TimeCreated = 0;  // FILETIME
  std::uint64_t RecordID = 0;
  std::vector<std::u16string> Items;  // the EventData or UserData values in order
};

enum class Kind { Query, Event, SystemContext, UserContext, Publisher, Config, ChannelEnum };

struct Handle {
  Kind Of = Kind::Query;
  std::size_t Channel = 0;
  bool Reverse = false;
  std::size_t HandedOut = 0;  // a query's events, or an enumeration's names, so far
  const Event* Ev = nullptr;
  std::u16string Provider;
  bool Closed = false;
};

struct Service {
  std::vector<FakeChannel> Channels;
  std::vector<std::vector<Event>> Events;
  std::deque<Handle> Handles;  // stable addresses: a handle is the address of its entry
  int Queries = 0;
  int BadCalls = 0;
  std::vector<std::string> Asked;
  std::vector<std::string> ConfigurationsAsked;
};

std::mutex serviceMutex;
Service* service = nullptr;

// Whether two channel names are the same, in any letter case of their ASCII letters.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The index of the named channel; Channels.size() when there is none.
std::size_t ChannelIndex(const Service& s, std::string_view name) {
  std::size_t i = 0;
  while (i < s.Channels.size() && !SameName(s.Channels[i].Path, name)) ++i;
  return i;
}

std::u16string Utf16(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::u16string wide(std::size_t(size), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()),
                      reinterpret_cast<wchar_t*>(wide.data()), size);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  if (wide == nullptr) return "(null)";
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string text(std::size_t(size > 0 ? size - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
  return text;
}

// The text of an element or attribute with XML's references resolved.
std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    const std::size_t end = text.find(';', i);
    const std::string_view name = text.substr(i + 1, end - i - 1);
    if (name == "amp") out += '&';
    if (name == "lt") out += '<';
    if (name == "gt") out += '>';
    if (name == "quot") out += '"';
    if (name == "apos") out += '\'';
    if (name.size() > 1 && name[0] == '#') {  // the references the files use: ASCII characters
      const bool hex = name[1] == 'x';
      out += char(std::stoul(std::string(name.substr(hex ? 2 : 1)), nullptr, hex ? 16 : 10));
    }
    i = end;
  }
  return out;
}

// The start tag of the first element of that name, from "<" to ">"; empty when there is none.
std::string_view StartTag(std::string_view xml, std::string_view name, std::size_t* at = nullptr) {
  for (std::size_t from = 0;;) {
    const std::size_t open = xml.find("<" + std::string(name), from);
    if (open == std::string_view::npos) return {};
    const char after = xml[open + 1 + name.size()];
    if (after == ' ' || after == '>' || after == '/' || after == '\n') {
      if (at != nullptr) *at = open;
      return xml.substr(open, xml.find('>', open) - open + 1);
    }
    from = open + 1;
  }
}

// The content of the first element of that name (empty for an empty element).
std::string_view Content(std::string_view xml, std::string_view name) {
  std::size_t at = 0;
  const std::string_view tag = StartTag(xml, name, &at);
  if (tag.empty() || tag[tag.size() - 2] == '/') return {};
  const std::size_t begin = at + tag.size();
  return xml.substr(begin, xml.find("</" + std::string(name) + ">", begin) - begin);
}

std::string Attribute(std::string_view tag, std::string_view name) {
  const std::size_t at = tag.find(" " + std::string(name) + "=");
  if (at == std::string_view::npos) return {};
  const std::size_t begin = at + name.size() + 3;
  return Unescape(tag.substr(begin, tag.find(tag[begin - 1], begin) - begin));
}

// The texts of the elements that hold no element, in order.
std::vector<std::u16string> LeafTexts(std::string_view xml) {
  std::vector<std::u16string> items;
  for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
    if (xml[at + 1] == '/') continue;
    const std::size_t end = xml.find('>', at);
    if (xml[end - 1] == '/') {  // an empty element holds an empty value
      items.push_back({});
      continue;
    }
    const std::size_t next = xml.find('<', end);
    if (xml[next + 1] == '/') items.push_back(Utf16(Unescape(xml.substr(end + 1, next - end - 1))));
  }
  return items;
}

std::uint64_t FileTimeOf(const std::string& iso) {  // 2026-11-03T08:15:02.4417032Z
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char fraction[16] = "";
  sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d.%15[0-9]", &year, &month, &day, &hour, &minute, &second,
         fraction);
  // Days since 1601-01-01 by the proleptic Gregorian calendar.
  const int y = month <= 2 ? year - 1 : year;
  const int era = y / 400, yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long days = era * 146097LL + yoe * 365 + yoe / 4 - yoe / 100 + doy - 584694;
  std::string units = std::string(fraction).substr(0, 7);
  units.resize(7, '0');
  return ((days * 86400 + hour * 3600 + minute * 60 + second) * 10000000ULL) + std::stoull(units);
}

std::vector<Event> Parse(const std::string& xml) {
  std::vector<Event> events;
  std::string_view rest = xml;
  for (std::size_t at = 0; !StartTag(rest, "Event", &at).empty();) {
    rest.remove_prefix(at);
    const std::size_t end = rest.find("</Event>");
    const std::string_view text = rest.substr(0, end);
    rest.remove_prefix(end);
    const std::string_view system = Content(text, "System");
    Event event;
    event.Provider = Utf16(Attribute(StartTag(system, "Provider"), "Name"));
    event.EventID = std::uint16_t(std::stoul(std::string(Content(system, "EventID"))));
    event.Level = std::uint8_t(std::stoul("0" + std::string(Content(system, "Level"))));
    event.TimeCreated = FileTimeOf(Attribute(StartTag(system, "TimeCreated"), "SystemTime"));
    event.RecordID = std::stoull(std::string(Content(system, "EventRecordID")));
    event.Computer = Utf16(Unescape(Content(system, "Computer")));
    const std::string_view data = StartTag(text, "EventData").empty() ? Content(text, "UserData")
                                                                      : Content(text, "EventData");
    event.Items = LeafTexts(data);
    const std::string_view rendering = Content(text, "RenderingInfo");
    event.HasMessage = !StartTag(rendering, "Message").empty();
    event.Message = Utf16(Unescape(Content(rendering, "Message")));
    events.push_back(std::move(event));
  }
  return events;
}

Handle* Find(Service& s, EVT_HANDLE handle, Kind kind) {
  for (Handle& h : s.Handles)
    if (&h == handle && !h.Closed && h.Of == kind) return &h;
  ++s.BadCalls;
  return nullptr;
}

EVT_HANDLE Give(Service& s, Handle handle) {
  s.Handles.push_back(std::move(handle));
  return &s.Handles.back();
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Writes the values, each text behind the array, as EvtRender lays them out.
BOOL RenderValues(const std::vector<std::pair<DWORD, const void*>>& values, DWORD bufferSize,
                  void* buffer, DWORD* used, DWORD* count) {
  std::size_t size = values.size() * sizeof(EVT_VARIANT);
  for (const auto& [type, value] : values)
    if (type == EvtVarTypeString)
      size += (static_cast<const std::u16string*>(value)->size() + 1) * 2;
  *used = DWORD(size);
  *count = DWORD(values.size());
  if (size > bufferSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  auto* variants = static_cast<EVT_VARIANT*>(buffer);
  auto* texts = reinterpret_cast<char16_t*>(variants + values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EVT_VARIANT& v = variants[i];
    std::memset(&v, 0, sizeof v);
    v.Type = values[i].first;
    const void* value = values[i].second;
    switch (v.Type) {
      case EvtVarTypeString: {
        const auto& text = *static_cast<const std::u16string*>(value);
        std::memcpy(texts, text.c_str(), (text.size() + 1) * 2);
        v.StringVal = reinterpret_cast<LPCWSTR>(texts);
        texts += text.size() + 1;
        break;
      }
      case EvtVarTypeUInt16:
        v.UInt16Val = *static_cast<const std::uint16_t*>(value);
        break;
      case EvtVarTypeByte:
        v.ByteVal = *static_cast<const std::uint8_t*>(value);
        break;
      case EvtVarTypeFileTime:
      case EvtVarTypeUInt64:
        v.UInt64Val = *static_cast<const std::uint64_t*>(value);
        break;
      default:
        break;
    }
  }
  return TRUE;
}

}  // namespace

EVT_HANDLE WINAPI EvtQuery(EVT_HANDLE session, LPCWSTR path, LPCWSTR query, DWORD flags) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  if (service == nullptr) {
    SetLastError(ERROR_EVT_CHANNEL_NOT_FOUND);
    return nullptr;
  }
  const std::string name = Utf8(path);
  char shownFlags[16];
  std::snprintf(shownFlags, sizeof shownFlags, "0x%lx", static_cast<unsigned long>(flags));
  service->Asked.push_back(name + " " + Utf8(query) + " " + shownFlags +
                           (session != nullptr ? " session" : ""));
  if (const std::size_t i = ChannelIndex(*service, name); i < service->Channels.size()) {
    if (service->Channels[i].QueryError != 0) {
      SetLastError(service->Channels[i].QueryError);
      return nullptr;
    }
    ++service->Queries;
    Handle handle;
    handle.Channel = i;
    handle.Reverse = (flags & EvtQueryReverseDirection) != 0;
    return Give(*service, handle);
  }
  SetLastError(ERROR_EVT_CHANNEL_NOT_FOUND);
  return nullptr;
}

WINBOOL WINAPI EvtNext(EVT_HANDLE resultSet, DWORD size, EVT_HANDLE* events, DWORD timeout,
                       DWORD flags, PDWORD returned) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  *returned = 0;
  if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
  Handle* query = Find(*service, resultSet, Kind::Query);
  if (query == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (flags != 0 || size == 0 || timeout == 0) ++service->BadCalls;
  const FakeChannel& channel = service->Channels[query->Channel];
  const std::vector<Event>& log = service->Events[query->Channel];
  DWORD given = 0;
  while (given < size && query->HandedOut < log.size() && query->HandedOut < channel.BreakAfter) {
    const std::size_t index = query->Reverse ? log.size() - 1 - query->HandedOut : query->HandedOut;
    Handle event;
    event.Of = Kind::Event;
    event.Ev = &log[index];
    events[given++] = Give(*service, event);
    ++query->HandedOut;
  }
  if (given > 0) {
    *returned = given;
    return TRUE;
  }
  return Fail(query->HandedOut >= log.size() ? ERROR_NO_MORE_ITEMS : channel.BreakError);
}

EVT_HANDLE WINAPI EvtCreateRenderContext(DWORD count, LPCWSTR* paths, DWORD flags) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  if (service == nullptr || count != 0 || paths != nullptr ||
      (flags != EvtRenderContextSystem && flags != EvtRenderContextUser)) {
    if (service != nullptr) ++service->BadCalls;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Handle context;
  context.Of = flags == EvtRenderContextSystem ? Kind::SystemContext : Kind::UserContext;
  return Give(*service, context);
}

WINBOOL WINAPI EvtRender(EVT_HANDLE context, EVT_HANDLE fragment, DWORD flags, DWORD bufferSize,
                         PVOID buffer, PDWORD used, PDWORD count) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
  Handle* event = Find(*service, fragment, Kind::Event);
  if (event == nullptr || flags != EvtRenderEventValues) return Fail(ERROR_INVALID_PARAMETER);
  const Event& e = *event->Ev;
  std::vector<std::pair<DWORD, const void*>> values;
  for (Handle& h : service->Handles) {
    if (&h != context || h.Closed) continue;
    if (h.Of == Kind::SystemContext) {
      values.assign(EvtSystemPropertyIdEND, {EvtVarTypeNull, nullptr});
      values[EvtSystemProviderName] = {EvtVarTypeString, &e.Provider};
      values[EvtSystemEventID] = {EvtVarTypeUInt16, &e.EventID};
      values[EvtSystemLevel] = {EvtVarTypeByte, &e.Level};
      values[EvtSystemTimeCreated] = {EvtVarTypeFileTime, &e.TimeCreated};
      values[EvtSystemEventRecordId] = {EvtVarTypeUInt64, &e.RecordID};
      values[EvtSystemComputer] = {EvtVarTypeString, &e.Computer};
      return RenderValues(values, bufferSize, buffer, used, count);
    }
    if (h.Of == Kind::UserContext) {
      for (const std::u16string& item : e.Items) values.push_back({EvtVarTypeString, &item});
      return RenderValues(values, bufferSize, buffer, used, count);
    }
  }
  ++service->BadCalls;
  return Fail(ERROR_INVALID_HANDLE);
}

EVT_HANDLE WINAPI EvtOpenPublisherMetadata(EVT_HANDLE session, LPCWSTR publisher, LPCWSTR logFile,
                                           LCID, DWORD flags) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  if (service == nullptr || session != nullptr || logFile != nullptr || flags != 0 ||
      publisher == nullptr) {
    if (service != nullptr) ++service->BadCalls;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Handle metadata;
  metadata.Of = Kind::Publisher;
  metadata.Provider = reinterpret_cast<const char16_t*>(publisher);
  return Give(*service, metadata);
}

WINBOOL WINAPI EvtFormatMessage(EVT_HANDLE publisher, EVT_HANDLE fragment, DWORD messageId,
                                DWORD valueCount, PEVT_VARIANT values, DWORD flags,
                                DWORD bufferSize, LPWSTR buffer, PDWORD used) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  *used = 0;
  if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
  Handle* event = Find(*service, fragment, Kind::Event);
  if (event == nullptr || messageId != 0 || valueCount != 0 || values != nullptr ||
      flags != EvtFormatMessageEvent)
    return Fail(ERROR_INVALID_PARAMETER);
  // The message comes from the event's own provider's metadata.
  if (publisher != nullptr) {
    Handle* metadata = Find(*service, publisher, Kind::Publisher);
    if (metadata == nullptr || metadata->Provider != event->Ev->Provider)
      return Fail(ERROR_INVALID_HANDLE);
  }
  if (!event->Ev->HasMessage) return Fail(ERROR_EVT_MESSAGE_NOT_FOUND);
  const std::u16string& message = event->Ev->Message;
  *used = DWORD(message.size() + 1);
  if (bufferSize < *used || buffer == nullptr) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, message.c_str(), *used * 2);
  return TRUE;
}

WINBOOL WINAPI EvtClose(EVT_HANDLE object) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
  for (Handle& h : service->Handles) {
    if (&h == object && !h.Closed) {
      h.Closed = true;
      return TRUE;
    }
  }
  ++service->BadCalls;
  return Fail(ERROR_INVALID_HANDLE);
}

EVT_HANDLE WINAPI EvtOpenChannelConfig(EVT_HANDLE session, LPCWSTR path, DWORD flags) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  if (service == nullptr) {
    SetLastError(ERROR_EVT_CHANNEL_NOT_FOUND);
    return nullptr;
  }
  if (session != nullptr || flags != 0 || path == nullptr) {
    ++service->BadCalls;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string name = Utf8(path);
  service->ConfigurationsAsked.push_back(name);
  const std::size_t i = ChannelIndex(*service, name);
  if (i == service->Channels.size()) {
    SetLastError(ERROR_EVT_CHANNEL_NOT_FOUND);
    return nullptr;
  }
  if (service->Channels[i].ConfigError != 0) {
    SetLastError(service->Channels[i].ConfigError);
    return nullptr;
  }
  Handle config;
  config.Of = Kind::Config;
  config.Channel = i;
  return Give(*service, config);
}

WINBOOL WINAPI EvtGetChannelConfigProperty(EVT_HANDLE config, EVT_CHANNEL_CONFIG_PROPERTY_ID id,
                                           DWORD flags, DWORD bufferSize, PEVT_VARIANT buffer,
                                           PDWORD used) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
  Handle* handle = Find(*service, config, Kind::Config);
  if (handle == nullptr || flags != 0 || used == nullptr) {
    ++service->BadCalls;
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const FakeChannel& channel = service->Channels[handle->Channel];
  const std::u16string path = Utf16(channel.LogFilePath);
  // A boolean in the variant itself; a text behind it, as the system lays them out.
  const bool text = id == EvtChannelLoggingConfigLogFilePath;
  if (!text && id != EvtChannelConfigEnabled && id != EvtChannelConfigClassicEventlog)
    return Fail(ERROR_NOT_SUPPORTED);
  *used = DWORD(sizeof(EVT_VARIANT) + (text ? (path.size() + 1) * 2 : 0));
  if (bufferSize < *used || buffer == nullptr) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memset(buffer, 0, sizeof(EVT_VARIANT));
  if (text) {
    auto* behind = reinterpret_cast<char16_t*>(buffer + 1);
    std::memcpy(behind, path.c_str(), (path.size() + 1) * 2);
    buffer->Type = EvtVarTypeString;
    buffer->StringVal = reinterpret_cast<LPCWSTR>(behind);
  } else {
    buffer->Type = EvtVarTypeBoolean;
    buffer->BooleanVal = id == EvtChannelConfigEnabled ? channel.Enabled : channel.Classic;
  }
  return TRUE;
}

EVT_HANDLE WINAPI EvtOpenChannelEnum(EVT_HANDLE session, DWORD flags) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  if (service == nullptr) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (session != nullptr || flags != 0) {
    ++service->BadCalls;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Handle channels;
  channels.Of = Kind::ChannelEnum;
  return Give(*service, channels);
}

WINBOOL WINAPI EvtNextChannelPath(EVT_HANDLE channels, DWORD bufferSize, LPWSTR buffer,
                                  PDWORD used) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
  Handle* handle = Find(*service, channels, Kind::ChannelEnum);
  if (handle == nullptr || used == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (handle->HandedOut == service->Channels.size()) return Fail(ERROR_NO_MORE_ITEMS);
  const std::u16string name = Utf16(service->Channels[handle->HandedOut].Path);
  *used = DWORD(name.size() + 1);
  if (bufferSize < *used || buffer == nullptr) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, name.c_str(), *used * 2);
  ++handle->HandedOut;
  return TRUE;
}

ScopedFakeChannelService::ScopedFakeChannelService(std::vector<FakeChannel> channels) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  service = new Service;
  for (const FakeChannel& channel : channels) service->Events.push_back(Parse(channel.Events));
  service->Channels = std::move(channels);
}

ScopedFakeChannelService::~ScopedFakeChannelService() {
  std::lock_guard<std::mutex> lock(serviceMutex);
  delete service;
  service = nullptr;
}

int ScopedFakeChannelService::Queries() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->Queries;
}

int ScopedFakeChannelService::OpenHandles() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return int(std::count_if(service->Handles.begin(), service->Handles.end(),
                           [](const Handle& h) { return !h.Closed; }));
}

int ScopedFakeChannelService::BadCalls() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->BadCalls;
}

std::vector<std::string> ScopedFakeChannelService::QueriesAsked() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->Asked;
}

std::vector<std::string> ScopedFakeChannelService::ConfigurationsAsked() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->ConfigurationsAsked;
}
