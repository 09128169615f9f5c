// Operating-system handles with one owner each, and the loops that move a whole buffer through
// one. Every file, directory, lock and process handle of the platform layer is held this way, so
// every way out of a function closes what it opened.
#pragma once

#include <cstddef>
#include <utility>

namespace uippack::platform {

// An open POSIX descriptor or Win32 HANDLE, closed when its owner goes. Movable, not copyable.
class OwnedHandle {
 public:
#ifdef _WIN32
  using Native = void*;  // HANDLE, without pulling <windows.h> into every includer
  static constexpr Native kNone = nullptr;
#else
  using Native = int;
  static constexpr Native kNone = -1;
#endif

  OwnedHandle() = default;
  // Takes handle over. Whatever the system hands out for "no handle" (a negative descriptor;
  // nullptr or INVALID_HANDLE_VALUE, since the Win32 calls disagree) is held as kNone.
  explicit OwnedHandle(Native handle);
  ~OwnedHandle() { Close(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.Release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  bool IsOpen() const { return handle_ != kNone; }
  // The handle, still owned here; kNone when closed.
  Native Get() const { return handle_; }
  // Gives the handle up without closing it.
  Native Release() { return std::exchange(handle_, kNone); }
  // Closes the handle if one is held.
  void Close();

 private:
  Native handle_ = kNone;
};

// Writes length bytes from data, following every partial or interrupted write with the rest.
// False on an error.
bool WriteAll(OwnedHandle::Native handle, const void* data, std::size_t length);
// Reads exactly length bytes into buffer. False on an error or when the data ends first.
bool ReadAll(OwnedHandle::Native handle, void* buffer, std::size_t length);

}  // namespace uippack::platform
