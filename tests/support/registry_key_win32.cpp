// The test's log key in the registry (registry_key.h).
#include <windows.h>

#include <utility>

#include "tests/support/registry_key.h"

namespace {
std::string LogKey(const std::string& logName) {
  return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + logName;
}
}  // namespace

ScopedClassicLogKey::ScopedClassicLogKey(std::string logName, const std::string& file)
    : name_(std::move(logName)) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, LogKey(name_).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                      &key, &disposition) != ERROR_SUCCESS)
    return;
  if (disposition != REG_CREATED_NEW_KEY) {  // a log of the machine's own: left alone
    RegCloseKey(key);
    return;
  }
  made_ = RegSetValueExA(key, "File", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                         DWORD(file.size() + 1)) == ERROR_SUCCESS;
  RegCloseKey(key);
}

ScopedClassicLogKey::~ScopedClassicLogKey() {
  if (made_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, LogKey(name_).c_str());
}
