// CColorGrid: the node-map widget. It is handed the judging model (NodeMap), paints it
// and turns mouse input into area, selection and mark editing.
//
// Threads: the widget lives on the UI thread; the test thread may call the model
// (Evaluate, thresholds, flag edits) at any time, which is why painting and the
// mouse handlers hold the model's lock while they work. The four notifications
// to the main window are plain signals; the station window (CVarnex2Dlg)
// connects them queued, as posted messages.
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QWidget>

#include "judging/widget/color_grid_painter.h"
#include "judging/node_map.h"

namespace varnex2::judging {

class CColorGrid : public QWidget {
  Q_OBJECT

 public:
  // The model belongs to the caller (the station core) and outlives the widget.
  explicit CColorGrid(NodeMap& model, QWidget* parent = nullptr);
  ~CColorGrid() override;

  NodeMap& Model() { return model_; }
  const NodeMap& Model() const { return model_; }

  // ---- Area and region editing -------------------------------------------
  // Appends a fresh "GroupName" record and lets the next drag draw it. Does
  // nothing when the list already holds the touch and the key area.
  void StartNewArea();
  // Lets the next drag redraw area index; an index naming no area only sets
  // nRedefineIndex to -1.
  void BeginAreaDefine(int index);
  // Stamps nGroup = index over the area's rectangle, recolours, then sets the
  // area's enabled flag.
  void CommitArea(int index, bool enabled);
  // Menu "定义标记区域": the next left press starts a selection without Ctrl.
  void SetRegionSelect(bool on) { edit_.bRegionSelect = on; }
  bool RegionSelect() const { return edit_.bRegionSelect; }
  void ShowSelection(bool show) { edit_.bShowSelection = show; }
  bool SelectionShown() const { return edit_.bShowSelection; }
  NodePos SelectionStart() const { return edit_.selStart; }
  NodePos SelectionEnd() const { return edit_.selEnd; }
  const GridEditState& EditState() const { return edit_; }

  // While the test cycle runs it repaints after every frame itself, so the
  // UI-side operations (mouse moves, resizes) do not repaint at once. The flag
  // is the model's (NodeMap::SetTestRunning), so the station core sets it.
  void SetTestRunning(bool running) { model_.SetTestRunning(running); }
  bool TestRunning() const { return model_.TestRunning(); }

  // Repaints now unless the test cycle is running (display style changes).
  void RepaintIfIdle();

  // Loads the fonts and verdict overlays the first paints of a populated map
  // need, at the control's present size, so that those paints do not wait
  // for them (UI thread; for an idle moment after the window is shown).
  void WarmUp();

  // Paints the whole control at the given size into an image, exactly like a
  // repaint of the window (the verdict is fixed and counted as well). Used for
  // tests, benchmarks and the offline judge's picture output.
  QImage RenderToImage(QSize size);
  // The same into an existing image at its (device-independent) size; the
  // window's own repaint works this way. Premultiplied ARGB32 or RGB32 images
  // at pixel ratio 1 take the fast path.
  void RenderInto(QImage& image);

 signals:
  // 0x465: right-button release, show the context menu (wParam 0, lParam 0).
  void gridMenu(qintptr wParam, qintptr lParam);
  // 0x466: left-button release. wParam 1 / lParam number of areas after a new
  // area, wParam 2 / lParam index + 1 after a redefined area, otherwise 0 / -1.
  void gridAreaDone(qintptr wParam, qintptr lParam);
  // 0x467: double click. wParam nArea (-1 none), lParam (row << 8) | col.
  void gridNodeEdit(qintptr wParam, qintptr lParam);
  // 0x468: Ctrl+double click. wParam (old flag byte << 8) | (nArea & 0xFF),
  // lParam (row << 8) | col.
  void gridNodeMark(qintptr wParam, qintptr lParam);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void EnsureLayout(QSize size);
  void PaintInto(QPainter& painter, QSize size);
  void LeftDown(QMouseEvent* event);
  void LeftUp(QMouseEvent* event);
  void DoubleClick(QMouseEvent* event);
  // Area (list order, last match wins) whose corner line range holds the node.
  int AreaOfNode(NodePos node) const;
  void RepaintAfterInput();

  NodeMap& model_;
  GridEditState edit_;
  GridPainter painter_;
  QImage backBuffer_;  // where the paint cannot go straight into the backing store, it is composed here
};

}  // namespace varnex2::judging
