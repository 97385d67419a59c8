#include "emulator_backend.h"

#include "bus.h"
#include "card.h"

namespace emulator {

namespace {
AdapterCard g_card;
uint32_t VirtualTick() { return g_card.VirtualTickMs(); }
}  // namespace

bool AttachEmulatedAdapter(const char* path) {
  g_card.Open(path);
  talvane::AttachBus(&g_card);
  talvane::AttachTick(g_card.loaded() && g_card.state().virtual_clock ? &VirtualTick : nullptr);
  return g_card.loaded();
}

AdapterCard& AttachedCard() { return g_card; }

}  // namespace emulator
