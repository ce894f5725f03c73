// A plain program that uses the real back-ends; varnex2-simbox runs it against the simulated box
// (the preload comes from varnex2-simbox, not from this binary). Exit 0 when everything answers.

#include <cstdio>
#include <string>

#include "platform/hid_port.h"
#include "platform/usb_port.h"
#include "sim/box_identity.h"

int main() {
  using namespace varnex2;
  auto usb = platform::CreateLibusbPort();
  if (usb->Init() != 0) return 10;
  if (usb->Open(sim::kControllerVendorId, sim::kControllerProductId) != 0) return 11;
  std::string text;
  if (usb->GetStringDescriptorAscii(2, text) < 0 || text != sim::kControllerProduct) return 12;
  if (usb->ClaimInterface(sim::kControllerInterface) != 0) return 13;
  usb->ReleaseInterface(sim::kControllerInterface);
  usb->Close();
  usb->Exit();

  auto hid = platform::CreateHidapiPort();
  const auto devices = hid->Enumerate(sim::kBridgeVendorId, sim::kBridgeProductId);
  if (devices.size() != 1) return 20;
  const std::u16string product(sim::kBridgeProduct.begin(), sim::kBridgeProduct.end());
  if (devices[0].product != product) return 21;
  if (hid->Open(devices[0].path) != 0) return 22;
  hid->Close();
  std::puts("box answered");
  return 0;
}
