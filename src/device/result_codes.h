#pragma once
// Result codes of the controller link and the controller operations. 0 is success; negative values
// of the USB layer (platform::UsbError) pass through unchanged.

namespace varnex2::device {

inline constexpr int kOk = 0;

// Link codes.
inline constexpr int kErrNoHandle = -1;     // no device handle, short request transfer, no device at open
inline constexpr int kErrNotConnected = 5;  // bDeviceConnected is 0
inline constexpr int kErrBadStatus = 2;     // an answer carried a failure status
inline constexpr int kErrNoAnswer = -100;   // no answer / no complete frame in time; manufacturer differs at open
inline constexpr int kErrWaitFailed = -99;  // waiting for the answer failed
inline constexpr int kErrProductMismatch = -101;
inline constexpr int kErrReceptionBusy = -12;  // reception running, or the IN transfer could not be allocated

// Operation codes.
inline constexpr int kErrChecksumZero = 2;    // computed information-block checksum is 0
inline constexpr int kErrNoMemory = 3;        // no memory, or destination too short
inline constexpr int kErrMessageTimeout = 4;  // message wait timed out (also: diagnostic byte never cleared)
inline constexpr int kErrObjectAbsent = 9;
inline constexpr int kErrMessageInvalid = 10;  // report id 0xFF
inline constexpr int kErrChecksumMismatch = 17;
inline constexpr int kErrNoSignalLimits = 33;
inline constexpr int kErrKeyObjectSize = 1;    // key object is not 11 bytes long
inline constexpr int kErrDiagnosticPage = 25;  // a diagnostic page carried another command or page number
// The information block announces more nodes than the frame buffers hold (X * Y > 1664).
inline constexpr int kErrMatrixTooLarge = 40;

// Codes of RunPinFaultTest (besides 0 and kErrMessageTimeout).
inline constexpr int kSelfTestPassed = 0;
inline constexpr int kSelfTestNotMessage = 32;  // a message handler's "not my concern"

}  // namespace varnex2::device
