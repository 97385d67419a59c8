#pragma once

#include "bus.h"

namespace talvane {

// Real port I/O on the ISA bus. Attach() asks for the right to ports 0x300-0x383 only; when it
// is refused the bus reads like an empty ISA bus and one line on standard error says why.
class HardwareBus final : public Bus {
 public:
  // Returns false (and the bus stays empty) when the port right is refused.
  bool Acquire();
  uint8_t Read(uint16_t port) override;
  void Write(uint16_t port, uint8_t value) override;

 private:
  bool granted_ = false;
  bool reported_ = false;
};

}  // namespace talvane
