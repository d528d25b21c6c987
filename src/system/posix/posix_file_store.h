// The settings file on POSIX systems (the Linux build of the core, its tests
// and its fuzzers): a temporary file beside the target, flushed, renamed.
#pragma once

#include "settings/file_store.h"

namespace dadado {

class PosixFileStore : public FileStore {
 public:
  FileContent Read(const std::string& path) override;
  bool WriteAtomically(const std::string& path, const std::string& bytes) override;
};

}  // namespace dadado
