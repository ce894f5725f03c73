#pragma once
// The simulated test box at report level: what goes over its two USB functions, without any
// transport. Both adapters (the in-process seams and the umockdev device) sit on this API.
//
// Controller function: 64-byte reports, host -> box on endpoint 0x02 (ControllerOut), box ->
// host on endpoint 0x81 (PopControllerIn). Bridge function: 65-byte HID reports (byte 0 the
// report id, 0), BridgeWrite / BridgeRead.
//
// Each attachment of a function to the bus gets a new session number (0 = absent). Calls
// carrying an older session fail with NoDevice, like a handle to an unplugged device.
// All members are thread-safe. Every wait is bounded by the caller's time-out and returns
// early when the function leaves the bus or the caller's stop token is triggered.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "sim/box_identity.h"
#include "sim/panel_model.h"
#include "sim/scenario.h"

namespace varnex2::sim {

inline constexpr std::size_t kControllerReportSize = 64;
inline constexpr std::size_t kBridgeReportSize = 65;
using ControllerReport = std::array<std::uint8_t, kControllerReportSize>;
using BridgeReport = std::array<std::uint8_t, kBridgeReportSize>;

enum class BoxFunction { Controller, Bridge };

// What the controller's information block announces.
struct ControllerVariant {
  std::uint8_t family = 0xA2;
  std::uint8_t variant = 0x00;
  std::uint8_t version = 0x20;
  std::uint8_t build = 0xAB;
  std::uint8_t matrixX = 32;
  std::uint8_t matrixY = 52;
  bool corruptChecksum = false;  // store a checksum that does not match

  // Ready-made variants: firmware 1.0 / 1.1 / 1.2 (build 0xAA), variant 0x0B (2.0 build 0x01),
  // another family (0xA4).
  static ControllerVariant Version10();
  static ControllerVariant Version11();
  static ControllerVariant Version12();
  static ControllerVariant Variant0B();
  static ControllerVariant OtherFamily();
};

struct SimBoxOptions {
  ControllerVariant variant;
  // Non-volatile store of the box (controller configuration objects, bridge pages).
  // Empty: nothing persists beyond this object.
  std::string storePath;
  // Pacing: at most one report per `reportInterval` in each direction of each function, on a
  // fixed steady-clock schedule (a full-speed interrupt endpoint). Off: reports move at once.
  bool paced = false;
  std::chrono::microseconds reportInterval{1000};
  // How long the controller stays off the bus after a T6 reset.
  std::chrono::milliseconds resetDowntime{1000};
  std::uint64_t seed = 1;  // panel noise
  bool controllerPresent = true;
  bool bridgePresent = true;
};

enum class InResult {
  Report,       // `out` holds one report
  Timeout,      // nothing within the wait
  NoDevice,     // the function is not on the bus (or the session is stale)
  Interrupted,  // the stop token was triggered
};

enum class OutResult {
  Ok,
  NoDevice,
  InvalidParam,  // report longer than the function's report size
};

struct BridgeState {
  std::uint8_t configByte = 0;   // byte 0 of page 249: bit 0 buzzer enable, bit 1 invert
  std::uint8_t outputLevel = 0;  // byte 8 of the output block
  bool buzzerEnabled = false;
  bool buzzerInverted = false;
  bool buzzerSounding = false;           // enabled and (output on XOR inverted)
  std::uint64_t outputWrites = 0;        // output blocks written so far
  std::uint64_t rejectedConfigBits = 0;  // SetConfigBits frames refused (bad signature/page)
};

// Observer of bus presence: (function, present, session). Called on the thread that changed
// the presence, after the change, in order. It may read the box's state and move reports, but
// must not plug, unplug, reset the controller, run or stop scenarios, or remove observers.
using PresenceObserver = std::function<void(BoxFunction function, bool present, std::uint64_t session)>;
// Observer of scanned codes from a scenario ("scan" steps): the code followed by the
// scanner's suffix (CR LF unless the step names another).
using ScanObserver = std::function<void(const std::string& code)>;

class SimBox {
 public:
  explicit SimBox(const SimBoxOptions& options = {});
  ~SimBox();  // stops and joins the box's threads
  SimBox(const SimBox&) = delete;
  SimBox& operator=(const SimBox&) = delete;

  const SimBoxOptions& Options() const;

