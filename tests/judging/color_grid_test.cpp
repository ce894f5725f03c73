// Mouse editing, notifications, verdict counting and drawing of CColorGrid, on
// the offscreen platform with synthetic mouse events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <cstdlib>
#include <memory>
#include <vector>

#include "judging/widget/color_grid.h"
#include "judging/model_grid.h"

namespace varnex2::judging {
namespace {

using testing::ModelGrid;

QApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_color_grid";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // lives for the whole run
  return *app;
}

class ColorGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    grid = std::make_unique<ModelGrid>();
    grid->resize(1060, 660);
    grid->Model().SetGridSize(52, 32);
  }

  QPoint Centre(int col, int row) {
    grid->Model().Layout(grid->width(), grid->height());
    const Rect r = grid->Model().Cell(col, row).rcNode;
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }

  void Send(QEvent::Type type, QPoint pt, Qt::MouseButton button, Qt::MouseButtons buttons,
            Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent ev(type, QPointF(pt), QPointF(grid->mapToGlobal(pt)), button, buttons, mods);
    QCoreApplication::sendEvent(grid.get(), &ev);
  }
  void Move(QPoint pt, Qt::MouseButtons buttons = Qt::NoButton, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Send(QEvent::MouseMove, pt, Qt::NoButton, buttons, mods);
  }
  void Press(QPoint pt, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Send(QEvent::MouseButtonPress, pt, Qt::LeftButton, Qt::LeftButton, mods);
  }
  void Release(QPoint pt, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Send(QEvent::MouseButtonRelease, pt, Qt::LeftButton, Qt::NoButton, mods);
  }
  void DoubleClick(QPoint pt, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Send(QEvent::MouseButtonDblClick, pt, Qt::LeftButton, Qt::LeftButton, mods);
  }
  void Drag(QPoint from, QPoint via, QPoint to) {
    Move(from);
    Press(from);
    Move(via, Qt::LeftButton);
    Move(to, Qt::LeftButton);
    Release(to);
  }

  // The touch area over the whole map and the key area at columns 44..47,
  // rows 0..3 with its nodes masked, as the main window sets them up.
  void TwoAreas() {
    NodeMap& m = grid->Model();
    m.AddArea(0, 0, 32, 52, 0);
    m.AddArea(0, 44, 4, 4, 1);
    grid->CommitArea(0, true);
    grid->CommitArea(1, true);
    m.SetNodeFlags(44, 0, 47, 3, NodeFlag::MASK, NodeFlag::MASK, FlagOp::Set);
  }

  static std::pair<qintptr, qintptr> Args(const QSignalSpy& spy, int i = 0) {
    return {spy.at(i).at(0).value<qintptr>(), spy.at(i).at(1).value<qintptr>()};
  }

  std::unique_ptr<CColorGrid> grid;
};

using Pair = std::pair<qintptr, qintptr>;

TEST_F(ColorGridTest, DrawingNewAreasStoresCornersStampsGroupsAndNotifies) {
  QSignalSpy done(grid.get(), &CColorGrid::gridAreaDone);
  NodeMap& m = grid->Model();

  grid->StartNewArea();
  ASSERT_EQ(m.AreaCount(), 1);
  EXPECT_EQ(m.Areas()[0].strName, "GroupName");
  EXPECT_FALSE(m.Areas()[0].bEnabled);
  EXPECT_TRUE(grid->EditState().bNewArea);

  // Bottom-right to top-left: corners stay in press/release order.
  Drag(Centre(30, 20), Centre(20, 10), Centre(5, 3));
  const GridArea a = m.Areas()[0];
  EXPECT_TRUE(a.bEnabled);
  EXPECT_EQ(a.nFirstCol, 30);
  EXPECT_EQ(a.nFirstRow, 20);
  EXPECT_EQ(a.nSecondCol, 5);
  EXPECT_EQ(a.nSecondRow, 3);
  EXPECT_EQ(m.GetNodeGroup(5, 3), 1);
  EXPECT_EQ(m.GetNodeGroup(30, 20), 1);
  EXPECT_EQ(m.GetNodeGroup(17, 12), 1);
  EXPECT_EQ(m.GetNodeGroup(31, 20), 0);
  EXPECT_EQ(m.GetNodeGroup(5, 2), 0);
  ASSERT_EQ(done.count(), 1);
  EXPECT_EQ(Args(done), Pair(1, 1));
  EXPECT_FALSE(grid->EditState().bNewArea);
  EXPECT_FALSE(grid->EditState().hovered.Valid());

  // The key area comes second and gets group 2.
  grid->StartNewArea();
  Drag(Centre(44, 0), Centre(45, 2), Centre(47, 3));
  ASSERT_EQ(m.AreaCount(), 2);
  EXPECT_EQ(m.GetNodeGroup(46, 2), 2);
  EXPECT_EQ(m.GetNodeGroup(10, 10), 1);
  ASSERT_EQ(done.count(), 2);
  EXPECT_EQ(Args(done, 1), Pair(1, 2));

  // A third area is refused and the next drag edits nothing.
  grid->StartNewArea();
  EXPECT_EQ(m.AreaCount(), 2);
  EXPECT_FALSE(grid->EditState().bNewArea);
  Drag(Centre(1, 1), Centre(2, 2), Centre(3, 3));
  EXPECT_EQ(m.Areas()[1].nFirstCol, 44);
  EXPECT_EQ(Args(done, 2), Pair(0, -1));
}

