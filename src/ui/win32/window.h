// A top-level window drawn from 96-DPI geometry: each control is laid out
// from its design rectangle scaled to the window's DPI, and laid out again,
// fonts included, when the window moves to a screen of another DPI.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "base/wipe.h"
#include "system/win32/handle.h"

namespace dadado::win32 {

struct Rect96 {
  int x, y, w, h;
};

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  HWND hwnd() const { return hwnd_; }
  UINT dpi() const { return dpi_; }
  int Scale(int px96) const { return MulDiv(px96, static_cast<int>(dpi_), 96); }
  void Destroy();
  // The class window procedure: the object comes with the create parameters
  // and is reached from every message from WM_NCCREATE to WM_NCDESTROY.
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 protected:
  // Creates the window with a client area of the given 96-DPI size, centred
  // on the screen.
  bool CreateTopLevel(DWORD ex_style, DWORD style, const std::wstring& title, int client_w, int client_h, HWND owner);
  // Creates a window of the given class that is never laid out or shown.
  bool CreateBare(const wchar_t* window_class, DWORD ex_style, DWORD style, HWND parent);
  HWND AddControl(const wchar_t* window_class, const std::wstring& text, DWORD style, Rect96 r, int id,
                  DWORD ex_style = 0);
  void MoveControl(HWND control, Rect96 r);
  // A control added with AddControl, by its identifier (the first one, for
  // an identifier several share); nullptr when there is none. Asking the
  // system instead walks every child window each time.
  HWND FindControl(int id) const;
  // The controls added so far, in the order they were added.
  std::size_t control_count() const { return placed_.size(); }
  HWND control_at(std::size_t i) const { return placed_[i].control; }
  // While set, AddControl makes its controls hidden whatever their style
  // says: a page built in the background stays out of sight.
  bool add_hidden_ = false;
  virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  // After a DPI change, before the controls are laid out again.
  virtual void OnDpiChanged() {}
  HFONT font() const { return static_cast<HFONT>(font_.get()); }
  HFONT bold_font() const { return static_cast<HFONT>(bold_font_.get()); }

 private:
  struct Placed {
    HWND control;
    Rect96 rect;
    int id;
  };
  void MakeFonts();
  void LayOut();

  HWND hwnd_ = nullptr;
  HWND last_focus_ = nullptr;  // given back when the window is activated again
  UINT dpi_ = 96;
  int client_w_ = 0, client_h_ = 0;
  UniqueGdiObject font_, bold_font_;
  std::vector<Placed> placed_;
};

// The DPI of a window, or of the system before a window exists.
UINT DpiOf(HWND hwnd);
// The program's icon, drawn at any size.
UniqueIcon MakeProgramIcon(int size);
// The icon of the executable's resources at a standard size, or the drawn
// one when the executable carries none.
UniqueIcon LoadProgramIcon(int size);
// A system metric at a DPI (the small-icon size for the tray, say).
int MetricForDpi(int metric, UINT dpi);
// Registers the classes of the visible windows and of the host window.
void RegisterWindowClass();
inline constexpr wchar_t kWindowClass[] = L"DadadoWindow";
inline constexpr wchar_t kHostWindowClass[] = L"DadadoHost";

// Sets an edit box's text only when it differs, so the caret stays put.
void SetTextIfDifferent(HWND control, const std::wstring& text);
// The controls of a page not built yet are null; these two and
// SetSecretTextIfDifferent leave them alone. A call on a null window does
// nothing, yet under Wine costs a round trip to the window server: the
// refresh before the first paint made dozens of them.
void EnableControl(HWND control, bool enabled);
std::wstring TextOf(HWND control);
// A password box's text as UTF-8; the wide copies it passed through are
// wiped, and the caller wipes what it gets once used.
std::string SecretTextOf(HWND control);
// SetTextIfDifferent for a password box: it leaves no copy behind.
void SetSecretTextIfDifferent(HWND control, const std::string& text);
// A check box's mark: 0 none, 1 checked, 2 grey.
void SetCheckBox(HWND check_box, int value);
// The notification a WM_NOTIFY carries, or null. The controls send theirs from
// this thread, also while it answers another program's message to one of them;
// one sent by another program itself points into that program's memory, and is
// read only where `size` bytes there are readable memory of ours. Whoever takes
// it still checks that it comes from a control of their own.
const NMHDR* NotificationIn(LPARAM lp, std::size_t size);

}  // namespace dadado::win32
