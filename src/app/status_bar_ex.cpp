#include "app/status_bar_ex.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <utility>

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
  for (int i = 0; i < PaneCount(); ++i) width += NaturalWidth(i);
  return {width, kHeight};
}

int CStatusBarEx::TextWidth(const QString& text) const {
  if (text.isEmpty()) return 0;
  return QFontMetrics(font_).horizontalAdvance(text) + kTextMargin;
}

int CStatusBarEx::NaturalWidth(int index) const {
  const Pane& pane = panes_[static_cast<std::size_t>(index)];
  return std::max(pane.width, TextWidth(pane.text));
}

QFont CStatusBarEx::IndicatorFont() const {
  QFont small = font_;
  small.setPixelSize(kIndicatorPixelSize);
  return small;
}

int CStatusBarEx::IndicatorWidth() const {
  if (indicatorText_.isEmpty()) return 0;
  return std::max(kIndicatorMinWidth,
                  QFontMetrics(IndicatorFont()).horizontalAdvance(indicatorText_) + 2 * kIndicatorInset + kTextMargin);
}

int CStatusBarEx::LastPaneLeft() const {
  int left = 0;
  for (int i = 0; i + 1 < PaneCount(); ++i) left += NaturalWidth(i);
  return left + IndicatorWidth();
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
  const int before = NaturalWidth(index);
  panes_[static_cast<std::size_t>(index)].text = text;
  // A pane that grew or shrank moves the panes after it.
  if (NaturalWidth(index) != before) {
    update();
  } else {
    update(PaneRect(index));
  }
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
  if (index == PaneCount() - 1) {
    const int left = LastPaneLeft();
    return {left, 0, std::max(panes_.back().width, this->width() - left), height()};
  }
  int left = 0;
  for (int i = 0; i < index; ++i) left += NaturalWidth(i);
  return {left, 0, NaturalWidth(index), height()};
}

void CStatusBarEx::SetIndicator(const QString& text, const QColor& textColour, const QColor& backColour) {
  const int before = IndicatorWidth();
  indicatorText_ = text;
  const bool resized = IndicatorWidth() != before;
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
  const int width = IndicatorWidth();
  return {LastPaneLeft() - width, 0, width, height()};
}

void CStatusBarEx::SetNotice(const QString& text, const QColor& textColour, const QColor& backColour) {
  noticeText_ = text;
  noticeFg_ = textColour;
  noticeBg_ = backColour;
  setToolTip(text);
  update();
}

QRect CStatusBarEx::NoticeRect() const {
  if (noticeText_.isEmpty()) return {};
  const int width = std::min(IndicatorTextWidth(noticeText_), this->width() * 45 / 100);
  return {this->width() - width, 0, width, height()};
}

int CStatusBarEx::IndicatorTextWidth(const QString& text) const {
  return QFontMetrics(IndicatorFont()).horizontalAdvance(text) + 2 * kIndicatorInset + kTextMargin;
}

void CStatusBarEx::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
  painter.setFont(font_);
  const QFontMetrics metrics(font_);
  for (int i = 0; i < PaneCount(); ++i) {
    const Pane& pane = panes_[static_cast<std::size_t>(i)];
    const QRect box = PaneRect(i);
    painter.fillRect(box, pane.backColour);
    painter.setPen(pane.textColour);
    // A little room at the right edge so that right-aligned text does not touch it;
    // the text never paints outside its pane. Only the stretching pane can be too
    // narrow for its text (the others grow): it shows the text's start and an ellipsis.
    QRect textBox = box.intersected(rect()).adjusted(kTextLeft, 0, -kTextRight, 0);
    if (i == PaneCount() - 1 && !noticeText_.isEmpty()) textBox.setRight(std::min(textBox.right(), NoticeRect().left() - kTextRight));
    const QString text = metrics.horizontalAdvance(pane.text) > textBox.width()
                             ? metrics.elidedText(pane.text, Qt::ElideRight, textBox.width())
                             : pane.text;
    painter.save();
    painter.setClipRect(box);
    painter.drawText(textBox, static_cast<int>(pane.align | Qt::AlignVCenter), text);
    painter.restore();
  }
  if (!indicatorText_.isEmpty()) {
    const QRect box = IndicatorRect().adjusted(kIndicatorInset, 4, -kIndicatorInset, -4);
    painter.fillRect(box, indicatorBg_);
    painter.setPen(indicatorFg_);
    painter.setFont(IndicatorFont());
    painter.drawText(box, Qt::AlignCenter, indicatorText_);
  }
  if (!noticeText_.isEmpty()) {
    const QRect box = NoticeRect().adjusted(kIndicatorInset, 4, -kIndicatorInset, -4);
    painter.fillRect(box, noticeBg_);
    painter.setPen(noticeFg_);
    painter.setFont(IndicatorFont());
    const QFontMetrics small(IndicatorFont());
    const QRect textBox = box.adjusted(kTextLeft, 0, -kTextRight, 0);
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter,
                     small.elidedText(noticeText_, Qt::ElideMiddle, textBox.width()));
  }
}

}  // namespace varnex2::app
