// Private-profile functions over a temporary profile directory.
#include "profile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "file_io.h"
#include "test_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = FreshTestDir("brenvik-profile-");
    setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  }
  void TearDown() override {
    ResetFileOps();
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(root_);
  }
  fs::path File() const { return root_ / "brenvik" / "osm106.ini"; }
  void Write(const std::string& text) {
    fs::create_directories(File().parent_path());
    std::ofstream(File(), std::ios::binary) << text;
  }
  std::string Read() const {
    std::ifstream in(File(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Text(const char* section, const char* key, const char* def = "DEF",
                   uint32_t size = 50) {
    char buffer[256];
    GetPrivateProfileString(section, key, def, buffer, size, "osm106.ini");
    return buffer;
  }
  int32_t Int(const char* section, const char* key, int32_t def = -7) {
    return GetPrivateProfileInt(section, key, def, "osm106.ini");
  }
  fs::path root_;
};

TEST_F(ProfileTest, FileNamedWithoutDirectoryLiesInTheProfileDirectory) {
  EXPECT_EQ(ProfilePath("osm106.ini"), (root_ / "brenvik" / "osm106.ini").string());
  EXPECT_EQ(ProfilePath("/etc/x.ini"), "/etc/x.ini");
  setenv("XDG_CONFIG_HOME", "", 1);
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(ProfileDirectory(), "/home/op/.config/brenvik");
}

TEST_F(ProfileTest, ReadsTextAsTheStationFunctionsDo) {
  Write(
      "; station settings\r\n"
      "[Section]\r\n"
      "  binary  =  /data/fw.bin  \r\n"
      "Quoted=\"  spaced  \"\n"
      "Single='x'\n"
      "Mismatched=\"x'\n"
      "binary=/second/wins/not\r"
      ";Hidden=1\n"
      "[SECTION]\n"
      "Other=in the duplicate section\n"
      "[info]\n"
      "Counter=57\n");
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"SECTION", "Binary", "/data/fw.bin"},  // case-insensitive, trimmed, first wins
      {"section", "BINARY", "/data/fw.bin"},
      {"SECTION", "Quoted", "  spaced  "},  // one pair of quotes stripped
      {"SECTION", "Single", "x"},
      {"SECTION", "Mismatched", "\"x'"},
      {"SECTION", "Hidden", "DEF"},  // a comment is no key
      {"SECTION", "Other", "DEF"},   // the first section of a name wins
      {"INFO", "Counter", "57"},
      {"INFO", "Missing", "DEF"},
      {"NOSUCH", "Counter", "DEF"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(c.section, c.key), c.expected) << c.key;
}

TEST_F(ProfileTest, TextIsCutToTheDestinationSize) {
  const std::string sixty(60, 'p');
  Write("[SECTION]\nBinary=" + sixty + "\n");
  char buffer[50];
  EXPECT_EQ(GetPrivateProfileString("SECTION", "Binary", "NULL", buffer, 50, "osm106.ini"), 49u);
  EXPECT_EQ(std::string(buffer), sixty.substr(0, 49));
  // The default is cut the same way.
  EXPECT_EQ(GetPrivateProfileString("SECTION", "None", "NULL", buffer, 3, "osm106.ini"), 2u);
  EXPECT_EQ(std::string(buffer), "NU");
}

TEST_F(ProfileTest, MissingFileGivesDefaults) {
  EXPECT_EQ(Text("SECTION", "Binary", "NULL"), "NULL");
  EXPECT_EQ(Int("INFO", "Counter", 0), 0);
  EXPECT_FALSE(fs::exists(File()));
}

TEST_F(ProfileTest, IntegersFromTheirLeadingSignAndDigits) {
  Write(
      "[INFO]\nA=42A\nB=B42\nC=-17\nD=+5\nE= 12 \nF=\nG=2147483647\nH=2147483648\n"
      "I=-2147483648\nJ=-99999999999\nK=0x10\nL=99999999999999999999999\n");
  struct Case {
    const char* key;
    int32_t expected;
  };
  const Case cases[] = {{"A", 42},        {"B", 0},         {"C", -17},        {"D", 5},
                        {"E", 12},        {"F", 0},         {"G", 2147483647}, {"H", 2147483647},
                        {"I", INT32_MIN}, {"J", INT32_MIN}, {"K", 0},          {"L", 2147483647},
                        {"Missing", -7}};
  for (const Case& c : cases) EXPECT_EQ(Int("INFO", c.key), c.expected) << c.key;
}

TEST_F(ProfileTest, WritesKeepEveryOtherLine) {
  Write("; keep me\n[SECTION]\nBinary=fw.bin\n\n[INFO]\nmonth=2\nCounter=57\n\n; tail\n");
  ASSERT_TRUE(WritePrivateProfileString("INFO", "COUNTER", "58", "osm106.ini"));
  ASSERT_TRUE(WritePrivateProfileString("INFO", "PCnumber", "2", "osm106.ini"));
  ASSERT_TRUE(WritePrivateProfileString("EXTRA", "Key", "v", "osm106.ini"));
  EXPECT_EQ(Read(),
            "; keep me\r\n[SECTION]\r\nBinary=fw.bin\r\n\r\n[INFO]\r\nmonth=2\r\nCounter=58\r\n"
            "PCnumber=2\r\n\r\n; tail\r\n[EXTRA]\r\nKey=v\r\n");
  EXPECT_EQ(Int("INFO", "Counter"), 58);
  EXPECT_EQ(Int("info", "pcnumber"), 2);
  EXPECT_EQ(Text("SECTION", "Binary"), "fw.bin");
}

TEST_F(ProfileTest, WriteCreatesTheDirectoryAndTheFile) {
  ASSERT_FALSE(fs::exists(File().parent_path()));
  ASSERT_TRUE(WritePrivateProfileString("INFO", "Counter", "-3", "osm106.ini"));
  EXPECT_EQ(Read(), "[INFO]\r\nCounter=-3\r\n");
  EXPECT_EQ(Int("INFO", "Counter"), -3);
}

TEST_F(ProfileTest, LineBreaksInAWriteAreRefused) {
  Write("[INFO]\nCounter=5\n");
  EXPECT_FALSE(WritePrivateProfileString("INFO", "Counter", "6\r\n[SECTION]", "osm106.ini"));
  EXPECT_EQ(Read(), "[INFO]\nCounter=5\n");
}

// A crash between the write of the new content and the rename: the old file stays whole.
TEST_F(ProfileTest, CrashBeforeTheRenameLeavesTheOldFile) {
  Write("[INFO]\r\nCounter=57\r\n");
  Files().rename = [](const char*, const char*) { return -1; };  // the process dies here
  EXPECT_FALSE(WritePrivateProfileString("INFO", "Counter", "58", "osm106.ini"));
  EXPECT_EQ(Read(), "[INFO]\r\nCounter=57\r\n");
  EXPECT_FALSE(fs::exists(File().string() + ".tmp"));
  ResetFileOps();
  // A temporary file left by a real crash does not stand in the way of the next write.
  std::ofstream(File().string() + ".tmp") << "[INFO]\r\nCounter=5";
  EXPECT_EQ(Int("INFO", "Counter"), 57);
  ASSERT_TRUE(WritePrivateProfileString("INFO", "Counter", "58", "osm106.ini"));
  EXPECT_EQ(Int("INFO", "Counter"), 58);
}

TEST_F(ProfileTest, EveryFailingStepOfAWriteKeepsTheOldContent) {
  Write("[INFO]\r\nCounter=57\r\n");
  const std::string before = Read();
  struct Step {
    const char* name;
    void (*inject)();
  };
  const Step steps[] = {
      {"open",
       [] {
         Files().open = [](const char*, int, mode_t) {
           errno = EACCES;
           return -1;
         };
       }},
      {"write",
       [] {
         Files().write = [](int, const void*, size_t) -> ssize_t {
           errno = ENOSPC;
           return -1;
         };
       }},
      {"short write",
       [] {
         Files().write = [](int fd, const void* d, size_t n) -> ssize_t {
           if (n > 4) return ::write(fd, d, 4);
           errno = ENOSPC;
           return -1;
         };
       }},
      {"fsync",
       [] {
         Files().fsync = [](int) {
           errno = EIO;
           return -1;
         };
       }},
      {"close",
       [] {
         Files().close = [](int fd) {
           ::close(fd);
           errno = EIO;
           return -1;
         };
       }},
      {"rename",
       [] {
         Files().rename = [](const char*, const char*) {
           errno = EXDEV;
           return -1;
         };
       }},
  };
  for (const Step& s : steps) {
    s.inject();
    EXPECT_FALSE(WritePrivateProfileString("INFO", "Counter", "58", "osm106.ini")) << s.name;
    ResetFileOps();
    EXPECT_EQ(Read(), before) << s.name;
    EXPECT_FALSE(fs::exists(File().string() + ".tmp")) << s.name;
  }
}

TEST_F(ProfileTest, ReadOnlySettingsFileIsNotReplaced) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes through file permissions";
  Write("[INFO]\r\nCounter=57\r\n");
  fs::permissions(File(), fs::perms::owner_read);
  EXPECT_FALSE(WritePrivateProfileString("INFO", "Counter", "58", "osm106.ini"));
  EXPECT_EQ(Int("INFO", "Counter"), 57);
}

TEST_F(ProfileTest, AppendWritesOneWholeRecordOrNone) {
  const fs::path report = root_ / "report.txt";
  ASSERT_EQ(AppendDurably(report, "abc", 3), AppendResult::kAppended);
  ASSERT_EQ(AppendDurably(report, "de", 2), AppendResult::kAppended);
  Files().write = [](int fd, const void* d, size_t n) -> ssize_t {
    if (n > 2) return ::write(fd, d, 2);  // the disk fills in the middle of the record
    errno = ENOSPC;
    return -1;
  };
  EXPECT_EQ(AppendDurably(report, "fghij", 5), AppendResult::kWriteFailed);
  ResetFileOps();
  std::ifstream in(report, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "abcde");
  EXPECT_EQ(AppendDurably(root_ / "no" / "such" / "dir.txt", "x", 1), AppendResult::kCannotOpen);
}

}  // namespace
}  // namespace platform
