#include "ui/win32/win_app.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <wtsapi32.h>

#include "settings/text.h"
#include "system/win32/system_library.h"
#include "system/win32/wide.h"
#include "ui/win32/ids.h"
#include "ui/start_trace.h"

namespace dadado::win32 {

namespace {

// The schedule tick runs just after each whole second, so that every tick
// falls into its own second even when the timer comes a little late.
constexpr UINT kTickOffsetMs = 20;

// The message filter hook has no room for a pointer of ours; the thread's
// application is found here.
thread_local WinApp* t_filtering_app = nullptr;

bool SameMessage(const MSG& a, const MSG& b) {
  return a.hwnd == b.hwnd && a.message == b.message && a.wParam == b.wParam && a.lParam == b.lParam &&
         a.time == b.time;
}

}  // namespace

UINT ScheduleDelayMs(int seconds, int ms_into_second) {
  const int n = seconds < 1 ? 1 : seconds > Program::kLongestTickSeconds ? Program::kLongestTickSeconds : seconds;
  const int ms = ms_into_second < 0 ? 0 : ms_into_second > 999 ? 999 : ms_into_second;
  return static_cast<UINT>((n - 1) * 1000 + (1000 - ms)) + kTickOffsetMs;
}

LocalDateTime WinClock::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalDateTime{{st.wYear, st.wMonth, st.wDay}, st.wHour * 3600 + st.wMinute * 60 + st.wSecond};
}

namespace {

// How long the face waits for the service's answer, and for the settings
// when it starts.
constexpr auto kReplyWait = std::chrono::seconds(5);
constexpr auto kSettingsWait = std::chrono::seconds(10);

}  // namespace

FileContent StartupFileStore::Read(const std::string& path) {
  if (holding_ && held_ && held_->first == path) return held_->second;
  FileContent content = files_.Read(path);
  if (holding_) held_.emplace(path, content);
  return content;
}

bool StartupFileStore::WriteAtomically(const std::string& path, const std::string& bytes) {
  const bool ok = files_.WriteAtomically(path, bytes);
  if (holding_) {
    if (ok) held_.emplace(path, FileContent{ReadStatus::kOk, bytes});
    else held_.reset();
  }
  return ok;
}

WinApp::WinApp(GuardManagement& guard) {
  settings_ = std::make_unique<SettingsFile>(
      startup_files_, SettingsFilePath(os_.ExecutableFolder(), os_.ExecutableBaseName(), os_.PathSeparator()));
  program_ = std::make_unique<Program>(*settings_, os_, guard, *this, clock_);
  MakeWindows();
}

WinApp::WinApp(GuardManagement& guard, FacePipes pipes) {
  channel_ = std::make_unique<PipeChannel>(std::move(pipes.read), std::move(pipes.write), [this] {
    if (HWND h = host_hwnd_.load()) PostMessageW(h, kFaceMessage, 0, 0);
  });
  // The settings file is the service's: what the program shows of it comes
  // over the pipe, first of all.
  bool logon_stored = false;
  if (auto settings = channel_->WaitFor([](const protocol::Message& m) { return m.type == protocol::kSettings; },
                                        kSettingsWait)) {
    face_store_.Replace(Utf8ToGbk(settings->Get("ini")));
    logon_stored = settings->Get("logon") == "1";
  }
  settings_ = std::make_unique<SettingsFile>(
      face_store_, SettingsFilePath(os_.ExecutableFolder(), os_.ExecutableBaseName(), os_.PathSeparator()));
  program_ = std::make_unique<Program>(*settings_, os_, guard, *this, clock_);
  program_->BecomeFace(*this, face_store_, logon_stored);
  MakeWindows();
}

void WinApp::MakeWindows() {
  host_ = std::make_unique<HostWindow>(*this);
  form1_ = std::make_unique<Form1Window>(*program_, *this, os_, clock_, files_);
  form1_->SetPreTranslate([this](MSG* msg) { return PreTranslate(msg); });
  form1_->SetFirstPaint([this] {
    if (host_->hwnd()) PostMessageW(host_->hwnd(), kFinishStartMessage, 0, 0);
  });
  splash_ = std::make_unique<SplashWindow>(*program_, *this);
  check_password_ = std::make_unique<PasswordWindow>(PasswordWindow::Kind::kCheck, *program_, *this);
  set_password_ = std::make_unique<PasswordWindow>(PasswordWindow::Kind::kChange, *program_, *this);
}

