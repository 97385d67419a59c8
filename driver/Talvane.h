/* Talvane: driver of the common-interface adapter card.
 *
 * The five operations below are the library's only exports. Every one returns an unsigned
 * 8-bit result code. Calls are not thread-safe: the caller serialises them.
 *
 * The adapter in use is chosen by the environment variable TALVANE_ADAPTER, read at every
 * Init_Module:
 *   unset, empty or "hardware"  the ISA card through real port I/O (needs root or
 *                                CAP_SYS_RAWIO on the program for ports 0x300-0x383)
 *   "emulator:PATH"              the emulated card and module described by the state file PATH
 * Any other value is reported on standard error, and the adapter then reads as absent.
 */
#ifndef TALVANE_H
#define TALVANE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TALVANE_BUILDING_LIBRARY)
#define TALVANE_API __attribute__((visibility("default")))
#else
#define TALVANE_API
#endif

/* Result codes. */
enum {
  TALVANE_DONE = 0,        /* done */
  TALVANE_NO_MODULE = 1,   /* no usable module: no successful Init_Module, or the adapter is gone */
  TALVANE_NOT_FREE = 2,    /* Send_Data: the module was not free; nothing was sent */
  TALVANE_NO_DATA = 3,     /* Receive_Data: the module offered nothing; nothing was read */
  TALVANE_WRITE_ERROR = 4, /* the module reported a write error, or Order_Module gave up
                              after 1000 attempts in one of its phases */
  TALVANE_RESET_FAILED = 5,  /* Reset_Module: reset or buffer-size negotiation failed */
  TALVANE_REPLY_TOO_LONG = 6 /* Receive_Data, Order_Module: the module announced a buffer
                                larger than the agreed size. Its bytes were drained from the
                                module and discarded; the caller's buffer and length are
                                unchanged. */
};

/* Finds the adapter, resets the module and agrees a buffer size of at most max_size.
   Result 0 (agreed_size holds the agreed size) or 1. */
TALVANE_API uint8_t Init_Module(uint32_t max_size, uint32_t* agreed_size);

/* Resets the module at the adapter found by the last successful probe. Result 0, 1 or 5.
   With no adapter ever found it touches no port and returns 1. */
TALVANE_API uint8_t Reset_Module(uint32_t max_size, uint32_t* agreed_size);

/* One request-reply exchange. On entry buffer holds the request and *length its size; with
   result 0 the buffer holds the reply and *length its size. The buffer must hold the agreed
   size. Result 0, 1, 4 or 6. */
TALVANE_API uint8_t Order_Module(uint8_t* buffer, uint32_t* length);

/* Writes one buffer to the module. Result 0, 1, 2 or 4. */
TALVANE_API uint8_t Send_Data(const uint8_t* data, uint32_t length);

/* Reads the buffer the module offers; buffer must hold the agreed size. *length receives the
   size the module announced. Result 0, 1, 3 or 6. */
TALVANE_API uint8_t Receive_Data(uint8_t* buffer, uint32_t* length);

#ifdef __cplusplus
}
#endif

#endif /* TALVANE_H */
