#include "card.h"

#include <cstdio>

#include "driver.h"

namespace emulator {

using talvane::kCommandHC;
using talvane::kCommandRS;
using talvane::kCommandSR;
using talvane::kCommandSW;

void AdapterCard::Open(const std::string& path) {
  path_ = path;
  removed_ = false;
  Load();
}

void AdapterCard::Load() {
  auto text = ReadWholeFile(path_);
  if (!text) {
    const std::string defaults = DefaultStateText();
    if (!WriteFileAtomically(path_, defaults)) {
      std::fprintf(stderr, "emulator: %s: cannot create the state file; the adapter is absent\n",
                   path_.c_str());
      loaded_ = false;
      return;
    }
    text = defaults;
  }
  std::string error;
  auto parsed = ParseState(*text, &error);
  if (!parsed) {
    std::fprintf(stderr, "emulator: %s:%s; the adapter is absent\n", path_.c_str(), error.c_str());
    loaded_ = false;
    return;
  }
  state_ = *parsed;
  loaded_ = true;
}

bool AdapterCard::Responding() const { return loaded_ && state_.present && !removed_; }

void AdapterCard::Reset() {
  Load();
  removed_ = false;
  firmware_.Reset(state_);
  phase_ = Phase::kInReset;
  agreed_ = 0;
  requests_ = 0;
  window_ = false;
  write_error_ = false;
  in_.clear();
  out_.clear();
  out_pos_ = 0;
  reply_delay_ = 0;
  busy_left_ = 0;
  awaiting_reply_ = false;
}

uint8_t AdapterCard::Status() {
  uint8_t status = 0;
  if (out_pos_ < out_.size()) {
    if (reply_delay_ > 0) {
      --reply_delay_;
    } else {
      status |= talvane::kStatusDA;
    }
  }
  bool free = false;
  if (window_) {
    free = !window_busy_ && (phase_ == Phase::kReady || phase_ == Phase::kAwaitSizeWrite);
  } else {
    free = (phase_ == Phase::kReady && !awaiting_reply_) || phase_ == Phase::kAwaitSizeWrite;
  }
  if (free) status |= talvane::kStatusFR;
  if (write_error_) status |= talvane::kStatusWE;
  return status;
}

uint8_t AdapterCard::Read(uint16_t port) {
  ++reads_;
  if (!loaded_ || port < state_.base || port > state_.base + 3) return 0xFF;
  if (!Responding()) return 0xFF;
  switch (port - state_.base) {
    case talvane::kData: {
      if (!DataVisible()) return 0x00;
      const uint8_t byte = out_[out_pos_++];
      if (out_pos_ == out_.size()) DataTaken();
      return byte;
    }
    case talvane::kStatusCommand:
      return Status();
    case talvane::kSizeLs:
      return DataVisible() ? static_cast<uint8_t>(out_.size() & 0xFF) : 0;
    default:
      return DataVisible() ? static_cast<uint8_t>((out_.size() >> 8) & 0xFF) : 0;
  }
}

void AdapterCard::Write(uint16_t port, uint8_t value) {
  ++writes_;
  if (!loaded_ || port < state_.base || port > state_.base + 3) return;
  if (!Responding()) return;
  switch (port - state_.base) {
    case talvane::kData:
      DataWritten(value);
      return;
    case talvane::kSizeLs:
      // A buffer begins with its size, also when HC was left raised by an interrupted one.
      size_latch_ls_ = value;
      if (window_) StartBuffer();
      announced_ = static_cast<uint32_t>(size_latch_ms_) * 256u + size_latch_ls_;
      return;
    case talvane::kSizeMs:
      size_latch_ms_ = value;
      if (window_) size_announced_ = true;
      announced_ = static_cast<uint32_t>(size_latch_ms_) * 256u + size_latch_ls_;
      return;
    default:
      break;
  }
  // The command register.
  const uint8_t previous = command_;
  command_ = value;
  if (value & kCommandRS) {
    Reset();
    window_ = (value & kCommandHC) != 0;
    window_size_write_ = (value & kCommandSW) != 0;
    return;
  }
  if (phase_ == Phase::kInReset) phase_ = Phase::kAwaitSizeRead;
  if (phase_ == Phase::kAwaitSizeRead && (value & kCommandSR)) {
    const uint32_t size = state_.buffer_size;
    out_ = {static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size & 0xFF)};
    out_pos_ = 0;
    reply_delay_ = 0;
    phase_ = Phase::kOfferingSize;
  }
  const bool hc_before = previous & kCommandHC;
  const bool hc_now = value & kCommandHC;
  if (!hc_before && hc_now) BeginWindow((value & kCommandSW) != 0);
  if (hc_before && !hc_now) EndWindow();
}

