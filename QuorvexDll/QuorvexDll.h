// Public interface of libQuorvexDll.so, the Quorvex head unit driver: connect
// to one or more head units over RS-232, home and move the aperture wheels,
// read position, temperatures and parameters, and move the two calibration
// tables between files, the driver and the head unit.
//
// Every connected unit is an opaque handle returned by Quorvex_Connect.
// Failures are returned as QuorvexError codes, never thrown. Events are
// platform handles (platform/win32.h): the library signals them but never
// closes an event the caller passed in, except the identification event of a
// waiting Quorvex_Connect, which is consumed by the call. A null output
// pointer is refused with 6 before anything is sent to the unit.
//
// A C program sees the result codes and the exports with plain C
// parameters; the exports that take callables, vectors, strings or the
// parameter enumeration, and their types, are C++ only.
#pragma once

#include <platform/win32.h>
#include <serial/SerialPortSettings.h>

#include <stdint.h>

#ifdef __cplusplus
#include <functional>
#include <string>
#include <utility>
#include <vector>
#endif

#define QUORVEX_API __attribute__((visibility("default")))

enum QuorvexError {
    QuorvexSuccess = 0,
    QuorvexErrorFailed = 1,            // connect: port, service thread or identification failed
    QuorvexErrorInvalidHandle = 5,     // the handle is not in the device list (or no handle pointer to Disconnect)
    QuorvexErrorInvalidParameter = 6,  // null output or handle pointer, or a log ceiling above 7
    QuorvexErrorCommandFailed = 7,     // no acknowledgement, or a read reply timed out or was invalid
    QuorvexErrorHomeTimeout = 8,       // no homing-complete notification within 20 s
    QuorvexErrorMoveTimeout = 9,       // no move-complete notification within 20 s
    QuorvexErrorThreadFailed = 10,     // a worker thread failed to start
    QuorvexErrorBusy = 11,             // a transfer of the same calibration table is running
    QuorvexErrorSaveFailed = 12,       // a calibration file cannot be saved
    QuorvexErrorBadFile = 13,          // a calibration file cannot be read, has a bad line or holds no entry
};
#ifndef __cplusplus
typedef enum QuorvexError QuorvexError;
#endif

#ifdef __cplusplus
// The number travels on the wire in "C%u(%d)" and "C%u?". 0 and 1 also
// start the calibration table transfers, so writing them by hand puts the
// head unit into its table upload mode. Any 32-bit number is a value of the
// type (callers pass numbers it does not name).
enum QuorvexParameter : int32_t {
    QuorvexParameterSpectralTable = 0,
    QuorvexParameterApertureTable = 1,
    QuorvexParameterPrimaryWheelConfiguration = 2,
    QuorvexParameterSecondaryWheelConfiguration = 3,
};

// The fields of the head unit's "I?" reply, plus the whole reply.
struct QuorvexIdentificationStruct {
    std::string manufacturer;
    std::string model;
    std::string firmware;
    std::string serialNumber;  // everything after the third comma
    std::string response;
};

using QuorvexSpectralTable = std::vector<std::pair<double, double>>;  // (nm, W/m^2/sr/nm)
// Rows of three attenuation factors. The upload sends them column by column
// and a download fills them in the same order, so every row comes back as it
// went. The control panel reads row r as secondary position 11 - r and
// factor c of a row as primary position 2 - c.
using QuorvexApertureTable = std::vector<std::vector<double>>;

using QuorvexPositionCallback = std::function<void(int valid, int primary, int secondary)>;
// Primary motor, secondary motor, bulb enclosure, motor enclosure (deg C).
using QuorvexTemperatureCallback =
    std::function<void(int valid, double primaryMotor, double secondaryMotor, double bulbEnclosure,
                       double motorEnclosure)>;
using QuorvexParameterCallback = std::function<void(int valid, int value)>;
using QuorvexProgressCallback = std::function<void(double percent)>;
#endif  // __cplusplus

