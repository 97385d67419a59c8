#include "Testprod.h"

#include <cstring>

#include "Talvane.h"

namespace testprod {

OrderFunction OrderModuleHook = &Order_Module;

void SetLrc(uint8_t* frame) {
  const unsigned k = frame[2] + 3u;
  frame[k] = 0;
  for (unsigned i = 0; i < k; ++i) frame[k] ^= frame[i];
}

int ReadIdentity(uint8_t* area, size_t area_size) {
  ModuleFrame frame = {};
  const uint8_t request[] = {kNad, kPcb, 0x05, kClass, kInsReadIdentity, 0x00, 0x00, 0x00};
  std::memcpy(frame, request, sizeof request);
  SetLrc(frame);
  uint32_t length = frame[2] + 4u;
  // A failed exchange leaves the request in the frame; it is never read as a reply.
  if (OrderModuleHook(frame, &length) != 0) return kIdentityReadFailed;
  if (frame[2] == 1 || frame[2] == 2) return 0;
  const uint8_t count = frame[3];
  if (count <= 1 || area_size == 0) return 0;
  size_t n = count - 1u;
  // A record too long for the area is cut, keeping a zero byte behind it inside the area.
  if (n > area_size - 1) {
    n = area_size - 1;
    area[n] = 0;
  }
  std::memcpy(area, frame + 4, n);
  return static_cast<int>(n);
}

uint8_t WriteIdentity(const uint8_t* record, uint32_t n) {
  if (n > kFrameSize - 10) return TALVANE_WRITE_ERROR;
  ModuleFrame frame = {};
  frame[0] = kNad;
  frame[1] = kPcb;
  frame[2] = static_cast<uint8_t>(n + 6);
  frame[3] = kClass;
  frame[4] = kInsWriteIdentity;
  frame[5] = 0x00;
  frame[6] = 0x00;
  frame[7] = static_cast<uint8_t>(n + 1);
  frame[8] = static_cast<uint8_t>(n + 1);
  if (n != 0) std::memcpy(frame + 9, record, n);
  SetLrc(frame);
  uint32_t length = n + 10;
  return OrderModuleHook(frame, &length);
}

}  // namespace testprod
