// Settings files of any content: reads never fail, and a write followed by a read of the same
// key gives the value back while other keys keep theirs.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "profile.h"

namespace {

std::filesystem::path g_file;

// A name from the fuzzer: 1 to 6 characters of a small alphabet, case mixed.
std::string Name(const uint8_t*& p, const uint8_t* end) {
  static const char kAlphabet[] = "abAB_1";
  std::string name;
  const size_t n = p < end ? 1 + *p++ % 6 : 1;
  for (size_t i = 0; i < n; ++i) name += kAlphabet[(p < end ? *p++ : 0) % 6];
  return name;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string Read(const std::string& section, const std::string& key) {
  char buffer[512];
  platform::GetPrivateProfileString(section.c_str(), key.c_str(), "\x01missing", buffer,
                                    sizeof buffer, g_file.c_str());
  return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_file.empty()) {
    g_file = std::filesystem::temp_directory_path() /
             ("brenvik-fuzz-profile-" + std::to_string(getpid()) + ".ini");
  }
  // The first 24 bytes choose the names and the value; the rest is the file.
  const uint8_t* p = data;
  const uint8_t* header_end = data + (size < 24 ? size : 24);
  const std::string section = Name(p, header_end), key = Name(p, header_end);
  std::string others[3][2];
  for (auto& other : others) {
    other[0] = Name(p, header_end);
    other[1] = Name(p, header_end);
  }
  std::string value;
  while (p < header_end) {
    const char c = static_cast<char>(' ' + 1 + *p++ % 94);  // printable, no blank
    if (c != '"' && c != '\'') value += c;
  }
  std::ofstream(g_file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(header_end),
             static_cast<std::streamsize>(data + size - header_end));

  std::string before[3];
  for (int i = 0; i < 3; ++i) before[i] = Read(others[i][0], others[i][1]);
  platform::GetPrivateProfileInt(section.c_str(), key.c_str(), 7, g_file.c_str());

  if (!platform::WritePrivateProfileString(section.c_str(), key.c_str(), value.c_str(),
                                           g_file.c_str())) {
    std::abort();
  }
  if (Read(section, key) != value) std::abort();
  for (int i = 0; i < 3; ++i) {
    if (SameName(others[i][0], section) && SameName(others[i][1], key)) continue;
    if (Read(others[i][0], others[i][1]) != before[i]) std::abort();
  }
  return 0;
}
