// CStatusBarEx: the station window's bottom bar. Every pane is drawn by the bar
// itself: a solid background, the pane's text in its own colour, centred or
// right-aligned. A pane is never narrower than its width and grows to show its
// whole text; the last pane stretches over what the others leave, but never
// below its minimum width. An optional indicator (a small coloured box with a
// short text) sits between the other panes and the stretching pane. Panes and
// indicator lie side by side and never overlap; when the bar is too narrow for
// all of them, the last pane's text is shortened with an ellipsis (the verdict
// pane before it always shows its whole text).
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include <vector>

namespace varnex2::app {

class CStatusBarEx : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 30;

  struct Pane {
    QString text;
    int width = 100;  // the least width; the text may widen the pane beyond it
    Qt::Alignment align = Qt::AlignCenter;
    QColor textColour{Qt::white};
    QColor backColour{0x80, 0x80, 0x80};
  };

  explicit CStatusBarEx(QWidget* parent = nullptr);

  // Replaces the panes; the last one stretches.
  void SetPanes(std::vector<Pane> panes);
  int PaneCount() const { return static_cast<int>(panes_.size()); }
  const Pane& PaneAt(int index) const;  // index clamped into the pane list

  // These ignore an index that names no pane.
  void SetPaneText(int index, const QString& text);
  void SetPaneColours(int index, const QColor& text, const QColor& back);
  void SetPaneWidth(int index, int width);
  // The pane's rectangle at the bar's current width (the last pane may reach
  // beyond the bar's right edge when the bar is too narrow).
  QRect PaneRect(int index) const;
  // The width a pane's whole text needs, margins included.
  int TextWidth(const QString& text) const;

  // An empty text hides the indicator.
  void SetIndicator(const QString& text, const QColor& textColour, const QColor& backColour);
  QString IndicatorText() const { return indicatorText_; }
  QRect IndicatorRect() const;

  // A notice at the bar's right end, over the stretching pane's right part (at most
  // 45 % of the bar, its text elided); the pane's text stops before it. Empty hides it.
  void SetNotice(const QString& text, const QColor& textColour, const QColor& backColour);
  QString NoticeText() const { return noticeText_; }
  QRect NoticeRect() const;

  // "Arial Narrow" of height 24; fontconfig maps it to a metric-compatible face.
  static QFont PaneFont();

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Text inset from the pane's left and right edges; a pane's text needs its
  // advance plus kTextMargin.
  static constexpr int kTextLeft = 2;
  static constexpr int kTextRight = 4;
  static constexpr int kTextMargin = kTextLeft + kTextRight + 4;
  static constexpr int kIndicatorInset = 3;
  static constexpr int kIndicatorPixelSize = 16;
  static constexpr int kIndicatorMinWidth = 80;

  // The width of pane `index` when it does not stretch: its own, or its text's.
  int NaturalWidth(int index) const;
  // Where the last pane starts: after the other panes and the indicator.
  int LastPaneLeft() const;
  int IndicatorWidth() const;
  QFont IndicatorFont() const;
  int IndicatorTextWidth(const QString& text) const;

  std::vector<Pane> panes_;
  QString indicatorText_;
  QColor indicatorFg_{Qt::white};
  QColor indicatorBg_{0x80, 0x80, 0x80};
  QString noticeText_;
  QColor noticeFg_{Qt::white};
  QColor noticeBg_{0xC0, 0, 0};
  QFont font_;
};

}  // namespace varnex2::app
