// Texts between UTF-16 and the ANSI code page of the process.
#include "platform/text.h"

#include <cstdint>

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u < 0xE000; }

bool UsesUtf8() { return GetACP() == CP_UTF8; }

// The text with every unpaired surrogate replaced by "?", so that all code pages treat it alike.
// A pair stands for a character beyond the 8-bit code pages, which becomes one "?" too, not two;
// only UTF-8 keeps it.
std::wstring PrepareForCodePage(std::u16string_view text) {
  const bool keepPairs = UsesUtf8();
  std::wstring wide;
  wide.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      if (keepPairs) {
        wide += static_cast<wchar_t>(u);
        wide += static_cast<wchar_t>(text[i + 1]);
      } else {
        wide += L'?';
      }
      ++i;
    } else {
      wide += IsHighSurrogate(u) || IsLowSurrogate(u) ? L'?' : static_cast<wchar_t>(u);
    }
  }
  return wide;
}

// Converts one piece; a character the code page lacks becomes "?" rather than a look-alike.
void AppendPiece(const wchar_t* units, int count, std::string& out) {
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  const char* missing = "?";
  if (UsesUtf8()) {  // every character has its bytes; the call takes no stand-in
    flags = 0;
    missing = nullptr;
  }
  int size = WideCharToMultiByte(CP_ACP, flags, units, count, nullptr, 0, missing, nullptr);
  if (size <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    missing = nullptr;
    size = WideCharToMultiByte(CP_ACP, flags, units, count, nullptr, 0, missing, nullptr);
  }
  if (size <= 0) {
    out.append(static_cast<std::size_t>(count), '?');
    return;
  }
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(size));
  const int written =
      WideCharToMultiByte(CP_ACP, flags, units, count, out.data() + start, size, missing, nullptr);
  out.resize(start + static_cast<std::size_t>(written > 0 ? written : 0));
}

// Pieces small enough for the call's counts, never splitting a surrogate pair.
constexpr std::size_t kPieceUnits = 1 << 20;

void AppendAnsi(const std::wstring& wide, std::string& out) {
  for (std::size_t start = 0; start < wide.size();) {
    std::size_t count = wide.size() - start < kPieceUnits ? wide.size() - start : kPieceUnits;
    if (start + count < wide.size() &&
        IsHighSurrogate(static_cast<char16_t>(wide[start + count - 1])))
      --count;
    AppendPiece(wide.data() + start, static_cast<int>(count), out);
    start += count;
  }
}

}  // namespace

std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  AppendAnsi(PrepareForCodePage(text), out);
  return out;
}

void AppendUtf16LeAsAnsi(const std::uint8_t* bytes, std::size_t units, std::string& out) {
  std::u16string text(units, u'\0');
  for (std::size_t i = 0; i < units; ++i)
    text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  AppendAnsi(PrepareForCodePage(text), out);
}

std::u16string AnsiToWide(std::string_view text) {
  std::u16string wide;
  for (std::size_t start = 0; start < text.size();) {
    // Pieces small enough for the call's counts; a piece may split a double-byte character,
    // whose halves then become "?" each.
    const std::size_t count = text.size() - start < kPieceUnits ? text.size() - start : kPieceUnits;
    const int size =
        MultiByteToWideChar(CP_ACP, 0, text.data() + start, static_cast<int>(count), nullptr, 0);
    if (size <= 0) {
      wide.append(count, u'?');
    } else {
      const std::size_t at = wide.size();
      wide.resize(at + static_cast<std::size_t>(size));
      const int written =
          MultiByteToWideChar(CP_ACP, 0, text.data() + start, static_cast<int>(count),
                              reinterpret_cast<wchar_t*>(wide.data() + at), size);
      wide.resize(at + static_cast<std::size_t>(written > 0 ? written : 0));
    }
    start += count;
  }
  // The system stands in U+FFFD for bytes that are no character of the code page.
  for (char16_t& unit : wide)
    if (unit == 0xFFFD) unit = u'?';
  return wide;
}

void AppendUtf8AsAnsi(std::string_view utf8, std::string& out) {
  if (UsesUtf8()) {
    out.append(utf8);
    return;
  }
  // Malformed sequences become U+FFFD here, and "?" in the code page.
  const int size = utf8.empty() ? 0
                                : MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                                      static_cast<int>(utf8.size()), nullptr, 0);
  if (size <= 0) {
    out.append(utf8.empty() ? 0 : 1, '?');
    return;
  }
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  for (wchar_t& unit : wide)
    if (unit == 0xFFFD) unit = L'?';
  AppendAnsi(PrepareForCodePage({reinterpret_cast<const char16_t*>(wide.data()), wide.size()}),
             out);
}

}  // namespace platform
