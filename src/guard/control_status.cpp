#include "guard/control_status.h"

#include <algorithm>
#include <cstdio>

#include "base/date_time_text.h"
#include "engine/engine.h"
#include "engine/program_name.h"
#include "guard/guard_host.h"
#include "guard/guard_settings.h"
#include "guard/guard_state.h"
#include "settings/ini_text.h"
#include "settings/keys.h"
#include "settings/memory_store.h"
#include "settings/settings_file.h"
#include "settings/settings_table.h"
#include "settings/text.h"
#include "system/power.h"
#include "system/windows_integration.h"
#include "version.h"

namespace dadado {

namespace {

constexpr char kNewLine[] = "\r\n";
// How the status file starts when the service writes it; WriterOfStatus
// reads exactly this form back.
constexpr std::string_view kServiceHead = "{\r\n  \"service\": {\"pid\": ";
constexpr std::string_view kServiceStarted = ", \"started\": \"";
constexpr std::string_view kServiceTail = "\"},\r\n";
constexpr std::size_t kLongestStarted = 64;

// One UTF-16 unit as \uXXXX.
void AppendEscape(std::string& out, std::uint32_t unit) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit & 0xFFFF));
  out += buf;
}

// The code point of the UTF-8 sequence at `i` and its length; nullopt for a
// byte that starts no valid sequence (overlong forms, surrogates and
// anything past U+10FFFF included).
std::optional<std::pair<std::uint32_t, std::size_t>> DecodeUtf8(std::string_view t, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(t[k]); };
  const unsigned char lead = b(i);
  std::size_t length = 0;
  std::uint32_t cp = 0, lowest = 0;
  if (lead < 0x80) return std::pair<std::uint32_t, std::size_t>{lead, 1};
  if ((lead & 0xE0) == 0xC0) length = 2, cp = lead & 0x1F, lowest = 0x80;
  else if ((lead & 0xF0) == 0xE0) length = 3, cp = lead & 0x0F, lowest = 0x800;
  else if ((lead & 0xF8) == 0xF0) length = 4, cp = lead & 0x07, lowest = 0x10000;
  else return std::nullopt;
  if (i + length > t.size()) return std::nullopt;
  for (std::size_t k = 1; k < length; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  return std::pair<std::uint32_t, std::size_t>{cp, length};
}

std::string ValueJson(const StatusValue& v) {
  switch (v.kind) {
    case StatusValue::Kind::kBool: return v.flag ? "true" : "false";
    case StatusValue::Kind::kNumber: return std::to_string(v.number);
    case StatusValue::Kind::kText: return JsonString(v.text);
    case StatusValue::Kind::kNull: break;
  }
  return "null";
}

std::string ActionJson(const std::optional<StatusAction>& a) {
  if (!a) return "null";
  return "{\"at\": " + JsonString(IsoLocalTime(a->at)) + ", \"action\": " + JsonString(a->action) + "}";
}

const char* EnforcerText(Enforcer e) {
  switch (e) {
    case Enforcer::kGuard: return "guard";
    case Enforcer::kProgram: return "program";
    case Enforcer::kUnknown: return "unknown";
    case Enforcer::kNone: break;
  }
  return "none";
}

// One key as start-up reads it, on its own: through the same read as the
// program's (the policy's value where it holds one, else the file's, else
// the default, each normalised as its control takes it), in the form the
// policy value of the same name has.
StatusValue ValueOf(const SettingEntry& e, SettingsFile& file, const LocalDateTime& now, const PolicyValues& policy,
                    const EngineSettings& in_force) {
  LiveSettings live;
  LoadedExtras extras;
  live.SetScheduledTime(now.second_of_day);
  LoadSetting(e, file, live, extras, now, policy);
  auto index = [](int i, int offset = 0) { return i < 0 ? StatusValue::Null() : StatusValue::Number(i + offset); };
  switch (e.control) {
    case SettingControl::kCheck: return StatusValue::Number(live.check(e.index).value);
    case SettingControl::kCatchUp: return StatusValue::Number(live.catch_up().value);
    case SettingControl::kFrequency: return StatusValue::Number(live.frequency());
    case SettingControl::kWeekday: return index(live.combo1().index);
    case SettingControl::kInterval: return index(live.combo2().index, 2);  // the policy counts days
    case SettingControl::kAction: return index(live.combo3().index);
    case SettingControl::kScheduledTime:
      // A file without a time gives the moment it was read: the one in force.
      return StatusValue::Text(FormatClock(in_force.schedule.scheduled_time, true));
    case SettingControl::kIntervalStart:
      if (auto d = ParseDate(extras.interval_start)) return StatusValue::Text(IsoDate(*d));
      return StatusValue::Text(extras.interval_start);
    case SettingControl::kAllowedHours: return StatusValue::Text(live.default_rules().hours[e.index]);
    case SettingControl::kDailyLimit: return StatusValue::Number(LimitMinutes(live.default_rules().limits[e.index]));
    case SettingControl::kPostpone: return StatusValue::Number(live.PostponeMinutes());
    case SettingControl::kAdministratorsExempt: return StatusValue::Number(live.administrators_exempt().value);
    default: break;
  }
  // A kind of setting this status does not know: its text as it stands.
  if (auto v = PolicyOverride(e, policy)) return StatusValue::Text(*v);
  return StatusValue::Text(file.Peek(e.section, e.key).value_or(""));
}