TEST_F(ColorGridTest, ReleaseOutsideTheMapKeepsTheLastMoveAndReportsNothingDone) {
  QSignalSpy done(grid.get(), &CColorGrid::gridAreaDone);
  grid->StartNewArea();
  Move(Centre(2, 2));
  Press(Centre(2, 2));
  Move(Centre(6, 5), Qt::LeftButton);
  Move(QPoint(3, 3), Qt::LeftButton);  // the legend corner holds no node
  Release(QPoint(3, 3));
  const GridArea a = grid->Model().Areas()[0];
  EXPECT_EQ(a.nFirstCol, 2);
  EXPECT_EQ(a.nSecondCol, 6);
  EXPECT_EQ(a.nSecondRow, 5);
  EXPECT_TRUE(a.bEnabled);
  ASSERT_EQ(done.count(), 1);
  EXPECT_EQ(Args(done), Pair(0, -1));
  EXPECT_FALSE(grid->EditState().bNewArea);
}

TEST_F(ColorGridTest, RedefiningAnAreaResetsItsGroupsAndRestampsThem) {
  QSignalSpy done(grid.get(), &CColorGrid::gridAreaDone);
  NodeMap& m = grid->Model();
  m.AddArea(2, 2, 10, 10, 0);  // rows 2..11, columns 2..11
  grid->CommitArea(0, true);
  EXPECT_EQ(m.GetNodeGroup(5, 5), 0);  // committed area 0 stamps group 0
  m.StampAreaGroup(0, 1);

  grid->BeginAreaDefine(0);
  EXPECT_TRUE(grid->EditState().bRedefineArea);
  EXPECT_EQ(grid->EditState().nRedefineIndex, 0);
  EXPECT_FALSE(m.Areas()[0].bEnabled);
  EXPECT_EQ(m.GetNodeGroup(5, 5), 0);

  Drag(Centre(20, 15), Centre(22, 16), Centre(25, 18));
  const GridArea a = m.Areas()[0];
  EXPECT_TRUE(a.bEnabled);
  EXPECT_EQ(a.nFirstCol, 20);
  EXPECT_EQ(a.nSecondCol, 25);
  EXPECT_EQ(a.nSecondRow, 18);
  EXPECT_EQ(m.GetNodeGroup(22, 17), 1);
  EXPECT_EQ(m.GetNodeGroup(5, 5), 0);
  EXPECT_FALSE(grid->EditState().bRedefineArea);
  EXPECT_FALSE(grid->EditState().bRedefineDragging);
  ASSERT_EQ(done.count(), 1);
  EXPECT_EQ(Args(done), Pair(2, 1));

  // Committing stamps the area index and sets the enabled flag.
  grid->CommitArea(0, false);
  EXPECT_EQ(m.GetNodeGroup(22, 17), 0);
  EXPECT_FALSE(m.Areas()[0].bEnabled);

  // A redrawing drag released beside the map keeps its last corner, and
  // moving on without the button does not drag it further.
  grid->BeginAreaDefine(0);
  Move(Centre(3, 3));
  Press(Centre(3, 3));
  Move(Centre(6, 6), Qt::LeftButton);
  Release(QPoint(3, 3));
  EXPECT_EQ(Args(done, 1), Pair(0, -1));
  Move(Centre(9, 9));
  EXPECT_EQ(m.Areas()[0].nSecondCol, 6);
  EXPECT_EQ(m.Areas()[0].nSecondRow, 6);
  EXPECT_TRUE(grid->EditState().bRedefineArea);

  // An index naming no area (also the one just past the end) changes nothing.
  Drag(Centre(3, 3), Centre(4, 4), Centre(5, 5));  // finishes the redrawing
  grid->BeginAreaDefine(1);
  EXPECT_EQ(grid->EditState().nRedefineIndex, -1);
  EXPECT_FALSE(grid->EditState().bRedefineArea);
  grid->BeginAreaDefine(5);
  EXPECT_EQ(grid->EditState().nRedefineIndex, -1);
}

