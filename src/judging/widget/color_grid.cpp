#include "judging/widget/color_grid.h"

#include "judging/panel_layout.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <mutex>

namespace varnex2::judging {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// The key state of a mouse event as MouseKey bits.
int KeyFlags(const QMouseEvent* event) {
  int flags = 0;
  const Qt::MouseButtons b = event->buttons();
  const Qt::KeyboardModifiers k = event->modifiers();
  if (b & Qt::LeftButton) flags |= MouseKey::LEFT;
  if (b & Qt::RightButton) flags |= MouseKey::RIGHT;
  if (k & Qt::ShiftModifier) flags |= MouseKey::SHIFT;
  if (k & Qt::ControlModifier) flags |= MouseKey::CTRL;
  if (b & Qt::MiddleButton) flags |= MouseKey::MIDDLE;
  return flags;
}

QPoint PointOf(const QMouseEvent* event) { return event->position().toPoint(); }

qintptr NodeParam(NodePos n) { return (static_cast<qintptr>(n.row) << 8) | static_cast<qintptr>(n.col); }

}  // namespace

CColorGrid::CColorGrid(NodeMap& model, QWidget* parent) : QWidget(parent), model_(model) {
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  // The paint covers the whole client area; no background erase.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
}

CColorGrid::~CColorGrid() = default;

// ---- Editing operations -------------------------------------------------------------------

void CColorGrid::StartNewArea() {
  Lock lock(model_.Mutex());
  GridArea area;
  area.strName = "GroupName";
  area.nFirstCol = area.nFirstRow = area.nSecondCol = area.nSecondRow = 0;
  area.nHigh = 30000;
  area.nLow = 10000;
  area.bEnabled = false;
  // The list holds the touch and the key area at most; a third is refused.
  if (model_.AppendArea(area) < 0) return;
  edit_.bNewArea = true;
  edit_.bShowSelection = false;
}

void CColorGrid::BeginAreaDefine(int index) {
  Lock lock(model_.Mutex());
  if (index < 0 || index >= model_.AreaCount()) {
    edit_.nRedefineIndex = -1;
    return;
  }
  edit_.nRedefineIndex = index;
  edit_.bShowSelection = false;
  model_.MutableArea(index)->bEnabled = false;
  edit_.bRedefineArea = true;
  edit_.bRedefineDragging = false;  // the drag starts with the next press
  model_.StampAreaGroup(index, 0);
  model_.UpdateColours();
}

void CColorGrid::CommitArea(int index, bool enabled) { judging::CommitArea(model_, index, enabled); }

void CColorGrid::RepaintIfIdle() {
  if (!TestRunning()) update();
}

void CColorGrid::RepaintAfterInput() { RepaintIfIdle(); }

void CColorGrid::WarmUp() { painter_.WarmUp(size()); }

int CColorGrid::AreaOfNode(NodePos node) const {
  const auto& cols = model_.ColumnLines();
  const auto& rows = model_.RowLines();
  if (node.col < 0 || node.row < 0 || static_cast<std::size_t>(node.col) >= cols.size() ||
      static_cast<std::size_t>(node.row) >= rows.size())
    return -1;
  const GridLine& cl = cols[static_cast<std::size_t>(node.col)];
  const GridLine& rl = rows[static_cast<std::size_t>(node.row)];
  if (!cl.bVisible || !rl.bVisible) return -1;
  int found = -1;
  for (int i = 0; i < model_.AreaCount(); ++i) {
    int c0 = 0, c1 = 0, r0 = 0, r1 = 0;
    if (!model_.AreaLineRange(i, c0, c1, r0, r1)) continue;
    if (cl.nNumber >= c0 && cl.nNumber <= c1 && rl.nNumber >= r0 && rl.nNumber <= r1) found = i;
  }
  return found;
}

// ---- Painting -----------------------------------------------------------------------------------

void CColorGrid::EnsureLayout(QSize size) {
  const Rect client = model_.ClientRect();
  if (client.Width() != size.width() || client.Height() != size.height()) model_.Layout(size.width(), size.height());
}

void CColorGrid::PaintInto(QPainter& painter, QSize size) {
  std::string verdict;
  {
    Lock lock(model_.Mutex());
    EnsureLayout(size);
    verdict = painter_.Paint(painter, model_, edit_, size);
  }
  const QString text = QString::fromStdString(verdict);
  if (windowTitle() != text) setWindowTitle(text);
}