// ---- Exports with plain C parameters ----------------------------------
#ifdef __cplusplus
extern "C" {
#endif

// Log set-up, shared by every handle of the library.
QUORVEX_API QuorvexError Quorvex_SetLogfilePath(const wchar_t* path);
QUORVEX_API QuorvexError Quorvex_SetLogCeiling(unsigned level);

// With wait, returns once the unit has identified itself (1 when it did not);
// the event, if given, is closed by the call. Without wait, returns at once
// and signals the event when the identification reply has been handled.
QUORVEX_API QuorvexError Quorvex_Connect(int port, int baud, int parity, int dataBits,
                                         int stopBits, int flowControl, void** handle, int wait,
                                         HANDLE event);
// The handle is invalid as soon as the call returns. With wait the port is
// closed before the call returns; without wait it is closed on a thread of
// the library. Either way the event, if given, is signalled once the port is
// closed, and is left open.
QUORVEX_API QuorvexError Quorvex_Disconnect(void** handle, int wait, HANDLE event);

#ifdef __cplusplus
// C linkage, but its record holds strings: C++ only.
QUORVEX_API QuorvexError Quorvex_GetIdentification(void* handle,
                                                   QuorvexIdentificationStruct* identification);
#endif
QUORVEX_API QuorvexError Quorvex_IsValidDevice(void* handle, int* valid);
// What the unit said when it last refused a command: its own error code
// (negative, from its error table) and that code's message, a string of the
// library's that lives as long as the library. The message is "" (and the
// code 0) when the last acknowledgement waited for was a success or none
// came (a time-out, or a reply that was no number): so a caller whose
// command failed with 7 can tell a refusal from silence.
QUORVEX_API QuorvexError Quorvex_GetLastDeviceError(void* handle, int* code, const wchar_t** message);

QUORVEX_API QuorvexError Quorvex_Home(void* handle, int wait, HANDLE event);
QUORVEX_API QuorvexError Quorvex_SetPosition(void* handle, unsigned primary, unsigned secondary,
                                             int wait, HANDLE event);
// position: int[2], [0] the primary wheel's position, [1] the secondary's.
// Written only on 0.
QUORVEX_API QuorvexError Quorvex_GetPosition(void* handle, int* position);
// temperatures: double[4] in deg C, [0] primary motor, [1] secondary motor,
// [2] bulb enclosure, [3] motor enclosure (the head sends them in another
// order; this is the order of the temperature callback too). Written only
// on 0.
QUORVEX_API QuorvexError Quorvex_GetTemperature(void* handle, double* temperatures);

// The uploads read the whole file before anything goes to the unit: a file
// that cannot be read, has a bad line or holds no entry gives 13, its
// problems are logged, nothing is sent, the held table is unchanged and no
// transfer starts (the done event is not signalled). Once started, how the
// transfer ended is told by the progress reports and the log only.
QUORVEX_API QuorvexError Quorvex_UploadSpectralCalibrationData(void* handle, const wchar_t* path,
                                                               int blocking, HANDLE abortEvent,
                                                               HANDLE doneEvent);
// An empty path uploads the aperture table the driver holds.
QUORVEX_API QuorvexError Quorvex_UploadApertureCalibrationData(void* handle, const wchar_t* path,
                                                               int blocking, HANDLE abortEvent,
                                                               HANDLE doneEvent);
QUORVEX_API QuorvexError Quorvex_DownloadSpectralCalibrationData(void* handle, int blocking,
                                                                 HANDLE abortEvent,
                                                                 HANDLE doneEvent);
QUORVEX_API QuorvexError Quorvex_DownloadApertureCalibrationData(void* handle, int blocking,
                                                                 HANDLE abortEvent,
                                                                 HANDLE doneEvent);

QUORVEX_API QuorvexError Quorvex_SaveSpectralCalibrationData(void* handle, const wchar_t* path);
QUORVEX_API QuorvexError Quorvex_SaveApertureCalibrationData(void* handle, const wchar_t* path);

#ifdef __cplusplus
}  // extern "C"

// ---- Exports with C++ parameters (callables, vectors, enumerations) -----
// Callables run on a worker thread of the library, after the reply has been
// handled; the event, if given, is signalled after the callable returned.
QUORVEX_API QuorvexError Quorvex_GetPositionCallback(void* handle, QuorvexPositionCallback callback,
                                                     HANDLE event);
QUORVEX_API QuorvexError Quorvex_GetTemperatureCallback(void* handle,
                                                        QuorvexTemperatureCallback callback,
                                                        HANDLE event);

QUORVEX_API QuorvexError Quorvex_SetParameter(void* handle, QuorvexParameter parameter, int value,
                                              int wait, HANDLE event);
QUORVEX_API QuorvexError Quorvex_GetParameter(void* handle, QuorvexParameter parameter, int* value);
QUORVEX_API QuorvexError Quorvex_GetParameterCallback(void* handle, QuorvexParameter parameter,
                                                      QuorvexParameterCallback callback,
                                                      HANDLE event);

QUORVEX_API QuorvexError Quorvex_UploadSpectralCalibrationData_ProgressCallback(
    void* handle, const wchar_t* path, HANDLE abortEvent, HANDLE doneEvent,
    QuorvexProgressCallback progress);
QUORVEX_API QuorvexError Quorvex_UploadApertureCalibrationData_ProgressCallback(
    void* handle, const wchar_t* path, HANDLE abortEvent, HANDLE doneEvent,
    QuorvexProgressCallback progress);

// Read a calibration file exactly as the upload does, with no unit involved:
// 0 when it holds a table that reads cleanly and is not empty, 6 for a null
// path, 13 otherwise. `errors` (may be null) is emptied first and then gets
// one message per problem (file missing or unreadable, each bad line, no
// entry).
QUORVEX_API QuorvexError Quorvex_CheckSpectralCalibrationFile(const wchar_t* path,
                                                              std::vector<std::string>* errors);
QUORVEX_API QuorvexError Quorvex_CheckApertureCalibrationFile(const wchar_t* path,
                                                              std::vector<std::string>* errors);

QUORVEX_API QuorvexError Quorvex_SetSpectralCalibrationData(void* handle, QuorvexSpectralTable table);
QUORVEX_API QuorvexError Quorvex_GetSpectralCalibrationData(void* handle, QuorvexSpectralTable* table);
QUORVEX_API QuorvexError Quorvex_SetApertureCalibrationData(void* handle, QuorvexApertureTable table);
QUORVEX_API QuorvexError Quorvex_GetApertureCalibrationData(void* handle, QuorvexApertureTable* table);
#endif  // __cplusplus