TEST_F(ColorGridTest, CtrlAndRegionSelectionsFollowTheMouse) {
  QSignalSpy done(grid.get(), &CColorGrid::gridAreaDone);
  Move(Centre(3, 4), Qt::NoButton, Qt::ControlModifier);
  Press(Centre(3, 4), Qt::ControlModifier);
  EXPECT_TRUE(grid->EditState().bSelecting);
  EXPECT_TRUE(grid->SelectionShown());
  Move(Centre(8, 9), Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(grid->SelectionEnd(), (NodePos{8, 9}));
  Release(Centre(9, 10), Qt::ControlModifier);
  EXPECT_EQ(grid->SelectionStart(), (NodePos{3, 4}));
  EXPECT_EQ(grid->SelectionEnd(), (NodePos{9, 10}));
  EXPECT_FALSE(grid->EditState().bSelecting);
  EXPECT_EQ(Args(done), Pair(0, -1));

  // Region-select mode starts a selection without Ctrl and ends with the release.
  grid->SetRegionSelect(true);
  Move(Centre(1, 1));
  Press(Centre(1, 1));
  Move(Centre(4, 2), Qt::LeftButton);
  EXPECT_EQ(grid->SelectionEnd(), (NodePos{4, 2}));
  Release(Centre(5, 2));
  EXPECT_EQ(grid->SelectionStart(), (NodePos{1, 1}));
  EXPECT_EQ(grid->SelectionEnd(), (NodePos{5, 2}));
  EXPECT_FALSE(grid->RegionSelect());
  EXPECT_TRUE(grid->SelectionShown());

  // A right press hides the selection; the release asks for the menu. The
  // station receives the notifications queued ("posted").
  QSignalSpy menu(grid.get(), &CColorGrid::gridMenu);
  QObject receiver;
  std::vector<Pair> posted;
  QObject::connect(
      grid.get(), &CColorGrid::gridMenu, &receiver, [&](qintptr w, qintptr l) { posted.emplace_back(w, l); },
      Qt::QueuedConnection);
  Send(QEvent::MouseButtonPress, Centre(2, 2), Qt::RightButton, Qt::RightButton);
  EXPECT_FALSE(grid->SelectionShown());
  EXPECT_TRUE(menu.isEmpty());
  Send(QEvent::MouseButtonRelease, Centre(2, 2), Qt::RightButton, Qt::NoButton);
  ASSERT_EQ(menu.count(), 1);
  EXPECT_EQ(Args(menu), Pair(0, 0));
  EXPECT_TRUE(posted.empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(posted, std::vector<Pair>{Pair(0, 0)});
  EXPECT_FALSE(grid->EditState().hovered.Valid());
}

TEST_F(ColorGridTest, DoubleClickAsksForTheNodeOrAreaDialog) {
  QSignalSpy edit(grid.get(), &CColorGrid::gridNodeEdit);
  QSignalSpy mark(grid.get(), &CColorGrid::gridNodeMark);
  DoubleClick(Centre(7, 3));
  ASSERT_EQ(edit.count(), 1);
  EXPECT_EQ(Args(edit), Pair(-1, (3 << 8) | 7));

  TwoAreas();
  DoubleClick(Centre(51, 31));
  EXPECT_EQ(Args(edit, 1), Pair(0, (31 << 8) | 51));
  DoubleClick(Centre(45, 2));  // inside both: the last area in the list wins
  EXPECT_EQ(Args(edit, 2), Pair(1, (2 << 8) | 45));
  EXPECT_TRUE(mark.isEmpty());
  EXPECT_EQ(grid->Model().GetNodeFlags(45, 2), NodeFlag::MASK);  // no toggle without Ctrl

  // Beside the nodes nothing is asked for.
  DoubleClick(QPoint(3, 3));
  EXPECT_EQ(edit.count(), 3);
}

TEST_F(ColorGridTest, CtrlDoubleClickTogglesMarksAndReportsTheOldFlags) {
  QSignalSpy mark(grid.get(), &CColorGrid::gridNodeMark);
  QSignalSpy edit(grid.get(), &CColorGrid::gridNodeEdit);
  NodeMap& m = grid->Model();
  TwoAreas();

  // Touch node outside the key area: TOUCH -> MASK -> TOUCH.
  DoubleClick(Centre(10, 20), Qt::ControlModifier);
  EXPECT_EQ(m.GetNodeFlags(10, 20), NodeFlag::MASK);
  ASSERT_EQ(mark.count(), 1);
  EXPECT_EQ(Args(mark), Pair((NodeFlag::TOUCH << 8) | 0, (20 << 8) | 10));
  DoubleClick(Centre(10, 20), Qt::ControlModifier);
  EXPECT_EQ(m.GetNodeFlags(10, 20), NodeFlag::TOUCH);
  EXPECT_EQ(Args(mark, 1), Pair((NodeFlag::MASK << 8) | 0, (20 << 8) | 10));

  // Masked node inside the key area: MASK -> KEY -> MASK.
  DoubleClick(Centre(46, 1), Qt::ControlModifier);
  EXPECT_EQ(m.GetNodeFlags(46, 1), NodeFlag::KEY);
  EXPECT_EQ(Args(mark, 2), Pair((NodeFlag::MASK << 8) | 1, (1 << 8) | 46));
  DoubleClick(Centre(46, 1), Qt::ControlModifier);
  EXPECT_EQ(m.GetNodeFlags(46, 1), NodeFlag::MASK);
  EXPECT_EQ(Args(mark, 3), Pair((NodeFlag::KEY << 8) | 1, (1 << 8) | 46));

  // A ZERO node keeps its flags; the notification still carries them.
  m.SetNodeFlags(3, 3, 3, 3, NodeFlag::TOUCH | NodeFlag::ZERO, 0, FlagOp::Set);
  DoubleClick(Centre(3, 3), Qt::ControlModifier);
  EXPECT_EQ(m.GetNodeFlags(3, 3), NodeFlag::TOUCH | NodeFlag::ZERO);
  EXPECT_EQ(Args(mark, 4), Pair(((NodeFlag::TOUCH | NodeFlag::ZERO) << 8) | 0, (3 << 8) | 3));

  // Upper flag bits are dropped by the toggle; "no area" is 0xFF in the low byte.
  m.ClearAreas();
  m.SetNodeFlags(12, 5, 12, 5, NodeFlag::TOUCH | NodeFlag::HIGH, 0, FlagOp::Set);
  DoubleClick(Centre(12, 5), Qt::ControlModifier);
  EXPECT_EQ(m.GetNodeFlags(12, 5), NodeFlag::MASK);
  EXPECT_EQ(Args(mark, 5), Pair((((NodeFlag::TOUCH | NodeFlag::HIGH) & 0xFF) << 8) | 0xFF, (5 << 8) | 12));
  EXPECT_TRUE(edit.isEmpty());
}

TEST_F(ColorGridTest, EmptyMapIgnoresTheMouseAndPaintsOnlyTheBackground) {
  grid->Model().SetGridSize(0, 0);
  QSignalSpy done(grid.get(), &CColorGrid::gridAreaDone);
  QSignalSpy menu(grid.get(), &CColorGrid::gridMenu);
  QSignalSpy edit(grid.get(), &CColorGrid::gridNodeEdit);
  QSignalSpy mark(grid.get(), &CColorGrid::gridNodeMark);
  grid->StartNewArea();
  Move(QPoint(100, 100));
  Press(QPoint(100, 100));
  Release(QPoint(100, 100));
  DoubleClick(QPoint(100, 100));
  DoubleClick(QPoint(100, 100), Qt::ControlModifier);
  Send(QEvent::MouseButtonPress, QPoint(5, 5), Qt::RightButton, Qt::RightButton);
  Send(QEvent::MouseButtonRelease, QPoint(5, 5), Qt::RightButton, Qt::NoButton);
  EXPECT_TRUE(done.isEmpty());
  EXPECT_TRUE(menu.isEmpty());
  EXPECT_TRUE(edit.isEmpty());
  EXPECT_TRUE(mark.isEmpty());
  EXPECT_FALSE(grid->EditState().hovered.Valid());

  const QImage img = grid->RenderToImage(QSize(200, 120));
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) ASSERT_EQ(img.pixel(x, y), qRgb(200, 200, 200)) << x << "," << y;

  // The reconnect countdown stays readable on the emptied map.
  grid->Model().SetNoticeLabel("请等待 15 秒程序拔出设备", true, MakeRgb(255, 0, 0), MakeRgb(255, 255, 255));
  const QImage notice = grid->RenderToImage(QSize(400, 120));
  EXPECT_NE(notice.pixel(12, 12), qRgb(200, 200, 200));
}

TEST_F(ColorGridTest, EveryRepaintFixesAndCountsTheVerdict) {
  NodeMap& m = grid->Model();
  grid->RenderToImage(QSize(300, 200));
  EXPECT_EQ(grid->windowTitle(), "PASS");
  EXPECT_EQ(m.GetColorGridCounterPass(), 0);  // the change itself counts 0
  grid->RenderToImage(QSize(300, 200));
  grid->RenderToImage(QSize(300, 200));
  EXPECT_EQ(m.GetColorGridCounterPass(), 2);

  m.SetResultFlags(ResultFlag::EVALUATION_SHOWN | ResultFlag::TOUCH_NG);
  grid->RenderToImage(QSize(300, 200));
  EXPECT_EQ(grid->windowTitle(), "FAIL");
  EXPECT_EQ(m.GetVerdictText(), "FAIL");
  EXPECT_EQ(m.GetColorGridCounterPass(), 0);
  EXPECT_EQ(m.GetColorGridCounterFail(), 0);
  grid->RenderToImage(QSize(300, 200));
  EXPECT_EQ(m.GetColorGridCounterFail(), 1);

  // The window's own paint counts as well.
  grid->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
  const int before = m.GetColorGridCounterFail();
  grid->repaint();
  EXPECT_EQ(m.GetColorGridCounterFail(), before + 1);
  grid->hide();
}

// ---- Pixels ----------------------------------------------------------------------------------

class ColorGridPixelTest : public ColorGridTest {
 protected:
  static constexpr QRgb kBackground = qRgb(200, 200, 200);

  // Uniform mono map, small enough that no node carries a value text.
  void SmallMonoMap() {
    grid->Model().SetGridSize(40, 24);
    grid->Model().SetDisplayStyle(kStyleMono);
  }
  QPoint NodeCentre(int col, int row, QSize size) {
    grid->Model().Layout(size.width(), size.height());
    const Rect r = grid->Model().Cell(col, row).rcNode;
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
  static int CountNear(const QImage& img, QRgb target, int tolerance) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y) {
      for (int x = 0; x < img.width(); ++x) {
        const QRgb p = img.pixel(x, y);
        if (std::abs(qRed(p) - qRed(target)) <= tolerance && std::abs(qGreen(p) - qGreen(target)) <= tolerance &&
            std::abs(qBlue(p) - qBlue(target)) <= tolerance)
          ++n;
      }
    }
    return n;
  }
};

