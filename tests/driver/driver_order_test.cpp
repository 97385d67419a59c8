// Order_Module: the request-reply exchange with its two bounded phases.
#include <gtest/gtest.h>

#include <deque>

#include "fake_bus.h"

namespace talvane_test {
namespace {

using talvane::g_state;
constexpr uint16_t kBase = 0x340;

// A module that takes a request when free and offers `reply` once `reply_after` status reads
// with DA clear have passed. `busy_sends` HC windows find it busy first.
struct ExchangeModel {
  int busy_sends = 0;   // <0: busy for ever
  int reply_after = 0;  // <0: never replies
  bool write_error = false;
  std::vector<uint8_t> reply{0x21, 0x00, 0x02, 0x90, 0x00, 0xB3};

  uint8_t command = 0;
  bool in_window = false, window_busy = false, taken = false;
  int hc_windows = 0, receive_polls = 0;
  std::deque<uint8_t> out;

  uint8_t Read(uint16_t port) {
    switch (port - kBase) {
      case 0: {
        if (out.empty()) return 0;
        const uint8_t b = out.front();
        out.pop_front();
        return b;
      }
      case 1: {
        uint8_t s = 0;
        if (in_window && !window_busy) s |= 0x40;
        if (in_window && write_error && taken) s |= 0x02;
        if (taken && !in_window) {
          if (reply_after >= 0 && receive_polls >= reply_after && out.empty() && !replied) {
            out.assign(reply.begin(), reply.end());
            replied = true;
          }
          ++receive_polls;
        }
        if (!out.empty()) s |= 0x80;
        return s;
      }
      case 2:
        return static_cast<uint8_t>(out.size() & 0xFF);
      default:
        return static_cast<uint8_t>(out.size() >> 8);
    }
  }
  void Write(uint16_t port, uint8_t value) {
    if (port == kBase + 1) {
      const bool was = command & 1, now = value & 1;
      command = value;
      if (!was && now) {
        ++hc_windows;
        in_window = true;
        window_busy = busy_sends < 0 || hc_windows <= busy_sends;
      }
      if (was && !now) in_window = false;
    }
    if (port == kBase) taken = true;
  }
  bool replied = false;
};

class OrderTest : public ::testing::Test, protected DriverFixtureBase {
 protected:
  void Attach(ExchangeModel* m) {
    bus_.on_read = [m](uint16_t p) { return m->Read(p); };
    bus_.on_write = [m](uint16_t p, uint8_t v) { m->Write(p, v); };
    MakeReady(kBase, 128);
  }
  std::vector<uint8_t> Request(size_t n) {
    std::vector<uint8_t> buffer(128, 0);
    for (size_t i = 0; i < n; ++i) buffer[i] = static_cast<uint8_t>(0x10 + i);
    return buffer;
  }
};

TEST_F(OrderTest, ReadyModuleAnswersWithoutAnyWait) {
  ExchangeModel model;
  Attach(&model);
  auto buffer = Request(9);
  uint32_t length = 9;
  EXPECT_EQ(talvane::OrderModule(buffer.data(), &length), 0);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 6), model.reply);
  EXPECT_EQ(buffer[6], 0x16);  // behind the reply, the request's bytes stay
  EXPECT_EQ(Waits(), 0u);
}

TEST_F(OrderTest, FullBlockCostsExactlyTheProtocolsPortAccesses) {
  ExchangeModel model;
  Attach(&model);
  auto buffer = Request(128);
  uint32_t length = 128;
  ASSERT_EQ(talvane::OrderModule(buffer.data(), &length), 0);
  // Send: 2 per guarded access; HC set, status, LS, MS, 128 data, status, HC clear = 134.
  // Receive: status (2), LS (2), MS (2), six unguarded data reads, closing status (2) = 14.
  EXPECT_EQ(bus_.log.size(), 268u + 14u);
}

TEST_F(OrderTest, BusyModuleGetsAThousandSendsAndNoReceive) {
  ExchangeModel model;
  model.busy_sends = -1;
  Attach(&model);
  auto buffer = Request(9);
  uint32_t length = 9;
  EXPECT_EQ(talvane::OrderModule(buffer.data(), &length), 4);
  EXPECT_EQ(model.hc_windows, 1000);
  EXPECT_EQ(Waits(), 1000u);
  EXPECT_EQ(bus_.ReadsOf(kBase + 2), 0u);  // no receive: the size is never read
  EXPECT_EQ(bus_.WritesTo(kBase + 2).size(), 0u);
  EXPECT_EQ(length, 9u);
}

TEST_F(OrderTest, BusyThenFreeSucceedsAfterOneWaitPerBusyAttempt) {
  ExchangeModel model;
  model.busy_sends = 3;
  Attach(&model);
  auto buffer = Request(9);
  uint32_t length = 9;
  EXPECT_EQ(talvane::OrderModule(buffer.data(), &length), 0);
  EXPECT_EQ(model.hc_windows, 4);
  EXPECT_EQ(Waits(), 3u);
}

TEST_F(OrderTest, WriteErrorReturnsFourAtOnceWithoutReceiving) {
  ExchangeModel model;
  model.write_error = true;
  Attach(&model);
  auto buffer = Request(9);
  const auto before = buffer;
  uint32_t length = 9;
  EXPECT_EQ(talvane::OrderModule(buffer.data(), &length), 4);
  EXPECT_EQ(Waits(), 0u);
  EXPECT_EQ(model.hc_windows, 1);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(length, 9u);
}

TEST_F(OrderTest, NoReplyGivesUpAfterAThousandReceivesLeavingTheBufferAlone) {
  ExchangeModel model;
  model.reply_after = -1;
  Attach(&model);
  auto buffer = Request(9);
  const auto before = buffer;
  uint32_t length = 9;
  EXPECT_EQ(talvane::OrderModule(buffer.data(), &length), 4);
  EXPECT_EQ(model.receive_polls, 2000);  // a guard read and a status read per receive
  EXPECT_EQ(Waits(), 1000u);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(length, 9u);
}

TEST_F(OrderTest, SlowReplyArrivesWithinTheLimit) {
  ExchangeModel model;
  model.reply_after = 1997;  // the 999th receive sees DA
  Attach(&model);
  auto buffer = Request(9);
  uint32_t length = 9;
  EXPECT_EQ(talvane::OrderModule(buffer.data(), &length), 0);
  EXPECT_EQ(Waits(), 998u);
}

TEST_F(OrderTest, ReplyLongerThanTheAgreedSizeIsDrainedAndReported) {
  ExchangeModel model;
  model.reply.assign(200, 0x55);
  Attach(&model);
  auto buffer = Request(9);
  const auto before = buffer;
  uint32_t length = 9;
  EXPECT_EQ(talvane::OrderModule(buffer.data(), &length), 6);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(length, 9u);
  EXPECT_EQ(bus_.ReadsOf(kBase), 200u);
}

TEST_F(OrderTest, BeforeInitReturnsOneWithoutPortAccess) {
  auto buffer = Request(9);
  uint32_t length = 9;
  EXPECT_EQ(talvane::OrderModule(buffer.data(), &length), 1);
  EXPECT_TRUE(bus_.log.empty());
}

TEST_F(OrderTest, ModuleGoneDuringTheExchangeReturnsOne) {
  MakeReady(kBase, 128);
  bus_.on_read = [](uint16_t) { return uint8_t{0xFF}; };
  auto buffer = Request(9);
  uint32_t length = 9;
  EXPECT_EQ(talvane::OrderModule(buffer.data(), &length), 1);
  EXPECT_EQ(g_state.ModulePresent, 0);
}

}  // namespace
}  // namespace talvane_test
