/* The USB interface library of the Hydrix IP controllers (our stand-in).
 *
 * Controllers are counted and named by a 32-bit unique identifier; a handle
 * opened on one works with the file functions below. Two handles may be open
 * on one controller: a request written on one is answered on the other.
 * The backend is chosen by hxusb.conf (next to the library, then
 * $XDG_CONFIG_HOME/hydrix/) and $HYDRIX_USB_BACKEND.
 *
 * "sim", the default, is the hydrix-sim daemon, found through the socket
 * that $HYDRIX_SIM_SOCKET names (default: $XDG_RUNTIME_DIR/hydrix-sim.sock,
 * else /tmp/hydrix-sim-<uid>.sock). Every call waits at most the read
 * time-out ($HYDRIX_USB_TIMEOUT_MS, default 500 ms, or the time-out a read
 * is given) plus a short margin; once the daemon has missed a reply, opens,
 * writes and reads fail at once until the controllers are counted again.
 *
 * "usb" is real controllers through libusb: the devices of the identity
 * under [application] in hxusb.conf, named by their serial number string or
 * port path (see platform/hxusb_device/usb_ids.h). A request and its answer
 * are one bulk transfer each; a read that gets no answer in time reads 0
 * bytes. A controller stays claimed 100 ms after its last handle closes, so
 * that exchanges in a row do not reopen it; an answer that came after its
 * read gave up is dropped before the next request (it can only be there
 * after a request whose answer was not read, or on a device just opened).
 * An interface another program holds is waited for up to 500 ms.
 * USB_GetBackendProblem tells why a device could not be opened,
 * USB_GetBackendName which backend is in force. */
#ifndef HXUSBIF_H
#define HXUSBIF_H

#include <stdint.h>

#if defined(HXUSBIF_BUILD)
#define HXUSBIF_API __attribute__((visibility("default")))
#else
#define HXUSBIF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Number of attached controllers (0 when none, or the backend is absent). */
HXUSBIF_API int32_t USB_GetDeviceCount(void);
/* The unique identifier of the controller at index 0..count-1 (the same on
 * every call while the controller stays attached); -1 for a bad index. */
HXUSBIF_API int32_t USB_GetDeviceUniqueID(int32_t index);
/* A handle on the controller with that identifier, or -1. */
HXUSBIF_API int32_t USB_OpenDevice(int32_t uniqueId);
/* Sends a request. Non-zero on success; *written receives the bytes sent. */
HXUSBIF_API int32_t USB_WriteFile(int32_t handle, const void* buffer, uint32_t length, uint32_t* written);
/* Reads the controller's answer to the last request: at most `length`
 * bytes, waiting at most timeoutMs for it. Non-zero on success; *read is 0
 * when no answer came. */
HXUSBIF_API int32_t USB_ReadFile(int32_t handle, void* buffer, uint32_t length, uint32_t* read,
                                 uint32_t timeoutMs);
/* Cancels what is pending on the handle. Non-zero on success. */
HXUSBIF_API int32_t USB_CancelIo(int32_t handle);
/* Releases the handle. Non-zero on success. */
HXUSBIF_API int32_t USB_CloseHandle(int32_t handle);
/* Why the backend could not be reached at the last call that needed it
 * (for the simulator: its socket is missing, is not a socket, or the daemon
 * does not answer); empty once it answers again. Copies at most size-1
 * bytes and a NUL into `text`; returns the whole length. Optional: a program
 * works without it. */
HXUSBIF_API uint32_t USB_GetBackendProblem(char* text, uint32_t size);
/* The backend in force, as hxusb.conf's type names it: "sim" or "usb", or
 * "none" while the configuration has problems (USB_GetBackendProblem says
 * which). A static string. Optional: a program works without it. */
HXUSBIF_API const char* USB_GetBackendName(void);

typedef int32_t (*USB_GetDeviceCount_t)(void);
typedef int32_t (*USB_GetDeviceUniqueID_t)(int32_t);
typedef int32_t (*USB_OpenDevice_t)(int32_t);
typedef int32_t (*USB_WriteFile_t)(int32_t, const void*, uint32_t, uint32_t*);
typedef int32_t (*USB_ReadFile_t)(int32_t, void*, uint32_t, uint32_t*, uint32_t);
typedef int32_t (*USB_CancelIo_t)(int32_t);
typedef int32_t (*USB_CloseHandle_t)(int32_t);
typedef uint32_t (*USB_GetBackendProblem_t)(char*, uint32_t);
typedef const char* (*USB_GetBackendName_t)(void);

#ifdef __cplusplus
}
#endif

#endif
