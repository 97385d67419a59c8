// Module command frames: read identity, write identity and the image block layout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testprod {

// One frame: NAD, PCB, LEN, LEN body bytes, check byte; held in 512 bytes.
inline constexpr size_t kFrameSize = 512;
using ModuleFrame = uint8_t[kFrameSize];

inline constexpr uint8_t kNad = 0x12;
inline constexpr uint8_t kPcb = 0x01;
inline constexpr uint8_t kClass = 0x80;
inline constexpr uint8_t kInsReadIdentity = 0x60;
inline constexpr uint8_t kInsWriteIdentity = 0x50;
inline constexpr uint8_t kInsLoadImage = 0xFF;

// ReadIdentity's result when the exchange itself failed: nothing was read.
inline constexpr int kIdentityReadFailed = -1;

// The exchange all frames go through: the driver's Order_Module unless a test replaces it.
using OrderFunction = uint8_t (*)(uint8_t* buffer, uint32_t* length);
extern OrderFunction OrderModuleHook;

// Stores the XOR of bytes 0 to LEN+2 at byte LEN+3.
void SetLrc(uint8_t* frame);

// Reads the module's stored identity record into area (area_size bytes), always leaving a
// zero byte behind what it copies. Returns 0 when the module holds none, the number of record
// bytes copied, or kIdentityReadFailed when the exchange failed.
int ReadIdentity(uint8_t* area, size_t area_size);

// Stores the record of n bytes in the module. Returns the driver's result code of the
// exchange; a record too long for one frame is refused with 4 before anything is sent.
uint8_t WriteIdentity(const uint8_t* record, uint32_t n);

}  // namespace testprod
