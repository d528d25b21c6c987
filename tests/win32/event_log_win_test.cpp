// The event log: the message table inside the built dadado.exe, as the Event
// Viewer reads it, and the calls that write entries and register the source.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "system/event_log.h"
#include "system/win32/handle.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {
namespace {

constexpr wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\dadado";
constexpr LANGID kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);  // 0x804
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);          // 0x409

// The path of the built dadado.exe as CMake knows it. Cross-built, that is a
// Linux path, which Wine maps to a drive of its own.
std::wstring ProgramPath() {
  std::wstring path = Widen(DADADO_EXE_PATH);
  if (!path.empty() && path[0] == L'/') {
    using ToDos = LPWSTR(CDECL*)(LPCSTR);
    auto to_dos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (to_dos) {
      if (LPWSTR dos = to_dos(DADADO_EXE_PATH)) {
        path = dos;
        HeapFree(GetProcessHeap(), 0, dos);
      }
    } else {
      path = L"Z:" + path;
    }
  }
  return path;
}

struct ModuleTraits {
  static bool Valid(HMODULE) { return true; }
  static void Close(HMODULE m) { FreeLibrary(m); }
};
using UniqueModule = UniqueOf<HMODULE, ModuleTraits>;

// The text the Event Viewer shows for an entry: the table's message with the
// entry's strings inserted. nullopt when the table has no such message.
std::optional<std::string> Format(HMODULE module, int id, LANGID language, const std::vector<std::string>& strings) {
  std::vector<std::wstring> wide;
  for (const std::string& s : strings) wide.push_back(Widen(s));
  std::vector<DWORD_PTR> args;
  for (const std::wstring& w : wide) args.push_back(reinterpret_cast<DWORD_PTR>(w.c_str()));
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           module, static_cast<DWORD>(id), language, reinterpret_cast<wchar_t*>(&text), 0,
                           reinterpret_cast<va_list*>(args.empty() ? nullptr : args.data()));
  if (n == 0 || !text) return std::nullopt;
  std::string result = Narrow(std::wstring(text, n));
  LocalFree(text);
  return result;
}

