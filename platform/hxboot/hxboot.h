/* The boot-loader library's entry points, as the programmer loads them by
 * name from libhxboot.so (our stand-in). Handles are 1 or more; 16-bit
 * results are negative (SendGetPacket, ReadPIC) or have bit 15 set
 * (WritePIC) on failure. The backend is chosen as libhxusbif's is
 * (hxusb.conf, $HYDRIX_USB_BACKEND): "sim", the default, is the hydrix-sim
 * daemon, found through the socket that $HYDRIX_SIM_SOCKET names (default:
 * $XDG_RUNTIME_DIR/hydrix-sim.sock, else /tmp/hydrix-sim-<uid>.sock); "usb"
 * is real controllers through libusb, the boot loader's packets on its bulk
 * endpoints and raw data on the application's. */
#ifndef HYDRIX_HXBOOT_H
#define HYDRIX_HXBOOT_H

#include <stdint.h>

#if defined(HXBOOT_BUILD)
#define HXBOOT_API __attribute__((visibility("default")))
#else
#define HXBOOT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens connection `connection` (the controller's identifier). `reserved`
 * is 0. `interfaceSel` picks the firmware interface: 250 the running
 * application's (boot command, spy), 150 the boot loader's. Returns a handle
 * of 1 or more, -2 when another program holds that controller's boot loader
 * (only one connection at a time may), or another negative value when that
 * interface is not there. */
HXBOOT_API int32_t OpenPIC(int32_t connection, int32_t reserved, int32_t interfaceSel);
HXBOOT_API void ClosePIC(int32_t handle);
/* Sends `count` raw bytes to the application; returns the count sent or a
 * negative value. */
HXBOOT_API int32_t SendRawData(int32_t handle, const uint8_t* data, int32_t count);
/* Waits briefly for raw bytes from the application. On entry *length is the
 * buffer's capacity, on return the number of bytes received (also the
 * result); negative on failure. */
HXBOOT_API int32_t ReadRawData(int32_t handle, uint8_t* buffer, int32_t* length);
/* Sends the first `sendCount` bytes of `packet` and writes the answer (at
 * most `capacity` bytes) back into it; the exchange is tried up to `retries`
 * times. Returns the answer length, or a negative value on failure. */
HXBOOT_API int16_t SendGetPacket(int32_t handle, uint8_t* packet, int32_t sendCount, int32_t capacity,
                                 int32_t retries);
/* `request` is the 12-byte request record; `data` receives DataLength bytes.
 * Returns the number of bytes read (above 0), or 0 or less on failure. */
HXBOOT_API int16_t ReadPIC(int32_t handle, const uint8_t* request, uint8_t* data);
/* Writes DataLength bytes of `data` as `request` says. Returns the number of
 * bytes written, or a value with bit 15 set on failure. */
HXBOOT_API int16_t WritePIC(int32_t handle, const uint8_t* request, const uint8_t* data);
/* Why the last OpenPIC failed (no permission on the device, its interface
 * in use by another program, an identity not configured), or empty. Copies
 * at most size-1 bytes and a NUL into `text`; returns the whole length.
 * Optional: a program works without it. */
HXBOOT_API uint32_t GetPICProblem(char* text, uint32_t size);
/* The connections whose boot loader is attached now (controllers waiting in
 * their boot loader): copies at most `capacity` identifiers into `ids` and
 * returns how many there are (0 when none, or the backend cannot tell).
 * Optional: a program without it lists no controller in its boot loader. */
HXBOOT_API int32_t GetPICList(int32_t* ids, int32_t capacity);

#ifdef __cplusplus
}
#endif

#endif
