#include "service/tool_connection.h"

#include <cstdio>

#include "device/controller_ops.h"
#include "device/result_codes.h"
#include "platform/interface_path.h"

namespace varnex2::service {

std::string ToolConnectedTitle(const device::ControllerRecord& record) {
  char text[128];
  std::snprintf(text, sizeof text, "Varnex2 Tester(FW=%x.%x[F=0x%02X V=0x%02X B=0x%02X]) - 设备已经连接",
                record.Version() >> 4, record.Version() & 0x0F, record.FamilyId(), record.VariantId(),
                record.Build());
  return text;
}

std::string FirmwareVersionText(const device::ControllerRecord& record) {
  char text[128];
  std::snprintf(text, sizeof text, "固件版本%x.%x,Family=0x%02X Variant=0x%02X Build=0x%02X", record.Version() >> 4,
                record.Version() & 0x0F, record.FamilyId(), record.VariantId(), record.Build());
  return text;
}

bool ConcernsController(const platform::DeviceEvent& event) {
  return platform::ClassifyInterfacePath(event.interfacePath).controllerMain;
}

ToolConnection::ToolConnection(platform::UsbPort& port) : link_(port) {}

ToolConnection::~ToolConnection() { Close(); }

int ToolConnection::Open() {
  int r = OpenLink();
  if (r == 0) r = ReadInfo();
  if (r != 0) link_.CloseController();
  return r;
}

int ToolConnection::OpenLink() {
  std::lock_guard lock(mutex_);
  open_ = false;
  return link_.OpenController();
}

int ToolConnection::ReadInfo() {
  std::lock_guard lock(mutex_);
  open_ = false;
  if (!link_.HasHandle() || !link_.Record()) return device::kErrNoHandle;
  const int r = device::ReadInfoBlock(link_, *link_.Record());
  open_ = r == 0;
  return r;
}

void ToolConnection::Close() {
  std::lock_guard lock(mutex_);
  link_.CloseController();
  open_ = false;
}

}  // namespace varnex2::service
