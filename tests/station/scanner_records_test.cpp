// The scanner's paths into the core: the serial port opened by the connection (its index
// clamped, its open failures told with their texts, opened once), the keyboard source started
// once and a keyboard that cannot be read told once, and a scan typed on the keyboard that
// leaves its record with the code.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <mutex>

#include "sim/sim_key_source.h"
#include "station/station_rig.h"
#include "station/station_texts.h"

namespace varnex2::station {
namespace {

struct SerialLog {
  std::mutex mutex;
  std::vector<std::string> inits;
  int opens = 0;
};

class FakeSerial final : public scanner::SerialLink {
 public:
  FakeSerial(std::shared_ptr<SerialLog> log, std::vector<std::string> ports, scanner::SerialOpenResult result)
      : log_(std::move(log)), ports_(std::move(ports)), result_(std::move(result)) {}
  std::vector<std::string> AvailablePorts() override { return ports_; }
  void Init(const scanner::SerialSettings& s) override {
    std::lock_guard lock(log_->mutex);
    log_->inits.push_back(s.port + " " + std::to_string(s.baudRate) + " " + std::to_string(s.dataBits));
  }
  scanner::SerialOpenResult Open() override {
    std::lock_guard lock(log_->mutex);
    ++log_->opens;
    opened_ = result_.error == scanner::SerialOpenError::None;
    return result_;
  }
  void Close() override { opened_ = false; }
  bool IsOpened() const override { return opened_; }
  void SetReadReady(ReadReady) override {}

 private:
  std::shared_ptr<SerialLog> log_;
  std::vector<std::string> ports_;
  scanner::SerialOpenResult result_;
  std::atomic<bool> opened_{false};
};

class RefusedKeyboards final : public platform::KeySource {
 public:
  bool Start(Handler) override { return true; }
  void Stop() override {}
  int KeyboardCount() const override { return 0; }
  std::string Problem() const override { return "no permission to read the keyboard /dev/input/event3"; }
};

RigOptions SerialRig(std::shared_ptr<SerialLog> log, scanner::SerialOpenResult result) {
  RigOptions o;
  o.connectType = scanner::kConnectUsbSerial;
  o.backends = [log, result](StationBackends& b) {
    b.serial = std::make_unique<FakeSerial>(log, std::vector<std::string>{"ttyS0", "ttyUSB0"}, result);
  };
  return o;
}

bool HasMessage(StationRig& rig, const std::string& text) {
  for (const std::string& m : rig.Messages())
    if (m == text) return true;
  return false;
}

TEST(ScannerSerialPort, OpenedOnceAtConnectionWithTheIndexClampedAndFailuresTold) {
  const struct {
    scanner::SerialOpenError error;
    int code;
    const char* message;  // empty: nothing shown
  } cases[] = {
      {scanner::SerialOpenError::None, 0, ""},
      {scanner::SerialOpenError::NotFound, 2, "/dev/ttyUSB0 ERROR_FILE_NOT_FOUND,Error Code:2"},
      {scanner::SerialOpenError::AccessDenied, 13, "/dev/ttyUSB0 ERROR_ACCESS_DENIED,Error Code:13"},
      {scanner::SerialOpenError::Other, 22, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    auto log = std::make_shared<SerialLog>();
    StationRig rig(SerialRig(log, {c.error, c.code, "/dev/ttyUSB0"}));
    rig.settings->SetDword(scanner::kRegKeyConnect, "COMNum", 5);  // beyond the two ports
    rig.Initialise();
    ASSERT_TRUE(rig.WaitTesting());
    {
      std::lock_guard lock(log->mutex);
      EXPECT_EQ(log->inits, (std::vector<std::string>{"ttyUSB0 9600 8"}));
      EXPECT_EQ(log->opens, 1);
    }
    EXPECT_EQ(rig.station->ScannerSettings().Get().nCOMNum, 1);  // in memory only
    if (*c.message != '\0') {
      EXPECT_TRUE(HasMessage(rig, c.message)) << ::testing::PrintToString(rig.Messages());
    } else {
      EXPECT_TRUE(rig.Messages().empty()) << ::testing::PrintToString(rig.Messages());
    }
  }
}

TEST(ScannerKeyboard, AKeyboardThatCannotBeReadIsToldOnceWhenTheKeyboardScannerIsChosen) {
  for (const int connectType : {scanner::kConnectUsbKeyboard, scanner::kConnectUsbSerial}) {
    RigOptions o;
    o.connectType = connectType;
    o.backends = [](StationBackends& b) { b.keys = std::make_unique<RefusedKeyboards>(); };
    StationRig rig(o);
    rig.Initialise();
    ASSERT_TRUE(rig.WaitTesting());
    ASSERT_TRUE(WaitUntil([&] { return !rig.Messages().empty() || connectType != 0; }, 5s));
    int told = 0;
    for (const std::string& m : rig.Messages())
      if (m.rfind(texts::kKeyboardUnreadable, 0) == 0) ++told;
    EXPECT_EQ(told, connectType == scanner::kConnectUsbKeyboard ? 1 : 0) << connectType;
  }
}

TEST(ScannerKeyboard, AScanTypedOnTheKeyboardLeavesItsRecord) {
  sim::SimKeySource* keys = nullptr;
  RigOptions o;
  o.backends = [&keys](StationBackends& b) {
    auto source = std::make_unique<sim::SimKeySource>();
    keys = source.get();
    b.keys = std::move(source);
  };
  StationRig rig(o);
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  ASSERT_TRUE(WaitUntil([&] { return rig.station->ScannerSettings().Get().nCounterNum == 1; }));  // the cycle's
  ASSERT_TRUE(keys->Type("AB2600107\r\n"));
  ASSERT_TRUE(WaitUntil([&] { return rig.station->ScannerSettings().Get().nCounterNum == 2; }));
  // The letters before the code are sent along ("{扫描枪数据}" is in the default name pattern
  // only as the counter, model, time and verdict): read the record by its counter.
  std::string record;
  for (const auto& entry : std::filesystem::directory_iterator(rig.RecordsPath() / "TestLog")) {
    if (entry.path().filename().string().rfind("1.", 0) == 0) {
      std::ifstream in(entry.path(), std::ios::binary);
      record.assign(std::istreambuf_iterator<char>(in), {});
    }
  }
  EXPECT_NE(record.find("[扫描枪数据]\r\nAB2600107\r\n"), std::string::npos) << record;
}

}  // namespace
}  // namespace varnex2::station
