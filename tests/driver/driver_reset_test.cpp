// Probe, reset and buffer-size negotiation against a recording bus.
#include <gtest/gtest.h>

#include <deque>

#include "fake_bus.h"

namespace talvane_test {
namespace {

using talvane::g_state;

// A module at one base as far as the reset sees it: after RS and SR it offers its size; it
// takes the size back with SW and HC; then it becomes free. Each step can be made to stall.
struct ResetModel {
  uint16_t base = 0x340;
  std::vector<uint8_t> size_reply{0x04, 0x00};
  bool offers_size = true;
  bool free_for_size_write = true;
  bool free_after = true;
  bool write_error_on_size = false;
  uint8_t probe_ms = 0x00;

  int stage = 0;  // 0 before SR, 1 offering, 2 size read, 3 SW cleared
  uint8_t command = 0;
  std::deque<uint8_t> out;
  int data_written = 0;

  uint8_t Read(uint16_t port) {
    if (port < base || port > base + 3) return 0xFF;
    switch (port - base) {
      case 0: {
        if (out.empty()) return 0;
        const uint8_t b = out.front();
        out.pop_front();
        if (out.empty()) stage = 2;
        return b;
      }
      case 1: {
        uint8_t s = 0;
        if (stage == 1 && offers_size) s |= 0x80;
        if (stage == 2 && free_for_size_write) s |= 0x40;
        if (stage == 3 && free_after) s |= 0x40;
        if (stage == 2 && write_error_on_size && data_written == 2) s |= 0x02;
        return s;
      }
      case 2:
        return stage == 1 ? static_cast<uint8_t>(size_reply.size()) : 0;
      default:
        return stage == 0 ? probe_ms : 0;
    }
  }
  void Write(uint16_t port, uint8_t value) {
    if (port == base + 1) {
      const uint8_t previous = command;
      command = value;
      if (value & 0x08) stage = 0;
      if (stage == 0 && !(value & 0x08) && (value & 0x04)) {
        stage = 1;
        out.assign(size_reply.begin(), size_reply.end());
      }
      if ((previous & 0x02) && !(value & 0x02) && stage == 2) stage = 3;
    }
    if (port == base && stage == 2) ++data_written;
  }
};

class ResetTest : public ::testing::Test, protected DriverFixtureBase {
 protected:
  void Attach(ResetModel* model) {
    bus_.on_read = [model](uint16_t p) { return model->Read(p); };
    bus_.on_write = [model](uint16_t p, uint8_t v) { model->Write(p, v); };
  }
};

TEST_F(ResetTest, ProbeWithNoAdapterReadsFifteenTimesAndWritesNothing) {
  g_state.IoBase = 0x320;  // kept from an earlier run
  uint32_t agreed = 7;
  EXPECT_EQ(talvane::InitModule(128, &agreed), 1);
  EXPECT_EQ(bus_.log.size(), 15u);
  EXPECT_EQ(bus_.Writes(), 0u);
  EXPECT_EQ(g_state.IoBase, 0x320);
  EXPECT_EQ(g_state.ModulePresent, 0);
  EXPECT_EQ(agreed, 7u);
  // Each base: size LS, size MS, status.
  EXPECT_EQ(bus_.log[0].port, 0x302);
  EXPECT_EQ(bus_.log[1].port, 0x303);
  EXPECT_EQ(bus_.log[2].port, 0x301);
  EXPECT_EQ(bus_.log[14].port, 0x381);
}

TEST_F(ResetTest, ProbeStopsAtTheFirstAcceptedBase) {
  for (uint16_t base : {0x300, 0x320, 0x340, 0x360, 0x380}) {
    talvane::g_state = {};
    bus_.log.clear();
    ResetModel model;
    model.base = base;
    model.probe_ms = 0xF8;  // only the low three bits count
    Attach(&model);
    uint32_t agreed = 0;
    EXPECT_EQ(talvane::InitModule(128, &agreed), 0) << std::hex << base;
    EXPECT_EQ(g_state.IoBase, base);
    EXPECT_EQ(g_state.ModulePresent, 1);
    EXPECT_EQ(agreed, 128u);
    for (const Access& a : bus_.log) EXPECT_LE(a.port, base + 3) << "read beyond the accepted base";
    size_t probe_reads = 0;
    for (const Access& a : bus_.log) probe_reads += a.port < base;
    EXPECT_EQ(probe_reads, 3u * ((base - 0x300) / 0x20));
  }
}

TEST_F(ResetTest, CleanResetWritesTheCommandSequenceWithTheSizeBetween) {
  ResetModel model;
  Attach(&model);
  uint32_t agreed = 0;
  ASSERT_EQ(talvane::InitModule(128, &agreed), 0);
  EXPECT_EQ(bus_.WritesTo(0x341),
            (std::vector<uint8_t>{0x08, 0x00, 0x04, 0x00, 0x02, 0x03, 0x02, 0x00}));
  // Between 0x03 and the closing 0x02: size 2 and the two size bytes.
  std::vector<Access> writes;
  for (const Access& a : bus_.log) {
    if (a.kind == 'W') writes.push_back(a);
  }
  ASSERT_EQ(writes.size(), 12u);
  EXPECT_EQ(writes[5], (Access{'W', 0x341, 0x03}));
  EXPECT_EQ(writes[6], (Access{'W', 0x342, 0x02}));
  EXPECT_EQ(writes[7], (Access{'W', 0x343, 0x00}));
  EXPECT_EQ(writes[8], (Access{'W', 0x340, 0x00}));
  EXPECT_EQ(writes[9], (Access{'W', 0x340, 0x80}));
  EXPECT_EQ(writes[10], (Access{'W', 0x341, 0x02}));
  EXPECT_EQ(Waits(), 3u);  // one in each polling phase
  EXPECT_EQ(g_state.CommandShadow, 0x00);
}

struct SizeCase {
  std::vector<uint8_t> offered;
  uint32_t maximum;
  uint32_t agreed;
  std::vector<uint8_t> written_back;
};

TEST_F(ResetTest, AgreedSizeTable) {
  const SizeCase cases[] = {
      {{0x04, 0x00}, 128, 128, {0x00, 0x80}}, {{0x00, 0x40}, 128, 64, {0x00, 0x40}},
      {{0x00, 0x80}, 128, 128, {0x00, 0x80}}, {{0x01, 0x02}, 0x0102, 0x0102, {0x01, 0x02}},
      {{0x00, 0x05}, 0, 0, {0x00, 0x00}},
  };
  for (const SizeCase& c : cases) {
    talvane::g_state = {};
    bus_.log.clear();
    ResetModel model;
    model.size_reply = c.offered;
    Attach(&model);
    uint32_t agreed = 0;
    ASSERT_EQ(talvane::InitModule(c.maximum, &agreed), 0);
    EXPECT_EQ(agreed, c.agreed);
    EXPECT_EQ(bus_.WritesTo(0x340), c.written_back);
  }
}

struct StallCase {
  const char* name;
  void (*configure)(ResetModel*);
  uint8_t reset_result;
  uint64_t waits;
  bool agreed_written;
  uint8_t shadow_after;  // CommandShadow left by the failed reset
  uint8_t next_first_command;
};

void PrintTo(const StallCase& c, std::ostream* os) { *os << c.name; }

class ResetStalls : public ::testing::TestWithParam<StallCase>, protected DriverFixtureBase {};

TEST_P(ResetStalls, GivesUpAfterAThousandAttempts) {
  const StallCase& c = GetParam();
  ResetModel model;
  c.configure(&model);
  bus_.on_read = [&](uint16_t p) { return model.Read(p); };
  bus_.on_write = [&](uint16_t p, uint8_t v) { model.Write(p, v); };
  g_state.IoBase = 0x340;
  g_state.ModulePresent = 1;
  uint32_t agreed = 4242;
  EXPECT_EQ(talvane::ResetModule(128, &agreed), c.reset_result);
  EXPECT_EQ(Waits(), c.waits);
  EXPECT_EQ(agreed, c.agreed_written ? 128u : 4242u);
  EXPECT_EQ(g_state.CommandShadow, c.shadow_after);
  // The next reset carries the bit left set.
  bus_.log.clear();
  ResetModel fine;
  bus_.on_read = [&](uint16_t p) { return fine.Read(p); };
  bus_.on_write = [&](uint16_t p, uint8_t v) { fine.Write(p, v); };
  EXPECT_EQ(talvane::ResetModule(128, &agreed), 0);
  ASSERT_FALSE(bus_.WritesTo(0x341).empty());
  EXPECT_EQ(bus_.WritesTo(0x341).front(), c.next_first_command);
}

INSTANTIATE_TEST_SUITE_P(
    Stall, ResetStalls,
    ::testing::Values(StallCase{"NoSizeOffered", [](ResetModel* m) { m->offers_size = false; }, 5,
                                1000, false, 0x04, 0x0C},
                      StallCase{"NeverFreeForSizeWrite",
                                [](ResetModel* m) { m->free_for_size_write = false; }, 5, 1001,
                                true, 0x02, 0x0A},
                      StallCase{"NeverReady", [](ResetModel* m) { m->free_after = false; }, 5, 1002,
                                true, 0x00, 0x08},
                      StallCase{"SizeReplyOfOneByte", [](ResetModel* m) { m->size_reply = {0x04}; },
                                5, 1, false, 0x04, 0x0C},
                      StallCase{"SizeReplyOfThreeBytes",
                                [](ResetModel* m) {
                                  m->size_reply = {0x00, 0x80, 0x00};
                                },
                                5, 1, false, 0x04, 0x0C}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResetTest, WriteErrorOnTheSizeWriteDoesNotFailTheReset) {
  ResetModel model;
  model.write_error_on_size = true;
  Attach(&model);
  uint32_t agreed = 0;
  EXPECT_EQ(talvane::InitModule(128, &agreed), 0);
  EXPECT_EQ(agreed, 128u);
}

TEST_F(ResetTest, ResetWithoutAnyAcceptedBaseTouchesNoPort) {
  uint32_t agreed = 5;
  EXPECT_EQ(talvane::ResetModule(128, &agreed), 1);
  EXPECT_TRUE(bus_.log.empty());
  EXPECT_EQ(agreed, 5u);
}

TEST_F(ResetTest, InitFailsWithOneWhenTheResetFailsAndClearsPresence) {
  ResetModel model;
  model.free_after = false;
  Attach(&model);
  uint32_t agreed = 0;
  EXPECT_EQ(talvane::InitModule(128, &agreed), 1);
  EXPECT_EQ(g_state.ModulePresent, 0);
  EXPECT_EQ(g_state.IoBase, 0x340);
}

TEST_F(ResetTest, ModuleGoneDuringSizeReadFailsAtTheFirstAttempt) {
  // Status, size LS and size MS all 0xFF once the reset phase has written its commands.
  int writes = 0;
  bus_.on_write = [&](uint16_t, uint8_t) { ++writes; };
  bus_.on_read = [&](uint16_t port) -> uint8_t {
    if (writes < 3) return port == 0x343 ? 0x00 : 0x40;
    return 0xFF;
  };
  g_state.IoBase = 0x340;
  g_state.ModulePresent = 1;
  uint32_t agreed = 1;
  EXPECT_EQ(talvane::ResetModule(128, &agreed), 5);
  EXPECT_EQ(Waits(), 0u);
}

}  // namespace
}  // namespace talvane_test
