#include "app/status_bar_ex.h"

#include <QFontDatabase>
#include <QPainter>

#include <algorithm>

namespace varnex2::app {

namespace {

// The Windows face the panes are drawn in and the metric-compatible faces
// that stand in for it on Linux.
void RegisterNarrowSubstitutes() {
  static const bool once = [] {
    QFont::insertSubstitutions("Arial Narrow", {"Liberation Sans Narrow", "Nimbus Sans Narrow"});
    return true;
  }();
  (void)once;
}

}  // namespace

QFont CStatusBarEx::PaneFont() {
  RegisterNarrowSubstitutes();
  QFont font("Arial Narrow");
  font.setPixelSize(24);
  return font;
}

CStatusBarEx::CStatusBarEx(QWidget* parent) : QWidget(parent), font_(PaneFont()) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedHeight(kHeight);
}

QSize CStatusBarEx::sizeHint() const {
  int width = IndicatorWidth();
  for (const Pane& pane : panes_) width += pane.width;
  return {width, kHeight};
}

void CStatusBarEx::SetPanes(std::vector<Pane> panes) {
  panes_ = std::move(panes);
  update();
}

const CStatusBarEx::Pane& CStatusBarEx::PaneAt(int index) const {
  static const Pane none;
  if (panes_.empty()) return none;
  return panes_[static_cast<std::size_t>(std::clamp(index, 0, PaneCount() - 1))];
}

void CStatusBarEx::SetPaneText(int index, const QString& text) {
  if (index < 0 || index >= PaneCount()) return;
  panes_[static_cast<std::size_t>(index)].text = text;
  update(PaneRect(index));
}

void CStatusBarEx::SetPaneColours(int index, const QColor& text, const QColor& back) {
  if (index < 0 || index >= PaneCount()) return;
  Pane& pane = panes_[static_cast<std::size_t>(index)];
  pane.textColour = text;
  pane.backColour = back;
  update(PaneRect(index));
}

void CStatusBarEx::SetPaneWidth(int index, int width) {
  if (index < 0 || index >= PaneCount()) return;
  panes_[static_cast<std::size_t>(index)].width = std::max(0, width);
  update();
}

QRect CStatusBarEx::PaneRect(int index) const {
  if (index < 0 || index >= PaneCount()) return {};
  int left = 0;
  for (int i = 0; i < index; ++i) left += panes_[static_cast<std::size_t>(i)].width;
  const bool last = index == PaneCount() - 1;
  if (last) left += IndicatorWidth();
  const Pane& pane = panes_[static_cast<std::size_t>(index)];
  const int width = last ? std::max(pane.width, this->width() - left) : pane.width;
  return {left, 0, width, height()};
}

void CStatusBarEx::SetIndicator(const QString& text, const QColor& textColour, const QColor& backColour) {
  const bool resized = text.isEmpty() != indicatorText_.isEmpty();
  indicatorText_ = text;
  indicatorFg_ = textColour;
  indicatorBg_ = backColour;
  if (resized) {
    update();
  } else {
    update(IndicatorRect());
  }
}

QRect CStatusBarEx::IndicatorRect() const {
  if (indicatorText_.isEmpty()) return {};
  int left = 0;
  for (int i = 0; i + 1 < PaneCount(); ++i) left += panes_[static_cast<std::size_t>(i)].width;
  return {left, 0, kIndicatorWidth, height()};
}

void CStatusBarEx::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
  painter.setFont(font_);
  for (int i = 0; i < PaneCount(); ++i) {
    const Pane& pane = panes_[static_cast<std::size_t>(i)];
    const QRect box = PaneRect(i);
    painter.fillRect(box, pane.backColour);
    painter.setPen(pane.textColour);
    // A little room at the right edge so that right-aligned text does not touch it.
    painter.drawText(box.adjusted(2, 0, -4, 0), static_cast<int>(pane.align | Qt::AlignVCenter), pane.text);
  }
  if (!indicatorText_.isEmpty()) {
    const QRect box = IndicatorRect().adjusted(3, 4, -3, -4);
    painter.fillRect(box, indicatorBg_);
    painter.setPen(indicatorFg_);
    QFont small = font_;
    small.setPixelSize(16);
    painter.setFont(small);
    painter.drawText(box, Qt::AlignCenter, indicatorText_);
  }
}

}  // namespace varnex2::app
