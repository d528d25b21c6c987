// The settings file on Windows: written to a temporary file in the same
// folder, flushed to the disk, then moved over the old file in one step.
#pragma once

#include <windows.h>

#include "settings/file_store.h"

namespace dadado::win32 {

class WinFileStore : public FileStore {
 public:
  WinFileStore() = default;
  // Every file written gets this security (owned by the caller, who keeps
  // it alive as long as the store): the replacement takes the temporary
  // file's security with it, so without one a protected settings file
  // would take its folder's access after the first write.
  explicit WinFileStore(PSECURITY_DESCRIPTOR security) : security_(security) {}

  FileContent Read(const std::string& path) override;
  bool WriteAtomically(const std::string& path, const std::string& bytes) override;

 private:
  PSECURITY_DESCRIPTOR security_ = nullptr;
};

}  // namespace dadado::win32
