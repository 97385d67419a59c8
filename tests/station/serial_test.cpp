// Serial numbers, the counter and the production report.
#include <cstring>

#include "file_io.h"
#include "station_fixture.h"

namespace station_test {
namespace {

class SerialTest : public StationTest {};

struct WorkedExample {
  int32_t site, pc;  // -1: key missing
  std::tm date;
  int32_t counter;  // -1: key missing
  const char* serial;
  int32_t counter_after;
  const char* report;
};

TEST_F(SerialTest, WorkedExamples) {
  const WorkedExample examples[] = {
      {1, 2, Date(1999, 3, 15), 57, "DV1299257", 58, "RepOsm12992.txt"},
      {1, 2, Date(2000, 1, 3), 58, "DV12100058", 59, "RepOsm121000.txt"},
      {3, 14, Date(1999, 12, 31), 1200, "DV31499111200", 1201, "RepOsm3149911.txt"},
      {-1, -1, Date(1999, 3, 15), -1, "DV009920", 1, "RepOsm00992.txt"},
  };
  for (const WorkedExample& e : examples) {
    std::string info = "[INFO]\r\n";
    if (e.site >= 0) info += "ProdSite=" + std::to_string(e.site) + "\r\n";
    if (e.pc >= 0) info += "PCnumber=" + std::to_string(e.pc) + "\r\n";
    if (e.counter >= 0) info += "Counter=" + std::to_string(e.counter) + "\r\n";
    WriteSettings(info);
    SerialState state;
    ASSERT_EQ(AllocateSerial(e.date, &state), AllocateResult::kAllocated) << e.serial;
    EXPECT_STREQ(state.SerialNumber, e.serial);
    EXPECT_EQ(SettingInt("Counter"), e.counter_after);
    EXPECT_EQ(state.taken, e.counter_after - 1);
    EXPECT_EQ(ReportFileName(state.site, state.pc, e.date), e.report);
    const size_t L = std::strlen(e.serial);
    ASSERT_EQ(state.record_length, L + 2);
    EXPECT_EQ(state.record[0], 0x01);
    EXPECT_EQ(state.record[1], L);
    EXPECT_EQ(std::memcmp(state.record.get() + 2, e.serial, L), 0);
    // Given back, the counter holds what it held before the run.
    ASSERT_TRUE(ReleaseSerial(state.taken));
    EXPECT_EQ(SettingInt("Counter"), e.counter_after - 1);
  }
}

TEST_F(SerialTest, MonthBookkeeping) {
  // January with no "Month" key: nothing is written to it.
  WriteSettings("[INFO]\r\nCounter=5\r\n");
  SerialState state;
  ASSERT_EQ(AllocateSerial(Date(2001, 1, 10), &state), AllocateResult::kAllocated);
  EXPECT_EQ(SettingInt("Month"), -999);
  // The first run of a new month rewrites it; the counter carries on.
  ASSERT_EQ(AllocateSerial(Date(2001, 2, 1), &state), AllocateResult::kAllocated);
  EXPECT_EQ(SettingInt("Month"), 1);
  EXPECT_EQ(SettingInt("Counter"), 7);
  EXPECT_STREQ(state.SerialNumber, "DV0010116");
}

TEST_F(SerialTest, DateText) {
  EXPECT_EQ(DateText(Date(1999, 3, 8, 14, 5, 9)), "Mon Mar 08 14:05:09 1999");
  EXPECT_EQ(DateText(Date(2026, 12, 31, 23, 59, 58)), "Thu Dec 31 23:59:58 2026");
  EXPECT_EQ(DateText(Date(2000, 1, 1, 0, 0, 0)).size(), 24u);
}

TEST_F(SerialTest, TwoRecordsInOneFileByteForByte) {
  ASSERT_TRUE(AppendReportLine(1, 2, Date(1999, 3, 8, 14, 5, 9), "DV1299257"));
  ASSERT_TRUE(AppendReportLine(1, 2, Date(1999, 3, 9, 8, 0, 1), ""));
  const std::string expected = std::string("DV1299257          Mon Mar 08 14:05:09 1999\r\n") +
                               '\0' + "          Tue Mar 09 08:00:01 1999\r\n" + '\0';
  EXPECT_EQ(ReadBytes(dir_ / "RepOsm12992.txt"), expected);
  EXPECT_EQ(expected.size(), (9u + 37u) + 37u);
}

TEST_F(SerialTest, ReportThatCannotBeOpenedIsReported) {
  fs::create_directory(dir_ / "RepOsm12992.txt");  // a folder where the file should be
  EXPECT_FALSE(AppendReportLine(1, 2, Date(1999, 3, 8), "DV1299257"));
}

TEST_F(SerialTest, ReportFileNameIsNeverCutShort) {
  EXPECT_EQ(ReportFileName(2147483647, -2147483647 - 1, Date(2099, 12, 1)),
            "RepOsm2147483647-214748364819911.txt");
}

TEST_F(SerialTest, OwnSerialFromTheIdentityArea) {
  struct Case {
    std::vector<uint8_t> area;
    const char* expected;
  };
  const Case cases[] = {
      {{0x01, 0x09, 'D', 'V', '1', '2', '9', '9', '2', '5', '7'}, "DV1299257"},
      {{0x01, 0x05}, ""},  // a length byte and no text
      {{0x01}, ""},        // shorter than tag and length
      {{}, ""},
      {{0x01, 0x03, 'A', 0x00, 'B'}, "A"},  // up to the first zero byte
  };
  for (const Case& c : cases) {
    uint8_t area[40] = {};
    if (!c.area.empty()) std::memcpy(area, c.area.data(), c.area.size());
    EXPECT_EQ(OwnSerial(area, sizeof area), c.expected);
  }
  uint8_t full[40];
  std::memset(full, 'x', sizeof full);  // no zero byte at all: never read past the area
  EXPECT_EQ(OwnSerial(full, sizeof full), std::string(38, 'x'));
}

TEST_F(SerialTest, RefusedAllocationsTakeNoNumber) {
  struct Case {
    const char* name;
    const char* info;
    AllocateResult result;
  };
  const Case cases[] = {
      {"counter at the largest number", "Counter=2147483647\r\nProdSite=1\r\nPCnumber=2\r\n",
       AllocateResult::kCounterExhausted},
      {"serial longer than 37 characters",
       "Counter=-2147483648\r\nProdSite=-2147483648\r\nPCnumber=-2147483648\r\n",
       AllocateResult::kSerialTooLong},
  };
  for (const Case& c : cases) {
    WriteSettings(std::string("[INFO]\r\nMonth=2\r\n") + c.info);
    const std::string before = ReadBytes(SettingsPath());
    SerialState state;
    EXPECT_EQ(AllocateSerial(Date(1999, 3, 15), &state), c.result) << c.name;
    EXPECT_EQ(ReadBytes(SettingsPath()), before) << c.name;
  }
  // 37 characters is the longest serial that still fits: accepted.
  WriteSettings(
      "[INFO]\r\nMonth=2\r\nCounter=2147483646\r\nProdSite=-2147483648\r\n"
      "PCnumber=-2147483648\r\n");
  SerialState state;
  EXPECT_EQ(AllocateSerial(Date(1999, 3, 15), &state), AllocateResult::kAllocated);
  EXPECT_EQ(std::strlen(state.SerialNumber), 37u);
  EXPECT_EQ(SettingInt("Counter"), 2147483647);
}

TEST_F(SerialTest, CounterThatCannotBeWrittenTakesNoNumber) {
  WriteSettings("[INFO]\r\nMonth=2\r\nCounter=57\r\n");
  platform::Files().rename = [](const char*, const char*) { return -1; };
  SerialState state;
  EXPECT_EQ(AllocateSerial(Date(1999, 3, 15), &state), AllocateResult::kCounterNotWritten);
  platform::ResetFileOps();
  EXPECT_EQ(SettingInt("Counter"), 57);
}

}  // namespace
}  // namespace station_test
