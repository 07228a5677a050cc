// The import pointers of the event log service, defined by the suite's program itself: the
// linker then takes them from here and leaves advapi32's out, and every call of the Windows
// backend lands in the fake below. Without a fake service in place the calls go on to the system.
#include <windows.h>

#include <cstring>
#include <deque>
#include <mutex>

#include "tests/support/fake_eventlog.h"

namespace {

struct OpenLog {
  std::size_t Log = 0;
  std::size_t Next = 0;  // the index of the next record to deliver
  bool Closed = false;
};

struct Service {
  std::vector<FakeEventLog> Logs;
  std::vector<std::size_t> ReadsOfLog;
  std::deque<OpenLog> Handles;  // stable addresses: a handle is the address of its entry
  int RefusedOpens = 0;
  int Closes = 0;
  int BadCloses = 0;
  bool ServerNamed = false;
  std::vector<FakeRead> Reads;
};

std::mutex serviceMutex;
Service* service = nullptr;

// The system's own entry point of that name, for the calls made while no fake is in place.
template <typename Function>
Function SystemEntry(const char* name) {
  const FARPROC entry = GetProcAddress(LoadLibraryA("advapi32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

OpenLog* Find(Service& s, HANDLE handle) {
  for (OpenLog& open : s.Handles)
    if (&open == handle && !open.Closed) return &open;
  return nullptr;
}

HANDLE WINAPI FakeOpenEventLogA(LPCSTR server, LPCSTR name) {
  std::unique_lock<std::mutex> lock(serviceMutex);
  if (service == nullptr) {
    lock.unlock();
    return SystemEntry<decltype(&OpenEventLogA)>("OpenEventLogA")(server, name);
  }
  if (server != nullptr) service->ServerNamed = true;
  for (std::size_t i = 0; i < service->Logs.size(); ++i) {
    if (name != nullptr && service->Logs[i].Name == name) {
      if (service->Logs[i].OpenError != 0) {
        ++service->RefusedOpens;
        SetLastError(service->Logs[i].OpenError);
        return nullptr;
      }
      service->Handles.push_back({i, 0, false});
      return &service->Handles.back();
    }
  }
  ++service->RefusedOpens;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

// Whole records from the handle's position, as many as fit, newest first.
BOOL Deliver(Service& s, OpenLog& open, DWORD flags, void* buffer, DWORD size, DWORD* read,
             DWORD* needed) {
  FakeRead seen;
  seen.Flags = flags;
  seen.BufferSize = size;
  const std::size_t readOfLog = s.ReadsOfLog[open.Log]++;
  const FakeEventLog& log = s.Logs[open.Log];
  auto fail = [&](DWORD error, DWORD bytesNeeded) {
    seen.Error = error;
    seen.BytesNeeded = bytesNeeded;
    s.Reads.push_back(seen);
    *read = 0;
    *needed = bytesNeeded;
    SetLastError(error);
    return FALSE;
  };
  if (flags != (EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ) || size > kFakeLargestRead)
    return fail(ERROR_INVALID_PARAMETER, 0);
  bool empty = false;
  for (std::size_t at : log.EmptySuccessAt) empty = empty || at == readOfLog;
  std::uint32_t delivered = 0;
  if (!empty) {
    if (open.Next >= log.Records.size()) return fail(ERROR_HANDLE_EOF, 0);
    const Bytes& first = log.Records[open.Next];
    if (first.size() > size) return fail(ERROR_INSUFFICIENT_BUFFER, DWORD(first.size()));
    while (open.Next < log.Records.size() && log.Records[open.Next].size() <= size - delivered) {
      const Bytes& record = log.Records[open.Next++];
      std::memcpy(static_cast<char*>(buffer) + delivered, record.data(), record.size());
      delivered += std::uint32_t(record.size());
    }
  }
  seen.Succeeded = true;
  seen.BytesRead = delivered;
  s.Reads.push_back(seen);
  *read = delivered;
  *needed = 0;
  return TRUE;
}

BOOL WINAPI FakeReadEventLogA(HANDLE handle, DWORD flags, DWORD offset, LPVOID buffer, DWORD size,
                              DWORD* read, DWORD* needed) {
  std::unique_lock<std::mutex> lock(serviceMutex);
  if (service == nullptr) {
    lock.unlock();
    return SystemEntry<decltype(&ReadEventLogA)>("ReadEventLogA")(handle, flags, offset, buffer,
                                                                  size, read, needed);
  }
  OpenLog* open = Find(*service, handle);
  if (open == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return Deliver(*service, *open, flags, buffer, size, read, needed);
}

BOOL WINAPI FakeCloseEventLog(HANDLE handle) {
  std::unique_lock<std::mutex> lock(serviceMutex);
  if (service == nullptr) {
    lock.unlock();
    return SystemEntry<decltype(&CloseEventLog)>("CloseEventLog")(handle);
  }
  OpenLog* open = Find(*service, handle);
  if (open == nullptr) {
    ++service->BadCloses;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  open->Closed = true;
  ++service->Closes;
  return TRUE;
}

}  // namespace

// The names the Windows headers' dllimport calls go through.
extern "C" {
decltype(&OpenEventLogA) __imp_OpenEventLogA = FakeOpenEventLogA;
decltype(&ReadEventLogA) __imp_ReadEventLogA = FakeReadEventLogA;
decltype(&CloseEventLog) __imp_CloseEventLog = FakeCloseEventLog;
}

ScopedFakeEventLogService::ScopedFakeEventLogService(std::vector<FakeEventLog> logs) {
  std::lock_guard<std::mutex> lock(serviceMutex);
  service = new Service;
  service->ReadsOfLog.assign(logs.size(), 0);
  service->Logs = std::move(logs);
}

ScopedFakeEventLogService::~ScopedFakeEventLogService() {
  std::lock_guard<std::mutex> lock(serviceMutex);
  delete service;
  service = nullptr;
}

int ScopedFakeEventLogService::Opens() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return int(service->Handles.size());
}

int ScopedFakeEventLogService::RefusedOpens() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->RefusedOpens;
}

int ScopedFakeEventLogService::Closes() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->Closes;
}

int ScopedFakeEventLogService::BadCloses() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->BadCloses;
}

bool ScopedFakeEventLogService::ServerNamed() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->ServerNamed;
}

std::vector<FakeRead> ScopedFakeEventLogService::Reads() const {
  std::lock_guard<std::mutex> lock(serviceMutex);
  return service->Reads;
}
