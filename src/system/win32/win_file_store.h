// The settings file on Windows: written to a temporary file in the same
// folder, flushed to the disk, then renamed over the old file in one step,
// in a way that others holding the old file open cannot stop where Windows
// has it (Windows 10 1709 and later, on NTFS); elsewhere moved over it as
// before, which a holder can refuse.
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
