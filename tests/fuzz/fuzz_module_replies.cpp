// Module replies from the fuzzer: into ReadIdentity and the module's own serial, and into the
// download's reply check on the real window (offscreen). Input: replies, each a length byte
// followed by that many bytes; a length byte of 0xFF is a failed exchange.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "BrenvikMain.h"
#include "Testprod.h"
#include "messages.h"
#include "vcl.h"

namespace {

const uint8_t* g_data;
size_t g_size, g_pos;
bool g_all_acknowledged;

uint8_t Reply(uint8_t* frame, uint32_t* length) {
  if (g_pos >= g_size) return 4;
  const uint8_t n = g_data[g_pos++];
  if (n == 0xFF) {
    g_all_acknowledged = false;
    return 4;
  }
  const size_t take = n < g_size - g_pos ? n : g_size - g_pos;
  std::memcpy(frame, g_data + g_pos, take);
  g_pos += take;
  *length = static_cast<uint32_t>(take);
  if (!(take >= 5 && frame[3] == 0x90 && frame[4] == 0x00)) g_all_acknowledged = false;
  return 0;
}

void Feed(const uint8_t* data, size_t size) {
  g_data = data;
  g_size = size;
  g_pos = 0;
  g_all_acknowledged = true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const auto dir =
      std::filesystem::temp_directory_path() / ("brenvik-fuzz-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "config" / "brenvik");
  std::filesystem::current_path(dir);
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  std::string image(300, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i);
  unsigned x = 0;
  for (unsigned char c : image) x ^= c;
  std::ofstream("fw.bin", std::ios::binary) << image;
  std::ofstream(dir / "config" / "brenvik" / "osm106.ini")
      << "[SECTION]\nBinary=fw.bin\nChecksumBin=" << x << "\n";
  platform::SetMessageBoxHandler([](const platform::MessageBoxRequest&) { return 1; });
  // Lives until the process ends: the window toolkit tears itself down at exit.
  auto* application = new vcl::TApplication(*argc, *argv);
  application->Initialize();
  application->CreateForm(Form1);
  testprod::OrderModuleHook = &Reply;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Feed(data, size);
  auto area = std::make_unique<uint8_t[]>(kIdentityArea);  // exactly 40 bytes
  std::memset(area.get(), 0, kIdentityArea);
  const int read = testprod::ReadIdentity(area.get(), kIdentityArea);
  if (read < -1 || read > static_cast<int>(kIdentityArea) - 1) std::abort();
  if (area[kIdentityArea - 1] != 0) std::abort();  // a zero byte always stays behind
  const std::string own = OwnSerial(area.get(), kIdentityArea);
  if (own.size() > kIdentityArea - 3) std::abort();

  // The rest of the input answers the image blocks of a 300-byte image (three blocks).
  Feed(data + g_pos, size - g_pos);
  const int result = Form1->DownloadImage();
  if (result != kImageLoaded && result != kImageFailed) std::abort();
  if (result == kImageLoaded && !g_all_acknowledged) std::abort();
  return 0;
}