WinApp::~WinApp() {
  host_hwnd_ = nullptr;
  message_filter_.reset();
  if (t_filtering_app == this) t_filtering_app = nullptr;
  tray_.Hide();
}

bool WinApp::Start() {
  TraceMark("start");
  if (fail_window_creation || !host_->Create() || !form1_->Create()) {
    // Without its windows the program can neither act nor be reached; it
    // says so and ends instead of waiting unseen.
    ShowMessage("无法创建程序窗口，程序将退出。", kProgramCaption, MessageIcon::kCritical, MessageButtons::kOk);
    os_.ReleaseInstance();
    ended_ = true;
    exit_code_ = 1;
    return false;
  }
  TraceMark("windows created");
  // A copy that ran before the service started (installed by a script)
  // goes now rather than at its next look.
  if (channel_) host_->TellOtherCopiesGuardStarted();
  tray_.Attach(host_->hwnd());
  // The icon is added once the window is up: the shell may take a while to
  // answer.
  tray_.Hold();
  host_hwnd_ = host_->hwnd();
  os_.OnWake([this] {
    if (HWND h = host_hwnd_.load()) PostMessageW(h, kWokeMessage, 0, 0);
  });
  t_filtering_app = this;
  message_filter_ = UniqueHook(SetWindowsHookExW(WH_MSGFILTER, &WinApp::MessageFilter, nullptr, GetCurrentThreadId()));
  startup_files_.Hold();
  starting_ = true;
  program_->Start(/*finish_later=*/true);
  starting_ = false;
  startup_files_.Release();
  TraceMark("program started");
  if (ended_) return false;
  if (show_when_started_) {
    ShowWindow(form1_->hwnd(), SW_SHOW);
    SetForegroundWindow(form1_->hwnd());
  }
  // Once the settings window has painted, or now when it is not shown (or
  // should it never paint).
  if (IsWindowVisible(form1_->hwnd())) SetTimer(host_->hwnd(), kTimerFinishStart, kFinishStartLatestMs, nullptr);
  else PostMessageW(host_->hwnd(), kFinishStartMessage, 0, 0);
  // What the service sent while the windows were made.
  if (channel_) PostMessageW(host_->hwnd(), kFaceMessage, 0, 0);
  return true;
}

void WinApp::FinishStart() {
  if (start_finished_ || ended_) return;
  start_finished_ = true;
  KillTimer(host_->hwnd(), kTimerFinishStart);
  program_->FinishStart();
  if (ended_) return;
  // Lock, unlock, logon and logoff: today's use counts only while someone
  // is at the console.
  SystemWTSRegisterSessionNotification(host_->hwnd(), NOTIFY_FOR_THIS_SESSION);
  form1_->BuildRemainingPages();
  tray_.Release();
  TraceMark("start finished");
}

void WinApp::OnFaceMessages() {
  if (ended_ || !channel_) return;
  for (const protocol::Message& m : channel_->Received()) {
    if (m.type == protocol::kReply) continue;  // an answer that came too late
    program_->FaceMessage(m);
    if (ended_) return;
  }
  // Without its service the face has nothing to show: it goes, and the
  // service, when it comes back, starts another.
  if (channel_->broken()) EndProgram();
  else Refresh();
}

std::optional<protocol::Message> WinApp::Ask(protocol::Message request) {
  if (!channel_) return std::nullopt;
  const std::string id = std::to_string(++asked_);
  request.Set("id", id);
  channel_->Send(request);
  protocol::WipeSecrets(request);
  return channel_->WaitFor(
      [&](const protocol::Message& m) { return m.type == protocol::kReply && m.Get("id") == id; }, kReplyWait);
}

void WinApp::Tell(const protocol::Message& message) {
  if (channel_) channel_->Send(message);
}

