#include "adapter_select.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../emulator/emulator_backend.h"
#include "bus.h"
#include "hardware_bus.h"

namespace talvane {

namespace {

HardwareBus g_hardware;

bool AttachHardware(const char*) {
  const bool granted = g_hardware.Acquire();
  AttachBus(granted ? &g_hardware : nullptr);
  AttachTick(nullptr);
  return granted;
}

bool AttachEmulator(const char* argument) { return emulator::AttachEmulatedAdapter(argument); }

// The adapter backends, by the prefix of TALVANE_ADAPTER that selects them. A backend that
// ends in ':' takes the rest of the value as its argument.
struct Backend {
  const char* prefix;
  bool (*attach)(const char* argument);
};

constexpr Backend kBackends[] = {
    {"hardware", &AttachHardware},
    {"emulator:", &AttachEmulator},
};

char g_last_unknown[128] = "";

}  // namespace

void SelectAdapterFromEnvironment() {
  const char* value = std::getenv("TALVANE_ADAPTER");
  if (value == nullptr || value[0] == '\0') value = "hardware";
  for (const Backend& backend : kBackends) {
    const size_t n = std::strlen(backend.prefix);
    const bool takes_argument = backend.prefix[n - 1] == ':';
    if (takes_argument ? std::strncmp(value, backend.prefix, n) == 0
                       : std::strcmp(value, backend.prefix) == 0) {
      backend.attach(value + n);
      return;
    }
  }
  AttachBus(nullptr);
  AttachTick(nullptr);
  // One line per value, not one per run.
  if (std::strncmp(g_last_unknown, value, sizeof g_last_unknown - 1) != 0) {
    std::fprintf(stderr,
                 "talvane: unknown TALVANE_ADAPTER value '%s'; use 'hardware' or "
                 "'emulator:PATH' (the adapter now reads as absent)\n",
                 value);
    std::snprintf(g_last_unknown, sizeof g_last_unknown, "%s", value);
  }
}

}  // namespace talvane
