// The umockdev testbed wrapper (see umockdev_testbed.h) and the sysfs text helpers: every call
// into the testbed takes its lock, and the driver links and DRIVER properties are written as the
// kernel leaves them.

#include "sim/umockdev_testbed.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace varnex2::sim::umockdev_detail {

std::string HexString(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  static constexpr char kDigits[] = "0123456789abcdef";
  for (const std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

std::string Hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

std::string Hex2(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x", v & 0xFF);
  return text;
}

std::string Attr(const std::string& name, const std::string& value) { return "A: " + name + "=" + value + "\\n\n"; }

std::string UpToSys(const std::string& syspath) {
  std::string dots;
  for (std::size_t i = 1; i < syspath.size(); ++i) {
    if (syspath[i] == '/') dots += "../";
  }
  return dots;
}

bool Testbed::AddFromString(const std::string& text, std::string* error) {
  std::lock_guard lock(mutex);
  GError* gerror = nullptr;
  if (!umockdev_testbed_add_from_string(tb, text.c_str(), &gerror)) {
    if (error != nullptr) *error = gerror != nullptr ? gerror->message : "add_from_string failed";
    if (gerror != nullptr) g_error_free(gerror);
    return false;
  }
  return true;
}

bool Testbed::Attach(const std::string& devnode, UMockdevIoctlBase* handler, std::string* error) {
  std::lock_guard lock(mutex);
  GError* gerror = nullptr;
  if (!umockdev_testbed_attach_ioctl(tb, devnode.c_str(), handler, &gerror)) {
    if (error != nullptr) *error = gerror != nullptr ? gerror->message : "attach_ioctl failed";
    if (gerror != nullptr) g_error_free(gerror);
    return false;
  }
  return true;
}

void Testbed::Detach(const std::string& devnode) {
  std::lock_guard lock(mutex);
  GError* gerror = nullptr;
  if (!umockdev_testbed_detach_ioctl(tb, devnode.c_str(), &gerror) && gerror != nullptr) g_error_free(gerror);
}

void Testbed::Uevent(const std::string& syspath, const char* action) {
  std::lock_guard lock(mutex);
  umockdev_testbed_uevent(tb, syspath.c_str(), action);
}

void Testbed::UeventAndRemove(const std::string& syspath) {
  std::lock_guard lock(mutex);
  umockdev_testbed_uevent(tb, syspath.c_str(), "remove");
  umockdev_testbed_remove_device(tb, syspath.c_str());
}

int Testbed::DevFd(const std::string& devnode) {
  std::lock_guard lock(mutex);
  return umockdev_testbed_get_dev_fd(tb, devnode.c_str());
}

void Testbed::SetProperty(const std::string& syspath, const char* name, const std::string& value) {
  std::lock_guard lock(mutex);
  umockdev_testbed_set_property(tb, syspath.c_str(), name, value.c_str());
}

void Testbed::SetAttribute(const std::string& syspath, const char* name, const std::string& value) {
  std::lock_guard lock(mutex);
  umockdev_testbed_set_attribute(tb, syspath.c_str(), name, value.c_str());
}

void Testbed::MakeDriverDir(const std::string& bus, const std::string& driver) {
  const std::string dir = sys + "/bus/" + bus + "/drivers/" + driver;
  g_mkdir_with_parents(dir.c_str(), 0755);
}

void Testbed::SetDriver(const std::string& syspath, const std::string& bus, const std::string& driver) {
  std::lock_guard lock(mutex);
  const std::string dir = root + syspath;
  const std::string link = dir + "/driver";
  unlink(link.c_str());
  if (!driver.empty()) {
    MakeDriverDir(bus, driver);
    [[maybe_unused]] const int r =
        symlink((UpToSys(syspath) + "bus/" + bus + "/drivers/" + driver).c_str(), link.c_str());
  }
  std::string kept;
  {
    std::ifstream in(dir + "/uevent");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("DRIVER=", 0) != 0) kept += line + "\n";
    }
  }
  if (!driver.empty()) kept += "DRIVER=" + driver + "\n";
  std::ofstream(dir + "/uevent", std::ios::trunc) << kept;
}

}  // namespace varnex2::sim::umockdev_detail