int WinApp::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (PreTranslate(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

int WinApp::Main() {
  if (!Start()) return exit_code_;
  return Run();
}

bool WinApp::PreTranslate(MSG* msg) {
  // A control sends its notifications and never posts one: a posted
  // WM_NOTIFY is another program's, with a pointer that means nothing here.
  if (msg->message == WM_NOTIFY) return true;
  // IsDialogMessage hands the message to the message filter itself; that
  // call comes back here with the same message and is let through.
  if (translating_ && SameMessage(*translating_, *msg)) return false;
  const MSG* outer = translating_;
  translating_ = msg;
  bool handled = false;
  for (Window* w : std::initializer_list<Window*>{form1_->open_dialog(), set_password_.get(), check_password_.get(),
                                                  splash_.get(), form1_.get()}) {
    HWND h = w ? w->hwnd() : nullptr;
    if (h && (msg->hwnd == h || IsChild(h, msg->hwnd)) && IsDialogMessageW(h, msg)) {
      handled = true;
      break;
    }
  }
  translating_ = outer;
  return handled;
}

// Message boxes and menus run loops of their own; a message box's loop
// shows each message to this hook (MSGF_DIALOGBOX) before its own dialog
// sees it.
LRESULT CALLBACK WinApp::MessageFilter(int code, WPARAM wp, LPARAM lp) {
  WinApp* app = t_filtering_app;
  if (app && lp && reinterpret_cast<MSG*>(lp)->message == WM_NOTIFY) return TRUE;  // in a menu's loop too
  if (code == MSGF_DIALOGBOX && app && lp && app->PreTranslate(reinterpret_cast<MSG*>(lp))) return TRUE;
  return CallNextHookEx(nullptr, code, wp, lp);
}

void WinApp::ShowSettingsWindow(bool visible) {
  HWND h = form1_->hwnd();
  if (!h) return;
  // Start-up shows the window once the program has loaded all it shows, and
  // its last refresh has mirrored that.
  if (starting_) {
    show_when_started_ = visible;
    return;
  }
  if (visible) {
    form1_->Mirror();
    ShowWindow(h, SW_SHOW);
    SetForegroundWindow(h);
  } else {
    ShowWindow(h, SW_HIDE);
  }
}

void WinApp::ArmScheduleTimer() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  const UINT delay = ScheduleDelayMs(program_->SecondsToNextScheduleTick(), st.wMilliseconds);
  schedule_armed_ = SetTimer(host_->hwnd(), kTimerSchedule, delay, nullptr) != 0;
  schedule_due_ = GetTickCount64() + delay;
}

// A change the user made (or a tick) may want the schedule sooner than the
// timer is set for: a control changed before Apply counts from the next
// second.
void WinApp::ArmScheduleTimerIfWantedSooner() {
  if (ended_ || !schedule_armed_ || !program_->timer_running(FormTimer::kSchedule)) return;
  SYSTEMTIME st;
  GetLocalTime(&st);
  const UINT delay = ScheduleDelayMs(program_->SecondsToNextScheduleTick(), st.wMilliseconds);
  // Both times fall just after a whole second; less than half a second
  // between them is only the time between the two readings.
  if (GetTickCount64() + delay + 500 <= schedule_due_) ArmScheduleTimer();
}

void WinApp::OnScheduleTimer() {
  if (ended_) return;
  ArmScheduleTimer();
  // The tick changes nothing the settings window shows; the countdown
  // screen it may open draws itself. Not mirroring every second keeps the
  // program's idle cost near that of an empty timer.
  program_->Timer1_Timer();
  ArmScheduleTimerIfWantedSooner();
}

void WinApp::ArmPlanTimer() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  const UINT delay = ScheduleDelayMs(program_->SecondsToNextPlanTick(), st.wMilliseconds);
  plans_armed_ = SetTimer(host_->hwnd(), kTimerPlans, delay, nullptr) != 0;
  plans_due_ = GetTickCount64() + delay;
}

void WinApp::OnPlanTimer() {
  if (ended_) return;
  ArmPlanTimer();
  program_->PlanTimer_Timer();
}

void WinApp::OnWokeForPlan() {
  if (ended_) return;
  program_->WokeForPlan();
  Refresh();
}

void WinApp::OnGuardTimer() {
  if (ended_ || program_->ended()) return;
  program_->Timer2_Timer();
  Refresh();
}

void WinApp::OnUsageTimer() {
  if (ended_ || program_->ended()) return;
  program_->UsageTimer_Timer();
}

// The timers may be set for an hour ahead, counted in time that ran on
// while the clock jumped or the machine slept: both are set afresh.
void WinApp::OnClockChanged() {
  if (ended_) return;
  program_->ClockDiscontinuity();
  if (program_->timer_running(FormTimer::kSchedule)) ArmScheduleTimer();
  if (plans_armed_) ArmPlanTimer();
}

void WinApp::OnResumed() {
  if (ended_) return;
  program_->Resumed();
  if (program_->timer_running(FormTimer::kSchedule)) ArmScheduleTimer();
  if (plans_armed_) ArmPlanTimer();
  Refresh();
}

