#include "platform/text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "core/utf8.h"
#include "platform/posix/handles.h"

namespace platform {
namespace {

enum class Charset { kUtf8, kOther };

struct LocaleCharset {
  Charset kind = Charset::kUtf8;
  std::string codeset = "UTF-8";
};

// A set that is plain ASCII: the C and POSIX locales' own. UTF-8 holds it unchanged, so their
// texts are taken as UTF-8, as under C.UTF-8, and no character of them turns into "?" (a
// source "Ärger" would otherwise read as "?rger", like "Örger").
bool IsAsciiCodeset(const std::string& codeset) {
  return codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII";
}

// The character set of LC_CTYPE as the environment sets it, without touching the process
// locale. A locale that cannot be opened leaves the C library in the C locale: UTF-8 too.
const LocaleCharset& CurrentCharset() {
  static const LocaleCharset charset = [] {
    LocaleCharset result;
    const UniqueLocale loc(newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0)));
    if (!loc) return result;
    const std::string codeset = nl_langinfo_l(CODESET, loc.get());
    if (codeset != "UTF-8" && codeset != "utf8" && !IsAsciiCodeset(codeset))
      result = {Charset::kOther, codeset};
    return result;
  }();
  return charset;
}

constexpr char32_t kInvalid = 0xFFFFFFFF;

// One character of another set through iconv; iconv keeps no state between characters
// of a stateless 8-bit set, so converting one at a time lets a missing one become "?".
class IconvEncoder {
 public:
  IconvEncoder(const std::string& to, const char* from) : cd_(iconv_open(to.c_str(), from)) {}
  bool Usable() const { return bool(cd_); }
  // Converts inLength bytes; false when the set lacks the character.
  bool Convert(const char* in, std::size_t inLength, std::string& out) {
    char buffer[32];
    char* inPtr = const_cast<char*>(in);
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(cd_.get(), nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_.get(), &inPtr, &inLength, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
      return false;
    out.append(buffer, outPtr);
    return true;
  }

 private:
  struct ConversionTraits {
    static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }
    static void Close(iconv_t cd) { iconv_close(cd); }
  };
  core::UniqueHandle<ConversionTraits> cd_;
};

void AppendOther(char32_t c, std::string& out) {
  static std::mutex mutex;
  static IconvEncoder encoder(CurrentCharset().codeset, "UTF-32LE");
  char in[4] = {char(c), char(c >> 8), char(c >> 16), char(c >> 24)};
  std::lock_guard lock(mutex);
  if (!encoder.Usable() || !encoder.Convert(in, 4, out)) out.push_back('?');
}

void AppendChar(char32_t c, Charset kind, std::string& out) {
  if (c == kInvalid) {
    out.push_back('?');
  } else if (c < 0x80) {
    out.push_back(char(c));
  } else if (kind == Charset::kUtf8) {
    core::AppendUtf8(c, out);
  } else {
    AppendOther(c, out);
  }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u < 0xE000; }

// Walks UTF-16 units (read by unitAt) as characters; unpaired surrogates are kInvalid.
template <typename UnitAt>
void AppendUnits(UnitAt unitAt, std::size_t units, std::string& out) {
  const Charset kind = CurrentCharset().kind;
  for (std::size_t i = 0; i < units; ++i) {
    char16_t u = unitAt(i);
    if (u < 0x80) {
      out.push_back(char(u));
      continue;
    }
    char32_t c = u;
    if (IsHighSurrogate(u)) {
      char16_t next = i + 1 < units ? unitAt(i + 1) : 0;
      if (IsLowSurrogate(next)) {
        c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      } else {
        c = kInvalid;
      }
    } else if (IsLowSurrogate(u)) {
      c = kInvalid;
    }
    AppendChar(c, kind, out);
  }
}

// Decodes another set byte by byte through iconv; 8-bit sets map one byte to a character.
std::u16string OtherToWide(std::string_view text) {
  IconvEncoder decoder("UTF-16LE", CurrentCharset().codeset.c_str());
  std::u16string out;
  for (char byte : text) {
    std::string wide;
    if (decoder.Usable() && decoder.Convert(&byte, 1, wide) && wide.size() >= 2) {
      for (std::size_t i = 0; i + 1 < wide.size(); i += 2)
        out.push_back(char16_t(std::uint8_t(wide[i]) | std::uint8_t(wide[i + 1]) << 8));
    } else {
      out.push_back(u'?');
    }
  }
  return out;
}

// Copies the leading UTF-16LE units below 0x80 to dest as bytes, four units at a time where
// the machine is little-endian; returns how many were copied.
std::size_t CopyAsciiUnits(const std::uint8_t* bytes, std::size_t units, char* dest) {
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kNonAscii = 0xFF80FF80FF80FF80u;
    for (; i + 4 <= units; i += 4) {
      std::uint64_t word;
      std::memcpy(&word, bytes + 2 * i, sizeof word);
      if ((word & kNonAscii) != 0) break;
      dest[i] = char(word);
      dest[i + 1] = char(word >> 16);
      dest[i + 2] = char(word >> 32);
      dest[i + 3] = char(word >> 48);
    }
  }
  for (; i < units && bytes[2 * i + 1] == 0 && bytes[2 * i] < 0x80; ++i)
    dest[i] = char(bytes[2 * i]);
  return i;
}

}  // namespace

void AppendUtf16LeAsAnsi(const std::uint8_t* bytes, std::size_t units, std::string& out) {
  // Event texts are mostly ASCII: copy that run in one go, with no locale lookup, before the
  // general path takes the rest. The record codec hands over only the runs of other characters,
  // which take the general path at once.
  const bool startsAscii = units > 0 && bytes[1] == 0 && bytes[0] < 0x80;
  if (!startsAscii) {
    AppendUnits([bytes](std::size_t i) { return char16_t(bytes[2 * i] | bytes[2 * i + 1] << 8); },
                units, out);
    return;
  }
  const std::size_t start = out.size();
  out.resize(start + units);
  const std::size_t ascii = CopyAsciiUnits(bytes, units, out.data() + start);
  out.resize(start + ascii);
  if (ascii == units) return;
  const std::uint8_t* rest = bytes + 2 * ascii;
  AppendUnits([rest](std::size_t i) { return char16_t(rest[2 * i] | rest[2 * i + 1] << 8); },
              units - ascii, out);
}

std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendUnits([text](std::size_t i) { return text[i]; }, text.size(), out);
  return out;
}

void AppendUtf8AsAnsi(std::string_view utf8, std::string& out) {
  if (CurrentCharset().kind == Charset::kUtf8) {
    out.append(utf8);
    return;
  }
  const std::u16string wide = core::Utf8ToUtf16(utf8);
  AppendUnits([&wide](std::size_t i) { return wide[i]; }, wide.size(), out);
}

std::u16string AnsiToWide(std::string_view text) {
  switch (CurrentCharset().kind) {
    case Charset::kUtf8:
      return core::Utf8ToUtf16(text);
    case Charset::kOther:
      break;
  }
  return OtherToWide(text);
}

}  // namespace platform
