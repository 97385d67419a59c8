// The driver's core: register map, process-wide state, guarded access, transfers, probe,
// reset and exchange. The shared library's exports forward here; tests call it directly
// with a fake bus and a fake tick.
#pragma once

#include <cstdint>

#include "bus.h"

namespace talvane {

// Register offsets from IoBase.
enum Register : uint16_t { kData = 0, kStatusCommand = 1, kSizeLs = 2, kSizeMs = 3 };

// Status bits, and the mask that keeps only them.
inline constexpr uint8_t kStatusDA = 0x80;
inline constexpr uint8_t kStatusFR = 0x40;
inline constexpr uint8_t kStatusWE = 0x02;
inline constexpr uint8_t kStatusRE = 0x01;
inline constexpr uint8_t kStatusMask = 0xC3;

// Command bits.
inline constexpr uint8_t kCommandRS = 0x08;
inline constexpr uint8_t kCommandSR = 0x04;
inline constexpr uint8_t kCommandSW = 0x02;
inline constexpr uint8_t kCommandHC = 0x01;

inline constexpr uint16_t kCandidateBases[] = {0x300, 0x320, 0x340, 0x360, 0x380};
inline constexpr uint8_t kProbeMask = 0x07;
inline constexpr uint32_t kWaitMs = 10;
inline constexpr uint32_t kAttempts = 1000;
// The size reply of a reset is exactly two bytes, high byte first.
inline constexpr uint32_t kSizeReplyBytes = 2;

enum Result : uint8_t {
  kDone = 0,
  kNoModule = 1,
  kNotFree = 2,
  kNoData = 3,
  kWriteError = 4,
  kResetFailed = 5,
  kReplyTooLong = 6,
};

// One instance per process, zero when the library is loaded.
struct DriverState {
  uint16_t IoBase;
  uint8_t ModulePresent;
  uint8_t CommandShadow;
  uint8_t StatusShadow;
  uint8_t SizeLsShadow;
  uint8_t SizeMsShadow;
  // The buffer size agreed at the last reset: the capacity that Receive_Data fills.
  uint32_t AgreedSize;
};

extern DriverState g_state;

// How many 10 ms waits the driver has made since the process started (for the benchmarks).
uint64_t WaitCount();

uint8_t WritePort(uint16_t port, uint8_t value);
uint8_t ReadPort(uint16_t port, uint8_t* destination);

uint8_t SendData(const uint8_t* data, uint32_t length);
uint8_t ReceiveData(uint8_t* buffer, uint32_t* length);
uint8_t InitModule(uint32_t max_size, uint32_t* agreed_size);
uint8_t ResetModule(uint32_t max_size, uint32_t* agreed_size);
uint8_t OrderModule(uint8_t* buffer, uint32_t* length);

// The busy wait: returns once the tick has advanced by at least 10, wrap included.
void Wait10ms();

}  // namespace talvane
