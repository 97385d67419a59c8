// A station in a temporary folder: its profile directory, its image, its emulated module and
// a recorder for message boxes. The window runs on Qt's offscreen platform.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "BrenvikMain.h"
#include "messages.h"

namespace station_test {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path);
// The XOR of all bytes.
int Checksum(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> PatternImage(size_t size);
// A date as the run takes it (day of week filled in).
std::tm Date(int year, int month1, int day, int hour = 10, int minute = 0, int second = 0);

struct LampSnapshot {
  std::array<bool, 11> lit;  // Panel1..Panel11 lime
  bool operator==(const LampSnapshot&) const = default;
};
std::string ToString(const LampSnapshot& s);
LampSnapshot Lamps(std::initializer_list<int> lit);

class StationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  fs::path SettingsPath() const { return dir_ / "config" / "brenvik" / "osm106.ini"; }
  void WriteSettings(const std::string& text);
  // A station ready to run: image of this size, its checksum, site 1, PC 2, counter 57.
  void PrepareStation(size_t image_size = 300, const std::string& info = "");
  void WriteImage(const std::vector<uint8_t>& bytes, const std::string& name = "fw.bin");
  void WriteModule(const std::string& text);
  std::string ModuleState() const;
  // A key of the module's state file ("" when absent).
  std::string ModuleKey(const std::string& key) const;
  int32_t SettingInt(const char* key, int32_t def = -999) const;

  // Builds the window (start-up runs), as the program does.
  void Start();
  void PressStart() { Form1->Button1->Click(); }

  LampSnapshot CurrentLamps() const;

  std::vector<platform::MessageBoxRequest> boxes_;
  std::vector<uint8_t> image_;
  fs::path dir_;
  fs::path previous_cwd_;
};

}  // namespace station_test
