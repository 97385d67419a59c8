#include "hardware_bus.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define TALVANE_HAVE_PORT_IO 1
#endif

namespace talvane {

namespace {
constexpr unsigned long kFirstPort = 0x300;
constexpr unsigned long kPortCount = 0x384 - 0x300;
}  // namespace

bool HardwareBus::Acquire() {
  if (granted_) return true;
#ifdef TALVANE_HAVE_PORT_IO
  if (ioperm(kFirstPort, kPortCount, 1) == 0) {
    granted_ = true;
    return true;
  }
  const int error = errno;
  if (!reported_) {
    std::fprintf(stderr,
                 "talvane: access to adapter ports 0x300-0x383 refused (%s); run the station as "
                 "root or give the program the right with: setcap cap_sys_rawio+ep PROGRAM\n",
                 std::strerror(error));
    reported_ = true;
  }
#else
  if (!reported_) {
    std::fprintf(stderr,
                 "talvane: port I/O is not available on this processor; "
                 "set TALVANE_ADAPTER=emulator:PATH to use the emulated adapter\n");
    reported_ = true;
  }
#endif
  return false;
}

uint8_t HardwareBus::Read(uint16_t port) {
#ifdef TALVANE_HAVE_PORT_IO
  if (granted_) return inb(port);
#endif
  (void)port;
  return 0xFF;
}

void HardwareBus::Write(uint16_t port, uint8_t value) {
#ifdef TALVANE_HAVE_PORT_IO
  if (granted_) outb(value, port);
#endif
  (void)port;
  (void)value;
}

}  // namespace talvane
