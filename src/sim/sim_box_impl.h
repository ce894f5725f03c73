#pragma once
// Internal to the simulated box (included only by the sim_box*.cpp files; not for use elsewhere):
// SimBox::Impl, the model behind SimBox, with its state, its locks and every member function.
// The model is defined across files by responsibility: sim_box.cpp (presence, sessions, memory
// access), sim_box_controller.cpp (the controller's register protocol, messages, self-test,
// diagnostic pages and frame streaming), sim_box_bridge.cpp (the bridge's command frames and
// pages), sim_box_pacing.cpp (report queues, pacing and the report entry points),
// sim_box_scenario.cpp (panel changes and the scenario timeline) and sim_box_descriptors.cpp
// (USB identity and descriptors).

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "sim/controller_memory.h"
#include "sim/nv_store.h"
#include "sim/report_ring.h"
#include "sim/sim_box.h"
#include "sim/touch_reports.h"

namespace varnex2::sim {

namespace sim_box_detail {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFrameBytes = 3328;
constexpr std::size_t kFrameValues = kFrameBytes / 2;
constexpr int kFramePages = 56;
constexpr std::size_t kControllerRingCapacity = 2048;
constexpr std::size_t kBridgeRingCapacity = 256;
constexpr std::size_t kMessageCapacity = 64;
constexpr std::size_t kMaxWriteData = kControllerReportSize - 6;  // 58
constexpr std::size_t kMaxReadData = kControllerReportSize - 3;   // 61

// Answer status bytes.
constexpr std::uint8_t kReadOk = 0x00;
constexpr std::uint8_t kWriteOk = 0x04;
constexpr std::uint8_t kFailed = 0x01;

// Self-test result codes.
constexpr std::uint8_t kTestPassed = 0xFE;
constexpr std::uint8_t kTestInvalid = 0xFD;
constexpr std::uint8_t kTestPower = 0x01;
constexpr std::uint8_t kTestPin = 0x11;
constexpr std::uint8_t kTestPin2 = 0x12;
constexpr std::uint8_t kTestSignalLimits = 0x17;
constexpr std::uint8_t kTestAll = 0xFE;

// Command processor.
constexpr std::uint8_t kBackupKey = 0x55;
constexpr std::uint8_t kT6StatusReset = 0x80;
constexpr std::uint8_t kT6StatusCalibrating = 0x10;
// An object's first byte: bit 0 enables it, bit 1 lets it send messages.
constexpr std::uint8_t kObjectEnable = 0x01;
constexpr std::uint8_t kReportEnable = 0x02;

// The bridge's pages as they leave the factory (sim_box_bridge.cpp).
std::array<std::uint8_t, 64> FactoryPage(int page);

struct Pacer {
  Clock::time_point last{};
  bool started = false;
};

struct Message {
  std::array<std::uint8_t, 16> bytes{};
};

enum class BridgeExpect { Command, WritePageNumber, WritePageData, ReadPageNumber, OutputData };

}  // namespace sim_box_detail

struct SimBox::Impl {
  using Clock = sim_box_detail::Clock;
  using Pacer = sim_box_detail::Pacer;
  using Message = sim_box_detail::Message;
  using BridgeExpect = sim_box_detail::BridgeExpect;

  explicit Impl(const SimBoxOptions& o);

  static int Index(BoxFunction f) { return f == BoxFunction::Controller ? 0 : 1; }

  // ---------------------------------------------------------------- presence (sim_box.cpp)
  std::uint64_t AttachLocked(BoxFunction f);
  bool DetachLocked(BoxFunction f);
  void NotifyPresence(BoxFunction f, bool present, std::uint64_t session);
  void Plug(BoxFunction f);
  void Unplug(BoxFunction f);
  void Reset();

  // ---------------------------------------------------------------- controller model
  // (sim_box_controller.cpp)
  void PowerUpController();
  void PushCommandStatus(std::uint8_t status);
  void Calibrate();
  void ReportAll();
  void PushMessageWithId(const ObjectInfo& o, int instance, int slot, std::initializer_list<std::uint8_t> data);
  void UpdateMessageCount();
  void PushMessage(std::uint8_t type, std::initializer_list<std::uint8_t> data, int instance = 0);
  void PushMessageBytes(std::uint8_t reportId, std::initializer_list<std::uint8_t> data);
  void QueueMessage(std::uint8_t reportId, std::span<const std::uint8_t> data);

  struct TouchSink final : TouchMessageSink {
    explicit TouchSink(Impl& i) : impl(i) {}
    void Queue(std::uint8_t reportId, const TouchMessage& message) override { impl.QueueMessage(reportId, message); }
    Impl& impl;
  };

