#pragma once
// Controller operations: the information block and object table, object access, messages, the
// built-in self-test, backup and reset, the panel window objects and the diagnostic frame.
// They run on the caller's thread and follow the link's rule: never two at once.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "device/controller_link.h"
#include "device/controller_record.h"

namespace varnex2::device {

// The 24-bit checksum of the information block and object table.
std::uint32_t InfoBlockChecksum(std::span<const std::uint8_t> bytes);

// Reads and checks the information block and object table into `record`, builds the report-id
// table and the version text. 2: computed checksum 0, 17: mismatch (no report-id table),
// kErrMatrixTooLarge: more than 1664 nodes (the link refuses to stream such a matrix).
int ReadInfoBlock(ControllerLink& link, ControllerRecord& record);

// Start address of an instance (start + instance * size); 0 when absent.
std::uint16_t FindObject(const ControllerRecord& record, std::uint8_t type, int instance);
int ObjectInstances(const ControllerRecord& record, std::uint8_t type);
int ObjectSize(const ControllerRecord& record, std::uint8_t type);
// The report-id table entry of a report id; nullptr when the id is unknown or reserved.
const ReportIdEntry* ReportIdOwner(const ControllerRecord& record, std::uint8_t reportId);

int ReadMessageCount(ControllerLink& link, const ControllerRecord& record, int& count);
// One T5 message (size(T5) - 1 bytes). 10 when its report id is 0xFF.
int ReadMessage(ControllerLink& link, const ControllerRecord& record, std::span<std::uint8_t> dest, int& length);

// Handler answer: kSelfTestNotMessage (32) to go on waiting, anything else ends the wait with it.
using MessageHandler = std::function<int(std::span<const std::uint8_t> message)>;
int WaitForMessage(ControllerLink& link, const ControllerRecord& record, int timeoutSeconds,
                   const MessageHandler& handler);

bool BackupSettings(ControllerLink& link);
// Resets the controller, closes the link and reopens it (up to 10 attempts 500 ms apart). The
// link's record is a new, empty one afterwards.
int ResetController(ControllerLink& link, const ControllerRecord& record);

// Window of the touch (T9) or key (T15) object.
struct WindowFields {
  std::uint8_t xOrigin = 0;
  std::uint8_t yOrigin = 0;
  std::uint8_t xSize = 0;
  std::uint8_t ySize = 0;
  std::uint8_t gain = 0;
  bool enabled = false;
};
inline constexpr std::size_t kTouchWindowBytes = 36;
inline constexpr std::size_t kKeyWindowBytes = 11;

int ReadTouchWindow(ControllerLink& link, WindowFields& out);
int WriteTouchWindow(ControllerLink& link, const WindowFields& fields);
int ReadKeyWindow(ControllerLink& link, WindowFields& out);
int WriteKeyWindow(ControllerLink& link, const WindowFields& fields);

struct SignalLimit {
  int index = 0;  // instance + 1
  std::uint16_t upper = 0;
  std::uint16_t lower = 0;
  bool enabled = false;
};
// Address of the T25 signal-limit slot of an instance of a touch-type object; 0 when none.
std::uint16_t SignalLimitSlot(const ControllerRecord& record, std::uint8_t type, int instance);
int ReadSignalLimits(ControllerLink& link, std::uint8_t type, std::vector<SignalLimit>& out);
int WriteSignalLimits(ControllerLink& link, std::uint8_t type, std::uint16_t upper, std::uint16_t lower);

// The built-in self-test (the test cycle uses command 0x12). Result table: 0 passed, 7, 4, 12,
// 13, 14, 15, 16, 25, or 4 when no result came within 10 s. A self-test message sets the link's
// PinFault() details (a short report, 13 from 0x12) or clears them (any other result); a run
// that gets no message leaves what the last message left.
inline constexpr std::uint8_t kPinFaultTestCommand = 0x12;
int RunPinFaultTest(ControllerLink& link, const ControllerRecord& record, std::uint8_t command);
// Marker value of a fault kind for the node map (1, 2, 3 -> 64, 32, 16; 0 otherwise).
int PinFaultMarker(std::uint8_t kind);

// The first n bytes of an object instance, n cut to the object's size. An absent object moves
// nothing and returns 0; an instance beyond the object's count gives 9.
int ReadObject(ControllerLink& link, std::uint8_t type, int instance, std::span<std::uint8_t> dest);
int WriteObject(ControllerLink& link, std::uint8_t type, int instance, std::span<const std::uint8_t> source);

// One frame through the T6 diagnostic byte and the T37 pages: X * Y signed values, X-major.
int ReadDiagnosticFrame(ControllerLink& link, const ControllerRecord& record, std::span<std::int16_t> dest, int& x,
                        int& y, std::uint8_t command);

}  // namespace varnex2::device