  // ---- presence ----
  bool IsPresent(BoxFunction function) const;
  std::uint64_t Session(BoxFunction function) const;  // 0 when absent
  void Unplug(BoxFunction function);
  void Plug(BoxFunction function);                     // a power-up: the controller restarts from its store
  int AddPresenceObserver(PresenceObserver observer);  // returns an id
  // After return the observer is not running and will not be called again. Do not call it
  // from inside an observer.
  void RemovePresenceObserver(int id);

  // ---- controller function (endpoint 0x02 out, 0x81 in) ----
  // One request report (up to 64 bytes, zero-padded). Paced: waits for the next OUT slot.
  OutResult ControllerOut(std::uint64_t session, std::span<const std::uint8_t> report);
  // The next report from the box; waits at most `wait`.
  InResult PopControllerIn(std::uint64_t session, ControllerReport& out, std::chrono::microseconds wait,
                           std::stop_token stop = {});
  std::size_t PendingControllerIn() const;

  // ---- bridge function (65-byte HID reports) ----
  OutResult BridgeWrite(std::uint64_t session, std::span<const std::uint8_t, kBridgeReportSize> report);
  InResult BridgeRead(std::uint64_t session, BridgeReport& out, std::chrono::microseconds wait,
                      std::stop_token stop = {});

  // ---- identity and descriptors ----
  // Standard 18-byte device descriptors; configuration descriptors with their interfaces
  // (controller: interfaces 0 and 1, both HID class, interrupt endpoints 0x83/0x04 and
  // 0x81/0x02, 64-byte packets; bridge: interface 0, HID class, interrupt endpoints 0x81 and
  // 0x01).
  static std::array<std::uint8_t, 18> DeviceDescriptor(BoxFunction function);
  static std::vector<std::uint8_t> ConfigurationDescriptor(BoxFunction function);
  // The interface numbers the configuration descriptor declares, in its order.
  static std::vector<int> InterfaceNumbers(BoxFunction function);
  // HID report descriptor of one interface (64-byte vendor input and output reports, no report
  // ids; the controller's two interfaces differ in their usage). Empty for an unknown interface.
  static std::vector<std::uint8_t> HidReportDescriptor(BoxFunction function, int interfaceNumber);
  // String descriptor text by index (1 manufacturer, 2 product, 3 interface string);
  // false for an index the function does not have. Index 0 (languages) is 0x0409 only.
  static bool StringDescriptor(BoxFunction function, std::uint8_t index, std::string& out);
  // Windows-style device-interface paths (interface 0 and 1 of the controller, the bridge).
  static std::string InterfacePath(BoxFunction function, int interfaceNumber);

  // ---- the controller's memory (for tests and tools; same effects as over the wire) ----
  std::vector<std::uint8_t> ReadMemory(std::uint16_t address, std::size_t count) const;
  // Address of an object instance, 0 when absent.
  std::uint16_t ObjectAddress(std::uint8_t type, int instance = 0) const;
  std::size_t ObjectSize(std::uint8_t type) const;
  std::uint8_t ReportIdOf(std::uint8_t type, int instance = 0) const;  // first report id, 0 none
  std::uint16_t CommandAddress() const;                                // where the mode byte is written (0: none)
  std::uint64_t ResetCount() const;
  std::uint64_t BackupCount() const;

  // ---- panel and scenarios ----
  PanelState Panel() const;
  void SetPanel(const PanelState& state);
  void PlacePanel();  // a good panel with default parameters
  void RemovePanel();
  void AddShort(const LineShort& s);
  void AddNodeFault(const NodeFault& f);
  void ClearFaults();
  void SetTouches(std::vector<Touch> touches);
  void SetPowerFault(bool on);
  void Apply(const ScenarioAction& action);  // one scenario step, now

  // Runs the scenario on the box's own timeline thread (replacing a running one).
  void RunScenario(const Scenario& scenario);
  void StopScenario();
  bool ScenarioRunning() const;
  void SetScanObserver(ScanObserver observer);

  // ---- bridge state (buzzer, output) ----
  BridgeState Bridge() const;
  std::array<std::uint8_t, 64> BridgePage(std::uint8_t page) const;
  std::array<std::uint8_t, 64> OutputBlock() const;

  // ---- non-volatile store ----
  const std::string& StorePath() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnex2::sim
