// The Windows tests' entry point. With "--probe-instance FILE" the program
// instead takes the part of a started copy in the single-instance test.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>

#include "system/win32/win_os.h"

namespace {

int ProbeInstance(const wchar_t* result_file) {
  dadado::win32::WinOperatingSystem os;
  const bool another = os.AnotherCopyRunning();
  if (FILE* f = _wfopen(result_file, L"w")) {
    std::fputs(another ? "second" : "first", f);
    std::fclose(f);
  }
  // Hold the instance until the test lets go.
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"Local\\dadado-test-release");
  WaitForSingleObject(release, 30000);
  CloseHandle(release);
  return another ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"--probe-instance") == 0) return ProbeInstance(argv[2]);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
