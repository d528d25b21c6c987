// dadado: scheduled restart, shutdown and log-off, and allowed hours of use.
#include <windows.h>
#include <commctrl.h>

#include "ui/win32/win_app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  dadado::win32::WinApp app;
  return app.Main();
}
