#include "state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace emulator {

namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

bool ParseUnsigned(const std::string& value, uint64_t limit, uint64_t* out) {
  if (value.empty()) return false;
  int base = 10;
  const char* begin = value.data();
  const char* end = begin + value.size();
  if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    base = 16;
    begin += 2;
  }
  uint64_t parsed = 0;
  auto [ptr, ec] = std::from_chars(begin, end, parsed, base);
  if (ec != std::errc() || ptr != end || parsed > limit) return false;
  *out = parsed;
  return true;
}

bool ParseHexBytes(const std::string& value, std::vector<uint8_t>* out) {
  out->clear();
  std::istringstream in(value);
  std::string word;
  while (in >> word) {
    if (word.size() != 2) return false;
    uint8_t byte = 0;
    auto [ptr, ec] = std::from_chars(word.data(), word.data() + 2, byte, 16);
    if (ec != std::errc() || ptr != word.data() + 2) return false;
    out->push_back(byte);
  }
  return true;
}

}  // namespace

std::optional<ModuleState> ParseState(const std::string& text, std::string* error) {
  ModuleState state;
  std::istringstream in(text);
  std::string raw;
  int line_number = 0;
  auto fail = [&](const std::string& key, const std::string& what) {
    *error = std::to_string(line_number) + ": key '" + key + "': " + what;
    return std::nullopt;
  };
  while (std::getline(in, raw)) {
    ++line_number;
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) return fail(line, "expected 'key = value'");
    const std::string key = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    // A comment may follow the value.
    if (const auto hash = value.find('#'); hash != std::string::npos) {
      value = Trim(value.substr(0, hash));
    }
    uint64_t number = 0;
    auto count = [&](uint32_t* field) -> bool {
      if (value.empty()) {
        *field = 0;
        return true;
      }
      if (!ParseUnsigned(value, 0xFFFFFFFFu, &number)) return false;
      *field = static_cast<uint32_t>(number);
      return true;
    };
    if (key == "base") {
      if (!ParseUnsigned(value, 0xFFFF, &number) ||
          (number != 0x300 && number != 0x320 && number != 0x340 && number != 0x360 &&
           number != 0x380)) {
        return fail(key, "must be one of 0x300, 0x320, 0x340, 0x360, 0x380");
      }
      state.base = static_cast<uint16_t>(number);
    } else if (key == "present") {
      if (value == "yes") {
        state.present = true;
      } else if (value == "no") {
        state.present = false;
      } else {
        return fail(key, "must be yes or no");
      }
    } else if (key == "buffer_size") {
      if (!ParseUnsigned(value, 0xFFFF, &number)) return fail(key, "must be 0 to 65535");
      state.buffer_size = static_cast<uint32_t>(number);
    } else if (key == "identity") {
      if (!ParseHexBytes(value, &state.identity) || state.identity.size() > 254) {
        return fail(key, "must be up to 254 hex bytes such as '01 09 44 56'");
      }
    } else if (key == "clock") {
      if (value == "real") {
        state.virtual_clock = false;
      } else if (value == "virtual") {
        state.virtual_clock = true;
      } else {
        return fail(key, "must be real or virtual");
      }
    } else if (key == "image_file") {
      state.image_file = value;
    } else if (key == "image_bytes" || key == "image_blocks") {
      if (!ParseUnsigned(value.empty() ? "0" : value, UINT64_MAX, &number)) {
        return fail(key, "must be a number");
      }
      (key == "image_bytes" ? state.image_bytes : state.image_blocks) = number;
    } else if (key == "image_xor") {
      if (!ParseUnsigned(value.empty() ? "0" : value, 255, &number)) {
        return fail(key, "must be 0 to 255");
      }
      state.image_xor = static_cast<uint32_t>(number);
    } else {
      struct Counted {
        const char* name;
        uint32_t* field;
      };
      const Counted counted[] = {
          {"busy_polls", &state.busy_polls},
          {"reply_polls", &state.reply_polls},
          {"fault_busy", &state.fault_busy},
          {"fault_write_error", &state.fault_write_error},
          {"fault_no_reply", &state.fault_no_reply},
          {"fault_refuse_block", &state.fault_refuse_block},
          {"fault_remove", &state.fault_remove},
          {"fault_identity_len1", &state.fault_identity_len1},
      };
      bool known = false;
      for (const Counted& c : counted) {
        if (key == c.name) {
          known = true;
          if (!count(c.field)) return fail(key, "must be a whole number");
        }
      }
      if (!known) return fail(key, "unknown key");
    }
  }
  return state;
}

std::string DefaultStateText() {
  return "# Emulated common-interface module. Edit between two runs to insert another module.\n"
         "base = 0x340\n"
         "present = yes\n"
         "buffer_size = 1024\n"
         "identity =\n"
         "busy_polls = 0\n"
         "reply_polls = 0\n"
         "# Faults: the number of the request hit, counted from 1 after each reset (0: none).\n"
         "fault_busy = 0\n"
         "fault_write_error = 0\n"
         "fault_no_reply = 0\n"
         "fault_refuse_block = 0\n"
         "fault_remove = 0\n"
         "fault_identity_len1 = 0\n"
         "clock = real\n";
}

std::string UpdateStateText(const std::string& text,
                            const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::string> lines;
  {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
  }
  for (const auto& [key, value] : values) {
    bool found = false;
    for (std::string& line : lines) {
      const std::string trimmed = Trim(line);
      if (trimmed.empty() || trimmed[0] == '#') continue;
      const auto eq = trimmed.find('=');
      if (eq == std::string::npos || Trim(trimmed.substr(0, eq)) != key) continue;
      line = key + " = " + value;
      found = true;
    }
    if (!found) lines.push_back(key + " = " + value);
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string out;
  char buffer[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%02X", bytes[i]);
    if (i != 0) out += ' ';
    out += buffer;
  }
  return out;
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace emulator
