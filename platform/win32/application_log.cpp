// The Windows Application log (application_log.h), through the event log service's reporting
// calls and the registry.
#include "platform/application_log.h"

#include "platform/text.h"
#include "platform/win32/windows_api.h"

namespace platform {

static_assert(static_cast<WORD>(EventType::Error) == EVENTLOG_ERROR_TYPE);
static_assert(static_cast<WORD>(EventType::Warning) == EVENTLOG_WARNING_TYPE);
static_assert(static_cast<WORD>(EventType::Information) == EVENTLOG_INFORMATION_TYPE);
static_assert(kErrorNotRegistered == ERROR_FILE_NOT_FOUND);
static_assert(kTypesSupported ==
              (EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE));

namespace {

std::wstring Wide(const std::string& text) {
  const std::u16string wide = AnsiToWide(text);
  return std::wstring(wide.begin(), wide.end());
}

// The source's key; a name with a backslash would reach another key and is refused.
bool KeyOf(const std::string& source, std::wstring& key, std::uint32_t& errorCode) {
  if (source.empty() || source.find('\\') != std::string::npos) {
    errorCode = ERROR_INVALID_NAME;
    return false;
  }
  key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + Wide(source);
  return true;
}

}  // namespace

EventSourceHandle OpenEventSourceNamed(const std::string& source, std::uint32_t& errorCode) {
  const HANDLE handle = RegisterEventSourceW(nullptr, Wide(source).c_str());
  if (handle == nullptr) errorCode = GetLastError();
  return handle;
}

bool ReportToEventSource(EventSourceHandle source, EventType type, std::uint32_t eventId,
                         const std::vector<std::string>& strings, std::uint32_t& errorCode) {
  std::vector<std::wstring> wide;
  wide.reserve(strings.size());
  for (const std::string& text : strings) wide.push_back(Wide(text));
  std::vector<LPCWSTR> pointers;
  for (const std::wstring& text : wide) pointers.push_back(text.c_str());
  if (!ReportEventW(static_cast<HANDLE>(source), static_cast<WORD>(type), 0, eventId, nullptr,
                    static_cast<WORD>(pointers.size()), 0,
                    pointers.empty() ? nullptr : pointers.data(), nullptr)) {
    errorCode = GetLastError();
    return false;
  }
  return true;
}

void CloseEventSource(EventSourceHandle source) {
  if (source != nullptr) DeregisterEventSource(static_cast<HANDLE>(source));
}

bool WriteEventSourceRegistration(const std::string& source, const std::string& messageFile,
                                  std::uint32_t& errorCode) {
  std::wstring key;
  if (!KeyOf(source, key, errorCode)) return false;
  HKEY opened = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &opened, nullptr);
  if (status == ERROR_SUCCESS) {
    const std::wstring file = Wide(messageFile);
    const DWORD types = kTypesSupported;
    status = RegSetValueExW(opened, L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(file.c_str()),
                            static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
    if (status == ERROR_SUCCESS)
      status = RegSetValueExW(opened, L"TypesSupported", 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&types), sizeof types);
    RegCloseKey(opened);
  }
  errorCode = static_cast<std::uint32_t>(status);
  return status == ERROR_SUCCESS;
}

bool ReadEventSourceRegistration(const std::string& source, std::string& messageFile,
                                 std::uint32_t& typesSupported, std::uint32_t& errorCode) {
  std::wstring key;
  if (!KeyOf(source, key, errorCode)) return false;
  // The path as written, without expanding its variables.
  DWORD size = 0;
  LSTATUS status =
      RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"EventMessageFile",
                   RRF_RT_REG_EXPAND_SZ | RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, nullptr, &size);
  std::wstring file(size / sizeof(wchar_t) + 1, L'\0');
  if (status == ERROR_SUCCESS) {
    size = static_cast<DWORD>(file.size() * sizeof(wchar_t));
    status = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"EventMessageFile",
                          RRF_RT_REG_EXPAND_SZ | RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, file.data(),
                          &size);
  }
  DWORD types = 0;
  DWORD typesSize = sizeof types;
  if (status == ERROR_SUCCESS)
    status = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"TypesSupported", RRF_RT_REG_DWORD,
                          nullptr, &types, &typesSize);
  if (status != ERROR_SUCCESS) {
    errorCode = static_cast<std::uint32_t>(status);
    return false;
  }
  file.resize(wcsnlen(file.c_str(), file.size()));
  messageFile = WideToAnsi(std::u16string(file.begin(), file.end()));
  typesSupported = types;
  return true;
}

bool DeleteEventSourceRegistration(const std::string& source, std::uint32_t& errorCode) {
  std::wstring key;
  if (!KeyOf(source, key, errorCode)) return false;
  const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  errorCode = static_cast<std::uint32_t>(status);
  return status == ERROR_SUCCESS;
}

}  // namespace platform
