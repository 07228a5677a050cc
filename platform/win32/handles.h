// The handles of this backend, each closed by its owner with the call its kind needs.
#pragma once

#include "core/unique_handle.h"
#include "platform/win32/windows_api.h"

namespace platform {

// A kernel object that the system hands out as INVALID_HANDLE_VALUE when it refuses (files).
struct KernelHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { CloseHandle(handle); }
};
using UniqueKernelHandle = core::UniqueHandle<KernelHandleTraits>;

// A directory search of FindFirstFile.
struct FindTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE search) { FindClose(search); }
};
using UniqueFind = core::UniqueHandle<FindTraits>;

struct RegistryKeyTraits {
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};
using UniqueRegistryKey = core::UniqueHandle<RegistryKeyTraits>;

struct NativeSocketTraits {
  static SOCKET Invalid() { return INVALID_SOCKET; }
  static void Close(SOCKET socket) { closesocket(socket); }
};
using UniqueNativeSocket = core::UniqueHandle<NativeSocketTraits>;

}  // namespace platform
