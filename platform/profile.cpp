#include "profile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "file_io.h"

namespace platform {

namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Lines of the file, split at CR LF, CR or LF.
std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  if (!in) return lines;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  std::string current;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

// A section header's name, when the line is one.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
  line = Trim(line);
  return !line.empty() && line.front() == ';';
}

// The key of a key=value line.
std::optional<std::string_view> KeyName(std::string_view line) {
  if (IsComment(line) || SectionName(line)) return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(0, eq));
}

std::string ValueOf(std::string_view line) {
  std::string_view value = Trim(line.substr(line.find('=') + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

struct Location {
  std::optional<size_t> section;  // index of the section's header line
  std::optional<size_t> key;      // index of the key's line
  size_t section_end = 0;         // one past the section's last line that is not blank or a comment
};

Location Find(const std::vector<std::string>& lines, std::string_view section,
              std::string_view key) {
  Location where;
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i]);
    if (!name) continue;
    if (!SameName(*name, section)) continue;
    where.section = i;
    where.section_end = i + 1;
    for (size_t j = i + 1; j < lines.size() && !SectionName(lines[j]); ++j) {
      if (!Trim(lines[j]).empty() && !IsComment(lines[j])) where.section_end = j + 1;
      const auto k = KeyName(lines[j]);
      if (k && !where.key && SameName(*k, key)) where.key = j;
    }
    break;  // the first section of that name wins
  }
  return where;
}

std::optional<std::string> Lookup(const char* section, const char* key, const char* file) {
  if (section == nullptr || key == nullptr || file == nullptr) return std::nullopt;
  const auto lines = ReadLines(ProfilePath(file));
  const Location where = Find(lines, section, key);
  if (!where.key) return std::nullopt;
  return ValueOf(lines[*where.key]);
}

}  // namespace

std::string ProfileDirectory() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] != '\0') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : ".") + "/.config";
  }
  return base + "/brenvik";
}

std::string ProfilePath(const char* file) {
  if (std::strchr(file, '/') != nullptr) return file;
  return ProfileDirectory() + "/" + file;
}

uint32_t GetPrivateProfileString(const char* section, const char* key, const char* default_value,
                                 char* destination, uint32_t size, const char* file) {
  if (destination == nullptr || size == 0) return 0;
  const auto value = Lookup(section, key, file);
  const std::string text = value ? *value : (default_value != nullptr ? default_value : "");
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(destination, text.data(), n);
  destination[n] = '\0';
  return static_cast<uint32_t>(n);
}

int32_t GetPrivateProfileInt(const char* section, const char* key, int32_t default_value,
                             const char* file) {
  const auto value = Lookup(section, key, file);
  if (!value) return default_value;
  size_t i = 0;
  bool negative = false;
  if (i < value->size() && ((*value)[i] == '-' || (*value)[i] == '+')) {
    negative = (*value)[i] == '-';
    ++i;
  }
  // Accumulated in 64 bits and held within the 32-bit range: no overflow however long.
  int64_t magnitude = 0;
  for (; i < value->size() && (*value)[i] >= '0' && (*value)[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + ((*value)[i] - '0');
    if (magnitude > 2147483648LL) magnitude = 2147483648LL;
  }
  const int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(signed_value);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
  if (section == nullptr || key == nullptr || value == nullptr || file == nullptr) return false;
  // A line break inside a name or value would forge lines of its own.
  for (const char* text : {section, key, value}) {
    if (std::strpbrk(text, "\r\n") != nullptr) return false;
  }
  const std::string path = ProfilePath(file);
  if (std::strchr(file, '/') == nullptr) {
    const std::string dir = ProfileDirectory();
    // The profile directory and its parents, created when missing.
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
      const std::string part = dir.substr(0, slash);
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
      if (slash == std::string::npos) break;
    }
  }
  std::vector<std::string> lines = ReadLines(path);
  const Location where = Find(lines, section, key);
  if (where.key) {
    const std::string& line = lines[*where.key];
    const std::string name(Trim(std::string_view(line).substr(0, line.find('='))));
    lines[*where.key] = name + "=" + value;
  } else if (where.section) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(where.section_end),
                 std::string(key) + "=" + value);
  } else {
    lines.push_back(std::string("[") + section + "]");
    lines.push_back(std::string(key) + "=" + value);
  }
  std::string content;
  for (const std::string& line : lines) content += line + "\r\n";
  return ReplaceFileAtomically(path, content);
}

}  // namespace platform
