#include "driver.h"

#include <ctime>

namespace talvane {

DriverState g_state{};

namespace {

EmptyBus g_empty_bus;
Bus* g_bus = &g_empty_bus;
TickFunction g_tick = &MonotonicTickMs;
uint64_t g_waits = 0;

Bus& bus() { return *g_bus; }

// The guard: only status, size LS and size MS all at 0xFF mean the adapter is gone.
bool AdapterGone() {
  const uint16_t base = g_state.IoBase;
  if (bus().Read(base + kStatusCommand) != 0xFF) return false;
  if (bus().Read(base + kSizeLs) != 0xFF) return false;
  if (bus().Read(base + kSizeMs) != 0xFF) return false;
  g_state.ModulePresent = 0;
  return true;
}

uint8_t WriteCommand() { return WritePort(g_state.IoBase + kStatusCommand, g_state.CommandShadow); }

uint8_t SetCommandBit(uint8_t bit) {
  g_state.CommandShadow = static_cast<uint8_t>(g_state.CommandShadow | bit);
  return WriteCommand();
}

uint8_t ClearCommandBit(uint8_t bit) {
  g_state.CommandShadow = static_cast<uint8_t>(g_state.CommandShadow & ~bit);
  return WriteCommand();
}

uint8_t ReadStatus() {
  if (ReadPort(g_state.IoBase + kStatusCommand, &g_state.StatusShadow) != 0) return kNoModule;
  g_state.StatusShadow &= kStatusMask;
  return kDone;
}

// Receive_Data with an explicit capacity: an announcement larger than the capacity is drained
// from the module, nothing reaches the buffer and the result is kReplyTooLong.
uint8_t ReceiveInto(uint8_t* buffer, uint32_t capacity, uint32_t* length) {
  if (!g_state.ModulePresent) return kNoModule;
  if (ReadStatus() != kDone) return kNoModule;
  if ((g_state.StatusShadow & kStatusDA) == 0) return kNoData;
  const uint16_t base = g_state.IoBase;
  if (ReadPort(base + kSizeLs, &g_state.SizeLsShadow) != 0) return kNoModule;
  if (ReadPort(base + kSizeMs, &g_state.SizeMsShadow) != 0) return kNoModule;
  const uint32_t n = static_cast<uint32_t>(g_state.SizeMsShadow) * 256u + g_state.SizeLsShadow;
  const bool fits = n <= capacity;
  if (fits) *length = n;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t byte = bus().Read(base + kData);
    if (fits) buffer[i] = byte;
  }
  if (ReadPort(base + kStatusCommand, &g_state.StatusShadow) != 0) return kNoModule;
  return fits ? kDone : kReplyTooLong;
}

// One polling phase of the reset: an attempt answering kNoModule fails at once; otherwise a
// wait follows every attempt before its result is looked at, and the thousandth attempt is
// never looked at.
template <typename Attempt>
bool PollPhase(Attempt attempt, uint8_t not_yet, uint8_t* final_result) {
  uint32_t count = 0;
  for (;;) {
    const uint8_t result = attempt();
    if (result == kNoModule) return false;
    Wait10ms();
    if (++count >= kAttempts) return false;
    if (result != not_yet) {
      *final_result = result;
      return true;
    }
  }
}

}  // namespace

uint32_t MonotonicTickMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void AttachBus(Bus* b) { g_bus = b != nullptr ? b : &g_empty_bus; }
void AttachTick(TickFunction tick) { g_tick = tick != nullptr ? tick : &MonotonicTickMs; }
uint64_t WaitCount() { return g_waits; }

void Wait10ms() {
  ++g_waits;
  const uint32_t start = g_tick();
  // Unsigned difference: a wrap of the counter inside the wait costs nothing extra.
  while (static_cast<uint32_t>(g_tick() - start) < kWaitMs) {
  }
}

uint8_t WritePort(uint16_t port, uint8_t value) {
  if (AdapterGone()) return 1;
  bus().Write(port, value);
  return 0;
}

uint8_t ReadPort(uint16_t port, uint8_t* destination) {
  if (AdapterGone()) return 1;
  *destination = bus().Read(port);
  return 0;
}

