// The version resource of a Windows executable (file_version.h), through the version library.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "tests/support/file_version.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();
  return out;
}

std::wstring Wide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 1) return {};
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), size);
  out.pop_back();
  return out;
}

}  // namespace

bool ReadFileVersion(const std::string& path, FileVersion& version, std::string& error) {
  const std::wstring file = Wide(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) {
    error = "no version resource in " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  std::vector<std::uint8_t> block(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) {
    error =
        "cannot read the version of " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    version.Numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                      std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                      std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                      std::to_string(LOWORD(fixed->dwFileVersionLS));
  }
  for (const wchar_t* name :
       {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName", L"LegalCopyright",
        L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (VerQueryValueW(block.data(), query.c_str(), &value, &length) && length > 0)
      version.Texts[Utf8(name)] = Utf8(static_cast<const wchar_t*>(value));
  }
  return true;
}
