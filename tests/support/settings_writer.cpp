// Writes the settings file over and over until it is killed; the
// fault-injection test kills it at random moments.
#include <string>

#include "system/posix/posix_file_store.h"
#include "settings/settings_file.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  dadado::PosixFileStore store;
  dadado::SettingsFile settings(store, argv[1]);
  for (long i = 1;; ++i) {
    settings.WriteIniString("常规设置", "generation", std::to_string(i));
    settings.WriteIniString("常规设置", "pad", std::string(i % 2 ? 30000 : 20000, 'x'));
  }
}