struct MessageTableWin : ::testing::Test {
  static void SetUpTestSuite() {
    program = new UniqueModule(LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  }
  static void TearDownTestSuite() {
    delete program;
    program = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(*program) << "cannot load " << Narrow(ProgramPath()); }
  static UniqueModule* program;
};
UniqueModule* MessageTableWin::program = nullptr;

struct MessageCase {
  int id;
  std::vector<std::string> strings;
  const char* chinese;
  const char* english;
};

TEST_F(MessageTableWin, EveryEntryReadsInChineseAndEnglishWithItsStringsInserted) {
  const MessageCase cases[] = {
      {events::kStarted, {"1.0.0", "C:\\工具\\dadado"},
       "dadado 1.0.0 已启动。程序所在的文件夹：C:\\工具\\dadado",
       "dadado 1.0.0 started. Program folder: C:\\工具\\dadado"},
      {events::kSettingsApplied, {"Check1, Text3"},
       "设置已应用。更改的设置：Check1, Text3", "Settings applied. Changed settings: Check1, Text3"},
      {events::kSettingsNotSaved, {"开机自动运行", "拒绝访问。"},
       "以下设置没有保存：开机自动运行。原因：拒绝访问。",
       "These settings were not saved: 开机自动运行. Reason: 拒绝访问。"},
      {events::kActionPerformed, {"关机", "0x0000000D", "2024-05-06 22:30:00"},
       "已执行定时操作：关机（关机标志 0x0000000D），预定时间 2024-05-06 22:30:00。",
       "Scheduled action performed: 关机 (exit flags 0x0000000D), due at 2024-05-06 22:30:00."},
      {events::kActionFailed, {"重新启动", "1314", "客户端没有所需的特权。"},
       "操作失败：重新启动。Windows 错误代码 1314：客户端没有所需的特权。",
       "Action failed: 重新启动. Windows error 1314: 客户端没有所需的特权。"},
      {events::kMissedCaughtUp, {"注销", "2024-05-06 08:00:00"},
       "已补做错过的定时操作：注销，原定时间 2024-05-06 08:00:00。",
       "Missed scheduled action caught up: 注销, originally due at 2024-05-06 08:00:00."},
      {events::kImmediateAction, {"关机", "0x00000005"},
       "已立即执行操作：关机（关机标志 0x00000005）。", "Immediate action: 关机 (exit flags 0x00000005)."},
      {events::kCountdownCancelled, {"关机"}, "倒计时已用密码取消：关机", "Countdown cancelled with the password: 关机"},
      {events::kWrongPassword, {"设置窗口"}, "密码输入错误：设置窗口", "Wrong password entered: 设置窗口"},
      {events::kPostponed, {"10", "22:40"}, "已推迟 10 分钟，新的时间为 22:40。", "Postponed by 10 minutes; new time 22:40."},
      {events::kTimeControlShutdown, {"23:00"},
       "时间控制：23:00 不在允许使用的时间内，已关闭计算机。",
       "Time control: 23:00 is outside the allowed hours; the computer was shut down."},
      {events::kDailyLimitReached, {"120"},
       "今天的使用时间已达到每日限时 120 分钟，已关闭计算机。",
       "Today's use reached the daily limit of 120 minutes; the computer was shut down."},
      {events::kAccountTimeControlShutdown, {"23:00", "小明"}, "时间控制：23:00 不在账户 小明 允许使用的时间内，已关闭计算机。",
       "Time control: 23:00 is outside the allowed hours of the account 小明; the computer was shut down."},
      {events::kAccountDailyLimitReached, {"120", "小明"}, "账户 小明 今天的使用时间已达到每日限时 120 分钟，已关闭计算机。",
       "The account 小明 reached its daily limit of 120 minutes today; the computer was shut down."},
      {events::kExtraTimeGranted, {"小明", "30"}, "已为账户 小明 今日加时 30 分钟。",
       "The account 小明 was given 30 minutes of extra time for today."},
      {events::kGuardRestarted, {"3221225477"},
       "守护服务重新启动了程序（程序的退出代码为 3221225477）。",
       "The guard service restarted the program (its exit code was 3221225477)."},
      {events::kGuardActed, {"关机"},
       "程序未运行，守护服务自行执行了操作：关机",
       "The program was not running; the guard service performed the action itself: 关机"},
      {events::kGuardInstalled, {"安装"}, "守护服务已安装。", "Guard service 安装."},
      {events::kPlanIgnored, {"计划3", "1,9,9,,x,1"}, "无法读取计划 计划3（1,9,9,,x,1），已忽略这一行。",
       "The plan 计划3 (1,9,9,,x,1) cannot be read; the line is ignored."},
      {events::kPlanPerformed, {"2", "睡眠", "2026/12/8 19:00:00"}, "已执行计划2：睡眠，预定时间 2026/12/8 19:00:00。",
       "Plan 2 performed: 睡眠, due at 2026/12/8 19:00:00."},
      {events::kPlanFailed, {"2", "休眠", "50", "不支持该请求。"}, "计划2失败：休眠。Windows 错误代码 50：不支持该请求。",
       "Plan 2 failed: 休眠. Windows error 50: 不支持该请求。"},
      {events::kPlanCaughtUp, {"1", "重新启动计算机", "2026/12/8 12:00:00"},
       "已补做错过的计划1：重新启动计算机，原定时间 2026/12/8 12:00:00。",
       "Missed plan 1 caught up: 重新启动计算机, originally due at 2026/12/8 12:00:00."},
      {events::kPlanNotDone, {"4", "锁定计算机", "用户会话中没有运行本程序"},
       "计划4没有执行：锁定计算机。原因：用户会话中没有运行本程序", "Plan 4 was not done: 锁定计算机. Reason: 用户会话中没有运行本程序"},
      {events::kPasswordsRefused, {"倒计时窗口"}, "密码错误次数过多，一分钟内不再接受密码（倒计时窗口）。",
       "Too many wrong passwords: passwords are refused for a minute (倒计时窗口)."},
      {events::kSettingsUnreadable, {"C:\\dadado\\dadado.ini"},
       "守护服务无法读取设置文件 C:\\dadado\\dadado.ini，继续按上次读到的设置执行。",
       "The guard service cannot read the settings file C:\\dadado\\dadado.ini and goes on with the settings it read last."},
      {events::kTimeZoneChanged, {"-480", "0"},
       "系统时区已更改（0）。守护服务仍按原时区（-480）判断时间，直到在设置窗口中用密码选择“使用当前时区”。",
       "The system's time zone was changed (0). The guard service judges time in the zone pinned before (-480) until "
       "使用当前时区 is chosen in the settings window with the password."},
      {events::kFaceReplaced, {"报告空闲600秒"},
       "用户会话中的程序报告了不可能成立的情况（报告空闲600秒），守护服务已结束它并重新启动。",
       "The program in the user's session reported what cannot be true (报告空闲600秒); the guard service ended it "
       "and starts it again."},
      {events::kTimeZoneNotPinned, {"-900", "-480", "与UTC相差超过14小时"},
       "系统时区（-900）不能用于判断时间：与UTC相差超过14小时。守护服务按时区 -480 判断时间。",
       "The system's time zone (-900) cannot be used to judge time: 与UTC相差超过14小时. The guard service judges "
       "time in the zone -480."},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(Format(program->get(), c.id, kChinese, c.strings), c.chinese);
    EXPECT_EQ(Format(program->get(), c.id, kEnglish, c.strings), c.english);
  }
}

TEST_F(MessageTableWin, TheTableHoldsThePlainNumbersOnly) {
  // The Event Viewer looks the entry up by the full id it was written with;
  // an id with severity or facility bits set would find no text.
  for (int id : {999, 1004, 1108, 1204, 1307, 1405, 0x0FFF03E8, 0x400003E8}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(Format(program->get(), id, kEnglish, {"x", "y", "z"}));
    EXPECT_FALSE(Format(program->get(), id, kChinese, {"x", "y", "z"}));
  }
}

TEST(EventLogWin, WritingNeverFailsTheCaller) {
  // Nothing registers the source in the test prefix: the entries are written
  // with their strings alone. Each of these must simply return.
  WinOperatingSystem os;
  os.WriteEvent(EventType::kInformation, events::kStarted, {"1.0.0", "C:\\工具\\dadado"});
  os.WriteEvent(EventType::kWarning, events::kWrongPassword, {"设置窗口"});
  os.WriteEvent(EventType::kError, events::kActionFailed, {"关机", "5", "拒绝访问。"});
  os.WriteEvent(EventType::kInformation, events::kSettingsApplied, {});
  os.WriteEvent(EventType::kInformation, 0, {});
  os.WriteEvent(EventType::kWarning, -1, {""});
  os.WriteEvent(EventType::kError, 65536 + 1000, {"%1 %2 %%3"});
  os.WriteEvent(EventType::kInformation, events::kSettingsApplied, {std::string(100000, 'x')});
  os.WriteEvent(EventType::kInformation, events::kSettingsApplied, std::vector<std::string>(300, "键"));
  WinOperatingSystem another;
  another.WriteEvent(EventType::kInformation, events::kGuardInstalled, {"安装"});
  SUCCEED();
}

struct EventSourceWin : ::testing::Test {
  void SetUp() override {
    // The registration lives under HKLM: writing it needs administrator
    // rights, which a Wine prefix grants every program.
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS)
      GTEST_SKIP() << "no rights to HKEY_LOCAL_MACHINE";
    RegCloseKey(raw);
    Remove();
  }
  void TearDown() override { Remove(); }
  static void Remove() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, KEY_WOW64_64KEY, 0); }

  static UniqueKey Open() {
    HKEY raw = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &raw);
    return UniqueKey(raw);
  }
  struct Value {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };
  static Value Read(const wchar_t* name) {
    Value v;
    UniqueKey key = Open();
    DWORD bytes = 0;
    if (!key || RegQueryValueExW(key.get(), name, nullptr, &v.type, nullptr, &bytes) != ERROR_SUCCESS) return {};
    v.data.resize(bytes);
    RegQueryValueExW(key.get(), name, nullptr, &v.type, v.data.data(), &bytes);
    return v;
  }
  static std::wstring Text(const Value& v) {
    std::wstring s(reinterpret_cast<const wchar_t*>(v.data.data()), v.data.size() / sizeof(wchar_t));
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    return s;
  }
  static DWORD Number(const Value& v) {
    DWORD n = 0;
    if (v.data.size() == sizeof n) memcpy(&n, v.data.data(), sizeof n);
    return n;
  }
  static void Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    UniqueKey key = Open();
    ASSERT_TRUE(key);
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
  }
  static void SetText(const wchar_t* name, DWORD type, const std::wstring& s) {
    Set(name, type, s.c_str(), static_cast<DWORD>((s.size() + 1) * sizeof(wchar_t)));
  }
  static void SetNumber(const wchar_t* name, DWORD n) { Set(name, REG_DWORD, &n, sizeof n); }

  WinOperatingSystem os;
};