  void ScanTouches();
  void PopMessageIntoT5();
  static bool Covers(std::uint32_t address, std::size_t count, std::uint16_t at);
  bool ReadRegisters(std::uint16_t address, std::size_t count, std::uint8_t* out);
  bool WriteRegisters(std::uint16_t address, const std::uint8_t* data, std::size_t count, bool& reset);
  void Backup();
  void SaveStore();
  std::size_t Nodes() const;
  void Diagnostic(std::uint8_t command);
  void SelfTest(std::uint8_t command);
  bool SignalLimitFault(std::array<std::uint8_t, 4>& result);
  ControllerReport& PushController();
  void StreamFrame();
  void HandleControllerReport(const ControllerReport& r, bool& reset);

  // ---------------------------------------------------------------- bridge model (sim_box_bridge.cpp)
  BridgeReport& PushBridge();
  void HandleBridgeReport(const std::uint8_t* r);
  void SetConfigBits(const std::uint8_t* r);

  // ---------------------------------------------------------------- queues and pacing (sim_box_pacing.cpp)
  Clock::time_point ReserveSlot(Pacer& pacer);
  // A reader that has just taken a report usually gets the next request's answer within
  // microseconds; polling briefly before sleeping saves the wake-up of a sleeping thread,
  // which costs more than the whole exchange. True when the queue changed meanwhile.
  static constexpr auto kReaderSpin = std::chrono::microseconds(50);
  bool SpinForChange(std::unique_lock<std::mutex>& lk, std::uint64_t seen, Clock::time_point until,
                     const std::stop_token& stop);
  template <typename Ring, typename Report>
  InResult Pop(Ring& ring, const std::uint64_t& sessionVar, Pacer& pacer, std::condition_variable_any& cv,
               std::uint64_t session, Report& out, std::chrono::microseconds wait, std::stop_token stop);

  // ---------------------------------------------------------------- scenario (sim_box_scenario.cpp)
  void Apply(const ScenarioAction& a);
  void RunScenario(const Scenario& scenario);
  void StopScenario();

  // ---------------------------------------------------------------- state
  SimBoxOptions options;

  // Lock order: presenceMutex -> mutex -> queueMutex; observerMutex is taken with
  // presenceMutex held and neither of the others.
  std::mutex presenceMutex;
  mutable std::mutex mutex;  // the model
  mutable std::mutex queueMutex;
  std::condition_variable_any controllerCv;
  std::condition_variable_any bridgeCv;
  std::mutex observerMutex;
  std::vector<std::pair<int, PresenceObserver>> observers;
  int nextObserverId = 1;

  bool wanted[2] = {true, true};
  std::uint64_t nextSession = 1;
  std::uint64_t controllerSession = 0;  // queueMutex (written with mutex held too)
  std::uint64_t bridgeSession = 0;
  // Bumped under queueMutex at every queue change; read without it by a spinning reader.
  std::atomic<std::uint64_t> queueVersion{0};

  ControllerMemory memory;
  PanelModel panel;
  NvImage nv;
  std::atomic<std::uint64_t> resetCount{0};
  std::uint64_t backupCount = 0;
  std::uint64_t storeErrors = 0;

  ReportRing<ControllerReport> controllerIn;
  ReportRing<BridgeReport> bridgeIn;
  Pacer controllerInPacer, controllerOutPacer, bridgeInPacer, bridgeOutPacer;

  std::array<Message, sim_box_detail::kMessageCapacity> messages{};
  std::size_t messageHead = 0;
  std::size_t messageCount = 0;
  std::array<std::uint8_t, 4> lastSelfTest{sim_box_detail::kTestPassed, 0, 0, 0};  // T25's current state
  TouchReporter touchReporter;

  bool streaming = false;
  std::uint8_t streamMode = 0x20;
  std::uint8_t diagMode = 0;
  int diagPage = 0;
  std::vector<std::uint16_t> frameValues;
  std::vector<std::int16_t> deltaValues;
  std::vector<std::uint16_t> diagValues;
  std::array<std::uint8_t, sim_box_detail::kFrameBytes> stream{};

  std::array<std::array<std::uint8_t, 64>, 256> pages{};
  std::array<std::uint8_t, 64> outputBlock{};
  BridgeExpect bridgeExpect = BridgeExpect::Command;
  std::uint8_t bridgePage = 0;
  std::uint64_t outputWrites = 0;
  std::uint64_t rejectedConfigBits = 0;

  std::mutex scanMutex;
  ScanObserver scanObserver;

  std::mutex resetThreadMutex;
  std::jthread resetThread;
  std::mutex scenarioThreadMutex;
  std::jthread scenarioThread;
  std::atomic<bool> scenarioRunning{false};
};

}  // namespace varnex2::sim
