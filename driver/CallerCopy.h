/* Copies between the kernel and the calling process's memory, and the
 * caller's access check, under structured exception handling. */
#ifndef KESTRUNE_DRIVER_CALLERCOPY_H
#define KESTRUNE_DRIVER_CALLERCOPY_H

#include <stdint.h>

/* Both probe the caller's range as user memory first; a range that is not
 * the caller's, or a fault while copying, returns 0 instead of faulting. */
int VelDrvCopyToUser(uint64_t callerAddress, const uint8_t* source, uint32_t length);
int VelDrvCopyFromUser(uint8_t* destination, uint64_t callerAddress, uint32_t length);
/* Whether the handle the device control request (an IRP) came through was
 * opened for reading and writing: IoValidateDeviceIoControlAccess. */
int VelDrvCallerMayReadAndWrite(void* irp);

#endif
