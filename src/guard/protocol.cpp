#include "guard/protocol.h"

#include "base/wipe.h"
#include <algorithm>

namespace dadado::protocol {

void WipeSecrets(Message& message) {
  for (auto& [name, value] : message.fields)
    if (name == "password" || name == "old" || name == "new" || name == "logon_password") WipeString(value);
}

namespace {

bool IsName(std::string_view name) {
  if (name.empty() || name.size() > 32) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || c == '_')) return false;
  return true;
}

void AppendEscaped(std::string& out, std::string_view value) {
  for (char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\0': out += "\\0"; break;
      default: out += c;
    }
  }
}

std::optional<std::string> Unescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case '0': out += '\0'; break;
      default: return std::nullopt;
    }
  }
  return out;
}

std::optional<Message> Decode(std::string_view payload) {
  Message m;
  std::size_t line_end = payload.find('\n');
  if (line_end == std::string_view::npos) return std::nullopt;
  m.type = std::string(payload.substr(0, line_end));
  if (!IsName(m.type)) return std::nullopt;
  std::size_t at = line_end + 1;
  while (at < payload.size()) {
    line_end = payload.find('\n', at);
    if (line_end == std::string_view::npos) return std::nullopt;
    const std::string_view line = payload.substr(at, line_end - at);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !IsName(line.substr(0, eq))) return std::nullopt;
    auto value = Unescaped(line.substr(eq + 1));
    if (!value || m.fields.size() == kMaxFields) return std::nullopt;
    m.fields.emplace_back(std::string(line.substr(0, eq)), std::move(*value));
    at = line_end + 1;
  }
  return m;
}

}  // namespace

const std::string& Message::Get(std::string_view name) const {
  static const std::string kNone;
  for (const auto& [n, v] : fields)
    if (n == name) return v;
  return kNone;
}

bool Message::Has(std::string_view name) const {
  for (const auto& f : fields)
    if (f.first == name) return true;
  return false;
}

long long Message::Number(std::string_view name, long long fallback) const {
  const std::string& v = Get(name);
  if (v.empty() || v.size() > 18) return fallback;
  std::size_t i = v[0] == '-' ? 1 : 0;
  if (i == v.size()) return fallback;
  long long n = 0;
  for (; i < v.size(); ++i) {
    if (v[i] < '0' || v[i] > '9') return fallback;
    n = n * 10 + (v[i] - '0');
  }
  return v[0] == '-' ? -n : n;
}

Message& Message::Set(std::string name, std::string value) {
  for (auto& f : fields)
    if (f.first == name) {
      f.second = std::move(value);
      return *this;
    }
  fields.emplace_back(std::move(name), std::move(value));
  return *this;
}

std::string Encode(const Message& message) {
  // One buffer, large enough from the start: a value that carries a
  // password leaves no copy behind in memory given back while it grew.
  std::size_t most = 4 + message.type.size() + 8;
  for (const auto& [name, value] : message.fields) most += name.size() + 2 + 2 * value.size();
  std::string frame;
  frame.reserve(most);
  frame.assign(4, '\0');
  frame += IsName(message.type) ? message.type : std::string("invalid");
  frame += '\n';
  for (const auto& [name, value] : message.fields) {
    if (!IsName(name)) continue;
    frame += name;
    frame += '=';
    AppendEscaped(frame, value);
    frame += '\n';
  }
  const std::uint32_t n = static_cast<std::uint32_t>(frame.size() - 4);
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  return frame;
}

void FrameReader::Feed(std::string_view bytes) {
  if (broken_) return;
  // What has been handed out already goes before the buffer grows.
  if (at_ > 0 && at_ * 2 >= pending_.size()) {
    pending_.erase(0, at_);
    at_ = 0;
  }
  pending_.append(bytes);
}

std::optional<Message> FrameReader::Next() {
  if (broken_ || pending_.size() - at_ < 4) return std::nullopt;
  std::uint32_t n = 0;
  for (int i = 0; i < 4; ++i) n |= static_cast<std::uint32_t>(static_cast<unsigned char>(pending_[at_ + i])) << (8 * i);
  if (n > kMaxFrameBytes) {
    broken_ = true;
    return std::nullopt;
  }
  if (pending_.size() - at_ - 4 < n) return std::nullopt;
  auto message = Decode(std::string_view(pending_).substr(at_ + 4, n));
  at_ += 4 + n;
  if (!message) {
    broken_ = true;
    return std::nullopt;
  }
  return message;
}

void ReadBudget::Roll(std::uint64_t now_ms) {
  if (second_began_ && now_ms >= *second_began_ && now_ms - *second_began_ < 1000) return;
  second_began_ = now_ms;
  messages_ = bytes_ = 0;
}

bool ReadBudget::Read(std::size_t bytes, std::uint64_t now_ms) {
  Roll(now_ms);
  bytes_ += std::max(bytes, kReadCost);
  return bytes_ <= bytes_per_second_;
}

bool ReadBudget::Took(std::uint64_t now_ms) {
  Roll(now_ms);
  return ++messages_ <= messages_per_second_;
}

}  // namespace dadado::protocol