void CColorGrid::paintEvent(QPaintEvent*) {
  // Straight into the window's backing store when the painter can write its
  // pixels directly: one pass over the picture instead of a second copy.
  {
    QPainter window(this);
    if (GridPainter::PaintsDirect(window, size())) {
      backBuffer_ = QImage();
      PaintInto(window, size());
      return;
    }
  }
  // Otherwise composed in a buffer. On a high-density screen the buffer has
  // the screen's pixels; the painter then scales and the fast pixel path
  // gives way to ordinary painting.
  const qreal dpr = devicePixelRatioF();
  const QSize pixels = (QSizeF(size()) * dpr).toSize();
  if (backBuffer_.size() != pixels || backBuffer_.devicePixelRatio() != dpr) {
    backBuffer_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    backBuffer_.setDevicePixelRatio(dpr);
  }
  if (backBuffer_.isNull()) return;
  {
    QPainter painter(&backBuffer_);
    PaintInto(painter, size());
  }
  QPainter window(this);
  window.drawImage(0, 0, backBuffer_);
}

QImage CColorGrid::RenderToImage(QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  if (!image.isNull()) RenderInto(image);
  return image;
}

void CColorGrid::RenderInto(QImage& image) {
  if (image.isNull()) return;
  {
    QPainter painter(&image);
    PaintInto(painter, (QSizeF(image.size()) / image.devicePixelRatio()).toSize());
  }
  // Later hit-tests and repaints follow the window's own size again.
  Lock lock(model_.Mutex());
  EnsureLayout(size());
}

void CColorGrid::resizeEvent(QResizeEvent* event) {
  {
    Lock lock(model_.Mutex());
    model_.Layout(event->size().width(), event->size().height());
  }
  RepaintIfIdle();
}

// ---- Keyboard -----------------------------------------------------------------------------------

bool CColorGrid::event(QEvent* event) {
  // Esc on the map must not reach the dialog's own Esc handling or a shortcut.
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
      event->accept();
      return true;
    }
  }
  return QWidget::event(event);
}

void CColorGrid::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  // No keyboard commands of its own: everything else goes to the parent.
  QWidget::keyPressEvent(event);
}

// ---- Mouse ----------------------------------------------------------------------------------------

void CColorGrid::mouseMoveEvent(QMouseEvent* event) {
  {
    Lock lock(model_.Mutex());
    if (model_.IsEmpty()) return;
    EnsureLayout(size());
    const QPoint pt = PointOf(event);
    const NodePos node = model_.HitTest(pt.x(), pt.y());
    edit_.nLastKeyFlags = KeyFlags(event);
    edit_.ptLast = pt;
    edit_.hovered = node;
    if (node.Valid()) {
      if (((edit_.nLastKeyFlags & MouseKey::CTRL) && edit_.bSelecting) || edit_.bNewArea) edit_.selEnd = node;
      if (edit_.bRegionSelect && (edit_.bSelecting || edit_.bNewArea)) edit_.selEnd = node;
      const int count = model_.AreaCount();
      if (edit_.bNewArea && count > 0) {
        GridArea* last = model_.MutableArea(count - 1);
        if (last->bEnabled) {
          last->nSecondCol = node.col;
          last->nSecondRow = node.row;
        }
      }
      // Only with the button down: a drag released beside the map leaves
      // bRedefineDragging set until the next press.
      if (edit_.bRedefineArea && edit_.bRedefineDragging && (edit_.nLastKeyFlags & MouseKey::LEFT)) {
        GridArea* area = model_.MutableArea(edit_.nRedefineIndex);
        if (area != nullptr && area->bEnabled) {
          area->nSecondCol = node.col;
          area->nSecondRow = node.row;
        }
      }
    }
  }
  RepaintAfterInput();
}

void CColorGrid::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    LeftDown(event);
  } else if (event->button() == Qt::RightButton) {
    {
      Lock lock(model_.Mutex());
      if (model_.IsEmpty()) return;
      edit_.bShowSelection = false;
    }
    RepaintAfterInput();
  }
}

void CColorGrid::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    LeftUp(event);
  } else if (event->button() == Qt::RightButton) {
    {
      Lock lock(model_.Mutex());
      if (model_.IsEmpty()) return;
      edit_.hovered = NodePos{};
    }
    emit gridMenu(0, 0);
    RepaintAfterInput();
  }
}

void CColorGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  // Like a window's double-click message, this replaces the second press.
  if (event->button() == Qt::LeftButton) {
    DoubleClick(event);
  } else {
    mousePressEvent(event);
  }
}

