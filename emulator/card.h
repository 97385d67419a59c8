// The emulated adapter card: four registers at one base, with the module behind them.
// Every other candidate base reads like an empty ISA bus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bus.h"
#include "firmware.h"
#include "state_file.h"

namespace emulator {

class AdapterCard final : public talvane::Bus {
 public:
  // Describes the module by the state file at path (created with defaults when missing) and
  // loads it now; it is loaded again at every reset (RS).
  void Open(const std::string& path);

  uint8_t Read(uint16_t port) override;
  void Write(uint16_t port, uint8_t value) override;

  // True when the last load found a usable state file.
  bool loaded() const { return loaded_; }
  const ModuleState& state() const { return state_; }
  uint64_t port_reads() const { return reads_; }
  uint64_t port_writes() const { return writes_; }
  // The emulated clock: one millisecond passes at each reading.
  uint32_t VirtualTickMs() { return ++virtual_ms_; }

 private:
  enum class Phase { kIdle, kInReset, kAwaitSizeRead, kOfferingSize, kAwaitSizeWrite, kReady };

  void Load();
  void Reset();
  bool Responding() const;  // card at this base with a module present that was not removed
  uint8_t Status();
  bool DataVisible() const { return out_pos_ < out_.size() && reply_delay_ == 0; }
  void BeginWindow(bool size_write);
  void EndWindow();
  void StartBuffer();
  void DataWritten(uint8_t value);
  void DataTaken();
  void Persist(const std::vector<std::pair<std::string, std::string>>& values);
  void SaveImage();

  std::string path_;
  ModuleState state_;
  bool loaded_ = false;
  bool removed_ = false;
  Firmware firmware_;

  Phase phase_ = Phase::kIdle;
  uint8_t command_ = 0;
  uint32_t agreed_ = 0;
  uint32_t requests_ = 0;

  // Host to module: the buffer written inside one HC window.
  bool window_ = false;
  bool window_size_write_ = false;
  bool window_busy_ = false;
  bool write_error_ = false;
  uint32_t announced_ = 0;
  bool size_announced_ = false;
  std::vector<uint8_t> in_;

  // Module to host: the buffer offered with DA.
  std::vector<uint8_t> out_;
  size_t out_pos_ = 0;
  uint32_t reply_delay_ = 0;
  uint32_t busy_left_ = 0;
  bool awaiting_reply_ = false;  // a request is taken and its reply not yet read

  uint8_t size_latch_ls_ = 0;
  uint8_t size_latch_ms_ = 0;
  uint64_t reads_ = 0;
  uint64_t writes_ = 0;
  uint32_t virtual_ms_ = 0;
};

}  // namespace emulator
