#include "firmware.h"

namespace emulator {

namespace {

constexpr uint8_t kClass = 0x80;
constexpr uint8_t kInsReadIdentity = 0x60;
constexpr uint8_t kInsWriteIdentity = 0x50;
constexpr uint8_t kInsLoadImage = 0xFF;
constexpr uint8_t kFirstBlock = 0x01;
constexpr uint8_t kFollowingBlock = 0x00;
constexpr uint8_t kLastBlock = 0x02;

std::vector<uint8_t> StatusReply(uint16_t sw) {
  return ReplyFrame({static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw & 0xFF)});
}

}  // namespace

std::vector<uint8_t> ReplyFrame(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> frame;
  frame.reserve(body.size() + 4);
  frame.push_back(0x21);
  frame.push_back(0x00);
  frame.push_back(static_cast<uint8_t>(body.size()));
  for (uint8_t b : body) frame.push_back(b);
  uint8_t lrc = 0;
  for (uint8_t b : frame) lrc ^= b;
  frame.push_back(lrc);
  return frame;
}

void Firmware::Reset(const ModuleState& state) {
  identity_ = state.identity;
  image_.clear();
  image_blocks_ = 0;
  image_open_ = false;
}

std::optional<std::vector<uint8_t>> Firmware::Process(const std::vector<uint8_t>& request,
                                                      uint32_t request_number, uint32_t agreed_size,
                                                      const ModuleState& faults,
                                                      FirmwareEffects* effects) {
  if (faults.fault_no_reply == request_number) return std::nullopt;

  if (request.size() < 4 || request[2] + 4u != request.size()) return StatusReply(kSwWrongLength);
  uint8_t lrc = 0;
  for (size_t i = 0; i + 1 < request.size(); ++i) lrc ^= request[i];
  if (lrc != request.back()) return StatusReply(kSwBadCheck);
  const uint8_t len = request[2];
  if (len < 5) return StatusReply(kSwWrongLength);
  const uint8_t cla = request[3], ins = request[4], p2 = request[6], p3 = request[7];
  const uint8_t* data = request.data() + 8;
  const size_t data_size = len - 5u;
  if (cla != kClass) return StatusReply(kSwBadClass);

  switch (ins) {
    case kInsReadIdentity: {
      if (faults.fault_identity_len1 == request_number) return ReplyFrame({0x6A});
      if (p3 != 0 || data_size != 0) return StatusReply(kSwWrongLength);
      if (identity_.empty()) return StatusReply(kSwNoIdentity);
      std::vector<uint8_t> body;
      body.reserve(identity_.size() + 3);
      body.push_back(static_cast<uint8_t>(identity_.size() + 1));
      for (uint8_t b : identity_) body.push_back(b);
      body.push_back(0x90);
      body.push_back(0x00);
      if (body.size() + 4 > agreed_size) return StatusReply(kSwTooLarge);
      return ReplyFrame(body);
    }
    case kInsWriteIdentity: {
      if (p3 != data_size || data_size < 1 || data[0] != p3) return StatusReply(kSwWrongLength);
      std::vector<uint8_t> record(data + 1, data + data_size);
      if (record != identity_) {
        identity_ = std::move(record);
        effects->identity_changed = true;
      }
      return StatusReply(kSwOk);
    }
    case kInsLoadImage: {
      if (p3 != data_size) return StatusReply(kSwWrongLength);
      if (faults.fault_refuse_block == request_number) return StatusReply(kSwRefused);
      if (p2 == kFirstBlock) {
        image_.assign(data, data + data_size);
        image_blocks_ = 1;
        image_open_ = true;
        return StatusReply(kSwOk);
      }
      if (p2 != kFollowingBlock && p2 != kLastBlock) return StatusReply(kSwWrongLength);
      if (!image_open_) return StatusReply(kSwSequence);
      image_.insert(image_.end(), data, data + data_size);
      ++image_blocks_;
      if (p2 == kLastBlock) {
        image_open_ = false;
        effects->image_complete = true;
      }
      return StatusReply(kSwOk);
    }
    default:
      return StatusReply(kSwBadInstruction);
  }
}

}  // namespace emulator
