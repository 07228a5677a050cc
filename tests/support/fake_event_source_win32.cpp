// The import pointers of the event log service's reporting calls, defined by the suite's program
// itself, so the linker leaves advapi32's out (fake_event_source.h).
#include <windows.h>

#include <deque>
#include <mutex>

#include "tests/support/fake_event_source.h"

namespace {

struct Source {
  std::string Name;
  bool Closed = false;
};

struct Service {
  std::deque<Source> Handles;  // a handle is the address of its entry
  std::vector<FakeReportedEvent> Events;
  DWORD RefuseReports = 0;
  DWORD RefuseOpens = 0;
  int BadCloses = 0;
};

std::mutex serviceMutex;
Service* service = nullptr;

template <typename Function>
Function SystemEntry(const char* name) {
  const FARPROC entry = GetProcAddress(LoadLibraryA("advapi32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

Source* Find(HANDLE handle) {
  for (Source& source : service->Handles)
    if (&source == handle && !source.Closed) return &source;
  return nullptr;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

HANDLE WINAPI FakeRegisterEventSourceW(LPCWSTR server, LPCWSTR name) {
  std::unique_lock<std::mutex> lock(serviceMutex);
  if (service == nullptr) {
    lock.unlock();
    return SystemEntry<decltype(&RegisterEventSourceW)>("RegisterEventSourceW")(server, name);
  }
  if (service->RefuseOpens != 0 || server != nullptr) {
    SetLastError(service->RefuseOpens != 0 ? service->RefuseOpens : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  service->Handles.push_back({Narrow(name), false});
  return &service->Handles.back();
}

BOOL WINAPI FakeReportEventW(HANDLE handle, WORD type, WORD category, DWORD id, PSID user,
                             WORD count, DWORD dataSize, LPCWSTR* strings, LPVOID data) {
  std::unique_lock<std::mutex> lock(serviceMutex);
  if (service == nullptr) {
    lock.unlock();
    return SystemEntry<decltype(&ReportEventW)>("ReportEventW")(handle, type, category, id, user,
                                                                count, dataSize, strings, data);
  }
  Source* source = Find(handle);
  if (source == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (service->RefuseReports != 0) {
    SetLastError(service->RefuseReports);
    return FALSE;
  }
  FakeReportedEvent event;
  event.Source = source->Name;
  event.Type = type;
  event.Category = category;
  event.Id = id;
  event.HasData = dataSize != 0 || data != nullptr || user != nullptr;
  for (WORD i = 0; i < count; ++i) {
    const wchar_t* text = strings[i];
    std::u16string copy;
    for (; *text != 0; ++text) copy += static_cast<char16_t>(*text);
    event.Strings.push_back(copy);
  }
  service->Events.push_back(event);
  return TRUE;
}

BOOL WINAPI FakeDeregisterEventSource(HANDLE handle) {
  std::unique_lock<std::mutex> lock(serviceMutex);
  if (service == nullptr) {
    lock.unlock();
    return SystemEntry<decltype(&DeregisterEventSource)>("DeregisterEventSource")(handle);
  }
  Source* source = Find(handle);
  if (source == nullptr) {
    ++service->BadCloses;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  source->Closed = true;
  return TRUE;
}

}  // namespace

extern "C" {
decltype(&RegisterEventSourceW) __imp_RegisterEventSourceW = FakeRegisterEventSourceW;
decltype(&ReportEventW) __imp_ReportEventW = FakeReportEventW;
decltype(&DeregisterEventSource) __imp_DeregisterEventSource = FakeDeregisterEventSource;
}

ScopedFakeEventSource::ScopedFakeEventSource() {
  std::lock_guard<std::mutex> lock(serviceMutex);
  service = new Service;
}

ScopedFakeEventSource::~ScopedFakeEventSource() {
  std::lock_guard<std::mutex> lock(serviceMutex);
  delete service;
  service = nullptr;
}

void ScopedFakeEventSource::RefuseReports(std::uint32_t error) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  service->RefuseReports = error;
}

void ScopedFakeEventSource::RefuseOpens(std::uint32_t error) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  service->RefuseOpens = error;
}

std::vector<FakeReportedEvent> ScopedFakeEventSource::Events() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->Events;
}

int ScopedFakeEventSource::Opens() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return static_cast<int>(service->Handles.size());
}

int ScopedFakeEventSource::OpenHandles() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  int open = 0;
  for (const Source& source : service->Handles) open += source.Closed ? 0 : 1;
  return open;
}

int ScopedFakeEventSource::BadCloses() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->BadCloses;
}