TEST_F(ColorGridPixelTest, BackgroundNodesAndStatusMarks) {
  NodeMap& m = grid->Model();
  m.SetResultFlags(0);  // no verdict overlay
  const QSize size(420, 260);
  SmallMonoMap();
  m.SetNodeFlags(4, 4, 4, 4, NodeFlag::MASK, 0, FlagOp::Set);
  m.SetNodeFlags(5, 4, 5, 4, NodeFlag::TOUCH | NodeFlag::ZERO, 0, FlagOp::Set);
  m.SetNodeFlags(6, 4, 6, 4, NodeFlag::PASS, 0, FlagOp::Set);
  const QImage img = grid->RenderToImage(size);

  // The gap between two column headers shows the background.
  m.Layout(size.width(), size.height());
  const Rect header = m.ColumnLines()[3].rcHeader;
  EXPECT_EQ(img.pixel(header.right, (header.top + header.bottom) / 2), kBackground);
  // Header fill and node fill.
  EXPECT_EQ(img.pixel(header.left + 1, header.top + 1), qRgb(220, 220, 220));
  EXPECT_EQ(img.pixel(NodeCentre(10, 8, size)), qRgb(204, 232, 207));
  // Grid lines are dark grey between nodes.
  const Rect node = m.Cell(10, 8).rcNode;
  EXPECT_EQ(img.pixel(node.left, (node.top + node.bottom) / 2), qRgb(64, 64, 64));
  EXPECT_EQ(img.pixel((node.left + node.right) / 2, node.top), qRgb(64, 64, 64));
  // MASK: dark grey fill (the centre lies on the red cross), ZERO and PASS fills.
  const Rect mask = m.Cell(4, 4).rcNode;
  EXPECT_EQ(img.pixel(mask.left + 3, (mask.top + mask.bottom) / 2), qRgb(100, 100, 100));
  EXPECT_EQ(img.pixel(mask.left + 1, mask.top + 1), qRgb(255, 0, 0));
  const Rect zero = m.Cell(5, 4).rcNode;
  EXPECT_EQ(img.pixel(zero.left + 2, zero.top + 2), qRgb(205, 179, 208));
  const Rect pass = m.Cell(6, 4).rcNode;
  EXPECT_EQ(img.pixel(pass.left + 2, pass.top + 2), qRgb(0, 255, 0));
}

