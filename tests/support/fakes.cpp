#include "support/fakes.h"

#include <algorithm>
#include <random>

namespace dadado::testing {

FileContent MemoryFileStore::Read(const std::string& path) {
  if (fail_reads || unreadable.count(path)) return {ReadStatus::kError, ""};
  if (fail_next_reads > 0) {
    --fail_next_reads;
    return {ReadStatus::kError, ""};
  }
  auto it = files.find(path);
  if (it == files.end()) return {ReadStatus::kMissing, ""};
  return {ReadStatus::kOk, it->second};
}

bool MemoryFileStore::WriteAtomically(const std::string& path, const std::string& bytes) {
  if (fail_writes) return false;
  ++writes;
  files[path] = bytes;
  return true;
}

bool FakeOs::EnableShutdownPrivilege() {
  ++privilege_calls;
  log.push_back("privilege");
  return privilege_ok;
}

bool FakeOs::ExitSession(unsigned flags) {
  exit_calls.push_back(flags);
  log.push_back("exit " + std::to_string(flags));
  return exit_ok;
}

bool FakeOs::Missing(const std::string& path) const {
  if (run_key_missing && path == keys.front()) return true;
  if (winlogon_missing && path == keys.back()) return true;
  return std::find(keys.begin(), keys.end(), path) == keys.end();
}

std::optional<RegKey> FakeOs::OpenKey(const std::string& path, bool for_writing) {
  log.push_back(std::string(for_writing ? "open-write " : "open ") + path);
  if (Missing(path) || (for_writing && read_only)) return std::nullopt;
  open_[next_] = path;
  return next_++;
}

std::optional<RegKey> FakeOs::CreateKey(const std::string& path) {
  log.push_back("create " + path);
  if (read_only || (run_key_missing && path == keys.front())) return std::nullopt;
  if (std::find(keys.begin(), keys.end(), path) == keys.end()) keys.push_back(path);
  open_[next_] = path;
  return next_++;
}

std::optional<std::string> FakeOs::QueryString(RegKey key, const std::string& name) {
  log.push_back("query " + name);
  auto it = values.find(open_.at(key) + "\\" + name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

bool FakeOs::SetString(RegKey key, const std::string& name, const std::string& value) {
  log.push_back("set " + name + "=" + value);
  if (read_only) return false;
  values[open_.at(key) + "\\" + name] = value;
  return true;
}

bool FakeOs::DeleteValue(RegKey key, const std::string& name) {
  log.push_back("delete " + name);
  if (read_only) return false;
  values.erase(open_.at(key) + "\\" + name);
  return true;
}

void FakeOs::CloseKey(RegKey key) {
  log.push_back("close");
  open_.erase(key);
}

bool FakeOs::StartCommand(const std::string& command_line) {
  commands.push_back(command_line);
  return command_ok;
}

bool FakeOs::OpenMailLink(const std::string& address) {
  mail_links.push_back(address);
  return true;
}

std::string FakeOs::Value(const std::string& key, const std::string& name) const {
  auto it = values.find(key + "\\" + name);
  return it == values.end() ? "" : it->second;
}

bool FakeOs::Has(const std::string& key, const std::string& name) const {
  return values.count(key + "\\" + name) != 0;
}

MessageAnswer FakeScreen::ShowMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                      MessageButtons buttons) {
  messages.push_back({text, title, icon, buttons});
  if (during_message) {
    auto f = std::move(during_message);
    during_message = nullptr;
    f();
  }
  if (answers.empty()) return MessageAnswer::kOk;
  MessageAnswer a = answers.front();
  answers.pop_front();
  return a;
}

void FakeScreen::RunSetPassword() {
  set_password_open = true;
  if (during_set_password) during_set_password();
  set_password_open = false;
}

std::filesystem::path MakeTempDir(const std::string& name) {
  static std::mt19937_64 rng{std::random_device{}()};
  auto dir = std::filesystem::temp_directory_path() / ("dadado-" + name + "-" + std::to_string(rng()));
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace dadado::testing
