// The one owner of an operating system handle: it closes the handle exactly once, when it goes
// out of scope or is given another one, and passes it on only by moving. Traits name the value
// that stands for "no handle" and the call that closes one:
//   struct Traits {
//     static Handle Invalid();
//     static void Close(Handle handle);  // never called with Invalid()
//   };
#pragma once

#include <utility>

namespace core {

template <class Traits>
class UniqueHandle {
 public:
  using Handle = decltype(Traits::Invalid());

  UniqueHandle() noexcept : handle_(Traits::Invalid()) {}
  explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
  ~UniqueHandle() { Close(); }

  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

  // Gives up the handle without closing it; the caller owns it from then on.
  [[nodiscard]] Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // Closes the handle held, if any, and keeps the new one. Taking the handle already held
  // keeps it open.
  void reset(Handle handle = Traits::Invalid()) noexcept {
    if (handle == handle_) return;
    Close();
    handle_ = handle;
  }

 private:
  void Close() noexcept {
    if (handle_ != Traits::Invalid()) Traits::Close(std::exchange(handle_, Traits::Invalid()));
  }

  Handle handle_;
};

}  // namespace core
