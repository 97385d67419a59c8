#include "fake_bus.h"

#include <cstdio>

namespace talvane_test {

namespace {
uint32_t g_now = 0;
}

uint32_t FakeTick() { return g_now++; }
void SetFakeTime(uint32_t ms) { g_now = ms; }

std::string ToString(const std::vector<Access>& log) {
  std::string out;
  char buffer[32];
  for (const Access& a : log) {
    std::snprintf(buffer, sizeof buffer, "%c%03X:%02X ", a.kind, a.port, a.value);
    out += buffer;
  }
  return out;
}

std::vector<uint8_t> RecordingBus::WritesTo(uint16_t port) const {
  std::vector<uint8_t> out;
  for (const Access& a : log) {
    if (a.kind == 'W' && a.port == port) out.push_back(a.value);
  }
  return out;
}

size_t RecordingBus::ReadsOf(uint16_t port) const {
  size_t n = 0;
  for (const Access& a : log) n += (a.kind == 'R' && a.port == port);
  return n;
}

size_t RecordingBus::Writes() const {
  size_t n = 0;
  for (const Access& a : log) n += (a.kind == 'W');
  return n;
}

DriverFixtureBase::DriverFixtureBase() {
  talvane::g_state = {};
  talvane::AttachBus(&bus_);
  talvane::AttachTick(&FakeTick);
  waits_at_start_ = talvane::WaitCount();
}

DriverFixtureBase::~DriverFixtureBase() {
  talvane::AttachBus(nullptr);
  talvane::AttachTick(nullptr);
  talvane::g_state = {};
}

void DriverFixtureBase::MakeReady(uint16_t base, uint32_t agreed) {
  talvane::g_state.IoBase = base;
  talvane::g_state.ModulePresent = 1;
  talvane::g_state.AgreedSize = agreed;
}

}  // namespace talvane_test
