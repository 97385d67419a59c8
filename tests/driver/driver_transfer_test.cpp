// Guarded register access, Send_Data and Receive_Data against a recording bus.
#include <gtest/gtest.h>

#include <array>
#include <deque>

#include "fake_bus.h"

namespace talvane_test {
namespace {

using talvane::g_state;
constexpr uint16_t kBase = 0x340;
constexpr uint16_t kData = kBase, kStatus = kBase + 1, kLs = kBase + 2, kMs = kBase + 3;

// A guarded access: one read of the status register, then the access itself.
void Guarded(std::vector<Access>* seq, Access access, uint8_t guard_status) {
  seq->push_back({'R', kStatus, guard_status});
  seq->push_back(access);
}

class TransferTest : public ::testing::Test, protected DriverFixtureBase {
 protected:
  void SetUp() override { MakeReady(kBase); }
};

TEST_F(TransferTest, SendOfThreeBytesFollowsTheWorkedSequence) {
  bus_.on_read = [](uint16_t) { return uint8_t{0x40}; };  // FR set, WE clear
  const uint8_t data[] = {0xAA, 0xBB, 0xCC};
  EXPECT_EQ(talvane::SendData(data, 3), 0);

  std::vector<Access> expected;
  Guarded(&expected, {'W', kStatus, 0x01}, 0x40);
  Guarded(&expected, {'R', kStatus, 0x40}, 0x40);
  Guarded(&expected, {'W', kLs, 0x03}, 0x40);
  Guarded(&expected, {'W', kMs, 0x00}, 0x40);
  for (uint8_t b : data) Guarded(&expected, {'W', kData, b}, 0x40);
  Guarded(&expected, {'R', kStatus, 0x40}, 0x40);
  Guarded(&expected, {'W', kStatus, 0x00}, 0x40);
  EXPECT_EQ(ToString(bus_.log), ToString(expected));
  EXPECT_EQ(g_state.CommandShadow, 0x00);
}

struct SendCase {
  const char* name;
  uint32_t length;
  uint8_t status_first;  // status read after HC is raised
  uint8_t status_last;   // status read after the last byte
  uint8_t expected_result;
  std::vector<uint8_t> command_writes;
  std::vector<uint8_t> ls_writes, ms_writes;
  size_t data_writes;
};

void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }

class SendCases : public ::testing::TestWithParam<SendCase>, protected DriverFixtureBase {};

TEST_P(SendCases, WritesAndResult) {
  const SendCase& c = GetParam();
  MakeReady(kBase);
  int status_reads = 0;
  bus_.on_read = [&](uint16_t port) -> uint8_t {
    if (port != kStatus) return 0x00;
    // Guard reads and real reads alike: the first real status read is the second read.
    ++status_reads;
    return status_reads <= 2 ? c.status_first : c.status_last;
  };
  std::vector<uint8_t> data(c.length, 0x5A);
  EXPECT_EQ(talvane::SendData(data.data(), c.length), c.expected_result);
  EXPECT_EQ(bus_.WritesTo(kStatus), c.command_writes);
  EXPECT_EQ(bus_.WritesTo(kLs), c.ls_writes);
  EXPECT_EQ(bus_.WritesTo(kMs), c.ms_writes);
  EXPECT_EQ(bus_.WritesTo(kData).size(), c.data_writes);
}

INSTANTIATE_TEST_SUITE_P(
    Send, SendCases,
    ::testing::Values(
        SendCase{"NotFree", 3, 0x00, 0x00, 2, {0x01, 0x00}, {}, {}, 0},
        SendCase{"WriteError", 3, 0x40, 0x42, 4, {0x01, 0x00}, {0x03}, {0x00}, 3},
        SendCase{"ZeroBytes", 0, 0x40, 0x40, 0, {0x01, 0x00}, {0x00}, {0x00}, 0},
        SendCase{"ZeroBytesWriteError", 0, 0x40, 0x42, 4, {0x01, 0x00}, {0x00}, {0x00}, 0},
        SendCase{"Size0102", 0x0102, 0x40, 0x40, 0, {0x01, 0x00}, {0x02}, {0x01}, 0x0102},
        // Only the four known bits count: 0xBD masks to 0x81, FR clear.
        SendCase{"MaskedStatus", 3, 0xBD, 0xBD, 2, {0x01, 0x00}, {}, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, GuardRefusesOnlyWhenAllThreeRegistersReadFF) {
  struct Case {
    uint8_t status, ls, ms;
    bool refused;
  };
  const Case cases[] = {
      {0xFF, 0x00, 0xFF, false},
      {0xFF, 0xFF, 0x00, false},
      {0x40, 0xFF, 0xFF, false},
      {0xFF, 0xFF, 0xFF, true},
  };
  for (const Case& c : cases) {
    MakeReady(kBase);
    bus_.log.clear();
    bus_.on_read = [&](uint16_t port) -> uint8_t {
      if (port == kStatus) return c.status;
      if (port == kLs) return c.ls;
      if (port == kMs) return c.ms;
      return 0;
    };
    EXPECT_EQ(talvane::WritePort(kData, 0x77), c.refused ? 1 : 0);
    EXPECT_EQ(bus_.WritesTo(kData).size(), c.refused ? 0u : 1u);
    EXPECT_EQ(g_state.ModulePresent, c.refused ? 0 : 1);
  }
}

TEST_F(TransferTest, AfterTheAdapterIsGoneTransfersTouchNoPort) {
  bus_.on_read = [](uint16_t) { return uint8_t{0xFF}; };
  const uint8_t data[] = {1, 2};
  EXPECT_EQ(talvane::SendData(data, 2), 1);
  EXPECT_EQ(g_state.ModulePresent, 0);
  // HC was set in the shadow before the refused write, and stays set.
  EXPECT_EQ(g_state.CommandShadow, 0x01);
  bus_.log.clear();
  uint8_t buffer[8];
  uint32_t length = 99;
  EXPECT_EQ(talvane::SendData(data, 2), 1);
  EXPECT_EQ(talvane::ReceiveData(buffer, &length), 1);
  EXPECT_TRUE(bus_.log.empty());
  EXPECT_EQ(length, 99u);
}

TEST_F(TransferTest, BeforeInitTransfersReturnOneWithoutPortAccess) {
  g_state = {};
  uint8_t buffer[4] = {};
  uint32_t length = 0;
  EXPECT_EQ(talvane::SendData(buffer, 4), 1);
  EXPECT_EQ(talvane::ReceiveData(buffer, &length), 1);
  EXPECT_TRUE(bus_.log.empty());
}

TEST_F(TransferTest, ReceiveWithDataClearReadsOnlyStatus) {
  bus_.on_read = [](uint16_t port) { return port == kStatus ? uint8_t{0x40} : uint8_t{0x00}; };
  std::array<uint8_t, 4> buffer{9, 9, 9, 9};
  uint32_t length = 77;
  EXPECT_EQ(talvane::ReceiveData(buffer.data(), &length), 3);
  EXPECT_EQ(bus_.log.size(), 2u);  // the guard's read and the status read
  EXPECT_EQ(bus_.ReadsOf(kStatus), 2u);
  EXPECT_EQ(length, 77u);
  EXPECT_EQ(buffer, (std::array<uint8_t, 4>{9, 9, 9, 9}));
}

struct ReceiveCase {
  const char* name;
  uint8_t ls, ms;
  uint32_t capacity;
  uint8_t expected_result;
  uint32_t expected_length;  // unchanged sentinel 12345 when not stored
  size_t data_reads;
  bool buffer_written;
};

void PrintTo(const ReceiveCase& c, std::ostream* os) { *os << c.name; }

class ReceiveCases : public ::testing::TestWithParam<ReceiveCase>, protected DriverFixtureBase {};

TEST_P(ReceiveCases, ReadsAnnouncedBytesWithinTheAgreedSize) {
  const ReceiveCase& c = GetParam();
  MakeReady(kBase, c.capacity);
  uint8_t next = 0;
  bus_.on_read = [&](uint16_t port) -> uint8_t {
    if (port == kStatus) return 0x80;
    if (port == kLs) return c.ls;
    if (port == kMs) return c.ms;
    return next++;
  };
  std::vector<uint8_t> buffer(c.capacity + 16, 0xEE);
  uint32_t length = 12345;
  EXPECT_EQ(talvane::ReceiveData(buffer.data(), &length), c.expected_result);
  EXPECT_EQ(length, c.expected_length);
  EXPECT_EQ(bus_.ReadsOf(kData), c.data_reads);
  // Data bytes are read without the guard: status reads are the first guard+read and the
  // closing guard+read only, plus one guard per size register.
  EXPECT_EQ(bus_.ReadsOf(kStatus), 6u);
  for (size_t i = 0; i < buffer.size(); ++i) {
    const bool inside = c.buffer_written && i < c.data_reads;
    EXPECT_EQ(buffer[i], inside ? static_cast<uint8_t>(i) : 0xEE) << "byte " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Receive, ReceiveCases,
    ::testing::Values(ReceiveCase{"Empty", 0, 0, 128, 0, 0, 0, true},
                      ReceiveCase{"Size258", 0x02, 0x01, 512, 0, 258, 258, true},
                      ReceiveCase{"ExactlyTheAgreedSize", 128, 0, 128, 0, 128, 128, true},
                      // Announced beyond the agreed size: drained, nothing stored.
                      ReceiveCase{"TooLongIsDrained", 129, 0, 128, 6, 12345, 129, false},
                      ReceiveCase{"FullSixteenBitsCount", 0xFF, 0xFF, 128, 6, 12345, 65535, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WaitTest, EndsAfterTenTicksAlsoAcrossTheWrap) {
  for (uint32_t start : {0u, 1000u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
    talvane::AttachTick(&FakeTick);
    SetFakeTime(start);
    talvane::Wait10ms();
    // One reading at the start, then readings until ten have passed.
    EXPECT_EQ(FakeTick(), static_cast<uint32_t>(start + 11)) << start;
  }
  talvane::AttachTick(nullptr);
}

}  // namespace
}  // namespace talvane_test