TEST_F(ColorGridPixelTest, HoveredNodeIsRaisedOnlyWhileTheLeftButtonAloneIsHeld) {
  NodeMap& m = grid->Model();
  m.SetResultFlags(0);
  SmallMonoMap();
  grid->resize(420, 260);
  const QPoint at = NodeCentre(10, 8, grid->size());
  const Rect node = m.Cell(10, 8).rcNode;
  const QPoint probe(node.left + 2, node.top + 2);

  Move(at, Qt::LeftButton);
  EXPECT_EQ(grid->RenderToImage(grid->size()).pixel(probe), qRgb(255, 255, 255));  // 204,232,207 + 200
  Move(at, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(grid->RenderToImage(grid->size()).pixel(probe), qRgb(204, 232, 207));
  Move(at);
  EXPECT_EQ(grid->RenderToImage(grid->size()).pixel(probe), qRgb(204, 232, 207));
}

// Pixels that differ between two renders outside the hovered node and its headers.
int DiffOutsideHover(const QImage& a, const QImage& b, const NodeMap& m, NodePos hovered) {
  const Rect n = m.Cell(hovered.col, hovered.row).rcNode;
  const Rect ch = m.ColumnLines()[static_cast<std::size_t>(hovered.col)].rcHeader;
  const Rect rh = m.RowLines()[static_cast<std::size_t>(hovered.row)].rcHeader;
  int diff = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (n.Contains(x, y) || ch.Contains(x, y) || rh.Contains(x, y)) continue;
      diff += a.pixel(x, y) != b.pixel(x, y);
    }
  }
  return diff;
}

