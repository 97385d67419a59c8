#include "station_fixture.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "file_io.h"
#include "profile.h"
#include "test_dir.h"
#include "vcl.h"

namespace station_test {

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int Checksum(const std::vector<uint8_t>& bytes) {
  int x = 0;
  for (uint8_t b : bytes) x ^= b;
  return x;
}

std::vector<uint8_t> PatternImage(size_t size) {
  std::vector<uint8_t> image(size);
  uint32_t v = 0x1234567u;
  for (auto& b : image) {
    v = v * 1103515245u + 12345u;
    b = static_cast<uint8_t>(v >> 16);
  }
  return image;
}

std::tm Date(int year, int month1, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month1 - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  std::tm copy = t;
  timegm(&copy);  // fills in the day of the week
  t.tm_wday = copy.tm_wday;
  t.tm_yday = copy.tm_yday;
  return t;
}

std::string ToString(const LampSnapshot& s) {
  std::string out;
  for (int i = 0; i < 11; ++i) {
    if (s.lit[i]) out += std::to_string(i + 1) + " ";
  }
  return "[" + out + "]";
}

LampSnapshot Lamps(std::initializer_list<int> lit) {
  LampSnapshot s{};
  for (int n : lit) s.lit[n - 1] = true;
  return s;
}

void StationTest::SetUp() {
  dir_ = FreshTestDir("brenvik-station-");
  previous_cwd_ = fs::current_path();
  fs::current_path(dir_);
  setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
  setenv("TALVANE_ADAPTER", ("emulator:" + (dir_ / "module.state").string()).c_str(), 1);
  WriteModule("");
  platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest& r) {
    boxes_.push_back(r);
    return platform::IDOK;
  });
}

void StationTest::TearDown() {
  vcl::Application->ReleaseForms();
  Form1 = nullptr;
  platform::SetMessageBoxHandler(nullptr);
  platform::ResetFileOps();
  fs::current_path(previous_cwd_);
  unsetenv("TALVANE_ADAPTER");
  fs::remove_all(dir_);
}

void StationTest::WriteSettings(const std::string& text) {
  fs::create_directories(SettingsPath().parent_path());
  std::ofstream(SettingsPath(), std::ios::binary) << text;
}

void StationTest::PrepareStation(size_t image_size, const std::string& info) {
  WriteImage(PatternImage(image_size));
  WriteSettings("[SECTION]\r\nBinary=fw.bin\r\nChecksumBin=" + std::to_string(Checksum(image_)) +
                "\r\n[INFO]\r\n" +
                (info.empty() ? "Month=2\r\nPCnumber=2\r\nCounter=57\r\nProdSite=1\r\n" : info));
}

void StationTest::WriteImage(const std::vector<uint8_t>& bytes, const std::string& name) {
  image_ = bytes;
  std::ofstream(dir_ / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void StationTest::WriteModule(const std::string& text) {
  std::ofstream(dir_ / "module.state") << "clock = virtual\n" << text;
}

std::string StationTest::ModuleState() const { return ReadBytes(dir_ / "module.state"); }

std::string StationTest::ModuleKey(const std::string& key) const {
  std::istringstream in(ModuleState());
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + " = ", 0) == 0) return line.substr(key.size() + 3);
    if (line == key + " =") return "";
  }
  return "";
}

int32_t StationTest::SettingInt(const char* key, int32_t def) const {
  return platform::GetPrivateProfileInt("INFO", key, def, "osm106.ini");
}

void StationTest::Start() {
  vcl::Application->CreateForm(Form1);
  Form1->RunTime = [] { return Date(1999, 3, 15, 14, 5, 9); };
}

LampSnapshot StationTest::CurrentLamps() const {
  LampSnapshot s{};
  for (int n = 1; n <= 11; ++n) s.lit[n - 1] = Form1->Lamp(n)->Color() == vcl::clLime;
  return s;
}

}  // namespace station_test

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  vcl::TApplication application(argc, argv);
  application.Initialize();
  return RUN_ALL_TESTS();
}
