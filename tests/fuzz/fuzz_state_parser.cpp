// The emulated module's state file parser on any text: never a crash; a file it accepts keeps
// its values through a write-back of the identity.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "state_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto state = emulator::ParseState(text, &error);
  if (!state) {
    if (error.empty()) std::abort();
    return 0;
  }
  const std::vector<uint8_t> identity{0x01, 0x02, 'D', 'V'};
  const std::string updated =
      emulator::UpdateStateText(text, {{"identity", emulator::HexBytes(identity)}});
  const auto again = emulator::ParseState(updated, &error);
  if (!again) std::abort();
  if (again->identity != identity || again->base != state->base ||
      again->buffer_size != state->buffer_size || again->present != state->present ||
      again->fault_write_error != state->fault_write_error) {
    std::abort();
  }
  return 0;
}
