// Whole-file access for the settings file. Writes replace the file
// atomically: after a crash or a power cut it holds the old or the new
// content, never a mixture and never nothing.
#pragma once

#include <string>

namespace dadado {

enum class ReadStatus { kOk, kMissing, kError };

struct FileContent {
  ReadStatus status = ReadStatus::kMissing;
  std::string bytes;
};

class FileStore {
 public:
  virtual ~FileStore() = default;
  virtual FileContent Read(const std::string& path) = 0;
  // Returns false when the file could not be replaced; the old content then
  // stays as it was.
  virtual bool WriteAtomically(const std::string& path, const std::string& bytes) = 0;
};

}  // namespace dadado
