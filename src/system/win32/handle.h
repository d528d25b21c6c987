// Owners for Windows handles, so that every path closes them.
#pragma once

#include <windows.h>

#include <utility>

namespace dadado::win32 {

template <typename T, typename Traits>
class UniqueOf {
 public:
  UniqueOf() = default;
  explicit UniqueOf(T h) : h_(Traits::Valid(h) ? h : nullptr) {}
  UniqueOf(UniqueOf&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  UniqueOf& operator=(UniqueOf&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  UniqueOf(const UniqueOf&) = delete;
  UniqueOf& operator=(const UniqueOf&) = delete;
  ~UniqueOf() { reset(); }
  void reset() {
    if (h_) Traits::Close(h_);
    h_ = nullptr;
  }
  T get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  T h_ = nullptr;
};

struct HandleTraits {
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct KeyTraits {
  static bool Valid(HKEY) { return true; }
  static void Close(HKEY k) { RegCloseKey(k); }
};
struct GdiTraits {
  static bool Valid(HGDIOBJ) { return true; }
  static void Close(HGDIOBJ o) { DeleteObject(o); }
};

struct IconTraits {
  static bool Valid(HICON) { return true; }
  static void Close(HICON i) { DestroyIcon(i); }
};
struct HookTraits {
  static bool Valid(HHOOK) { return true; }
  static void Close(HHOOK h) { UnhookWindowsHookEx(h); }
};

using UniqueHandle = UniqueOf<HANDLE, HandleTraits>;
using UniqueKey = UniqueOf<HKEY, KeyTraits>;
using UniqueGdiObject = UniqueOf<HGDIOBJ, GdiTraits>;
using UniqueIcon = UniqueOf<HICON, IconTraits>;
using UniqueHook = UniqueOf<HHOOK, HookTraits>;

}  // namespace dadado::win32
