// The information block, object table and object operations over an arbitrary memory map: the
// fuzz input is the controller's memory from address 0 (zero beyond it); writes land in a copy.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/controller_link.h"
#include "device/controller_ops.h"
#include "device/panel_areas.h"
#include "device/user_data_record.h"
#include "sync_port.h"

using namespace varnex2;
using varnex2::device::fuzzing::SyncPort;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> memory(data, data + std::min<std::size_t>(size, 65536));
  SyncPort port;
  port.onRequest = [&](const SyncPort::Report& req) { device::fuzzing::AnswerRegister(port, memory, req); };
  device::ControllerLink link(port);
  if (link.OpenController() != 0) return 0;
  device::ControllerRecord& record = *link.Record();
  // The checksum is honoured; to reach the operations behind it, patch it in when it is wrong
  // (the first byte of the input decides).
  int r = device::ReadInfoBlock(link, record);
  if (r == device::kErrChecksumMismatch && size > 0 && (data[0] & 1)) {
    const std::size_t end = 7 + 6 * static_cast<std::size_t>(record.ObjectCount());
    std::vector<std::uint8_t> head(end, 0);
    for (std::size_t i = 0; i < end && i < memory.size(); ++i) head[i] = memory[i];
    const std::uint32_t crc = device::InfoBlockChecksum(head);
    if (memory.size() < end + 3) memory.resize(end + 3, 0);
    memory[end] = static_cast<std::uint8_t>(crc);
    memory[end + 1] = static_cast<std::uint8_t>(crc >> 8);
    memory[end + 2] = static_cast<std::uint8_t>(crc >> 16);
    r = device::ReadInfoBlock(link, record);
  }
  for (int type = 0; type < 256; ++type) {
    const auto t = static_cast<std::uint8_t>(type);
    const int instances = device::ObjectInstances(record, t);
    for (int i = -1; i <= instances && i < 4; ++i) (void)device::FindObject(record, t, i);
    (void)device::ObjectSize(record, t);
  }
  for (int id = 0; id < 256; ++id) (void)device::ReportIdOwner(record, static_cast<std::uint8_t>(id));

  device::WindowFields w;
  device::ReadTouchWindow(link, w);
  device::ReadKeyWindow(link, w);
  std::vector<device::SignalLimit> limits;
  device::ReadSignalLimits(link, device::kT9Touchscreen, limits);
  device::ReadSignalLimits(link, device::kT15KeyArray, limits);
  device::AreaSettings touch, key;
  device::ReadPanelAreas(link, touch, key);
  device::UserDataRecord user;
  device::ReadUserData(link, user);
  int count = 0;
  device::ReadMessageCount(link, record, count);
  std::vector<std::uint8_t> message(256);
  int length = 0;
  device::ReadMessage(link, record, message, length);
  std::vector<std::uint8_t> object(300);
  device::ReadObject(link, device::kT38UserData, 0, object);
  device::ReadObject(link, device::kT9Touchscreen, 1, object);
  if (r == 0) {
    device::WritePanelAreas(link, touch, key);
    device::WriteUserData(link, user);
    if (size > 0 && (data[0] & 2)) {  // up to thousands of exchanges: only for some inputs
      std::vector<std::int16_t> diag(device::kMaxNodes);
      int x = 0, y = 0;
      device::ReadDiagnosticFrame(link, record, diag, x, y, 0x11);
    }
  }
  link.CloseController();
  return 0;
}
