// The program as the guard service's face: what it does with the service's
// messages, and how it asks the service for what the user did. It decides
// nothing; every password is the service's to check.
#include "base/date_time_text.h"
#include "settings/text.h"
#include "ui/program.h"

namespace dadado {

namespace p = protocol;

namespace {

constexpr char kNotice[] = "提示";
constexpr char kNoAnswer[] = "守护服务没有响应，请稍后再试。";
constexpr char kLockedOutText[] = "密码错误次数过多，请一分钟后再试。";
constexpr int kAdvancedTab = 1;  // 高级设置

}  // namespace

bool Program::FaceReplyOk(const std::optional<p::Message>& reply, const std::string& wrong_password_text) {
  if (!reply) {
    screen_.ShowMessage(kNoAnswer, kNotice, MessageIcon::kWarning, MessageButtons::kOk);
    return false;
  }
  const std::string& result = reply->Get("result");
  if (result == p::kOk) return true;
  if (result == p::kWrongPassword)
    screen_.ShowMessage(wrong_password_text, kNotice, MessageIcon::kCritical, MessageButtons::kOk);
  else if (result == p::kLockedOut)
    screen_.ShowMessage(kLockedOutText, kNotice, MessageIcon::kWarning, MessageButtons::kOk);
  else
    screen_.ShowMessage(reply->Get("text").empty() ? std::string("守护服务拒绝了这个操作。") : reply->Get("text"), kNotice,
                        MessageIcon::kWarning, MessageButtons::kOk);
  return false;
}

// ---- what the service sends ---------------------------------------------------------------

void Program::FaceMessage(const p::Message& m) {
  if (ended_ || !link_) return;
  if (m.type == p::kSettings) {
    face_store_->Replace(Utf8ToGbk(m.Get("ini")));
    face_logon_stored_ = m.Get("logon") == "1";
    // Changes the user is making are not overwritten under his hands.
    if (!live_.apply_enabled()) ReloadFromFaceStore();
  } else if (m.type == p::kCountdown) {
    const bool was_open = face_countdown_.exists, was_visible = face_countdown_.visible;
    if (m.Get("open") != "1") {
      CloseFaceCountdown();
      if (was_open) screen_.CloseCountdown();
      return;
    }
    // The same window of the service goes on with what the user typed, in
    // place: a copy of it made every second would be left behind each time.
    const std::string service_generation = m.Get("generation");
    if (!was_open || service_generation != face_service_generation_) {
      CloseFaceCountdown();
      face_countdown_.generation = ++face_generations_;
    }
    CountdownScreen& c = face_countdown_;
    c.exists = true;
    c.visible = m.Get("visible") == "1";
    c.seconds_left = static_cast<int>(m.Number("seconds", 0));
    c.title = m.Get("title");
    c.action_line = m.Get("action");
    c.remaining = m.Get("remaining");
    face_service_generation_ = service_generation;
    if (!was_open || (c.visible && !was_visible)) screen_.OpenCountdown(c.visible);
    else screen_.Refresh();
  } else if (m.type == p::kZone) {
    if (const auto rule = ParseTimeZoneRule(m.Get("pinned"))) {
      guard_zone_ = GuardZone{*rule, m.Get("differs") == "1"};
      screen_.Refresh();
    }
  } else if (m.type == p::kTip) {
    face_tip_ = m.Get("text");
    UpdateTrayTip();
  } else if (m.type == p::kBalloon) {
    ShowBalloon(m.Get("text"));
  } else if (m.type == p::kNotice) {
    screen_.ShowNotice(m.Get("text"), kNotice, MessageIcon::kWarning);
  } else if (m.type == p::kDo) {
    // What a plan does to the user's desktop, which only this session can;
    // the service logs it as done once told so.
    bool done = false;
    if (m.Get("what") == "lock") done = os_.LockSession();
    else if (m.Get("what") == "screen_off") done = os_.TurnScreenOff();
    link_->Tell(p::Message(p::kDone).Set("id", m.Get("id")).Set("result", done ? p::kOk : p::kFailed));
  }
}

void Program::ReloadFromFaceStore() {
  LoadedExtras extras;
  const LocalDateTime now = clock_.Now();
  for (const SettingEntry& e : SettingsTable())
    if (e.step != LoadStep::kCancel) LoadSetting(e, settings_, live_, extras, now, policy_);
  live_.LoadAccountSections(ReadAccountSections(settings_));
  if (live_.check(3).enabled) live_.SetCheck(3, face_logon_stored_ ? 1 : 0);
  live_.SetApplyEnabled(false);
  ShowTrayIconByCheck1();
  screen_.Refresh();
}

// ---- what the user did ------------------------------------------------------------------

std::optional<p::Message> Program::AskService(p::Message& request) {
  auto reply = link_->Ask(request);
  p::WipeSecrets(request);
  return reply;
}

void Program::CloseFaceCountdown() {
  WipeString(face_countdown_.password);
  face_countdown_ = CountdownScreen{};
}

void Program::FaceCountdownAnswer(const char* request) {
  if (!face_countdown_.exists) return;
  const std::uint64_t generation = face_countdown_.generation;
  p::Message answer(request);
  answer.Set("password", face_countdown_.password);
  const auto reply = AskService(answer);
  if (reply && reply->Get("result") == p::kOk) {
    // The service closes it too; the user sees it go at once.
    CloseFaceCountdown();
    screen_.CloseCountdown();
    return;
  }
  FaceReplyOk(reply, "密码不正确");
  // The countdown may have ended meanwhile; only its own box is emptied.
  if (face_countdown_.exists && face_countdown_.generation == generation) {
    WipeString(face_countdown_.password);
    screen_.Refresh();
  }
}

void Program::FaceGateAnswer() {
  const SecretCopy typed(check_password_.text);
  p::Message check(p::kCheck);
  check.Set("password", typed.get());
  const auto reply = AskService(check);
  if (reply && reply->Get("result") == p::kOk) {
    CheckPassword_cmdCancel_Click();
    if (gate_for_exit_) return FaceExitWith(typed.get());
    ShowForm(true);
    settings_shown_ = true;
    face_password_ = typed.get();
    screen_.Refresh();
    return;
  }
  FaceReplyOk(reply, "密码不正确！");
  if (check_password_.open) {
    WipeString(check_password_.text);
    screen_.Refresh();
    screen_.FocusCheckPassword();
  }
}

void Program::UseCurrentTimeZone_Click() {
  if (!link_ || !AcceptsInput(kAdvancedTab) || locks_.read_only) return;
  FaceApply(true);
}

void Program::FaceApply(bool pin_current_zone) {
  if (!face_password_) return;  // only a window opened with the password applies
  // The settings as Apply would write them; the service takes the keys of
  // the window from them and checks each.
  MemoryStore scratch;
  SettingsFile written(scratch, settings_.path());
  // Apply empties the plan and calendar keys that the file holds and the
  // window no longer fills; the scratch starts with the service's, so that a
  // plan deleted here is deleted there too.
  // So are the keys written only when not their default, so that one set
  // back to its default goes too, and the accounts' sections, so that a
  // section removed here is removed there.
  for (const SettingEntry& e : SettingsTable())
    if ((WrittenOnlyWhenHeld(e.control) || WrittenWhenNotDefault(e.control)) && !PolicyOverride(e, policy_))
      if (auto held = settings_.Peek(e.section, e.key)) written.WriteIniString(e.section, e.key, *held);
  SaveAccountSections(written, ReadAccountSections(settings_));
  SaveSettings(written, live_, clock_.Now(), policy_);
  p::Message request(p::kApply);
  request.Set("password", *face_password_).Set("ini", GbkToUtf8(scratch.bytes()));
  request.Set("logon", live_.IsSet(3) ? 1 : 0).Set("logon_user", live_.text1().text).Set("logon_password", live_.text2().text);
  if (pin_current_zone) request.Set("zone", "current");
  // The sections sent are then the whole list.
  if (live_.account_sections_changed()) request.Set("accounts", 1);
  const auto reply = AskService(request);
  if (!reply || (reply->Get("result") != p::kOk && reply->Get("result") != p::kRefused)) {
    FaceReplyOk(reply, "密码不正确");
    return;  // nothing saved: Apply stays available
  }
  // The service has the logon's password now, where only it can read it;
  // the window keeps no copy (its bytes are overwritten in place first).
  live_.SetText2(std::string(live_.text2().text.size(), '\0'));
  live_.SetText2("");
  live_.SetApplyEnabled(false);
  ShowTrayIconByCheck1();
  std::string problems;
  if (reply->Get("result") == p::kRefused)
    problems += "\n・" + reply->Get("text") + "：不允许的值，或由管理员通过组策略管理。";
  // Removing the guard is an administrator's, through the system's prompt.
  if (!locks_.guard && live_.guard().value == 0 && guard_.Installed()) {
    const GuardChange change = guard_.Uninstall();
    if (!change.ok) {
      problems += "\n・“防止被结束(守护服务)”无法更改：" + change.why;
      live_.SetGuard(1);
    }
  }
  screen_.Refresh();
  if (!problems.empty())
    screen_.ShowMessage("以下设置没有保存：" + problems, kNotice, MessageIcon::kWarning, MessageButtons::kOk);
}

void Program::FaceChangePassword() {
  p::Message change(p::kChangePassword);
  change.Set("old", set_password_.text).Set("new", set_password_.new_text);
  const auto reply = AskService(change);
  if (FaceReplyOk(reply, "对不起，原密码输入不正确！")) {
    screen_.ShowMessage("恭喜，密码修改成功！", kNotice, MessageIcon::kInformation, MessageButtons::kOk);
    SetPassword_cmdCancel_Click();
    return;
  }
  if (reply && reply->Get("result") == p::kWrongPassword && set_password_.open) {
    WipeString(set_password_.text);
    screen_.Refresh();
    screen_.FocusOldPassword();
  }
}

void Program::FaceExit() {
  if (face_password_) return FaceExitWith(*face_password_);
  // Not opened with the password (the About tab): it is asked for now.
  gate_for_exit_ = true;
  if (!check_password_.open) {
    check_password_.Close();
    check_password_.open = true;
  }
  screen_.OpenCheckPassword();
  screen_.Refresh();
}

void Program::FaceExitWith(const std::string& password) {
  gate_for_exit_ = false;
  p::Message exit(p::kExit);
  exit.Set("password", password);
  if (!FaceReplyOk(AskService(exit), "密码不正确！")) return;
  screen_.ShowMessage("程序将退出。定时关机和时间控制仍由守护服务执行，下次登录时程序会再次启动。", kNotice,
                      MessageIcon::kInformation, MessageButtons::kOk);
  exited_by_user_ = true;
  End();
}

}  // namespace dadado
