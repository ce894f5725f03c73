// Readers on other threads always see a whole record, never a half-assigned one.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "scanner/scanner_setting.h"

namespace varnex2::scanner {
namespace {

TEST(SharedScannerSetting, ReadersSeeWholeRecordsWhileTheWindowThreadReplacesThem) {
  SharedScannerSetting shared;
  ScannerSetting a;
  a.strTriggerString = std::string(300, 'a');
  a.nCounterNum = 1;
  ScannerSetting b;
  b.strTriggerString = std::string(40, 'b');
  b.nCounterNum = 2;
  shared.Set(a);

  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop.load()) {
      const ScannerSetting s = shared.Get();
      if (!(s == a) && !(s == b)) ++torn;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    if (i % 3 == 0) {
      shared.Update([&](ScannerSetting& s) { s = (s.nCounterNum == 1) ? b : a; });
    } else {
      shared.Set(i % 2 == 0 ? a : b);
    }
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace varnex2::scanner
