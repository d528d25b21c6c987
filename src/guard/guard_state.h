// What the guard service remembers from one run to the next: the last
// scheduled instant it performed, today's use, a postponement, the time zone
// it pinned. It lives apart from the settings file, in a place no standard
// user can write nor hold open (on Windows, values under
// HKLM\SOFTWARE\dadado\Guard), so that nobody can keep the service from
// noting what it did. Each value is a named text; further values (another
// account's use, a history) are simply further names.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace dadado {

namespace state_names {
inline constexpr char kLastScheduled[] = "LastScheduled";  // the instant text of 上次定时
inline constexpr char kTodaysUse[] = "TodaysUse";          // "day,minutes", e.g. "2026/12/7,40"
// Each account's use and extra time of the day, as FormatAccountDay writes it.
inline constexpr char kAccountsUse[] = "AccountsUse";
inline constexpr char kPostponed[] = "Postponed";          // "occurrence,due", or "" for none
inline constexpr char kHeldOff[] = "HeldOff";              // an instant, or "" for none
inline constexpr char kTimeZone[] = "TimeZone";            // the pinned zone's rule
inline constexpr char kFileTimeZone[] = "FileTimeZone";    // the 时区 last read in the settings file
}  // namespace state_names

class GuardStateStore {
 public:
  virtual ~GuardStateStore() = default;
  // The value of that name; nullopt when there is none (or it cannot be read).
  virtual std::optional<std::string> Get(const std::string& name) = 0;
  // False when the value could not be stored; the old one then stays.
  virtual bool Set(const std::string& name, const std::string& value) = 0;
  // True also when there was no such value.
  virtual bool Remove(const std::string& name) = 0;
  // Where the values live, as the event log names it.
  virtual std::string Where() const = 0;
};

// Values kept in memory only: a host that needs to remember nothing between
// runs.
class MemoryStateStore : public GuardStateStore {
 public:
  std::map<std::string, std::string> values;

  std::optional<std::string> Get(const std::string& name) override {
    const auto it = values.find(name);
    return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  bool Set(const std::string& name, const std::string& value) override {
    values[name] = value;
    return true;
  }
  bool Remove(const std::string& name) override {
    values.erase(name);
    return true;
  }
  std::string Where() const override { return "内存"; }
};

}  // namespace dadado
