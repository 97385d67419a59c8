// Figures of the driver and the emulated module: port accesses, 10 ms waits and wall time of
// one full-block exchange and of a clean reset (driver core on the in-memory card), then a
// whole customization-sized sequence through the shipped libtalvane.so.
//
//   build/default/bin/talvane_bench
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "card.h"
#include "driver.h"
#include "emulator_backend.h"

namespace {

using Clock = std::chrono::steady_clock;
using Order = uint8_t (*)(uint8_t*, uint32_t*);
using Init = uint8_t (*)(uint32_t, uint32_t*);

std::vector<uint8_t> Block(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> f{0x12, 0x01, static_cast<uint8_t>(body.size())};
  f.insert(f.end(), body.begin(), body.end());
  uint8_t lrc = 0;
  for (uint8_t b : f) lrc ^= b;
  f.push_back(lrc);
  return f;
}

std::vector<uint8_t> ImageBlock(uint8_t position, const uint8_t* data, size_t n) {
  std::vector<uint8_t> body{0x80, 0xFF, 0x00, position, static_cast<uint8_t>(n)};
  body.insert(body.end(), data, data + n);
  return Block(body);
}

bool Exchange(Order order, const std::vector<uint8_t>& request) {
  uint8_t buffer[512] = {};
  std::copy(request.begin(), request.end(), buffer);
  uint32_t length = static_cast<uint32_t>(request.size());
  return order(buffer, &length) == 0 && buffer[3] == 0x90;
}

// Reset, read identity, write identity, then the image in 119-byte blocks.
bool Customize(Init init, Order order, const std::vector<uint8_t>& image,
               Clock::time_point* after_reset) {
  uint32_t agreed = 0;
  if (init(128, &agreed) != 0 || agreed != 128) return false;
  *after_reset = Clock::now();
  Exchange(order, Block({0x80, 0x60, 0, 0, 0}));
  const std::vector<uint8_t> record{0x01, 0x09, 'D', 'V', '1', '2', '9', '9', '2', '5', '7'};
  std::vector<uint8_t> body{0x80, 0x50, 0, 0, 12, 12};
  body.insert(body.end(), record.begin(), record.end());
  if (!Exchange(order, Block(body))) return false;
  size_t pos = 0;
  if (!Exchange(order, ImageBlock(0x01, image.data(), 119))) return false;
  pos = 119;
  while (image.size() - pos >= 119) {
    if (!Exchange(order, ImageBlock(0x00, image.data() + pos, 119))) return false;
    pos += 119;
  }
  return Exchange(order, ImageBlock(0x02, image.data() + pos, image.size() - pos));
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("talvane-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string state = (dir / "module.state").string();
  std::ofstream(state) << "base = 0x340\nbuffer_size = 1024\n";

  // 1. The driver core on the in-memory card.
  emulator::AttachEmulatedAdapter(state.c_str());
  emulator::AdapterCard& card = emulator::AttachedCard();
  auto accesses = [&] { return card.port_reads() + card.port_writes(); };
  uint32_t agreed = 0;
  uint64_t a0 = accesses(), w0 = talvane::WaitCount();
  auto t0 = Clock::now();
  talvane::InitModule(128, &agreed);
  auto reset_time = Clock::now() - t0;
  std::printf("clean reset:            %llu port accesses, %llu waits of 10 ms, %.2f ms\n",
              static_cast<unsigned long long>(accesses() - a0),
              static_cast<unsigned long long>(talvane::WaitCount() - w0), Ms(reset_time));

  std::vector<uint8_t> data(119, 0x5A);
  const auto block = ImageBlock(0x01, data.data(), 119);  // 128 bytes; the reply is 6 bytes
  a0 = accesses();
  w0 = talvane::WaitCount();
  Exchange(&talvane::OrderModule, block);
  const uint64_t per_block = accesses() - a0;
  const uint64_t block_waits = talvane::WaitCount() - w0;
  constexpr int kRepeats = 20000;
  t0 = Clock::now();
  for (int i = 0; i < kRepeats; ++i) Exchange(&talvane::OrderModule, block);
  const double block_us = Ms(Clock::now() - t0) * 1000.0 / kRepeats;
  std::printf(
      "full-block exchange:    %llu port accesses (128-byte request, 6-byte reply), "
      "%llu waits, %.2f us\n",
      static_cast<unsigned long long>(per_block), static_cast<unsigned long long>(block_waits),
      block_us);

  // 2. A whole customization through the shipped library.
  void* lib = dlopen(TALVANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", TALVANE_LIBRARY, dlerror());
    return 1;
  }
  auto init = reinterpret_cast<Init>(dlsym(lib, "Init_Module"));
  auto order = reinterpret_cast<Order>(dlsym(lib, "Order_Module"));
  setenv("TALVANE_ADAPTER", ("emulator:" + state).c_str(), 1);
  for (size_t size : {size_t{166600}, size_t{1} << 20}) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 31 + 7);
    std::ofstream(state) << "base = 0x340\nbuffer_size = 1024\n";
    // Counts from the same sequence on the core (the code the library is built from).
    emulator::AttachEmulatedAdapter(state.c_str());
    a0 = accesses();
    w0 = talvane::WaitCount();
    Clock::time_point after_reset;
    const bool counted =
        Customize(&talvane::InitModule, &talvane::OrderModule, image, &after_reset);
    const uint64_t total_accesses = accesses() - a0;
    const uint64_t waits = talvane::WaitCount() - w0;
    std::ofstream(state) << "base = 0x340\nbuffer_size = 1024\n";
    t0 = Clock::now();
    const bool ok = Customize(init, order, image, &after_reset);
    const auto end = Clock::now();
    const double ms = Ms(end - t0);
    const double after_reset_ms = Ms(end - after_reset);
    std::printf(
        "customization, %7zu-byte image: %s, %llu port accesses, %llu waits of 10 ms, "
        "%.1f ms wall; identity and image %.1f ms (%.1f ms per MiB of image)\n",
        size, ok && counted ? "ok" : "FAILED", static_cast<unsigned long long>(total_accesses),
        static_cast<unsigned long long>(waits), ms, after_reset_ms,
        after_reset_ms * 1048576.0 / size);
  }
  dlclose(lib);
  fs::remove_all(dir);
  return 0;
}
