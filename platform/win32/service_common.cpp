// The Windows side of platform/service_common.h.
#include "platform/service_common.h"

#include <cstring>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"
#include "platform/win32/handles.h"
#include "platform/win32/windows_api.h"

// advapi32's generator of random bytes (RtlGenRandom), which every Windows since XP has.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace platform {
namespace {

std::wstring Wide(const std::string& path) {
  const std::u16string wide = AnsiToWide(path);
  return std::wstring(wide.begin(), wide.end());
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()); }

}  // namespace

void CloseDescriptor(int descriptor) {
  if (descriptor >= 0) closesocket(static_cast<SOCKET>(descriptor));
}

int OpenLoopbackReceiver(std::uint16_t& port, int& errorCode) {
  // Not inherited: EventLog must not keep the channel's socket open.
  UniqueNativeSocket fd(
      WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
  if (!fd) fd.reset(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!fd) {
    errorCode = WSAGetLastError();
    return -1;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(fd.get()), HANDLE_FLAG_INHERIT, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof address;
  u_long nonBlocking = 1;
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ioctlsocket(fd.get(), FIONBIO, &nonBlocking) != 0) {
    errorCode = WSAGetLastError();
    return -1;
  }
  const int room = 1 << 20;
  setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&room), sizeof room);
  port = ntohs(address.sin_port);
  // Socket numbers are small kernel handles: they fit the int this header speaks in.
  return static_cast<int>(fd.release());
}

bool ReceiveWaitingDatagram(int socket, std::string& datagram) {
  datagram.resize(65536);
  for (;;) {
    const int count =
        recv(static_cast<SOCKET>(socket), datagram.data(), static_cast<int>(datagram.size()), 0);
    // A port-unreachable answer to an earlier send shows up as a reset: skip it.
    if (count < 0 && WSAGetLastError() == WSAECONNRESET) continue;
    if (count < 0) {
      datagram.clear();
      return false;
    }
    datagram.resize(static_cast<std::size_t>(count));
    return true;
  }
}

bool SystemRandomBytes(std::size_t count, std::string& bytes, std::string& error) {
  bytes.assign(count, '\0');
  if (SystemFunction036(bytes.data(), static_cast<ULONG>(count))) return true;
  error = "the system's random source failed";
  return false;
}

bool StandardStreamIsJournal(StandardStream) { return false; }

bool SameFileContents(const std::string& first, const std::string& second) {
  const DWORD secondAttributes = Attributes(second);
  if (secondAttributes == INVALID_FILE_ATTRIBUTES ||
      (secondAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    return false;
  auto open = [](const std::string& path) {
    return UniqueKernelHandle(CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  };
  const UniqueKernelHandle one = open(first), other = open(second);
  LARGE_INTEGER oneSize, otherSize;
  if (!one || !other || !GetFileSizeEx(one.get(), &oneSize) ||
      !GetFileSizeEx(other.get(), &otherSize) || oneSize.QuadPart != otherSize.QuadPart ||
      GetFileType(one.get()) != FILE_TYPE_DISK || GetFileType(other.get()) != FILE_TYPE_DISK)
    return false;
  auto fill = [](HANDLE file, char* block, DWORD size) -> long {
    DWORD filled = 0;
    while (filled < size) {
      DWORD count = 0;
      if (!ReadFile(file, block + filled, size - filled, &count, nullptr)) return -1;
      if (count == 0) break;
      filled += count;
    }
    return static_cast<long>(filled);
  };
  std::vector<char> oneBlock(1 << 16), otherBlock(1 << 16);
  for (;;) {
    const long oneCount = fill(one.get(), oneBlock.data(), 1 << 16);
    const long otherCount = fill(other.get(), otherBlock.data(), 1 << 16);
    if (oneCount < 0 || oneCount != otherCount ||
        std::memcmp(oneBlock.data(), otherBlock.data(), static_cast<std::size_t>(oneCount)) != 0)
      return false;
    if (oneCount == 0) return true;
  }
}

EntryKind KindOfEntry(const std::string& path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
  return (attributes &
          (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0
             ? EntryKind::RegularFile
             : EntryKind::Other;
}

bool RemoveIfRegularFile(const std::string& path, std::string& error) {
  switch (KindOfEntry(path)) {
    case EntryKind::Missing:
      return true;
    case EntryKind::Other:
      error = path + ": is not a regular file and is left in place";
      return false;
    case EntryKind::RegularFile:
      break;
  }
  if (!DeleteFileW(Wide(path).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    error = path + ": " + SystemErrorText(GetLastError());
    return false;
  }
  return true;
}

}  // namespace platform