void CColorGrid::LeftDown(QMouseEvent* event) {
  {
    Lock lock(model_.Mutex());
    if (model_.IsEmpty()) return;
    EnsureLayout(size());
    const QPoint pt = PointOf(event);
    const NodePos node = model_.HitTest(pt.x(), pt.y());
    if (node.Valid()) {
      if ((edit_.nLastKeyFlags & MouseKey::CTRL) || edit_.bRegionSelect) {
        edit_.bSelecting = true;
        edit_.selStart = edit_.selEnd = node;
        edit_.bShowSelection = true;
      }
      const int count = model_.AreaCount();
      if (edit_.bNewArea && count > 0) {
        GridArea* last = model_.MutableArea(count - 1);
        last->nFirstCol = last->nSecondCol = node.col;
        last->nFirstRow = last->nSecondRow = node.row;
        last->bEnabled = true;
      }
      if (edit_.bRedefineArea) {
        GridArea* area = model_.MutableArea(edit_.nRedefineIndex);
        if (area != nullptr) {
          area->nFirstCol = area->nSecondCol = node.col;
          area->nFirstRow = area->nSecondRow = node.row;
          area->bEnabled = true;
          edit_.bRedefineDragging = true;
        }
      }
    }
    edit_.nLastKeyFlags = KeyFlags(event);
    edit_.ptLast = pt;
    edit_.hovered = node;
  }
  RepaintAfterInput();
}

void CColorGrid::LeftUp(QMouseEvent* event) {
  qintptr wParam = 0;
  qintptr lParam = -1;
  {
    Lock lock(model_.Mutex());
    if (model_.IsEmpty()) return;
    EnsureLayout(size());
    const QPoint pt = PointOf(event);
    const NodePos node = model_.HitTest(pt.x(), pt.y(), false);
    edit_.bSelecting = false;
    if (node.Valid()) {
      if (edit_.nLastKeyFlags & MouseKey::CTRL) edit_.selEnd = node;
      if (edit_.bRegionSelect) {
        edit_.selEnd = node;
        edit_.bRegionSelect = false;
      }
      const int count = model_.AreaCount();
      if (edit_.bNewArea && count > 0) {
        edit_.selEnd = node;
        edit_.bSelecting = true;
        GridArea* last = model_.MutableArea(count - 1);
        if (last->bEnabled) {
          last->nSecondCol = node.col;
          last->nSecondRow = node.row;
        }
        model_.StampAreaGroup(count - 1, count);
        model_.UpdateColours();
        wParam = 1;
        lParam = count;
      }
      if (edit_.bRedefineArea && edit_.bRedefineDragging) {
        const int index = edit_.nRedefineIndex;
        GridArea* area = model_.MutableArea(index);
        if (area != nullptr) {
          edit_.selEnd = node;
          edit_.bSelecting = true;
          if (area->bEnabled) {
            area->nSecondCol = node.col;
            area->nSecondRow = node.row;
          }
          model_.StampAreaGroup(index, index + 1);
          model_.UpdateColours();
          edit_.bRedefineArea = false;
          edit_.bRedefineDragging = false;
          wParam = 2;
          lParam = index + 1;
        }
      }
    }
    edit_.hovered = NodePos{};
    edit_.bNewArea = false;
  }
  emit gridAreaDone(wParam, lParam);
  RepaintAfterInput();
}

void CColorGrid::DoubleClick(QMouseEvent* event) {
  const int keys = KeyFlags(event);
  NodePos node;
  int area = -1;
  std::int32_t oldFlags = 0;
  {
    Lock lock(model_.Mutex());
    if (model_.IsEmpty()) return;
    EnsureLayout(size());
    const QPoint pt = PointOf(event);
    node = model_.HitTest(pt.x(), pt.y());
    // A double click beside the nodes (headers, legend) names no node.
    if (!node.Valid()) return;
    area = AreaOfNode(node);
    oldFlags = model_.GetNodeFlags(node.col, node.row);
    if ((keys & MouseKey::CTRL) && (keys & MouseKey::LEFT)) {
      std::int32_t next = -1;
      switch (oldFlags & 0xF) {
        case NodeFlag::TOUCH:
          next = area == 1 ? NodeFlag::KEY : NodeFlag::MASK;
          break;
        case NodeFlag::KEY:
          if (area == 1) next = NodeFlag::MASK;
          break;
        case NodeFlag::MASK:
          next = area == 1 ? NodeFlag::KEY : NodeFlag::TOUCH;
          break;
        default:
          break;
      }
      if (next >= 0) model_.SetNodeFlags(node.col, node.row, node.col, node.row, next, 0, FlagOp::Set);
    }
  }
  if ((keys & MouseKey::CTRL) && (keys & MouseKey::LEFT)) {
    emit gridNodeMark((static_cast<qintptr>(oldFlags & 0xFF) << 8) | static_cast<qintptr>(area & 0xFF),
                      NodeParam(node));
  } else {
    emit gridNodeEdit(area, NodeParam(node));
  }
  RepaintAfterInput();
}

}  // namespace varnex2::judging
