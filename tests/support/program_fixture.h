#pragma once

#include <gtest/gtest.h>

#include "settings/ini_text.h"
#include "settings/settings_file.h"
#include "settings/text.h"
#include "support/fakes.h"
#include "ui/program.h"

namespace dadado::testing {

inline constexpr char kIniPath[] = "C:\\dadado\\dadado.ini";

// A program over fakes; the settings file lives in memory, in GBK.
struct ProgramTest : ::testing::Test {
  MemoryFileStore files;
  SettingsFile settings{files, kIniPath};
  FakeOs os;
  FakeGuard guard;
  FakeScreen screen;
  FakeClock clock;
  Program program{settings, os, guard, screen, clock};

  // Writes UTF-8 INI text into the settings file as GBK.
  void GivenFile(const std::string& utf8) { files.files[kIniPath] = Utf8ToGbk(utf8); }
  std::string FileText() { return GbkToUtf8(files.files[kIniPath]); }
  std::string Key(const char* section, const std::string& key) {
    auto v = IniText(files.files[kIniPath]).Get(Utf8ToGbk(section), Utf8ToGbk(key));
    return v ? GbkToUtf8(*v) : "<missing>";
  }
  LiveSettings& live() { return program.live(); }
};

}  // namespace dadado::testing
