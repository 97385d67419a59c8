// The library's five exports. Everything else stays hidden.
#define TALVANE_BUILDING_LIBRARY 1
#include "Talvane.h"
#include "adapter_select.h"
#include "driver.h"

extern "C" {

uint8_t Init_Module(uint32_t max_size, uint32_t* agreed_size) {
  talvane::SelectAdapterFromEnvironment();
  return talvane::InitModule(max_size, agreed_size);
}

uint8_t Reset_Module(uint32_t max_size, uint32_t* agreed_size) {
  return talvane::ResetModule(max_size, agreed_size);
}

uint8_t Order_Module(uint8_t* buffer, uint32_t* length) {
  return talvane::OrderModule(buffer, length);
}

uint8_t Send_Data(const uint8_t* data, uint32_t length) { return talvane::SendData(data, length); }

uint8_t Receive_Data(uint8_t* buffer, uint32_t* length) {
  return talvane::ReceiveData(buffer, length);
}

}  // extern "C"
