// The module's firmware: reads each request as a block (NAD, PCB, LEN, body, LRC) and answers
// read identity, write identity and load image block.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "state_file.h"

namespace emulator {

// Status words the firmware answers with.
inline constexpr uint16_t kSwOk = 0x9000;
inline constexpr uint16_t kSwWrongLength = 0x6700;  // LEN does not match the block, bad P3
inline constexpr uint16_t kSwBadCheck = 0x6A80;     // the check byte does not match
inline constexpr uint16_t kSwNoIdentity = 0x6A82;   // read identity: nothing stored
inline constexpr uint16_t kSwTooLarge = 0x6A84;     // the answer would not fit the buffer
inline constexpr uint16_t kSwSequence = 0x6985;     // image block out of order
inline constexpr uint16_t kSwRefused = 0x6581;      // image block refused (injected fault)
inline constexpr uint16_t kSwBadInstruction = 0x6D00;
inline constexpr uint16_t kSwBadClass = 0x6E00;

// What processing one request did besides answering it.
struct FirmwareEffects {
  bool identity_changed = false;
  bool image_complete = false;
};

class Firmware {
 public:
  // Forgets the image under assembly and takes the stored identity from the state.
  void Reset(const ModuleState& state);

  // Answers request number `request` (counted from 1 since the reset). No value: no answer.
  std::optional<std::vector<uint8_t>> Process(const std::vector<uint8_t>& request,
                                              uint32_t request_number, uint32_t agreed_size,
                                              const ModuleState& faults, FirmwareEffects* effects);

  const std::vector<uint8_t>& identity() const { return identity_; }
  const std::vector<uint8_t>& image() const { return image_; }
  uint64_t image_blocks() const { return image_blocks_; }

 private:
  std::vector<uint8_t> identity_;
  std::vector<uint8_t> image_;
  uint64_t image_blocks_ = 0;
  bool image_open_ = false;
};

// A reply block: NAD 0x21, PCB 0x00, LEN, body, LRC.
std::vector<uint8_t> ReplyFrame(const std::vector<uint8_t>& body);

}  // namespace emulator
