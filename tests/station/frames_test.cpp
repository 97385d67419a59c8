// Module command frames against a fake exchange that records each request and answers with a
// prepared reply.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Talvane.h"
#include "Testprod.h"

namespace {

using testprod::ModuleFrame;

struct FakeExchange {
  static inline std::vector<std::vector<uint8_t>> requests;
  static inline std::vector<uint8_t> reply;  // written over the request
  static inline uint8_t result = 0;

  static uint8_t Order(uint8_t* buffer, uint32_t* length) {
    requests.emplace_back(buffer, buffer + *length);
    if (result != 0) return result;  // a failed exchange leaves the buffer alone
    std::memcpy(buffer, reply.data(), reply.size());
    *length = static_cast<uint32_t>(reply.size());
    return 0;
  }
};

class FramesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeExchange::requests.clear();
    FakeExchange::reply = {0x21, 0x00, 0x02, 0x90, 0x00, 0xB3};
    FakeExchange::result = 0;
    testprod::OrderModuleHook = &FakeExchange::Order;
  }
  void TearDown() override { testprod::OrderModuleHook = &Order_Module; }
};

TEST_F(FramesTest, SetLrcOnAnEmptyBody) {
  ModuleFrame frame = {0x12, 0x01, 0x00, 0xEE};
  testprod::SetLrc(frame);
  EXPECT_EQ(frame[3], 0x13);
}

TEST_F(FramesTest, ReadIdentityRequestIsExact) {
  uint8_t area[40] = {};
  FakeExchange::reply = {0x21, 0x00, 0x02, 0x6A, 0x82, 0x00};
  testprod::ReadIdentity(area, sizeof area);
  ASSERT_EQ(FakeExchange::requests.size(), 1u);
  EXPECT_EQ(FakeExchange::requests[0],
            (std::vector<uint8_t>{0x12, 0x01, 0x05, 0x80, 0x60, 0x00, 0x00, 0x00, 0xF6}));
}

TEST_F(FramesTest, WriteIdentityFrameOfTheWorkedExample) {
  const uint8_t record[] = {0x01, 0x09, 0x44, 0x56, 0x31, 0x32, 0x39, 0x39, 0x32, 0x35, 0x37};
  EXPECT_EQ(testprod::WriteIdentity(record, sizeof record), 0);
  ASSERT_EQ(FakeExchange::requests.size(), 1u);
  EXPECT_EQ(FakeExchange::requests[0],
            (std::vector<uint8_t>{0x12, 0x01, 0x11, 0x80, 0x50, 0x00, 0x00, 0x0C, 0x0C, 0x01, 0x09,
                                  0x44, 0x56, 0x31, 0x32, 0x39, 0x39, 0x32, 0x35, 0x37, 0xFB}));
}

TEST_F(FramesTest, WriteIdentityLengthsAndResults) {
  for (uint32_t n : {0u, 1u, 11u, 39u}) {
    FakeExchange::requests.clear();
    std::vector<uint8_t> record(n, 0x41);
    testprod::WriteIdentity(record.data(), n);
    ASSERT_EQ(FakeExchange::requests[0].size(), n + 10);
    EXPECT_EQ(FakeExchange::requests[0][7], n + 1);
    EXPECT_EQ(FakeExchange::requests[0][8], n + 1);
  }
  // The reply is not examined: any status word with a clean exchange is success.
  FakeExchange::reply = {0x21, 0x00, 0x02, 0x6A, 0x82, 0x00};
  const uint8_t record[] = {0x01, 0x00};
  EXPECT_EQ(testprod::WriteIdentity(record, 2), 0);
  FakeExchange::result = 4;
  EXPECT_EQ(testprod::WriteIdentity(record, 2), 4);
  FakeExchange::result = 1;
  EXPECT_EQ(testprod::WriteIdentity(record, 2), 1);
  // Longer than one frame holds: refused before any exchange.
  FakeExchange::requests.clear();
  std::vector<uint8_t> huge(600, 0);
  EXPECT_EQ(testprod::WriteIdentity(huge.data(), 600), 4);
  EXPECT_TRUE(FakeExchange::requests.empty());
}

struct ReplyCase {
  const char* name;
  std::vector<uint8_t> reply;
  uint8_t exchange_result;
  int expected;
  size_t copied;  // bytes of the area that change from 0xAA, starting at 0
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class ReadIdentityReplies : public FramesTest, public ::testing::WithParamInterface<ReplyCase> {};

std::vector<uint8_t> IdentityReply(uint8_t count, size_t record_bytes) {
  std::vector<uint8_t> r{0x21, 0x00, static_cast<uint8_t>(1 + record_bytes + 2), count};
  for (size_t i = 0; i < record_bytes; ++i) r.push_back(static_cast<uint8_t>(0x30 + i % 10));
  r.push_back(0x90);
  r.push_back(0x00);
  r.push_back(0x00);
  return r;
}

TEST_P(ReadIdentityReplies, CopiesOnlyWhatFitsAndNeverReadsAFailedExchange) {
  const ReplyCase& c = GetParam();
  FakeExchange::reply = c.reply;
  FakeExchange::result = c.exchange_result;
  uint8_t area[40];
  std::memset(area, 0xAA, sizeof area);
  EXPECT_EQ(testprod::ReadIdentity(area, sizeof area), c.expected);
  for (size_t i = 0; i < sizeof area; ++i) {
    if (i < c.copied) {
      EXPECT_EQ(area[i], c.reply[4 + i]) << i;
    } else if (c.copied == 39 && c.reply[3] > 40 && i == 39) {
      EXPECT_EQ(area[i], 0) << "zero byte kept behind a cut record";
    } else {
      EXPECT_EQ(area[i], 0xAA) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadIdentityReplies,
    ::testing::Values(ReplyCase{"Len1", {0x21, 0x00, 0x01, 0x6A, 0x00, 0x4A}, 0, 0, 0},
                      ReplyCase{"Len2", {0x21, 0x00, 0x02, 0x6A, 0x82, 0xCB}, 0, 0, 0},
                      ReplyCase{"Count1", IdentityReply(1, 0), 0, 0, 0},
                      ReplyCase{"Count0", IdentityReply(0, 0), 0, 0, 0},
                      ReplyCase{"Count12With11Bytes", IdentityReply(0x0C, 11), 0, 11, 11},
                      ReplyCase{"Count40", IdentityReply(40, 39), 0, 39, 39},
                      ReplyCase{"CountAbove40IsCut", IdentityReply(0x50, 79), 0, 39, 39},
                      ReplyCase{"FailedExchangeIsNotARecord", IdentityReply(0x0C, 11), 4, -1, 0},
                      ReplyCase{"NoModule", IdentityReply(0x0C, 11), 1, -1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
