// A program the test starts afresh: no settings file and no machine policy
// before it, none left behind after it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "system/win32/wide.h"
#include "ui/win32/win_app.h"
#include "win32/win_test_support.h"

namespace dadado::win32 {

inline constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\dadado";

inline void ClearPolicy() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicyKey); }

inline void SetPolicyText(const std::wstring& key, const wchar_t* name, const std::wstring& t) {
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, t.c_str(),
                  static_cast<DWORD>((t.size() + 1) * sizeof(wchar_t)));
}

struct FreshAppTest : ::testing::Test {
  std::unique_ptr<WinApp> app;
  void SetUp() override {
    DeleteFileW(Widen(SettingsPath()).c_str());
    ClearPolicy();
  }
  void Start() {
    app = std::make_unique<WinApp>(MachineGuard());
    app->answer_messages = true;
    ASSERT_TRUE(app->Start());
    Pump(100);
  }
  void TearDown() override {
    app.reset();
    Pump(50);
    ClearPolicy();
    DeleteFileW(Widen(SettingsPath()).c_str());
  }
  HWND Form1Control(int id) { return app->form1().Control(id); }
};

}  // namespace dadado::win32
