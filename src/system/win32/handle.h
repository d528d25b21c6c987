// Owners for Windows handles, so that every path closes them.
#pragma once

#include <windows.h>

#include <utility>

namespace dadado::win32 {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  ~UniqueHandle() { reset(); }
  void reset() {
    if (h_) CloseHandle(h_);
    h_ = nullptr;
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HANDLE h_ = nullptr;
};

class UniqueKey {
 public:
  UniqueKey() = default;
  explicit UniqueKey(HKEY k) : k_(k) {}
  UniqueKey(UniqueKey&& o) noexcept : k_(std::exchange(o.k_, nullptr)) {}
  UniqueKey& operator=(UniqueKey&& o) noexcept {
    if (this != &o) {
      reset();
      k_ = std::exchange(o.k_, nullptr);
    }
    return *this;
  }
  ~UniqueKey() { reset(); }
  void reset() {
    if (k_) RegCloseKey(k_);
    k_ = nullptr;
  }
  HKEY get() const { return k_; }

 private:
  HKEY k_ = nullptr;
};

class UniqueGdiObject {
 public:
  UniqueGdiObject() = default;
  explicit UniqueGdiObject(HGDIOBJ o) : o_(o) {}
  UniqueGdiObject(UniqueGdiObject&& other) noexcept : o_(std::exchange(other.o_, nullptr)) {}
  UniqueGdiObject& operator=(UniqueGdiObject&& other) noexcept {
    if (this != &other) {
      reset();
      o_ = std::exchange(other.o_, nullptr);
    }
    return *this;
  }
  ~UniqueGdiObject() { reset(); }
  void reset() {
    if (o_) DeleteObject(o_);
    o_ = nullptr;
  }
  HGDIOBJ get() const { return o_; }

 private:
  HGDIOBJ o_ = nullptr;
};

}  // namespace dadado::win32
