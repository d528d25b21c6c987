// A real GuardHost and the program as its face, joined directly: the
// service's reply comes back to the face's request at once; what else the
// service sends waits in `to_face` until the test delivers it.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "guard/guard_host.h"
#include "guard/protocol.h"
#include "ui/guard_link.h"

namespace dadado::testing {

struct GuardPipe : GuardPlatform, GuardLink {
  GuardHost* host = nullptr;
  std::deque<protocol::Message> to_face;
  std::vector<unsigned> performed;
  bool face = false;
  int next_id = 0;
  std::vector<protocol::Message> asked;
  std::vector<std::string> suspends;
  std::optional<std::int64_t> wake_at;
  bool awake = false;

  std::optional<SessionId> ConsoleUserSession() override { return 1; }
  bool SessionLocked(SessionId) override { return false; }
  std::optional<Account> account;
  std::optional<Account> SessionAccount(SessionId) override { return account; }
  void StartFace(SessionId) override {
    face = true;
    if (host) host->FaceStarted(true);
  }
  bool FaceRunning() override { return face; }
  void ReplaceFace() override { face = false; }
  void SendToFace(const protocol::Message& m) override { to_face.push_back(m); }
  bool Perform(unsigned flags, std::optional<SessionId>) override {
    performed.push_back(flags);
    return true;
  }
  std::optional<TimeZoneRule> zone = TimeZoneRule{-480, 0, 0, {}, {}};
  std::optional<TimeZoneRule> CurrentTimeZone() override { return zone; }
  bool Suspend(bool hibernate) override {
    suspends.push_back(hibernate ? "hibernate" : "sleep");
    return true;
  }
  void ArmWake(std::optional<std::int64_t> utc) override { wake_at = utc; }
  void KeepAwake(bool keep) override { awake = keep; }

  std::optional<protocol::Message> Ask(protocol::Message request) override {
    const std::string id = std::to_string(++next_id);
    request.Set("id", id);
    asked.push_back(request);
    host->FaceMessage(request);
    for (auto it = to_face.begin(); it != to_face.end(); ++it)
      if (it->type == protocol::kReply && it->Get("id") == id) {
        protocol::Message reply = *it;
        to_face.erase(it);
        return reply;
      }
    return std::nullopt;
  }
  void Tell(const protocol::Message& m) override { host->FaceMessage(m); }
};

}  // namespace dadado::testing
