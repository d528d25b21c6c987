// The 使用记录 tab of the settings window: an account of the history, its
// last 14 days as a chart, today's, this week's and the 30 days' average use,
// 记录使用时间 and 导出. The history file is read while the tab is in view,
// when it comes into view and on each refresh, never on a paint.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>

#include "engine/usage_recorder.h"
#include "scheduler/time_control_guard.h"
#include "settings/settings_file.h"
#include "system/win32/system_library.h"
#include "system/win32/wide.h"
#include "ui/win32/app_windows.h"
#include "ui/win32/ids.h"

namespace dadado::win32 {

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr wchar_t kNoHistory[] = L"没有使用记录。勾选“记录使用时间”后开始记录。";
constexpr wchar_t kDefaultExportName[] = L"dadado-usage.csv";

// Whether two paths name one file, however they are written.
bool SameFile(const std::wstring& a, const std::wstring& b) {
  wchar_t full_a[MAX_PATH * 4], full_b[MAX_PATH * 4];
  const DWORD na = GetFullPathNameW(a.c_str(), MAX_PATH * 4, full_a, nullptr);
  const DWORD nb = GetFullPathNameW(b.c_str(), MAX_PATH * 4, full_b, nullptr);
  if (na == 0 || nb == 0 || na >= MAX_PATH * 4 || nb >= MAX_PATH * 4) return false;
  return CompareStringOrdinal(full_a, -1, full_b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

// In a frame, as on the other tabs, where the labels' background is the frame's.
void Form1Window::BuildUsagePage() {
  constexpr int page = kUsageTab;
  AddPage(page, AddControl(WC_BUTTONW, L"", kChild | BS_GROUPBOX, {12, 30, 362, 284}, kIdStatic));
  AddPage(page, AddControl(WC_STATICW, L"账户(&C):", kChild | SS_LEFT, {24, 52, 56, 16}, kIdStatic));
  HWND account = AddControl(WC_COMBOBOXW, L"", kChild | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST,
                            {82, 48, 160, 200}, kIdUsageAccount);
  SendMessageW(account, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(kAllAccounts).c_str()));
  SendMessageW(account, CB_SETCURSEL, 0, 0);
  AddTip(account, L"“所有账户”把各账户的使用时间加在一起");
  AddPage(page, account);
  HWND record = AddControl(WC_BUTTONW, L"记录使用时间(&R)", kChild | WS_TABSTOP | WS_GROUP | BS_3STATE,
                           {252, 50, 116, 18}, kIdRecordUsage);
  AddTip(record, L"每天记录每个账户使用电脑的分钟数，保存在程序旁边的 CSV 文件中");
  AddPage(page, record);

  UsageChart::Register();
  HWND chart = AddControl(UsageChart::kClassName, L"", kChild, {24, 80, 340, 170}, kIdUsageChart, WS_EX_CLIENTEDGE);
  chart_.Attach(chart);
  // The font came before the chart knew its window.
  SendMessageW(chart, WM_SETFONT, reinterpret_cast<WPARAM>(font()), FALSE);
  AddPage(page, chart);

  for (int id : {kIdUsageToday, kIdUsageWeek, kIdUsageAverage})
    AddPage(page, AddControl(WC_STATICW, L"", kChild | SS_LEFT | SS_NOPREFIX,
                             {24, 256 + (id - kIdUsageToday) * 18, 236, 16}, id));
  HWND save = AddControl(WC_BUTTONW, L"导出(&E)…", kChild | WS_TABSTOP | WS_GROUP, {270, 284, 94, 24}, kIdUsageExport);
  AddTip(save, L"把使用记录保存为 CSV 文件，可以用 Excel 打开");
  AddPage(page, save);
}

void Form1Window::MirrorUsage() {
  const LiveSettings& live = program_.live();
  SetCheckBox(FindControl(kIdRecordUsage), live.record_usage().value);
  EnableControl(FindControl(kIdRecordUsage), true);
  if (page_ != kUsageTab || !IsWindowVisible(hwnd())) return;

  std::vector<std::string> names = program_.UsageAccounts();
  // The account chosen stays in the list, even if its rows went meanwhile.
  if (!usage_account_.empty() &&
      std::none_of(names.begin(), names.end(), [&](const std::string& n) { return n == usage_account_; }))
    names.push_back(usage_account_);
  HWND combo = FindControl(kIdUsageAccount);
  if (names != usage_accounts_) {
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(kAllAccounts).c_str()));
    for (const std::string& n : names) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(n).c_str()));
    usage_accounts_ = names;
  }
  int index = 0;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (!usage_account_.empty() && names[i] == usage_account_) index = static_cast<int>(i) + 1;
  if (SendMessageW(combo, CB_GETCURSEL, 0, 0) != index) SendMessageW(combo, CB_SETCURSEL, index, 0);

  const Program::UsageView view = program_.UsageOf(usage_account_);
  UsageChartData data;
  const bool nothing = std::all_of(view.bars.begin(), view.bars.end(), [](const Program::UsageBar& b) { return b.minutes == 0; });
  if (!view.available) {
    data.message = Widen(view.problem);
  } else if (nothing && live.record_usage().value != 1) {
    data.message = kNoHistory;
  } else {
    data.bars = view.bars;
    data.scale = view.scale;
  }
  chart_.Set(std::move(data));
  const std::pair<int, std::string> figures[] = {{kIdUsageToday, "今天：" + DurationText(view.summary.today)},
                                                 {kIdUsageWeek, "本周：" + DurationText(view.summary.week)},
                                                 {kIdUsageAverage, "近30天日均：" + DurationText(view.summary.average)}};
  for (const auto& [id, text] : figures) SetTextIfDifferent(FindControl(id), view.available ? Widen(text) : L"");
  EnableControl(FindControl(kIdUsageExport), view.available);
}

void Form1Window::ExportUsage() {
  if (open_dialog() || !program_.AcceptsInput(kUsageTab)) return;
  std::wstring path(4096, L'\0');
  std::copy(std::begin(kDefaultExportName), std::end(kDefaultExportName), path.begin());
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd();
  ofn.lpstrFilter = L"CSV 文件 (*.csv)\0*.csv\0";
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  // The documents rather than the program's folder, where the history itself lies.
  wchar_t documents[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)))
    ofn.lpstrInitialDir = documents;
  ofn.lpstrTitle = L"导出使用记录";
  ofn.lpstrDefExt = L"csv";
  ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!SystemGetSaveFileName(&ofn)) {
    // Cancel says nothing; a dialog that could not open says so.
    if (SystemCommDlgExtendedError() != 0)
      screen_.ShowMessage("无法打开保存文件的对话框。", "提示", MessageIcon::kWarning, MessageButtons::kOk);
    return;
  }
  // The window may have been closed, or the program ended, meanwhile.
  if (!program_.AcceptsInput(kUsageTab)) return;
  path.resize(std::wcslen(path.c_str()));
  ExportUsageTo(Narrow(path));
}

bool Form1Window::ExportUsageTo(const std::string& path) {
  // One account's rows written over the history file would lose the others'.
  const std::string history =
      UsageFilePath(SettingsFilePath(os_.ExecutableFolder(), os_.ExecutableBaseName(), os_.PathSeparator()));
  if (SameFile(Widen(path), Widen(history))) {
    screen_.ShowMessage("不能导出到使用记录文件本身，请另选一个文件。", "提示", MessageIcon::kWarning,
                        MessageButtons::kOk);
    return false;
  }
  return program_.ExportUsage(usage_account_, files_, path);
}

}  // namespace dadado::win32