void WinApp::OnGuardStarted() {
  if (ended_) return;
  program_->GuardMayHaveStarted();
}

void WinApp::OnPolicyChanged() {
  if (ended_) return;
  program_->PolicyChanged();
  Refresh();
}

void WinApp::OnSessionChange() {
  if (ended_) return;
  // Anyone may send this message: only the system's answer counts.
  program_->SessionChanged();
}

void WinApp::ShowBalloon(const std::string& text) {
  Record(text);
  if (answer_messages || ended_) return;
  tray_.ShowBalloon(Widen(text));
}

void WinApp::SetTimerRunning(FormTimer timer, bool running) {
  HWND h = host_->hwnd();
  if (!h) return;
  if (timer == FormTimer::kSchedule) {
    if (running) {
      ArmScheduleTimer();
    } else {
      KillTimer(h, kTimerSchedule);
      schedule_armed_ = false;
    }
  } else if (timer == FormTimer::kPlans) {
    if (running) {
      ArmPlanTimer();
    } else {
      KillTimer(h, kTimerPlans);
      plans_armed_ = false;
    }
  } else if (timer == FormTimer::kUsage) {
    if (running) SetTimer(h, kTimerUsage, kGuardIntervalMs, nullptr);
    else KillTimer(h, kTimerUsage);
  } else if (running) {
    SetTimer(h, kTimerGuard, kGuardIntervalMs, nullptr);
  } else {
    KillTimer(h, kTimerGuard);
  }
}

void WinApp::Record(const std::string& text) {
  shown_messages.push_back(text);
  if (shown_messages.size() > kShownMessagesKept)
    shown_messages.erase(shown_messages.begin(), shown_messages.end() - kShownMessagesKept);
}

int WinApp::ShowBox(const std::string& text, const std::string& title, MessageIcon icon, MessageButtons buttons) {
  UINT type = buttons == MessageButtons::kOkCancel ? MB_OKCANCEL : MB_OK;
  switch (icon) {
    case MessageIcon::kCritical: type |= MB_ICONHAND; break;
    case MessageIcon::kQuestion: type |= MB_ICONQUESTION; break;
    case MessageIcon::kWarning: type |= MB_ICONWARNING; break;
    case MessageIcon::kInformation: type |= MB_ICONINFORMATION; break;
  }
  HWND owner = GetActiveWindow();
  if (!owner && !IsWindowVisible(form1_->hwnd())) type |= MB_SETFOREGROUND | MB_TOPMOST;
  return MessageBoxW(owner, Widen(text).c_str(), Widen(title).c_str(), type);
}

MessageAnswer WinApp::ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                  MessageButtons buttons) {
  Record(text);
  if (answer_messages) return scripted_answer;
  return ShowBox(text, title, icon, buttons) == IDOK ? MessageAnswer::kOk : MessageAnswer::kCancel;
}

void WinApp::ShowNotice(const std::string& text, const std::string& title, MessageIcon icon) {
  Record(text);
  if (answer_messages || ended_ || !host_->hwnd()) return;
  // Notices pile up only while nobody answers them; the oldest go first.
  if (notices_.size() >= kNoticesQueued) notices_.pop_front();
  notices_.push_back({text, title, icon});
  PostMessageW(host_->hwnd(), kNoticeMessage, 0, 0);
}

// One box at a time: the next notice waits until the open one is answered.
void WinApp::ShowNextNotice() {
  if (notice_open_ || notices_.empty() || ended_) return;
  Notice notice = std::move(notices_.front());
  notices_.pop_front();
  notice_open_ = true;
  ShowBox(notice.text, notice.title, notice.icon, MessageButtons::kOk);
  notice_open_ = false;
  if (!notices_.empty() && !ended_) PostMessageW(host_->hwnd(), kNoticeMessage, 0, 0);
}

void WinApp::SetTrayIcon(bool shown, const std::string& tooltip) {
  if (shown) tray_.Show(Widen(tooltip));
  else tray_.Hide();
}

void WinApp::OnTrayEvent(LPARAM lp) {
  if (ended_) return;
  switch (LOWORD(lp)) {
    case WM_RBUTTONDOWN: program_->TrayIcon_MouseDown(2); break;
    case WM_LBUTTONDOWN: program_->TrayIcon_MouseDown(1); break;
    case WM_MBUTTONDOWN: program_->TrayIcon_MouseDown(4); break;
    case WM_LBUTTONDBLCLK: program_->TrayIcon_DblClick(); break;
    default: return;
  }
  Refresh();
}

