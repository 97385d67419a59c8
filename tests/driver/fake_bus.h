// A recording bus and a fake clock for the driver's tests: every port access is logged in
// order, reads are answered by the test's own function, and time costs nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver.h"

namespace talvane_test {

struct Access {
  char kind;  // 'R' or 'W'
  uint16_t port;
  uint8_t value;
  bool operator==(const Access&) const = default;
};

std::string ToString(const std::vector<Access>& log);

class RecordingBus final : public talvane::Bus {
 public:
  std::function<uint8_t(uint16_t)> on_read = [](uint16_t) { return uint8_t{0xFF}; };
  std::function<void(uint16_t, uint8_t)> on_write = [](uint16_t, uint8_t) {};
  std::vector<Access> log;

  uint8_t Read(uint16_t port) override {
    const uint8_t v = on_read(port);
    log.push_back({'R', port, v});
    return v;
  }
  void Write(uint16_t port, uint8_t value) override {
    log.push_back({'W', port, value});
    on_write(port, value);
  }
  // Writes to one port, in order.
  std::vector<uint8_t> WritesTo(uint16_t port) const;
  size_t ReadsOf(uint16_t port) const;
  size_t Writes() const;
};

// Advances one millisecond at every reading.
uint32_t FakeTick();
void SetFakeTime(uint32_t ms);

// Attaches a fresh bus and the fake clock, and zeroes the driver state.
class DriverFixtureBase {
 protected:
  DriverFixtureBase();
  ~DriverFixtureBase();
  // The driver as a successful Init_Module leaves it, at base.
  void MakeReady(uint16_t base = 0x340, uint32_t agreed = 128);
  RecordingBus bus_;
  uint64_t waits_at_start_;
  uint64_t Waits() const { return talvane::WaitCount() - waits_at_start_; }
};

}  // namespace talvane_test
