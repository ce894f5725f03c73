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
  open_ = false;
  int r = link_.OpenController();
  if (r == 0) r = link_.Record() ? device::ReadInfoBlock(link_, *link_.Record()) : device::kErrNoHandle;
  if (r != 0) {
    link_.CloseController();
    return r;
  }
  open_ = true;
  return 0;
}

void ToolConnection::Close() {
  std::lock_guard lock(mutex_);
  link_.CloseController();
  open_ = false;
}

}  // namespace varnex2::service