// The engine's host while it only answers what comes next: it acts on
// nothing.
class QuietHost : public EngineHost {
 public:
  void TimerChanged(FormTimer, bool) override {}
  void CountdownOpened(bool) override {}
  void CountdownChanged() override {}
  void CountdownClosed() override {}
  bool Perform(unsigned) override { return false; }
  void ActionRefused(int) override {}
  void Log(EventType, int, const std::vector<std::string>&) override {}
  void Balloon(const std::string&) override {}
  bool RememberOccurrence(std::int64_t) override { return false; }
  void StoreUse(const UsageDay&, bool, bool) override {}
  void RecordHistory(const UsageDay&) override {}
  PlanOutcome PerformPlan(PlanAction, int, std::int64_t) override { return PlanOutcome::kNotDone; }
  void ArmWake(std::optional<std::int64_t>) override {}
  void KeepAwake(bool) override {}
  SystemError LastSystemError() override { return {}; }
  void Notice(const std::string&) override {}
};

// The next action of the schedule or of a plan, whichever comes first.
std::optional<Engine::NextAction> NextActionOf(Engine& engine, const EngineSettings& s) {
  auto next = engine.NextScheduledAction(s);
  if (auto plan = engine.NextPlanAction(s); plan && (!next || plan->at < next->at)) next = plan;
  return next;
}

int TodaysLimit(const EngineSettings& s, const Date& today) {
  return s.rules.daily_limits[WeekdayOf(DayNumber(today))];
}

}  // namespace