TEST_F(ColorGridPixelTest, HoverReadoutOnlyOnMapsLargerThanSixBySix) {
  NodeMap& m = grid->Model();
  m.SetResultFlags(0);
  grid->resize(420, 260);
  for (int n : {6, 7}) {
    m.SetGridSize(n, n);
    m.SetDisplayStyle(kStyleMono);
    const QPoint at = NodeCentre(2, 2, grid->size());
    Move(at, Qt::LeftButton);
    const QImage lit = grid->RenderToImage(grid->size());
    Move(at, Qt::LeftButton, Qt::ControlModifier);
    const QImage plain = grid->RenderToImage(grid->size());
    m.Layout(grid->width(), grid->height());
    const int diff = DiffOutsideHover(lit, plain, m, NodePos{2, 2});
    if (n == 6) {
      EXPECT_EQ(diff, 0);
    } else {
      EXPECT_GT(diff, 200);
    }
  }
}

TEST_F(ColorGridTest, MouseMovesRepaintOnlyWhileTheTestCycleIsStopped) {
  NodeMap& m = grid->Model();
  grid->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
  QCoreApplication::processEvents();
  const int start = m.GetColorGridCounterPass();
  grid->SetTestRunning(true);
  Move(Centre(3, 3));
  Move(Centre(4, 3));
  QCoreApplication::processEvents();
  EXPECT_EQ(m.GetColorGridCounterPass(), start);
  grid->SetTestRunning(false);
  Move(Centre(5, 3));
  QCoreApplication::processEvents();
  EXPECT_EQ(m.GetColorGridCounterPass(), start + 1);
  grid->hide();
}

// The running switch lives in the model, which the Qt-free station core owns: set
// there, it holds back the widget's hover repaints (and so their verdict counts).
TEST_F(ColorGridTest, TheModelsRunningSwitchHoldsBackHoverRepaints) {
  NodeMap& m = grid->Model();
  grid->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
  QCoreApplication::processEvents();
  const int start = m.GetColorGridCounterPass();
  m.SetTestRunning(true);
  EXPECT_TRUE(grid->TestRunning());
  Move(Centre(3, 3));
  QCoreApplication::processEvents();
  EXPECT_EQ(m.GetColorGridCounterPass(), start);
  m.SetTestRunning(false);
  EXPECT_FALSE(grid->TestRunning());
  Move(Centre(4, 3));
  QCoreApplication::processEvents();
  EXPECT_EQ(m.GetColorGridCounterPass(), start + 1);
  grid->hide();
}

