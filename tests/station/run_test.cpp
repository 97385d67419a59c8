// The START sequence over every path: what the operator sees, "Counter", the report file and
// the module's state afterwards.
#include <cerrno>

#include "file_io.h"
#include "station_fixture.h"

namespace station_test {
namespace {

using vcl::clBlue;
using vcl::clGreen;
using vcl::clRed;
using vcl::clSilver;

const char* const kStoredIdentity = "01 09 44 56 31 32 39 39 31 30 35";  // DV1299105
const char* const kNewIdentity = "01 09 44 56 31 32 39 39 32 35 37";     // DV1299257
const char* const kReport = "RepOsm12992.txt";

struct RunCase {
  const char* name;
  std::string module;        // state file keys
  bool report_unopenable;    // a folder stands where the report file goes
  bool settings_unwritable;  // every rename in the file layer fails
  std::string info;          // [INFO] of the settings, "" for site 1, PC 2, counter 57
  const char* status;
  vcl::TColor color;
  int32_t counter_after;
  const char* report_serial;  // nullptr: no report file
  const char* identity_after;
  bool image_received;
  std::vector<std::string> boxes;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class RunPaths : public StationTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunPaths, OutcomeCounterReportAndModule) {
  const RunCase& c = GetParam();
  PrepareStation(1000, c.info);
  WriteModule(c.module);
  if (c.report_unopenable) fs::create_directory(dir_ / kReport);
  Start();
  ASSERT_TRUE(Form1->Button1->Enabled());
  const std::string settings_before = ReadBytes(SettingsPath());

  // What the operator sees at each repaint of the run.
  std::vector<std::string> seen;
  Form1->AfterUpdate = [&] {
    seen.push_back(Form1->Label1->Caption() + (Form1->Button1->Enabled() ? "+" : "-") +
                   ToString(CurrentLamps()));
  };
  if (c.settings_unwritable) {
    platform::Files().rename = [](const char*, const char*) {
      errno = EROFS;
      return -1;
    };
  }
  PressStart();
  platform::ResetFileOps();

  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], "WORKING-[]");
  EXPECT_EQ(seen[1], "WORKING-[1 ]");
  EXPECT_EQ(Form1->Label1->Caption(), c.status);
  EXPECT_EQ(Form1->Color(), c.color);
  EXPECT_EQ(Form1->Label1->Color(), c.color);
  EXPECT_TRUE(Form1->Button1->Enabled());
  EXPECT_EQ(CurrentLamps(), Lamps({}));
  if (c.counter_after == -1) {
    EXPECT_EQ(ReadBytes(SettingsPath()), settings_before) << "settings file touched";
  } else {
    EXPECT_EQ(SettingInt("Counter"), c.counter_after);
  }
  if (c.report_serial == nullptr) {
    EXPECT_FALSE(fs::is_regular_file(dir_ / kReport));
  } else {
    EXPECT_EQ(ReadBytes(dir_ / kReport),
              std::string(c.report_serial) + "          Mon Mar 15 14:05:09 1999\r\n" + '\0');
  }
  EXPECT_EQ(ModuleKey("identity"), c.identity_after);
  EXPECT_EQ(fs::exists(dir_ / "module.state.image"), c.image_received);
  if (c.image_received) {
    EXPECT_EQ(ReadBytes(dir_ / "module.state.image"), std::string(image_.begin(), image_.end()));
  }
  std::vector<std::string> box_texts;
  for (const auto& b : boxes_) box_texts.push_back(b.text + "|" + b.caption);
  EXPECT_EQ(box_texts, c.boxes);
}

const std::string kBox = "Cannot open the config file|Error";
const std::string kStored = std::string("identity = ") + kStoredIdentity + "\n";

