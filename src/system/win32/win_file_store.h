// The settings file on Windows: written to a temporary file in the same
// folder, flushed to the disk, then moved over the old file in one step.
#pragma once

#include "settings/file_store.h"

namespace dadado::win32 {

class WinFileStore : public FileStore {
 public:
  FileContent Read(const std::string& path) override;
  bool WriteAtomically(const std::string& path, const std::string& bytes) override;
};

}  // namespace dadado::win32