// Images of other formats (and scaled painters) go through ordinary painting
// instead of the direct pixel path; both must give the same map.
TEST_F(ColorGridPixelTest, DirectAndOrdinaryPaintingAgree) {
  NodeMap& m = grid->Model();
  NodeFrame frame(52, 32);
  for (int c = 0; c < 52; ++c)
    for (int r = 0; r < 32; ++r) frame(c, r) = 1000 + c * 40 + r * 25;
  m.Evaluate(frame);
  m.SetNodeFlags(7, 7, 7, 7, NodeFlag::MASK, 0, FlagOp::Set);
  const QSize size(1060, 660);
  const QImage direct = grid->RenderToImage(size);
  QImage ordinary(size, QImage::Format_ARGB32);
  grid->RenderInto(ordinary);
  if (const char* dir = std::getenv("VARNEX2_GRID_PNG_DIR"))
    ordinary.save(QString::fromLocal8Bit(dir) + "/color_grid_ordinary.png");
  m.Layout(size.width(), size.height());
  for (int c = 0; c < 52; ++c) {
    for (int r = 0; r < 32; ++r) {
      const Rect n = m.Cell(c, r).rcNode;
      for (const QPoint pt : {QPoint(n.left + 2, n.top + 2), QPoint(n.left, n.top + 3), QPoint(n.left + 3, n.top)})
        ASSERT_EQ(direct.pixel(pt), ordinary.pixel(pt)) << c << "," << r;
    }
  }
  const Rect h = m.ColumnLines()[5].rcHeader;
  EXPECT_EQ(direct.pixel(h.left + 1, h.top + 1), ordinary.pixel(h.left + 1, h.top + 1));
  EXPECT_EQ(direct.pixel(h.right, h.top + 2), ordinary.pixel(h.right, h.top + 2));
}

TEST_F(ColorGridPixelTest, FrozenMapShowsOnlyBackgroundAndLabels) {
  NodeMap& m = grid->Model();
  SmallMonoMap();
  m.SetLabel(1, "最大值=1234 ", true, MakeRgb(0, 0, 255), MakeRgb(255, 255, 255));
  m.SetFrozen(true);
  const QSize size(420, 260);
  const QImage img = grid->RenderToImage(size);
  const QRect label(10, 70, 12 * 9 + 30, 48);
  int labelPixels = 0;
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      if (label.contains(x, y)) {
        labelPixels += img.pixel(x, y) != kBackground;
        continue;
      }
      ASSERT_EQ(img.pixel(x, y), kBackground) << x << "," << y;
    }
  }
  EXPECT_GT(labelPixels, label.width() * label.height() / 2);
  // Frozen repaints do not count.
  EXPECT_EQ(m.LastVerdict(), "");
}

TEST_F(ColorGridPixelTest, VerdictOverlayTintOnlyWithTheShownBit) {
  NodeMap& m = grid->Model();
  SmallMonoMap();
  const QSize size(640, 400);
  // 0xC8 of dark blue / dark red over the mono node colour 204, 232, 207.
  const QRgb passTint = qRgb(44, 50, 145);
  const QRgb failTint = qRgb(144, 50, 45);

  m.SetResultFlags(0);
  const QImage none = grid->RenderToImage(size);
  EXPECT_EQ(CountNear(none, passTint, 6), 0);

  m.SetResultFlags(ResultFlag::EVALUATION_SHOWN);
  const QImage pass = grid->RenderToImage(size);
  EXPECT_GT(CountNear(pass, passTint, 6), 2000);
  EXPECT_EQ(CountNear(pass, failTint, 6), 0);

  m.SetResultFlags(ResultFlag::EVALUATION_SHOWN | ResultFlag::SHORT_LINE_NOT_FOUND);  // empty verdict
  EXPECT_EQ(CountNear(grid->RenderToImage(size), failTint, 6), 0);

  m.SetResultFlags(ResultFlag::EVALUATION_SHOWN | ResultFlag::KEY_NG);
  const QImage fail = grid->RenderToImage(size);
  EXPECT_GT(CountNear(fail, failTint, 6), 2000);
  EXPECT_EQ(CountNear(fail, passTint, 6), 0);
}