uint8_t SendData(const uint8_t* data, uint32_t length) {
  if (!g_state.ModulePresent) return kNoModule;
  if (SetCommandBit(kCommandHC) != 0) return kNoModule;
  if (ReadStatus() != kDone) return kNoModule;
  if ((g_state.StatusShadow & kStatusFR) == 0) {
    return ClearCommandBit(kCommandHC) != 0 ? kNoModule : kNotFree;
  }
  const uint16_t base = g_state.IoBase;
  if (WritePort(base + kSizeLs, static_cast<uint8_t>(length & 0xFF)) != 0) return kNoModule;
  if (WritePort(base + kSizeMs, static_cast<uint8_t>((length >> 8) & 0xFF)) != 0) return kNoModule;
  for (uint32_t i = 0; i < length; ++i) {
    if (WritePort(base + kData, data[i]) != 0) return kNoModule;
  }
  if (ReadStatus() != kDone) return kNoModule;
  const bool write_error = (g_state.StatusShadow & kStatusWE) != 0;
  if (ClearCommandBit(kCommandHC) != 0) return kNoModule;
  return write_error ? kWriteError : kDone;
}

uint8_t ReceiveData(uint8_t* buffer, uint32_t* length) {
  return ReceiveInto(buffer, g_state.AgreedSize, length);
}

uint8_t InitModule(uint32_t max_size, uint32_t* agreed_size) {
  g_state.ModulePresent = 1;
  uint16_t accepted = 0;
  for (const uint16_t base : kCandidateBases) {
    g_state.SizeLsShadow = bus().Read(base + kSizeLs);
    g_state.SizeMsShadow = bus().Read(base + kSizeMs) & kProbeMask;
    g_state.StatusShadow = bus().Read(base + kStatusCommand);
    if (g_state.SizeMsShadow == 0) {
      accepted = base;
      break;
    }
  }
  if (accepted == 0) {
    g_state.ModulePresent = 0;
    return kNoModule;
  }
  g_state.IoBase = accepted;
  if (ResetModule(max_size, agreed_size) != kDone) {
    g_state.ModulePresent = 0;
    return kNoModule;
  }
  return kDone;
}

uint8_t ResetModule(uint32_t max_size, uint32_t* agreed_size) {
  // No adapter was ever found: there is no port of ours to touch.
  if (g_state.IoBase == 0) return kNoModule;

  // Reset phase.
  if (SetCommandBit(kCommandRS) != 0) return kResetFailed;
  if (ClearCommandBit(kCommandRS) != 0) return kResetFailed;
  if (SetCommandBit(kCommandSR) != 0) return kResetFailed;

  // Size-read phase. The reply area holds exactly the two size bytes.
  uint8_t reply[kSizeReplyBytes] = {0, 0};
  uint32_t reply_length = 0;
  uint8_t result = 0;
  if (!PollPhase([&] { return ReceiveInto(reply, kSizeReplyBytes, &reply_length); }, kNoData,
                 &result)) {
    return kResetFailed;
  }
  if (result != kDone || reply_length != kSizeReplyBytes) return kResetFailed;
  const uint32_t offered = static_cast<uint32_t>(reply[0]) * 256u + reply[1];
  if (offered > max_size) {
    reply[0] = static_cast<uint8_t>((max_size >> 8) & 0xFF);
    reply[1] = static_cast<uint8_t>(max_size & 0xFF);
    *agreed_size = max_size;
  } else {
    *agreed_size = offered;
  }
  g_state.AgreedSize = *agreed_size;

  // Size-write phase: the size goes out while SW and HC are both set.
  if (ClearCommandBit(kCommandSR) != 0) return kNoModule;
  if (SetCommandBit(kCommandSW) != 0) return kNoModule;
  if (!PollPhase([&] { return SendData(reply, kSizeReplyBytes); }, kNotFree, &result)) {
    return kResetFailed;
  }
  // A write error reported for the size write does not fail the reset.
  if (ClearCommandBit(kCommandSW) != 0) return kNoModule;

  // Ready-wait phase.
  if (!PollPhase(
          [] {
            if (ReadStatus() != kDone) return kNoModule;
            return (g_state.StatusShadow & kStatusFR) != 0 ? kDone : kNotFree;
          },
          kNotFree, &result)) {
    return kResetFailed;
  }
  return kDone;
}

uint8_t OrderModule(uint8_t* buffer, uint32_t* length) {
  uint32_t count = 0;
  for (;;) {
    const uint8_t result = SendData(buffer, *length);
    if (result == kNoModule || result == kWriteError) return result;
    if (result == kDone) break;
    Wait10ms();
    if (++count >= kAttempts) return kWriteError;
  }
  count = 0;
  for (;;) {
    const uint8_t result = ReceiveData(buffer, length);
    if (result != kNoData) return result;
    Wait10ms();
    if (++count >= kAttempts) return kWriteError;
  }
}

}  // namespace talvane
