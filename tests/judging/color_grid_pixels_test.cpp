// Whole-picture checks of the node-map paint over a set of representative
// scenes (each mode combination, display styles, hover, selection, areas,
// frozen and empty maps, several sizes):
// - a painter that has drawn other scenes before (cached layers, fonts, masks)
//   paints every scene exactly like a fresh one;
// - the direct pixel path and ordinary QPainter drawing agree on the node area;
// - with VARNEX2_GRID_REF_DIR set, each scene is compared pixel by pixel with
//   the picture of the same name there (written first when it is missing), so a
//   rework of the painter can be checked against the pictures of the old one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBackingStore>
#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "judging/widget/color_grid.h"
#include "judging/model_grid.h"
#include "judging/widget/color_grid_painter.h"

namespace varnex2::judging {
namespace {

using testing::kJudgingModes;
using testing::ModelGrid;
using testing::StationMap;

QApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_color_grid_pixels";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // lives for the whole run
  return *app;
}

QPoint Centre(CColorGrid& grid, int col, int row) {
  grid.Model().Layout(grid.width(), grid.height());
  const Rect r = grid.Model().Cell(col, row).rcNode;
  return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

void Mouse(CColorGrid& grid, QEvent::Type type, QPoint pt, Qt::MouseButton button, Qt::MouseButtons buttons,
           Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QMouseEvent ev(type, QPointF(pt), QPointF(grid.mapToGlobal(pt)), button, buttons, mods);
  QCoreApplication::sendEvent(&grid, &ev);
}

void Hover(CColorGrid& grid, int col, int row) {
  Mouse(grid, QEvent::MouseMove, Centre(grid, col, row), Qt::NoButton, Qt::LeftButton);
}

struct Scene {
  std::string name;
  QSize size;
  std::function<void(CColorGrid&)> setup;
};

std::vector<Scene> Scenes() {
  std::vector<Scene> s;
  s.push_back({"threshold_1920", {1920, 1080}, [](CColorGrid& g) { StationMap(g, TestMode::THRESHOLD); }});
  s.push_back({"all_modes_1920", {1920, 1080}, [](CColorGrid& g) { StationMap(g, kJudgingModes); }});
  s.push_back({"limits_1366", {1366, 768}, [](CColorGrid& g) { StationMap(g, TestMode::LIMITS); }});
  s.push_back({"adjacent_1600", {1600, 900}, [](CColorGrid& g) { StationMap(g, TestMode::ADJACENT); }});
  s.push_back({"all_modes_1023", {1023, 701}, [](CColorGrid& g) { StationMap(g, kJudgingModes); }});
  s.push_back({"hover_pass_1920", {1920, 1080}, [](CColorGrid& g) {
                 StationMap(g, TestMode::THRESHOLD);
                 g.Model().SetResultFlags(ResultFlag::EVALUATION_SHOWN);
                 g.Model().SetLineNumberBase(1);
                 Hover(g, 12, 14);
               }});
  s.push_back({"hover_corner_1280", {1280, 800}, [](CColorGrid& g) {
                 StationMap(g, kJudgingModes);
                 Hover(g, 51, 31);
               }});
  s.push_back({"hover_last_column_1280", {1280, 800}, [](CColorGrid& g) {
                 StationMap(g, TestMode::THRESHOLD);
                 Hover(g, 51, 3);
               }});
  s.push_back({"named_area_selection_1280", {1280, 800}, [](CColorGrid& g) {
                 StationMap(g, TestMode::THRESHOLD);
                 g.Model().MutableArea(0)->strName = "Touch";
                 g.BeginAreaDefine(1);
                 Mouse(g, QEvent::MouseMove, Centre(g, 40, 20), Qt::NoButton, Qt::NoButton, Qt::ControlModifier);
                 Mouse(g, QEvent::MouseButtonPress, Centre(g, 40, 20), Qt::LeftButton, Qt::LeftButton,
                       Qt::ControlModifier);
                 Mouse(g, QEvent::MouseMove, Centre(g, 47, 26), Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
               }});
  s.push_back({"marks_1280", {1280, 800}, [](CColorGrid& g) {
                 StationMap(g, TestMode::THRESHOLD);
                 NodeMap& m = g.Model();
                 m.SetNodeFlags(2, 2, 4, 3, NodeFlag::PASS, 0, FlagOp::Or);
                 m.SetNodeFlags(6, 2, 8, 3, NodeFlag::FAIL, 0, FlagOp::Or);
                 m.SetNodeFlags(10, 2, 10, 3, NodeFlag::ZERO, 0, FlagOp::Or);
                 m.SetNodeFlags(12, 2, 12, 3, NodeFlag::OPEN, 0, FlagOp::Or);
                 m.SetNodeFlags(14, 2, 14, 3, 0x20, 0, FlagOp::Or);
                 m.SetNodeFlags(16, 2, 16, 3, 0x40, 0, FlagOp::Or);
               }});
  s.push_back({"marks_text_style_1280", {1280, 800}, [](CColorGrid& g) {
                 StationMap(g, TestMode::THRESHOLD);
                 NodeMap& m = g.Model();
                 m.SetNodeFlags(2, 2, 4, 3, NodeFlag::PASS, 0, FlagOp::Or);
                 m.SetNodeFlags(6, 2, 8, 3, NodeFlag::FAIL, 0, FlagOp::Or);
                 m.SetDisplayStyle(kStyleText);
               }});
  s.push_back({"background_style_900", {900, 560}, [](CColorGrid& g) {
                 StationMap(g, TestMode::THRESHOLD);
                 g.Model().SetDisplayStyle(kStyleBackground);
               }});
  s.push_back({"mono_1100", {1100, 640}, [](CColorGrid& g) {
                 StationMap(g, TestMode::LIMITS | TestMode::ADJACENT);
                 g.Model().SetDisplayStyle(kStyleMono);
               }});
  s.push_back({"difference_text_1024", {1024, 700}, [](CColorGrid& g) {
                 StationMap(g, TestMode::THRESHOLD);
                 NodeMap& m = g.Model();
                 m.SetDisplayStyle(kStyleText);
                 m.SetTestModeFlags(TestMode::THRESHOLD | TestMode::DIFFERENCE);
                 NodeFrame diff(52, 32);
                 for (int c = 0; c < 52; ++c)
                   for (int r = 0; r < 32; ++r) diff(c, r) = ((c * 37 + r * 11) % 900) - 450;
                 m.Evaluate(diff);
               }});
  s.push_back({"difference_colour_1920", {1920, 1080}, [](CColorGrid& g) {
                 StationMap(g, kJudgingModes | TestMode::DIFFERENCE);
               }});
  // Texts wider than their nodes (six characters) and marks next to them.
  s.push_back({"wide_values_1100", {1100, 700}, [](CColorGrid& g) {
                 StationMap(g, TestMode::THRESHOLD);
                 NodeMap& m = g.Model();
                 m.SetTestModeFlags(TestMode::THRESHOLD | TestMode::DIFFERENCE);
                 NodeFrame f(52, 32);
                 for (int c = 0; c < 52; ++c)
                   for (int r = 0; r < 32; ++r) f(c, r) = (c + r) % 5 == 0 ? -12345 - c * 100 : 123456 + r * 1000 + c;
                 m.Evaluate(f);
                 m.SetNodeFlags(3, 3, 6, 4, NodeFlag::PASS, 0, FlagOp::Or);
                 m.SetNodeFlags(8, 3, 8, 4, NodeFlag::KEY, 0, FlagOp::Or);
               }});
  s.push_back({"wide_percent_1280", {1280, 800}, [](CColorGrid& g) {
                 StationMap(g, TestMode::ADJACENT);
                 g.Model().SetAllPercent(1.0e9);
               }});
  s.push_back({"no_headers_1280", {1280, 800}, [](CColorGrid& g) {
                 StationMap(g, kJudgingModes);
                 g.Model().SetShowHeaders(false);
                 Hover(g, 0, 0);
               }});
  s.push_back({"small_no_texts_400", {400, 300}, [](CColorGrid& g) {
                 StationMap(g, kJudgingModes);
                 g.Model().SetLineNumberBase(1);
               }});
  // Nodes of a pixel or two, and an odd size.
  s.push_back({"tiny_70", {70, 50}, [](CColorGrid& g) {
                 StationMap(g, kJudgingModes);
                 Hover(g, 5, 5);
               }});
  s.push_back({"odd_333", {333, 217}, [](CColorGrid& g) { StationMap(g, TestMode::THRESHOLD); }});
  s.push_back({"few_lines_640", {640, 480}, [](CColorGrid& g) {
                 NodeMap& m = g.Model();
                 m.SetGridSize(7, 5);
                 m.FillValues(23456);
                 m.SetNodeFlags(3, 2, 3, 2, NodeFlag::KEY, 0, FlagOp::Set);
                 Hover(g, 3, 2);
               }});
  s.push_back({"frozen_notice_1280", {1280, 800}, [](CColorGrid& g) {
                 StationMap(g, TestMode::THRESHOLD);
                 g.Model().SetNoticeLabel("请等待 15 秒程序拔出设备", true, MakeRgb(255, 0, 0), MakeRgb(255, 255, 255));
                 g.Model().SetFrozen(true);
               }});
  s.push_back({"empty_notice_800", {800, 600}, [](CColorGrid& g) {
                 g.Model().SetNoticeLabel("设备未连接", true, MakeRgb(255, 0, 0), MakeRgb(255, 255, 255));
               }});
  return s;
}

std::unique_ptr<CColorGrid> Build(const Scene& scene) {
  App();
  auto grid = std::make_unique<ModelGrid>();
  grid->resize(scene.size);
  scene.setup(*grid);
  return grid;
}

// Number of differing pixels and the largest difference of one channel.
// Inside `loose` a pixel that differs by at most kVerdictTolerance per channel
// is only counted in `loosePixels`.
struct Difference {
  int pixels = 0;
  int maxChannel = 0;
  int loosePixels = 0;
  QPoint first{-1, -1};
};

// The big verdict text comes out of Qt's shared font engines, whose state
// depends on what the process drew before: the same text can differ slightly
// at its anti-aliased edges from one picture to the next, whatever painter
// draws it.
constexpr int kVerdictTolerance = 40;

Difference Compare(const QImage& a, const QImage& b, const QRect& loose = QRect()) {
  Difference d;
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  if (x.size() != y.size()) {
    d.pixels = -1;
    return d;
  }
  for (int row = 0; row < x.height(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      if (p[col] == q[col]) continue;
      const int channel = std::max({std::abs(qRed(p[col]) - qRed(q[col])), std::abs(qGreen(p[col]) - qGreen(q[col])),
                                    std::abs(qBlue(p[col]) - qBlue(q[col]))});
      if (channel <= kVerdictTolerance && loose.contains(col, row)) {
        ++d.loosePixels;
        continue;
      }
      if (d.pixels == 0) d.first = QPoint(col, row);
      ++d.pixels;
      d.maxChannel = std::max(d.maxChannel, channel);
    }
  }
  return d;
}

// Where the verdict overlay lies in the grid's picture at size: around the
// pixels that change when the overlay is hidden.
QRect VerdictBox(CColorGrid& grid, QSize size) {
  NodeMap& m = grid.Model();
  const std::int32_t flags = m.ResultFlags();
  if ((flags & ResultFlag::EVALUATION_SHOWN) == 0) return QRect();
  const QImage with = grid.RenderToImage(size);
  m.SetResultFlags(flags & ~ResultFlag::EVALUATION_SHOWN);
  const QImage without = grid.RenderToImage(size);
  m.SetResultFlags(flags);
  QRect box;
  for (int y = 0; y < size.height(); ++y)
    for (int x = 0; x < size.width(); ++x)
      if (with.pixel(x, y) != without.pixel(x, y)) box |= QRect(x, y, 1, 1);
  // Another rendering may reach a pixel further at the edges.
  return box.isEmpty() ? box : box.adjusted(-2, -2, 2, 2);
}

// The grid painted by a fresh painter through a clipped QPainter, which turns
// the direct pixel path off.
QImage PaintThroughPainter(CColorGrid& grid, QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  NodeMap& m = grid.Model();
  std::lock_guard<std::recursive_mutex> lock(m.Mutex());
  m.Layout(size.width(), size.height());
  GridPainter painter;
  QPainter p(&image);
  p.setClipRect(QRect(QPoint(0, 0), size));
  painter.Paint(p, m, grid.EditState(), size);
  return image;
}

TEST(ColorGridPictures, APainterReusedAcrossScenesPaintsLikeAFreshOne) {
  GridPainter shared;
  QImage sharedImage;
  // Twice through the list: the second round meets every cache already filled
  // by other scenes.
  for (int round = 0; round < 2; ++round) {
    for (const Scene& scene : Scenes()) {
      SCOPED_TRACE(scene.name);
      auto grid = Build(scene);
      const QImage fresh = grid->RenderToImage(scene.size);
      if (sharedImage.size() != scene.size) sharedImage = QImage(scene.size, QImage::Format_ARGB32_Premultiplied);
      {
        NodeMap& m = grid->Model();
        std::lock_guard<std::recursive_mutex> lock(m.Mutex());
        m.Layout(scene.size.width(), scene.size.height());
        QPainter p(&sharedImage);
        shared.Paint(p, m, grid->EditState(), scene.size);
      }
      const Difference d = Compare(fresh, sharedImage, VerdictBox(*grid, scene.size));
      EXPECT_EQ(d.pixels, 0) << "first at " << d.first.x() << "," << d.first.y() << ", largest channel difference "
                             << d.maxChannel;
    }
  }
}

// Changes between two frames of one map reach the picture: each step paints
// like a fresh control built in the same state.
TEST(ColorGridPictures, ChangesBetweenFramesAreRepainted) {
  App();
  const QSize size(1280, 800);
  ModelGrid live;
  live.resize(size);
  StationMap(live, TestMode::THRESHOLD);
  QImage buffer(size, QImage::Format_ARGB32_Premultiplied);
  live.RenderInto(buffer);

  const std::vector<std::pair<std::string, std::function<void(CColorGrid&)>>> steps = {
      {"nothing", [](CColorGrid&) {}},
      {"line number base", [](CColorGrid& g) { g.Model().SetLineNumberBase(1); }},
      {"hover", [](CColorGrid& g) { Hover(g, 20, 9); }},
      {"hover elsewhere", [](CColorGrid& g) { Hover(g, 3, 30); }},
      {"hover off", [](CColorGrid& g) { Mouse(g, QEvent::MouseMove, Centre(g, 3, 30), Qt::NoButton, Qt::NoButton); }},
      {"modes", [](CColorGrid& g) { g.Model().SetTestModeFlags(kJudgingModes); }},
      {"new frame",
       [](CColorGrid& g) {
         NodeFrame f(52, 32);
         for (int c = 0; c < 52; ++c)
           for (int r = 0; r < 32; ++r) f(c, r) = 20000 + c * 90 + r * 40;
         g.Model().Evaluate(f);
       }},
      {"area name", [](CColorGrid& g) { g.Model().MutableArea(0)->strName = "Touch"; }},
      {"area moved", [](CColorGrid& g) { g.Model().MutableArea(1)->nSecondCol = 50; }},
      {"style", [](CColorGrid& g) { g.Model().SetDisplayStyle(kStyleMono); }},
      {"labels", [](CColorGrid& g) { g.Model().SetLabel(3, "平均值=25000", true, 0, MakeRgb(255, 255, 255)); }},
      {"frozen", [](CColorGrid& g) { g.Model().SetFrozen(true); }},
      {"thawed", [](CColorGrid& g) { g.Model().SetFrozen(false); }},
  };
  std::vector<std::function<void(CColorGrid&)>> applied;
  for (const auto& [name, step] : steps) {
    SCOPED_TRACE(name);
    step(live);
    applied.push_back(step);
    live.RenderInto(buffer);
    ModelGrid fresh;
    fresh.resize(size);
    StationMap(fresh, TestMode::THRESHOLD);
    for (const auto& a : applied) a(fresh);
    const Difference d = Compare(fresh.RenderToImage(size), buffer, VerdictBox(fresh, size));
    EXPECT_EQ(d.pixels, 0) << "first at " << d.first.x() << "," << d.first.y() << ", largest channel difference "
                           << d.maxChannel;
  }
}

// The overlays loaded ahead by WarmUp, and those kept while the verdict flips
// between PASS and FAIL or the size changes, paint like a fresh control's.
TEST(ColorGridPictures, WarmedUpAndFlippingVerdictsPaintLikeAFreshControl) {
  App();
  const QSize size(1280, 800);
  const QSize smaller(1000, 640);
  ModelGrid live;
  live.resize(size);
  live.WarmUp();
  StationMap(live, TestMode::THRESHOLD);
  const std::int32_t shown = ResultFlag::EVALUATION_SHOWN;
  const std::vector<std::pair<std::string, std::int32_t>> steps = {{"pass", shown},
                                                                   {"fail", shown | ResultFlag::TOUCH_NG},
                                                                   {"pass again", shown},
                                                                   {"fail by key", shown | ResultFlag::KEY_NG},
                                                                   {"smaller", shown},
                                                                   {"fail smaller", shown | ResultFlag::SHORT_FOUND},
                                                                   {"back to size", shown | ResultFlag::SHORT_FOUND},
                                                                   {"pass at size", shown}};
  for (const auto& [name, flags] : steps) {
    SCOPED_TRACE(name);
    const QSize at = name.find("smaller") != std::string::npos ? smaller : size;
    live.Model().SetResultFlags(flags);
    QImage buffer(at, QImage::Format_ARGB32_Premultiplied);
    live.RenderInto(buffer);
    ModelGrid fresh;
    fresh.resize(at);
    StationMap(fresh, TestMode::THRESHOLD);
    fresh.Model().SetResultFlags(flags);
    const Difference d = Compare(fresh.RenderToImage(at), buffer, VerdictBox(fresh, at));
    EXPECT_EQ(d.pixels, 0) << "first at " << d.first.x() << "," << d.first.y() << ", largest channel difference "
                           << d.maxChannel;
  }
}

// Painting through a clipped painter turns the direct pixel path off; away
// from the text the two must give the same picture.
TEST(ColorGridPictures, DirectAndOrdinaryPaintingAgreeOnFillsAndFrames) {
  App();
  // Without the verdict overlay, whose edges vary with Qt's font engine state.
  const Scene scene{"all", {1280, 800}, [](CColorGrid& g) {
                      StationMap(g, kJudgingModes);
                      g.Model().SetResultFlags(g.Model().ResultFlags() & ~ResultFlag::EVALUATION_SHOWN);
                      Hover(g, 51, 31);
                    }};
  auto grid = Build(scene);
  const QImage direct = grid->RenderToImage(scene.size);
  const QImage ordinary = PaintThroughPainter(*grid, scene.size);
  {
    NodeMap& m = grid->Model();
    std::lock_guard<std::recursive_mutex> lock(m.Mutex());
    m.Layout(scene.size.width(), scene.size.height());
    // Grid lines, node corners and the client frame.
    for (int c = 0; c < m.Columns(); ++c) {
      for (int r = 0; r < m.Rows(); ++r) {
        const Rect n = m.Cell(c, r).rcNode;
        for (const QPoint pt : {QPoint(n.left, n.top), QPoint(n.left + 1, n.top + 1), QPoint(n.right - 1, n.bottom - 1),
                                QPoint(n.left + 2, n.bottom - 2)}) {
          if (!direct.rect().contains(pt)) continue;  // the last nodes reach one pixel past the edge
          ASSERT_EQ(direct.pixel(pt), ordinary.pixel(pt)) << c << "," << r << " at " << pt.x() << "," << pt.y();
        }
      }
    }
    for (int x = 0; x < scene.size.width(); x += 7) {
      ASSERT_EQ(direct.pixel(x, 0), ordinary.pixel(x, 0)) << x;
      ASSERT_EQ(direct.pixel(x, scene.size.height() - 1), ordinary.pixel(x, scene.size.height() - 1)) << x;
    }
  }
}

// The window's paint goes straight into the backing store at the control's
// offset and gives the picture of an image paint there; a widget lying over
// the control keeps its own pixels.
TEST(ColorGridPictures, OnScreenPaintMatchesTheImagePaintAndSparesWidgetsAbove) {
  App();
  QWidget window;
  window.resize(1100, 760);
  auto* grid = new ModelGrid(&window);
  grid->setGeometry(37, 41, 1000, 640);
  StationMap(*grid, TestMode::THRESHOLD);
  auto* above = new QWidget(&window);
  above->hide();
  above->setAutoFillBackground(true);
  QPalette palette = above->palette();
  palette.setColor(QPalette::Window, QColor(12, 34, 56));
  above->setPalette(palette);
  above->setGeometry(300, 200, 120, 80);
  above->raise();
  window.show();
  QApplication::processEvents();

  QImage* store = nullptr;
  QPaintDevice* device = window.backingStore() != nullptr ? window.backingStore()->paintDevice() : nullptr;
  if (device != nullptr && device->devType() == QInternal::Image) store = static_cast<QImage*>(device);
  if (store == nullptr || store->devicePixelRatio() != 1.0) GTEST_SKIP() << "no raster backing store";

  // Alone, then with the widget above it (shown, then raised again).
  for (int pass = 0; pass < 3; ++pass) {
    SCOPED_TRACE(pass);
    above->setVisible(pass > 0);
    if (pass == 2) above->raise();
    QApplication::processEvents();
    grid->repaint();
    const QImage expected = grid->RenderToImage(grid->size());
    QImage onScreen = store->copy(QRect(grid->pos(), grid->size()));
    // The widget above is compared separately.
    QPainter hide(&onScreen);
    hide.fillRect(QRect(above->pos() - grid->pos(), above->size()), Qt::black);
    hide.end();
    QImage reference = expected.convertToFormat(QImage::Format_RGB32);
    QPainter hideToo(&reference);
    hideToo.fillRect(QRect(above->pos() - grid->pos(), above->size()), Qt::black);
    hideToo.end();
    const Difference d = Compare(reference, onScreen, VerdictBox(*grid, grid->size()));
    EXPECT_EQ(d.pixels, 0) << "first at " << d.first.x() << "," << d.first.y();
    if (pass == 0) continue;
    EXPECT_EQ(store->pixelColor(above->geometry().center()), QColor(12, 34, 56));
    EXPECT_EQ(store->pixelColor(above->geometry().topLeft()), QColor(12, 34, 56));
  }
}

// The verdict overlay blended straight into the pixels gives the pixels of
// drawing it through the painter (within the tolerance of Qt's own renderings
// of the big text): on nodes too small for value texts the two paths paint the
// same background under it.
TEST(ColorGridPictures, VerdictBlendedDirectlyMatchesThePainter) {
  App();
  for (const bool fail : {false, true}) {
    SCOPED_TRACE(fail);
    const QSize size(420, 330);
    ModelGrid grid;
    grid.resize(size);
    StationMap(grid, TestMode::THRESHOLD);
    NodeMap& m = grid.Model();
    if (fail) m.SetResultFlags(m.ResultFlags() | ResultFlag::TOUCH_NG);
    const QRect box = VerdictBox(grid, size);
    ASSERT_FALSE(box.isEmpty());
    const QImage direct = grid.RenderToImage(size);
    const QImage ordinary = PaintThroughPainter(grid, size);
    m.SetResultFlags(m.ResultFlags() & ~ResultFlag::EVALUATION_SHOWN);
    const QImage bare = grid.RenderToImage(size);
    // Inside the node block, away from the headers' texts.
    const Rect first = m.Cell(0, 0).rcNode;
    const QRect nodes = box & QRect(first.left + 1, first.top + 1, size.width(), size.height());
    const Difference d = Compare(direct.copy(nodes), ordinary.copy(nodes), QRect(QPoint(0, 0), nodes.size()));
    EXPECT_EQ(d.pixels, 0) << "first at " << d.first.x() << "," << d.first.y() << ", largest channel difference "
                           << d.maxChannel;
    const Difference overlay = Compare(direct.copy(nodes), bare.copy(nodes));
    EXPECT_GT(overlay.pixels, nodes.width() * nodes.height() / 10);
  }
}

// A percentage whose text is longer than the text buffer is cut to the
// buffer: the paint must never read past it (checked by the sanitizer runs),
// and the node keeps its colour around the text.
TEST(ColorGridPictures, PercentagesLongerThanTheTextBufferAreCut) {
  App();
  const QSize size(1280, 800);
  ModelGrid grid;
  grid.resize(size);
  StationMap(grid, TestMode::ADJACENT);
  for (double percent : {1.0e40, 1.0e300, -1.0e300}) {
    grid.Model().SetAllPercent(percent);
    const QImage img = grid.RenderToImage(size);
    NodeMap& m = grid.Model();
    m.Layout(size.width(), size.height());
    const GridCell& cell = m.Cell(5, 20);
    EXPECT_EQ(img.pixel(cell.rcNode.left + 1, cell.rcNode.top + 1),
              qRgb(RgbRed(cell.crColor), RgbGreen(cell.crColor), RgbBlue(cell.crColor)))
        << percent;
  }
}

TEST(ColorGridPictures, MatchReferencePictures) {
  const char* dir = std::getenv("VARNEX2_GRID_REF_DIR");
  if (dir == nullptr) GTEST_SKIP() << "VARNEX2_GRID_REF_DIR not set";
  QDir().mkpath(QString::fromLocal8Bit(dir));
  int written = 0;
  for (const Scene& scene : Scenes()) {
    SCOPED_TRACE(scene.name);
    auto grid = Build(scene);
    const QImage img = grid->RenderToImage(scene.size);
    const QString path = QString::fromLocal8Bit(dir) + "/" + QString::fromStdString(scene.name) + ".png";
    QImage ref;
    if (!ref.load(path)) {
      ASSERT_TRUE(img.save(path));
      ++written;
      continue;
    }
    const Difference d = Compare(ref, img, VerdictBox(*grid, scene.size));
    std::printf("%-28s %7d pixels differ (largest channel difference %d), %5d verdict edge pixels\n",
                scene.name.c_str(), d.pixels, d.maxChannel, d.loosePixels);
    if (d.pixels != 0) img.save(QString::fromLocal8Bit(dir) + "/" + QString::fromStdString(scene.name) + ".new.png");
    EXPECT_EQ(d.pixels, 0) << "first at " << d.first.x() << "," << d.first.y() << ", largest channel difference "
                           << d.maxChannel;
  }
  if (written > 0) std::printf("%d reference pictures written to %s\n", written, dir);
}

}  // namespace
}  // namespace varnex2::judging