INSTANTIATE_TEST_SUITE_P(
    Paths, RunPaths,
    ::testing::Values(
        RunCase{"ResetFails",
                "present = no\n",
                false,
                false,
                "",
                "RESET NOK",
                clRed,
                -1,
                nullptr,
                "",
                false,
                {}},
        RunCase{"ModuleAgreesLessThan128",
                "buffer_size = 64\n",
                false,
                false,
                "",
                "RESET NOK",
                clRed,
                -1,
                nullptr,
                "",
                false,
                {}},
        RunCase{"IdentityPresent",
                kStored,
                false,
                false,
                "",
                "MODULE OK",
                clGreen,
                57,
                "DV1299105",
                kStoredIdentity,
                true,
                {}},
        RunCase{"IdentityPresentReportUnopenable",
                kStored,
                true,
                false,
                "",
                "MODULE OK",
                clGreen,
                57,
                nullptr,
                kStoredIdentity,
                true,
                {kBox}},
        RunCase{"WriteFails",
                "fault_write_error = 2\n",
                false,
                false,
                "",
                "WRITE NOK",
                clRed,
                57,
                nullptr,
                "",
                false,
                {}},
        RunCase{"NewIdentityWithReport",
                "",
                false,
                false,
                "",
                "MODULE OK",
                clGreen,
                58,
                "DV1299257",
                kNewIdentity,
                true,
                {}},
        // The module holds the serial now: its number stays used up.
        RunCase{"NewIdentityReportUnopenable",
                "",
                true,
                false,
                "",
                "MODULE OK",
                clGreen,
                58,
                nullptr,
                kNewIdentity,
                true,
                {kBox}},
        RunCase{"DownloadFails",
                "fault_refuse_block = 4\n",
                false,
                false,
                "",
                "UPDATE NOK",
                clRed,
                58,
                "DV1299257",
                kNewIdentity,
                false,
                {}},
        RunCase{"DownloadFailsWithIdentityPresent",
                kStored + "fault_refuse_block = 2\n",
                false,
                false,
                "",
                "UPDATE NOK",
                clRed,
                57,
                "DV1299105",
                kStoredIdentity,
                false,
                {}},
        // A failed read is not "no identity": the module's identity is never overwritten.
        RunCase{"IdentityReadFails",
                kStored + "fault_no_reply = 1\n",
                false,
                false,
                "",
                "WRITE NOK",
                clRed,
                57,
                nullptr,
                kStoredIdentity,
                false,
                {}},
        RunCase{"IdentityReplyOfLen1MeansNone",
                "fault_identity_len1 = 1\n",
                false,
                false,
                "",
                "MODULE OK",
                clGreen,
                58,
                "DV1299257",
                kNewIdentity,
                true,
                {}},
        RunCase{"ModuleRemovedDuringTheDownload",
                "fault_remove = 5\n",
                false,
                false,
                "",
                "UPDATE NOK",
                clRed,
                58,
                "DV1299257",
                kNewIdentity,
                false,
                {}},
        RunCase{"CounterCannotBeWritten",
                "",
                false,
                true,
                "",
                "WRITE NOK",
                clRed,
                -1,
                nullptr,
                "",
                false,
                {kBox}},
        RunCase{"CounterAtTheLargestNumber",
                "",
                false,
                false,
                "Month=2\r\nPCnumber=2\r\nCounter=2147483647\r\nProdSite=1\r\n",
                "WRITE NOK",
                clRed,
                -1,
                nullptr,
                "",
                false,
                {}},
        RunCase{"SerialTooLongForTheModule",
                "",
                false,
                false,
                "Month=2\r\nPCnumber=-2147483648\r\nCounter=-2147483648\r\n"
                "ProdSite=-2147483648\r\n",
                "WRITE NOK",
                clRed,
                -1,
                nullptr,
                "",
                false,
                {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StationTest, NextModuleAfterAReportFailureGetsANewSerial) {
  PrepareStation(1000);
  fs::create_directory(dir_ / kReport);
  Start();
  PressStart();
  EXPECT_EQ(ModuleKey("identity"), kNewIdentity);
  // The operator fixes the report folder and inserts the next, blank module.
  fs::remove(dir_ / kReport);
  WriteModule("");
  PressStart();
  EXPECT_EQ(ModuleKey("identity"), "01 09 44 56 31 32 39 39 32 35 38");  // DV1299258
  EXPECT_EQ(SettingInt("Counter"), 59);
}

TEST_F(StationTest, RunsFollowOneAnotherWithTheOutcomeLeftShowing) {
  PrepareStation(500);
  Start();
  PressStart();
  EXPECT_EQ(Form1->Label1->Caption(), "MODULE OK");
  // The same module again: its own serial is reported and the counter does not move.
  PressStart();
  EXPECT_EQ(Form1->Label1->Caption(), "MODULE OK");
  EXPECT_EQ(SettingInt("Counter"), 58);
  const std::string line = "DV1299257          Mon Mar 15 14:05:09 1999\r\n";
  EXPECT_EQ(ReadBytes(dir_ / kReport), line + '\0' + line + '\0');
  // Then no module at all.
  WriteModule("present = no\n");
  PressStart();
  EXPECT_EQ(Form1->Label1->Caption(), "RESET NOK");
  EXPECT_EQ(Form1->Color(), clRed);
  EXPECT_TRUE(Form1->Button1->Enabled());
}

}  // namespace
}  // namespace station_test
