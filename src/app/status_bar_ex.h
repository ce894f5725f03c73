// CStatusBarEx: the station window's bottom bar. Every pane is drawn by the bar
// itself: a solid background, the pane's text in its own colour, centred or
// right-aligned. The last pane stretches over what the fixed panes leave, but
// never below its minimum width. An optional indicator (a small coloured box with
// a short text) sits between the fixed panes and the stretching pane.
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
    int width = 100;  // fixed width; the minimum width for the stretching last pane
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
  // The pane's rectangle at the bar's current width.
  QRect PaneRect(int index) const;

  // An empty text hides the indicator.
  void SetIndicator(const QString& text, const QColor& textColour, const QColor& backColour);
  QString IndicatorText() const { return indicatorText_; }
  QRect IndicatorRect() const;

  // "Arial Narrow" of height 24; fontconfig maps it to a metric-compatible face.
  static QFont PaneFont();

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  static constexpr int kIndicatorWidth = 110;
  int IndicatorWidth() const { return indicatorText_.isEmpty() ? 0 : kIndicatorWidth; }

  std::vector<Pane> panes_;
  QString indicatorText_;
  QColor indicatorFg_{Qt::white};
  QColor indicatorBg_{0x80, 0x80, 0x80};
  QFont font_;
};

}  // namespace varnex2::app