void WinApp::PopUpTrayMenu() {
  HMENU menu = CreatePopupMenu();
  HMENU run_now = CreatePopupMenu();
  AppendMenuW(run_now, MF_STRING, kMenuRunNowFirst + 0, L"关闭计算机(&C)");
  AppendMenuW(run_now, MF_STRING, kMenuRunNowFirst + 1, L"重启计算机(&R)");
  AppendMenuW(run_now, MF_STRING, kMenuRunNowFirst + 2, L"注销计算机(&W)");
  AppendMenuW(menu, MF_STRING, kMenuProperties, L"程序属性(&P)");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kMenuGeneral, L"常规设置(&C)");
  AppendMenuW(menu, MF_STRING, kMenuAdvanced, L"高级设置(&H)");
  AppendMenuW(menu, MF_STRING, kMenuTimeControl, L"时间控制(&T)");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(run_now), L"立即执行(&S)");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kMenuAbout, L"关于(A)...");
  POINT pt;
  GetCursorPos(&pt);
  // The menu closes when the user clicks elsewhere only if our window is in
  // the foreground while it is open, and the message after it lets the
  // system finish.
  HWND owner = host_->hwnd();
  SetForegroundWindow(owner);
  int command = static_cast<int>(TrackPopupMenuEx(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, pt.x, pt.y,
                                                  owner, nullptr));
  PostMessageW(owner, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (command) DispatchMenu(command);
}

void WinApp::DispatchMenu(int command) {
  switch (command) {
    case kMenuProperties: program_->clock_menu1_Click(); break;
    case kMenuGeneral: program_->clock_menu2_Click(); break;
    case kMenuAdvanced: program_->clock_menu3_Click(); break;
    case kMenuTimeControl: program_->clock_menu4_Click(); break;
    case kMenuAbout: program_->clock_menu5_Click(); break;
    default:
      if (command >= kMenuRunNowFirst && command < kMenuRunNowFirst + 3)
        program_->clock_menu61_Click(command - kMenuRunNowFirst);
      break;
  }
  Refresh();
}

void WinApp::OpenCountdown(bool visible) { splash_->Open(form1_->hwnd(), visible); }

void WinApp::CloseCountdown() { splash_->Close(); }

void WinApp::OpenCheckPassword() { check_password_->Open(form1_->hwnd()); }

void WinApp::CloseCheckPassword() { check_password_->Close(); }

void WinApp::FocusCheckPassword() { check_password_->FocusFirstBox(); }

void WinApp::RunSetPassword() {
  set_password_->Open(form1_->hwnd());
  set_password_->RunModal(form1_->hwnd(), [this](MSG* msg) { return PreTranslate(msg); });
}

void WinApp::CloseSetPassword() { set_password_->Close(); }

void WinApp::FocusOldPassword() { set_password_->FocusFirstBox(); }

void WinApp::EndProgram() {
  if (ended_) return;
  ended_ = true;
  tray_.Hide();
  notices_.clear();
  splash_->Close();
  check_password_->Close();
  set_password_->Close();
  form1_->CloseDialogs();
  if (host_->hwnd()) {
    KillTimer(host_->hwnd(), kTimerSchedule);
    KillTimer(host_->hwnd(), kTimerGuard);
    KillTimer(host_->hwnd(), kTimerPlans);
    KillTimer(host_->hwnd(), kTimerUsage);
    KillTimer(host_->hwnd(), kTimerFinishStart);
  }
  schedule_armed_ = false;
  if (form1_->hwnd()) ShowWindow(form1_->hwnd(), SW_HIDE);
  PostQuitMessage(0);
}

void WinApp::Refresh() {
  if (ended_) return;
  // The tooltip says what comes next, as the controls stand.
  program_->UpdateTrayTip();
  form1_->Mirror();
  splash_->Mirror();
  check_password_->Mirror();
  set_password_->Mirror();
  ArmScheduleTimerIfWantedSooner();
  // The plans may have changed with the controls: their timer and the wake
  // timer follow, and a plan wanted sooner is ticked sooner.
  program_->UpdatePlanTimer();
  if (plans_armed_) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    if (GetTickCount64() + ScheduleDelayMs(program_->SecondsToNextPlanTick(), st.wMilliseconds) + 500 <= plans_due_)
      ArmPlanTimer();
  }
}

}  // namespace dadado::win32
