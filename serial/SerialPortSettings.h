/* The serial types the three driver libraries' public headers share: the
 * COM settings of one instrument, as their Connect exports take them, and
 * the code of a serial error. Plain C, so that the public headers can be
 * read by C programs; installed with those headers, and the only part of
 * the serial transport that is. Plain values: no ownership, no threads. */
#ifndef SERIAL_SERIALPORTSETTINGS_H
#define SERIAL_SERIALPORTSETTINGS_H

#include <stdint.h>

/* Stored per instrument and passed to each Connect export. */
typedef struct SerialPortSettingsStruct {
    int32_t port;        /* COM port number, 1..127 */
    int32_t baud;        /* bits per second */
    int32_t parity;      /* 0 None, 1 Odd, 2 Even, 3 Mark, 4 Space */
    int32_t dataBits;    /* 7 or 8 */
    int32_t stopBits;    /* 0 = 1 bit, 1 = 1.5 bits, 2 = 2 bits */
    int32_t flowControl; /* 0 None .. 5 XON/XOFF (SERIAL_FLOW_* of platform/win32.h) */
} SerialPortSettingsStruct;

/* The code a device's serial error handler is given: only "the reply timed
 * out" occurs. */
typedef enum SerialPortError {
    SerialPortErrorResponseTimeout = 4
} SerialPortError;

#endif
