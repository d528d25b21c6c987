// What the guard service and the program say to each other over the pipe the
// service hands the program when it starts it. Each message is a frame: four
// bytes of length (little-endian), then UTF-8 text: the message's type on the
// first line, then one "name=value" line per field, with backslash, line
// breaks and NUL in values escaped.
//
// The service trusts nothing that arrives: whoever can open the program's
// process can write into its end of the pipe. A frame that is too long or
// does not read breaks the connection; a message of an unknown type, or
// without the fields it needs, is answered with a refusal or ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dadado::protocol {

// Far more than any message needs: the settings go across as the table of
// keys holds them, a few kilobytes.
inline constexpr std::size_t kMaxFrameBytes = 256 * 1024;
// The most fields one message may have; the largest the program sends has
// about ten. A frame of 256 KiB could otherwise hold a hundred thousand
// empty ones, each a string to make and look through.
inline constexpr std::size_t kMaxFields = 64;

struct Message {
  std::string type;
  std::vector<std::pair<std::string, std::string>> fields;

  Message() = default;
  explicit Message(std::string t) : type(std::move(t)) {}
  // The value of the first field of that name; "" when there is none.
  const std::string& Get(std::string_view name) const;
  bool Has(std::string_view name) const;
  // A whole decimal number, or `fallback` when the field is missing or is
  // not one.
  long long Number(std::string_view name, long long fallback) const;
  Message& Set(std::string name, std::string value);
  Message& Set(std::string name, long long value) { return Set(std::move(name), std::to_string(value)); }
  bool operator==(const Message&) const = default;
};

// Wipes the values of the fields that carry a typed password (password,
// old, new, logon_password): a message is done with once sent or checked.
void WipeSecrets(Message& message);

// The frame of a message; names are plain lower-case ASCII, which the
// encoder keeps to (anything else is dropped).
std::string Encode(const Message& message);

// Collects bytes as they arrive and gives whole messages.
class FrameReader {
 public:
  void Feed(std::string_view bytes);
  // The next whole message, or nullopt until more bytes come. After a
  // frame that breaks the rules, nothing more is read: see broken().
  std::optional<Message> Next();
  bool broken() const { return broken_; }

 private:
  std::string pending_;
  std::size_t at_ = 0;
  bool broken_ = false;
};

// What a peer may make its reader do in one second: whole messages taken,
// and bytes read, where every read counts at least kReadCost (a frame sent
// byte by byte costs a read per byte). A peer that spends more is not one we
// talk to.
class ReadBudget {
 public:
  static constexpr std::size_t kReadCost = 512;
  ReadBudget(std::size_t messages_per_second, std::size_t bytes_per_second)
      : messages_per_second_(messages_per_second), bytes_per_second_(bytes_per_second) {}
  // `bytes` were read at `now_ms` (milliseconds of any steady clock); false
  // once the second's bytes are spent.
  bool Read(std::size_t bytes, std::uint64_t now_ms);
  // A whole message was taken at `now_ms`; false once the second's messages
  // are spent.
  bool Took(std::uint64_t now_ms);

 private:
  void Roll(std::uint64_t now_ms);
  std::size_t messages_per_second_, bytes_per_second_;
  std::optional<std::uint64_t> second_began_;
  std::size_t messages_ = 0, bytes_ = 0;
};

// The message types. The service sends:
inline constexpr char kSettings[] = "settings";    // ini: the settings file as the service reads it, no password
inline constexpr char kCountdown[] = "countdown";  // open, visible, seconds, title, action, remaining, generation
inline constexpr char kTip[] = "tip";              // text: the tooltip's second line
inline constexpr char kBalloon[] = "balloon";      // text
inline constexpr char kNotice[] = "notice";        // text
inline constexpr char kDo[] = "do";                // id, what: lock | screen_off
inline constexpr char kZone[] = "zone";            // pinned: the zone's rule; differs: the system's is another
inline constexpr char kReply[] = "reply";          // id, result[, text]
// The program sends:
inline constexpr char kCancel[] = "cancel";        // id, password
inline constexpr char kPostpone[] = "postpone";    // id, password
inline constexpr char kCheck[] = "check";          // id, password: the settings gate
// id, password, ini, logon, logon_user, logon_password[, zone=current]
inline constexpr char kApply[] = "apply";
inline constexpr char kChangePassword[] = "password";  // id, old, new
inline constexpr char kExit[] = "exit";            // id, password
inline constexpr char kIdle[] = "idle";            // seconds without input in the session
inline constexpr char kDone[] = "done";            // id (of the do), result: ok | failed
inline constexpr char kClockChanged[] = "clock";   // the session saw the clock or the zone change
// id, password[, from]: the usage history from that day (yyyy-mm-dd) on; the
// reply carries csv (whole days, as much as one frame holds), next (the
// first day left out, when some were) and accounts (today's counts).
inline constexpr char kHistory[] = "history";
inline constexpr char kExtraTime[] = "extra";      // id, password, name, sid, minutes: 今日加时

// Results of a reply.
inline constexpr char kOk[] = "ok";
inline constexpr char kWrongPassword[] = "wrong";
inline constexpr char kLockedOut[] = "locked";     // too many wrong passwords: refused for a while
inline constexpr char kRefused[] = "refused";      // text: what was refused and why
inline constexpr char kFailed[] = "failed";        // text: what could not be done

}  // namespace dadado::protocol