void AdapterCard::BeginWindow(bool size_write) {
  window_ = true;
  window_size_write_ = size_write;
  size_announced_ = false;
  write_error_ = false;
  in_.clear();
  window_busy_ = false;
  if (!size_write && phase_ == Phase::kReady && !awaiting_reply_) {
    if (state_.fault_remove == requests_ + 1) {
      removed_ = true;
      return;
    }
    if (state_.fault_busy == requests_ + 1) {
      window_busy_ = true;
    } else if (busy_left_ > 0) {
      --busy_left_;
      window_busy_ = true;
    }
  }
}

void AdapterCard::StartBuffer() {
  in_.clear();
  write_error_ = false;
  size_announced_ = true;
  window_size_write_ = (command_ & kCommandSW) != 0;
}

void AdapterCard::DataWritten(uint8_t value) {
  if (!window_ || window_busy_) {
    write_error_ = true;
    return;
  }
  in_.push_back(value);
  if (window_size_write_) {
    if (!size_announced_ || in_.size() > announced_ || announced_ != 2) write_error_ = true;
    return;
  }
  // A request longer than the agreed buffer size, or more bytes than announced, is refused.
  if (!size_announced_ || in_.size() > announced_ || announced_ > agreed_) write_error_ = true;
  if (in_.size() == announced_ && state_.fault_write_error == requests_ + 1) write_error_ = true;
}

void AdapterCard::EndWindow() {
  window_ = false;
  if (window_size_write_) {
    if (phase_ == Phase::kAwaitSizeWrite && !write_error_ && in_.size() == 2) {
      agreed_ = static_cast<uint32_t>(in_[0]) * 256u + in_[1];
      phase_ = Phase::kReady;
      busy_left_ = state_.busy_polls;
    }
    return;
  }
  if (phase_ != Phase::kReady || window_busy_ || awaiting_reply_ || !size_announced_) return;
  ++requests_;
  if (write_error_ || in_.size() != announced_) return;  // refused: no answer comes
  FirmwareEffects effects;
  auto reply = firmware_.Process(in_, requests_, agreed_, state_, &effects);
  if (effects.identity_changed) Persist({{"identity", HexBytes(firmware_.identity())}});
  if (effects.image_complete) SaveImage();
  awaiting_reply_ = true;
  if (reply) {
    out_ = std::move(*reply);
    out_pos_ = 0;
    reply_delay_ = state_.reply_polls;
  }
}

void AdapterCard::DataTaken() {
  out_.clear();
  out_pos_ = 0;
  if (phase_ == Phase::kOfferingSize) {
    phase_ = Phase::kAwaitSizeWrite;
    return;
  }
  awaiting_reply_ = false;
  busy_left_ = state_.busy_polls;
}

void AdapterCard::Persist(const std::vector<std::pair<std::string, std::string>>& values) {
  const std::string current = ReadWholeFile(path_).value_or(DefaultStateText());
  if (!WriteFileAtomically(path_, UpdateStateText(current, values))) {
    std::fprintf(stderr, "emulator: %s: cannot write the state file back\n", path_.c_str());
  }
}

void AdapterCard::SaveImage() {
  const std::string image_path = state_.image_file.empty() ? path_ + ".image" : state_.image_file;
  const auto& image = firmware_.image();
  if (!WriteFileAtomically(image_path, std::string(image.begin(), image.end()))) {
    std::fprintf(stderr, "emulator: %s: cannot save the image\n", image_path.c_str());
    return;
  }
  uint32_t x = 0;
  for (uint8_t b : image) x ^= b;
  Persist({{"image_file", image_path},
           {"image_bytes", std::to_string(image.size())},
           {"image_blocks", std::to_string(firmware_.image_blocks())},
           {"image_xor", std::to_string(x)}});
}

}  // namespace emulator
