// Post and Send of the station window across threads, and the evaluation's
// notices arriving from another thread. The window is never shown here, so
// nothing is painted (Qt's painting helpers run on threads of their own).
#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <chrono>
#include <stop_token>
#include <thread>
#include <vector>

#include "app/station_window.h"
#include "judging/node_map.h"
#include "station_window_fakes.h"

namespace varnex2::app {
namespace {

using testing_support::App;
using testing_support::FakeStation;

class StationWindowThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    window = std::make_unique<CVarnex2Dlg>(model);
  }
  judging::NodeMap model;
  std::unique_ptr<CVarnex2Dlg> window;
  FakeStation station;
};

// Runs the window thread's loop until `done` or a generous bound.
template <class Pred>
void PumpUntil(Pred done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done() && std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

TEST_F(StationWindowThreadTest, PostAndSendRunOnTheWindowThread) {
  QThread* const uiThread = QThread::currentThread();
  std::atomic<int> posted{0};
  std::atomic<bool> sentOnUi{false}, sendResult{false}, finished{false};
  std::vector<int> order;
  std::jthread worker([&] {
    window->Post([&] {
      order.push_back(1);
      posted.fetch_add(QThread::currentThread() == uiThread ? 1 : 100);
    });
    sendResult = window->Send([&] {
      order.push_back(2);
      sentOnUi = QThread::currentThread() == uiThread;
    });
    finished = true;
  });
  PumpUntil([&] { return finished.load(); });
  worker.join();
  EXPECT_TRUE(sendResult);
  EXPECT_TRUE(sentOnUi);
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));  // queued in the order they were made

  // On the window thread Send runs at once.
  bool direct = false;
  EXPECT_TRUE(window->Send([&] { direct = true; }));
  EXPECT_TRUE(direct);
}

TEST_F(StationWindowThreadTest, SendGivesUpOnAStopRequestAndNeverRunsLate) {
  std::atomic<bool> ran{false}, returned{false}, result{true};
  std::stop_source stop;
  std::jthread worker([&] {
    result = window->Send([&] { ran = true; }, stop.get_token());
    returned = true;
  });
  // The window thread is busy (does not pump): the sender waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  stop.request_stop();
  worker.join();
  EXPECT_FALSE(result);
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);  // abandoned calls are dropped, not run after the sender left

  // A stop already requested: nothing is queued.
  result = true;
  std::jthread([&] { result = window->Send([&] { ran = true; }, stop.get_token()); }).join();
  QCoreApplication::processEvents();
  EXPECT_FALSE(result);
  EXPECT_FALSE(ran);
}

TEST_F(StationWindowThreadTest, SendEndsWhenTheWindowCloses) {
  std::atomic<bool> ran{false}, returned{false}, result{true};
  std::jthread worker([&] {
    result = window->Send([&] { ran = true; });
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  window->close();  // closing works the same on a hidden window
  worker.join();
  EXPECT_FALSE(result);
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);
  // Later sends refuse at once.
  std::jthread([&] { result = window->Send([&] { ran = true; }); }).join();
  EXPECT_FALSE(result);
}

TEST_F(StationWindowThreadTest, EvaluationNoticesArriveOnTheWindowThread) {
  window->AttachStation(&station);
  window->SetTitle("Varnex2 - 设备已连接");
  judging::NodeMap& model = window->Grid()->Model();
  model.SetResultFlags(judging::ResultFlag::EVALUATION_SHOWN);
  model.FixVerdict();
  std::jthread evaluator([&] {
    for (int i = 0; i < 500; ++i) {
      window->OnShowTitleStats(1);
      window->OnShowStatusStats(1);
    }
  });
  evaluator.join();
  EXPECT_EQ(window->JudgedFrames(), 500u);
  PumpUntil([&] { return window->windowTitle().endsWith("MAX:9000 MIN:100"); });
  EXPECT_EQ(window->windowTitle(), "Varnex2 - 设备已连接        MAX:9000 MIN:100");
  EXPECT_EQ(window->StatusBar()->PaneAt(1).text, "MAX:9000 MIN:100");

  // The latest title state wins; a status notice with 0 changes nothing.
  station.statistics = "later";
  std::jthread([&] {
    window->OnShowTitleStats(1);
    window->OnShowStatusStats(0);
    window->OnShowTitleStats(0);
  }).join();
  PumpUntil([&] { return window->windowTitle() == "Varnex2 - 设备已连接"; });
  EXPECT_EQ(window->windowTitle(), "Varnex2 - 设备已连接");
  EXPECT_EQ(window->StatusBar()->PaneAt(1).text, "MAX:9000 MIN:100");
}

}  // namespace
}  // namespace varnex2::app