std::string JsonString(std::string_view t) {
  std::string out = "\"";
  for (std::size_t i = 0; i < t.size();) {
    const auto decoded = DecodeUtf8(t, i);
    const std::uint32_t cp = decoded ? decoded->first : 0xFFFD;
    i += decoded ? decoded->second : 1;
    switch (cp) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\b': out += "\\b"; continue;
      case '\f': out += "\\f"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      default: break;
    }
    if (cp >= 0x20 && cp < 0x7F) {
      out += static_cast<char>(cp);
    } else if (cp < 0x10000) {
      AppendEscape(out, cp);
    } else {
      AppendEscape(out, 0xD800 + ((cp - 0x10000) >> 10));
      AppendEscape(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  return out + "\"";
}

std::string IsoLocalTime(std::int64_t local_seconds) {
  const LocalDateTime t = FromLocalSeconds(local_seconds);
  return IsoDate(t.date) + "T" + FormatClock(t.second_of_day, true);
}

std::string StatusJson(const ControlStatus& s, const std::optional<StatusWriter>& writer) {
  std::string out;
  if (writer) {
    out += kServiceHead;
    out += std::to_string(writer->pid);
    out += kServiceStarted;
    out += writer->started;
    out += kServiceTail;
  } else {
    out += std::string("{") + kNewLine;
  }
  auto member = [&](const char* name, const std::string& value, bool last = false) {
    out += std::string("  \"") + name + "\": " + value + (last ? "" : ",") + kNewLine;
  };
  member("version", JsonString(s.version));
  member("guard", std::string("{\"installed\": ") + (s.guard_installed ? "true" : "false") +
                      ", \"running\": " + (s.guard_running ? "true" : "false") + "}");
  member("enforcing", JsonString(EnforcerText(s.enforcing)));
  member("settings_unreadable", s.settings_unreadable ? "true" : "false");
  std::string settings = std::string("{") + kNewLine;
  for (std::size_t i = 0; i < s.settings.size(); ++i) {
    const StatusSetting& e = s.settings[i];
    settings += "    " + JsonString(e.name) + ": {\"value\": " + ValueJson(e.value) +
                ", \"policy\": " + (e.policy ? "true" : "false") + "}" + (i + 1 < s.settings.size() ? "," : "") +
                kNewLine;
  }
  member("settings", settings + "  }");
  member("next", ActionJson(s.next));
  std::string accounts;
  for (const AccountUse& a : s.accounts)
    accounts += std::string(accounts.empty() ? "" : ", ") + "{\"name\": " + JsonString(a.name) +
                ", \"used_minutes\": " + std::to_string(a.minutes) + ", \"extra_minutes\": " +
                std::to_string(a.extra_minutes) +
                ", \"extra_until\": " + (a.extra_until ? JsonString(IsoLocalTime(*a.extra_until)) : "null") + "}";
  member("today", "{\"date\": " + JsonString(IsoDate(s.today)) + ", \"used_minutes\": " +
                      (s.use_known ? std::to_string(s.used_minutes) : "null") + ", \"limit_minutes\": " + std::to_string(s.limit_minutes) +
                      ", \"time_control\": " + (s.time_control ? "true" : "false") + ", \"account\": " +
                      (s.console_account ? JsonString(*s.console_account) : "null") + ", \"accounts\": [" + accounts +
                      "]}");
  member("time_zone", s.pinned_zone ? "{\"pinned\": " + JsonString(*s.pinned_zone) + ", \"system_differs\": " +
                                          (s.zone_differs ? "true" : "false") + "}"
                                    : std::string("null"));
  member("last_action", ActionJson(s.last_action), true);
  return out + "}" + kNewLine;
}

std::optional<StatusWriter> WriterOfStatus(std::string_view json) {
  if (json.substr(0, kServiceHead.size()) != kServiceHead) return std::nullopt;
  json.remove_prefix(kServiceHead.size());
  std::size_t digits = 0;
  std::uint64_t pid = 0;
  while (digits < json.size() && json[digits] >= '0' && json[digits] <= '9' && digits < 10)
    pid = pid * 10 + static_cast<unsigned>(json[digits++] - '0');
  if (digits == 0 || pid > 0xFFFFFFFFu) return std::nullopt;
  json.remove_prefix(digits);
  if (json.substr(0, kServiceStarted.size()) != kServiceStarted) return std::nullopt;
  json.remove_prefix(kServiceStarted.size());
  const std::size_t end = json.find('"');
  if (end == std::string_view::npos || end > kLongestStarted) return std::nullopt;
  const std::string_view started = json.substr(0, end);
  // The service words the time itself, in digits and separators only.
  if (started.find_first_not_of("0123456789-:.TZ") != std::string_view::npos) return std::nullopt;
  if (json.substr(end, kServiceTail.size()) != kServiceTail) return std::nullopt;
  return StatusWriter{static_cast<std::uint32_t>(pid), std::string(started)};
}

int StatusExitCode(const ControlStatus& s) {
  if (s.enforcing == Enforcer::kUnknown) return 3;
  if (s.guard_installed) return s.guard_running && s.enforcing == Enforcer::kGuard ? 0 : 1;
  return s.enforcing == Enforcer::kProgram ? 0 : 1;
}

std::vector<StatusSetting> StatusSettings(const std::optional<std::string>& file_bytes, const PolicyValues& policy,
                                          const LocalDateTime& now, const EngineSettings& in_force,
                                          const StatusSurroundings& around) {
  // The file's bytes as a store of their own: the defaults a read writes
  // back stay here.
  MemoryStore store(file_bytes.value_or(""));
  SettingsFile file(store, "status.ini");
  std::vector<StatusSetting> out;
  for (const SettingEntry& e : SettingsTable()) {
    if (!e.policy_name || !*e.policy_name) continue;
    const bool by_policy = PolicyOverride(e, policy).has_value();
    StatusSetting s{e.policy_name, StatusValue::Null(), by_policy};
    if (file_bytes || by_policy) s.value = ValueOf(e, file, now, policy, in_force);
    out.push_back(std::move(s));
  }
  // As the settings window shows them: with the guard running, the program
  // starts at every logon and the guard is in place, whatever else says so.
  const auto start = PolicyStartWithWindows(policy);
  out.push_back({policy::kStartWithWindows, StatusValue::Bool(around.guard_running || start.value_or(around.run_value)),
                 start.has_value()});
  const auto guard = PolicyGuard(policy);
  out.push_back({policy::kGuardService, StatusValue::Bool(around.guard_running || guard.value_or(around.guard_installed)),
                 guard.has_value()});
  return out;
}

ControlStatus StatusWithoutGuard(const std::optional<std::string>& file_bytes, const PolicyValues& policy, Clock& clock,
                                 const StatusSurroundings& around) {
  const LocalDateTime now = clock.Now();
  const GuardSettingsRead read = ReadGuardSettings(file_bytes.value_or(""), policy, now);
  ControlStatus s;
  s.version = DADADO_VERSION_TEXT;
  s.guard_installed = around.guard_installed;
  s.guard_running = around.guard_running;
  s.enforcing = around.program_running ? Enforcer::kProgram : Enforcer::kNone;
  s.settings_unreadable = !file_bytes;
  s.settings = StatusSettings(file_bytes, policy, now, read.settings, around);
  s.today = now.date;
  s.limit_minutes = TodaysLimit(read.settings, now.date);
  s.time_control = read.settings.TimeControlForAnyone();
  if (!file_bytes) return s;  // nothing more is known of a file that could not be read

  QuietHost host;
  Engine engine(host, clock, VersionText());
  engine.set_interval_start(read.interval_start);
  engine.StartChosenTimer(read.settings);
  if (auto next = NextActionOf(engine, read.settings)) s.next = StatusAction{next->at, next->action};
  std::optional<std::pair<Date, int>> use;
  if (read.use_day) use = std::pair{*read.use_day, read.used_minutes};
  std::optional<std::int64_t> last = read.last_scheduled;
  if (around.guard_state) {
    // The guard keeps its state apart; what the file still holds is older.
    if (auto stored = UseOf(around.guard_state->Get(state_names::kTodaysUse).value_or(""))) use = stored;
    if (auto stored = InstantOf(around.guard_state->Get(state_names::kLastScheduled).value_or("")))
      last = last ? std::max(*last, *stored) : *stored;
  }
  if (use && use->first == now.date) s.used_minutes = std::clamp(use->second, 0, kSecondsPerDay / 60);
  // Each account's use as the program (or the guard) keeps it: today's, or a
  // later day's while the clock stands set back.
  UsageDay kept = ParseAccountDay(
      GbkToUtf8(IniText(*file_bytes).Get(Utf8ToGbk(keys::kUsage), Utf8ToGbk(keys::kAccountsUsed)).value_or("")));
  if (around.guard_state) kept = ParseAccountDay(around.guard_state->Get(state_names::kAccountsUse).value_or(""));
  if (kept.day && DayNumber(*kept.day) >= DayNumber(now.date)) s.accounts = kept.accounts;
  if (last) s.last_action = StatusAction{*last, ActionText(read.settings.action)};
  return s;
}

ControlStatus StatusWhileGuardUnknown(const std::optional<std::string>& file_bytes, const PolicyValues& policy,
                                      Clock& clock, const StatusSurroundings& around) {
  ControlStatus s = StatusWithoutGuard(file_bytes, policy, clock, around);
  // The file no longer holds the service's state, and the service may have
  // settings in force that the file no longer says: only the service could
  // tell what comes next, and what it did.
  s.enforcing = Enforcer::kUnknown;
  s.next.reset();
  s.last_action.reset();
  s.use_known = false;
  s.used_minutes = 0;
  s.accounts.clear();
  return s;
}

ControlStatus StatusOfGuard(GuardHost& host, bool run_value) {
  const LocalDateTime now = host.Now();
  const EngineSettings& settings = host.settings();
  ControlStatus s;
  s.version = DADADO_VERSION_TEXT;
  s.guard_installed = true;
  s.guard_running = true;
  s.enforcing = Enforcer::kGuard;
  StatusSurroundings around;
  around.run_value = run_value;
  around.guard_installed = around.guard_running = true;
  // The table's keys as the file held them when last read well: the
  // service's own keys play no part in them. A file never read gives what
  // the policy sets, and null.
  s.settings_unreadable = host.settings_unreadable();
  s.settings = StatusSettings(host.settings_read_ever() ? std::optional<std::string>(Utf8ToGbk(host.read().face_ini))
                                                        : std::nullopt,
                              host.policy(), now, settings, around);
  if (auto next = NextActionOf(host.engine(), settings)) s.next = StatusAction{next->at, next->action};
  s.today = now.date;
  if (host.use().day() == now.date) s.used_minutes = host.use().minutes();
  s.accounts = host.use().Snapshot().accounts;
  if (const auto& a = host.engine().account()) s.console_account = a->name;
  s.limit_minutes = TodaysLimit(settings, now.date);
  s.time_control = settings.TimeControlForAnyone();
  s.pinned_zone = FormatTimeZoneRule(host.pinned_zone());
  s.zone_differs = host.zone_differs();
  if (const auto& done = host.last_performed()) s.last_action = StatusAction{done->at, done->action};
  else if (host.last_scheduled())
    s.last_action = StatusAction{*host.last_scheduled(), ActionText(settings.action)};
  return s;
}

bool RunValuePresent(OperatingSystem& os, const std::string& base_name) {
  auto run = os.OpenKey(kRunKey, false);
  if (!run) return false;
  const auto value = os.QueryString(*run, base_name);
  os.CloseKey(*run);
  return value && !value->empty();
}

}  // namespace dadado