TEST_F(EventSourceWin, AMissingRegistrationIsWrittenAndASecondCallChangesNothing) {
  os.UpdateEventSource();
  Value file = Read(L"EventMessageFile");
  Value types = Read(L"TypesSupported");
  EXPECT_EQ(file.type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(_wcsicmp(Text(file).c_str(), WinOperatingSystem::ModulePath().c_str()), 0) << Narrow(Text(file));
  EXPECT_EQ(types.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Number(types), 7u);

  // Values that are right already are left alone, whatever their type: the
  // same path as REG_SZ survives the next call.
  SetText(L"EventMessageFile", REG_SZ, WinOperatingSystem::ModulePath());
  os.UpdateEventSource();
  EXPECT_EQ(Read(L"EventMessageFile").type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(Number(Read(L"TypesSupported")), 7u);
}

TEST_F(EventSourceWin, AStaleRegistrationIsCorrected) {
  struct Stale {
    const char* what;
    bool write_file;
    DWORD file_type;
    std::wstring file;
    bool write_types;
    DWORD types;
  };
  const Stale cases[] = {
      {"another folder's copy", true, REG_EXPAND_SZ, L"C:\\old\\dadado.exe", true, 7},
      {"only the types differ", true, REG_EXPAND_SZ, WinOperatingSystem::ModulePath(), true, 1},
      {"empty path", true, REG_SZ, L"", true, 7},
      {"path as a number", true, REG_DWORD, L"", true, 7},
      {"types missing", true, REG_EXPAND_SZ, WinOperatingSystem::ModulePath(), false, 0},
      {"file missing", false, 0, L"", true, 7},
      {"the key without values", false, 0, L"", false, 0},
  };
  for (const Stale& c : cases) {
    SCOPED_TRACE(c.what);
    Remove();
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                              &raw, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(raw);
    if (c.write_file) {
      if (c.file_type == REG_DWORD)
        SetNumber(L"EventMessageFile", 1);
      else
        SetText(L"EventMessageFile", c.file_type, c.file);
    }
    if (c.write_types) SetNumber(L"TypesSupported", c.types);

    os.UpdateEventSource();

    EXPECT_EQ(_wcsicmp(Text(Read(L"EventMessageFile")).c_str(), WinOperatingSystem::ModulePath().c_str()), 0);
    Value types = Read(L"TypesSupported");
    EXPECT_EQ(types.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(Number(types), 7u);
  }
}

}  // namespace
}  // namespace dadado::win32
