#pragma once
// The state behind Station, shared by the station and every worker thread it starts (a worker
// holds a shared owner of the core). It puts the parts together: the node-map model, the
// panel state, the link session, the worker slots, the test cycle, the configuration commands
// and device presence, and runs start-up and shutdown.

#include <memory>

#include "judging/node_map.h"
#include "station/area_editing.h"
#include "station/device_presence.h"
#include "station/link_session.h"
#include "station/panel_state.h"
#include "station/scanner_records.h"
#include "station/station.h"
#include "station/setup_commands.h"
#include "station/test_cycle.h"
#include "station/view_slot.h"
#include "station/worker_slots.h"

namespace varnex2::station {

class StationCore : public std::enable_shared_from_this<StationCore> {
 public:
  explicit StationCore(StationBackends backends);
  StationCore(const StationCore&) = delete;
  StationCore& operator=(const StationCore&) = delete;

  // Wires what needs a weak owner of the core; called once after construction.
  void Attach();
  // Output-trigger settings, registration for device events, opening the controller link and
  // starting the device threads. Window thread.
  void Initialise();
  // Stops the monitor and every worker (bounded) and closes both links when all have ended.
  void Shutdown();

  platform::SettingsStore& Settings() { return *backends_.settings; }

  ViewSlot view;
  judging::NodeMap grid;  // judged by the cycle, painted by the window's widget

 private:
  StationBackends backends_;
  bool monitorStarted_ = false;

 public:
  // The parts, in construction order (each refers only to those before it).
  PanelState panel;
  ScannerRecords scanner;
  LinkSession link;
  WorkerSlots slots;
  TestCycle cycle;
  SetupCommands commands;
  AreaEditing editing;
  DevicePresence presence;
};

}  // namespace varnex2::station
