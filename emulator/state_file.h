// The emulated module's state file: plain "key = value" lines with '#' comments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace emulator {

struct ModuleState {
  uint16_t base = 0x340;
  bool present = true;
  uint32_t buffer_size = 1024;
  std::vector<uint8_t> identity;  // the stored record, without its count byte; empty: none
  uint32_t busy_polls = 0;        // host attempts (HC raised) that find FR clear per request
  uint32_t reply_polls = 0;       // status reads showing DA clear before each reply appears
  // Fault injection: the number of the request hit, counted from 1 since the last reset; 0 none.
  uint32_t fault_busy = 0;  // request N finds the module busy for ever
  uint32_t fault_write_error = 0;
  uint32_t fault_no_reply = 0;
  uint32_t fault_refuse_block = 0;
  uint32_t fault_remove = 0;
  uint32_t fault_identity_len1 = 0;
  bool virtual_clock = false;
  std::string image_file;  // empty: PATH.image
  // Written back after a complete image.
  uint64_t image_bytes = 0;
  uint64_t image_blocks = 0;
  uint32_t image_xor = 0;
};

// Parses a state file's text. On error returns nullopt and sets error to "LINE: key 'K': what".
std::optional<ModuleState> ParseState(const std::string& text, std::string* error);

// The text of a new state file with every key at its default, commented.
std::string DefaultStateText();

// Sets keys in the file's text: each existing line of the key is replaced in place, a key not
// yet present is appended; comments and other lines are kept.
std::string UpdateStateText(const std::string& text,
                            const std::vector<std::pair<std::string, std::string>>& values);

// Identity bytes as "01 09 44 ...".
std::string HexBytes(const std::vector<uint8_t>& bytes);

// Writes a whole file so that a crash leaves the old or the new content: temp file, fsync,
// rename. Returns false on any failure, leaving the old file as it was.
bool WriteFileAtomically(const std::string& path, const std::string& content);
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace emulator
