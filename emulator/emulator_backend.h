#pragma once

namespace emulator {

class AdapterCard;

// Makes the driver use the emulated card described by the state file at path, with the
// emulated clock when the file asks for it. Returns false when the file is unusable (the card
// then reads as absent).
bool AttachEmulatedAdapter(const char* path);

// The card attached last (for benchmarks and tests linked against the core).
AdapterCard& AttachedCard();

}  // namespace emulator
