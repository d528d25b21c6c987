// A settings file held in memory: what the guard service sent the program,
// or the bytes of a file read once. Writes stay here.
#pragma once

#include <string>

#include "settings/file_store.h"

namespace dadado {

class MemoryStore : public FileStore {
 public:
  MemoryStore() = default;
  explicit MemoryStore(std::string bytes) : bytes_(std::move(bytes)), present_(true) {}
  FileContent Read(const std::string&) override {
    return present_ ? FileContent{ReadStatus::kOk, bytes_} : FileContent{ReadStatus::kMissing, ""};
  }
  bool WriteAtomically(const std::string&, const std::string& bytes) override {
    bytes_ = bytes;
    present_ = true;
    return true;
  }
  const std::string& bytes() const { return bytes_; }
  void Replace(std::string bytes) {
    bytes_ = std::move(bytes);
    present_ = true;
  }

 private:
  std::string bytes_;
  bool present_ = false;
};

}  // namespace dadado
