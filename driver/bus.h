// The driver's two seams to its platform: one bus for byte-wide port access and one
// millisecond tick. Backends (real ports, the emulated card, test fakes) plug in here.
#pragma once

#include <cstdint>

namespace talvane {

class Bus {
 public:
  virtual ~Bus() = default;
  virtual uint8_t Read(uint16_t port) = 0;
  virtual void Write(uint16_t port, uint8_t value) = 0;
};

// An ISA bus with nothing on it: every read floats to 0xFF, writes go nowhere.
class EmptyBus final : public Bus {
 public:
  uint8_t Read(uint16_t) override { return 0xFF; }
  void Write(uint16_t, uint8_t) override {}
};

// Unsigned 32-bit milliseconds that wrap to 0.
using TickFunction = uint32_t (*)();

uint32_t MonotonicTickMs();

// Attaches the bus and the tick the driver uses from now on. nullptr restores the defaults
// (the empty bus, the monotonic clock).
void AttachBus(Bus* bus);
void AttachTick(TickFunction tick);

}  // namespace talvane
