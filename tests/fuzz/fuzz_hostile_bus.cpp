// A hostile card: every register read returns the fuzzer's next byte. Init_Module and a series
// of exchanges must never write outside the caller's buffers and must always end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "driver.h"

namespace {

struct HostileBus final : talvane::Bus {
  const uint8_t* data = nullptr;
  size_t size = 0, pos = 0;
  uint8_t Read(uint16_t) override { return pos < size ? data[pos++] : 0xFF; }
  void Write(uint16_t, uint8_t) override {}
};

uint32_t g_now = 0;
uint32_t Tick() { return g_now += 3; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HostileBus bus;
  bus.data = data;
  bus.size = size;
  talvane::g_state = {};
  talvane::AttachBus(&bus);
  talvane::AttachTick(&Tick);
  uint32_t agreed = 0xDEADBEEF;
  const uint8_t init = talvane::InitModule(128, &agreed);
  if (init == 0 && agreed > 128) std::abort();
  for (int i = 0; i < 8; ++i) {
    // Exactly the agreed size (at most 128 bytes), so any overrun is seen.
    const uint32_t capacity = talvane::g_state.AgreedSize;
    auto buffer = std::make_unique<uint8_t[]>(capacity + 1);
    std::memset(buffer.get(), 0x5A, capacity + 1);
    uint32_t length = capacity < 9 ? capacity : 9;
    const uint8_t result = talvane::OrderModule(buffer.get(), &length);
    if (result > 6) std::abort();
    if (result == 0 && length > capacity) std::abort();
    if (buffer[capacity] != 0x5A) std::abort();  // the byte behind the area is untouched
    if (bus.pos >= bus.size) break;
  }
  talvane::AttachBus(nullptr);
  talvane::AttachTick(nullptr);
  return 0;
}