TEST_F(ColorGridTest, EscapeOnTheMapDoesNotCloseTheDialog) {
  QDialog dialog;
  auto* layout = new QVBoxLayout(&dialog);
  auto* map = new ModelGrid(&dialog);
  map->Model().SetGridSize(10, 8);
  layout->addWidget(map);
  dialog.show();
  map->setFocus();
  QTest::keyClick(map, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
  // Elsewhere in the dialog Esc still closes it.
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
}

// Renders a realistic station state; with VARNEX2_GRID_PNG_DIR set the pictures
// are written there for a visual check.
TEST_F(ColorGridTest, RendersARealisticMap) {
  NodeMap& m = grid->Model();
  m.SetTouchThresholds(19000, 28000);
  m.SetKeyThresholds(15000, 26000);
  m.AddArea(0, 0, 32, 44, 0);
  m.AddArea(0, 44, 8, 8, 1);
  grid->CommitArea(0, true);
  grid->CommitArea(1, true);
  m.MutableArea(0)->strName = "Touch";
  m.SetNodeFlags(44, 0, 51, 7, NodeFlag::MASK, NodeFlag::MASK, FlagOp::Set);
  m.SetNodeFlags(46, 2, 46, 2, NodeFlag::KEY, 0, FlagOp::Set);
  m.SetNodeFlags(49, 5, 49, 5, NodeFlag::KEY, 0, FlagOp::Set);
  m.SetCheckEnables(CheckEnable::ALL);
  NodeFrame frame(52, 32);
  for (int c = 0; c < 52; ++c)
    for (int r = 0; r < 32; ++r) frame(c, r) = 21000 + c * 80 + r * 60 + ((c * 7 + r * 13) % 17) * 40;
  frame(10, 10) = 29500;
  frame(20, 25) = 12000;
  frame(30, 5) = 0;
  m.Evaluate(frame);
  m.MarkPinFault(1, 2, 0, 15);
  m.SetLabel(1, "最大值=29500(NG) ", true, MakeRgb(255, 0, 0), MakeRgb(255, 255, 255));
  m.SetLabel(2, "最小值=0 ", true, MakeRgb(0, 0, 255), MakeRgb(255, 255, 255));

  const QImage img = grid->RenderToImage(QSize(1280, 800));
  EXPECT_EQ(grid->windowTitle(), "FAIL");
  EXPECT_TRUE(m.GetNodeFlags(10, 10) & NodeFlag::HIGH);
  EXPECT_TRUE(m.GetNodeFlags(20, 25) & NodeFlag::LOW);
  m.Layout(1280, 800);  // the rectangles of the picture, not of the window
  const GridCell& plain = m.Cell(5, 20);
  EXPECT_EQ(img.pixel(plain.rcNode.left + 2, plain.rcNode.top + 2),
            qRgb(RgbRed(plain.crColor), RgbGreen(plain.crColor), RgbBlue(plain.crColor)));
  if (const char* dir = std::getenv("VARNEX2_GRID_PNG_DIR")) {
    img.save(QString::fromLocal8Bit(dir) + "/color_grid_fail.png");
    Move(Centre(12, 14), Qt::LeftButton);
    m.SetResultFlags(ResultFlag::EVALUATION_SHOWN);
    m.SetTestModeFlags(TestMode::LIMITS | TestMode::ADJACENT);
    m.SetAllPercent(1500.0);
    grid->RenderToImage(QSize(1920, 1080)).save(QString::fromLocal8Bit(dir) + "/color_grid_hover_pass.png");
    m.SetDisplayStyle(kStyleBackground);
    m.SetTestModeFlags(TestMode::THRESHOLD);
    Move(Centre(12, 14));
    grid->RenderToImage(QSize(900, 560)).save(QString::fromLocal8Bit(dir) + "/color_grid_background.png");

    // Redrawing the key area with a Ctrl selection shown, at the window's size.
    m.SetDisplayStyle(kStyleColour);
    grid->BeginAreaDefine(1);
    Move(Centre(40, 20), Qt::NoButton, Qt::ControlModifier);
    Press(Centre(40, 20), Qt::ControlModifier);
    Move(Centre(47, 26), Qt::LeftButton, Qt::ControlModifier);
    grid->RenderToImage(grid->size()).save(QString::fromLocal8Bit(dir) + "/color_grid_drawing.png");
    Release(Centre(47, 26));

    QImage hiDpi(QSize(1024, 700) * 2, QImage::Format_ARGB32_Premultiplied);
    hiDpi.setDevicePixelRatio(2.0);
    grid->RenderInto(hiDpi);
    hiDpi.save(QString::fromLocal8Bit(dir) + "/color_grid_dpr2.png");

    // Difference display in text style, with negative differences.
    m.SetDisplayStyle(kStyleText);
    m.SetTestModeFlags(TestMode::THRESHOLD | TestMode::DIFFERENCE);
    NodeFrame diff(52, 32);
    for (int c = 0; c < 52; ++c)
      for (int r = 0; r < 32; ++r) diff(c, r) = ((c * 37 + r * 11) % 900) - 450;
    m.Evaluate(diff);
    grid->RenderToImage(QSize(1024, 700)).save(QString::fromLocal8Bit(dir) + "/color_grid_difference.png");

    m.SetNoticeLabel("请等待 15 秒程序拔出设备", true, MakeRgb(255, 0, 0), MakeRgb(255, 255, 255));
    m.SetFrozen(true);
    grid->RenderToImage(grid->size()).save(QString::fromLocal8Bit(dir) + "/color_grid_frozen.png");
  }
}

}  // namespace
}  // namespace varnex2::judging
