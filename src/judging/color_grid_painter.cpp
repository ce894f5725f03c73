#include "judging/color_grid_painter.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varnex2::judging {

namespace {

const QString kNarrow = QStringLiteral("Arial Narrow");
const QString kArial = QStringLiteral("Arial");

constexpr int kFirstAscii = 0x20;

QColor ToQColor(Rgb c, int alpha = 255) { return QColor(RgbRed(c), RgbGreen(c), RgbBlue(c), alpha); }

QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

// Each channel raised by 200, capped: the look of the node under a pressed button.
Rgb Raised(Rgb c) {
  return MakeRgb(std::min(RgbRed(c) + 200, 255), std::min(RgbGreen(c) + 200, 255), std::min(RgbBlue(c) + 200, 255));
}

Rgb Complement(Rgb c) { return MakeRgb(255 - RgbRed(c), 255 - RgbGreen(c), 255 - RgbBlue(c)); }

// The 3-D frame of a rectangle: top and left edges in one colour, right and
// bottom edges in the other (the bottom-left and top-right corners belong to
// the second colour).
template <typename FillFn>
void Frame3D(FillFn&& fill, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
  const int x = r.x();
  const int y = r.y();
  const int w = r.width();
  const int h = r.height();
  if (w <= 0 || h <= 0) return;
  fill(QRect(x, y, w - 1, 1), topLeft);
  fill(QRect(x, y, 1, h - 1), topLeft);
  fill(QRect(x + w - 1, y, 1, h), bottomRight);
  fill(QRect(x, y + h - 1, w, 1), bottomRight);
}

bool LineVisible(const std::vector<GridLine>& lines, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < lines.size() && lines[static_cast<std::size_t>(index)].bVisible;
}

// Visible column and row positions, in list order.
struct VisibleLines {
  std::vector<int> cols;
  std::vector<int> rows;
};

VisibleLines Visible(const NodeMap& m) {
  VisibleLines v;
  const auto& cl = m.ColumnLines();
  const auto& rl = m.RowLines();
  const int nc = std::min<int>(m.Columns(), static_cast<int>(cl.size()));
  const int nr = std::min<int>(m.Rows(), static_cast<int>(rl.size()));
  for (int c = 0; c < nc; ++c)
    if (cl[static_cast<std::size_t>(c)].bVisible) v.cols.push_back(c);
  for (int r = 0; r < nr; ++r)
    if (rl[static_cast<std::size_t>(r)].bVisible) v.rows.push_back(r);
  return v;
}

}  // namespace

// ---- Fonts --------------------------------------------------------------------------

// GDI sizes a font by its cell height (ascent + descent) and average character
// width; Qt sizes it by the em. The pixel size is therefore the cell height
// divided by the family's (ascent + descent) per em, and the requested average
// width is reached with a horizontal stretch. Qt applies a stretch relative to
// the matched face's own width class (a condensed face asked for at 100 comes
// out widened), so the reference average width is measured at stretch 100 and
// the width then scales linearly with the stretch. Both ratios are measured
// once per family.
const GridPainter::FontMetricsRatio& GridPainter::Ratio(const QString& family) {
  auto it = ratios_.find(family);
  if (it != ratios_.end()) return it->second;
  QFont f(family);
  f.setPixelSize(100);
  f.setStretch(100);
  QFontMetricsF fm(f);
  FontMetricsRatio r;
  const qreal height = fm.ascent() + fm.descent();
  if (height > 0) r.heightPerPixel = height / 100.0;
  if (fm.averageCharWidth() > 0) r.avgPerPixel = fm.averageCharWidth() / 100.0;
  return ratios_.emplace(family, r).first->second;
}

CellFont& GridPainter::Font(const QString& family, int cellHeight, double avgWidth) {
  const FontMetricsRatio& ratio = Ratio(family);
  const int px = std::max(1, static_cast<int>(std::lround(cellHeight / ratio.heightPerPixel)));
  int stretch = 100;
  if (avgWidth > 0) {
    stretch = static_cast<int>(std::lround(100.0 * avgWidth / (ratio.avgPerPixel * px)));
    stretch = std::clamp(stretch, 1, 4000);
  }
  const auto key = std::make_tuple(family, px, stretch);
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;

  CellFont cf;
  cf.font = QFont(family);
  cf.font.setPixelSize(px);
  cf.font.setStretch(stretch);
  cf.font.setStyleStrategy(QFont::NoSubpixelAntialias);
  QFontMetricsF fm(cf.font);
  cf.ascent = fm.ascent();
  cf.descent = fm.descent();
  cf.raw = QRawFont::fromFont(cf.font);
  if (cf.raw.isValid()) {
    QString ascii;
    for (int ch = kFirstAscii; ch < kFirstAscii + 95; ++ch) ascii.append(QChar(ch));
    const QList<quint32> glyphs = cf.raw.glyphIndexesForString(ascii);
    if (glyphs.size() == 95) {
      const QList<QPointF> adv = cf.raw.advancesForGlyphIndexes(glyphs);
      cf.fast = adv.size() == 95;
      for (int i = 0; i < 95 && cf.fast; ++i) {
        cf.glyph[static_cast<std::size_t>(i)] = glyphs[i];
        // Measure with the same engine the text layout uses, so glyph runs
        // and ordinary text come out alike.
        cf.advance[static_cast<std::size_t>(i)] = fm.horizontalAdvance(QChar(kFirstAscii + i));
      }
    }
  }
  return fonts_.emplace(key, std::move(cf)).first->second;
}

void GridPainter::CentredText(QPainter& p, CellFont& f, const QRectF& rect, const char* ascii, int len) {
  if (len <= 0) return;
  bool fast = f.fast;
  qreal width = 0;
  for (int i = 0; i < len && fast; ++i) {
    const int ch = static_cast<unsigned char>(ascii[i]) - kFirstAscii;
    if (ch < 0 || ch >= 95 || f.glyph[static_cast<std::size_t>(ch)] == 0) {
      fast = false;
      break;
    }
    width += f.advance[static_cast<std::size_t>(ch)];
  }
  if (!fast) {
    CentredText(p, f, rect, QString::fromLatin1(ascii, len));
    return;
  }
  const qreal left = std::round(rect.left() + (rect.width() - width) / 2.0);
  const qreal baseline = std::round(rect.top() + (rect.height() - (f.ascent + f.descent)) / 2.0 + f.ascent);
  if (raster_.bits != nullptr) {
    BlitGlyphs(f, left, baseline, ascii, len, p.pen().color().rgb());
    return;
  }
  QList<quint32> glyphs(len);
  QList<QPointF> positions(len);
  qreal x = 0;
  for (int i = 0; i < len; ++i) {
    const auto ch = static_cast<std::size_t>(static_cast<unsigned char>(ascii[i]) - kFirstAscii);
    glyphs[i] = f.glyph[ch];
    positions[i] = QPointF(x, 0);
    x += f.advance[ch];
  }
  QGlyphRun run;
  run.setRawFont(f.raw);
  run.setGlyphIndexes(glyphs);
  run.setPositions(positions);
  p.drawGlyphRun(QPointF(left, baseline), run);
}

void GridPainter::CentredText(QPainter& p, const CellFont& f, const QRectF& rect, const QString& text) {
  p.setFont(f.font);
  p.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip, text);
}

// ---- Direct pixel access -----------------------------------------------------------------

void GridPainter::Fill(QPainter& p, const QRect& r, const QColor& c) {
  if (raster_.bits == nullptr || c.alpha() != 255) {
    p.fillRect(r, c);
    return;
  }
  const QRect clipped = r.intersected(QRect(0, 0, raster_.width, raster_.height));
  if (clipped.isEmpty()) return;
  const quint32 value = c.rgba();
  for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
    auto* row = reinterpret_cast<quint32*>(raster_.bits + y * raster_.bytesPerLine) + clipped.left();
    std::fill_n(row, clipped.width(), value);
  }
}

// A glyph's coverage, rendered once by Qt into a small transparent image.
const GlyphMask& GridPainter::Mask(CellFont& f, int index, int phase) {
  GlyphMask& m = f.masks[static_cast<std::size_t>(index * CellFont::kPhases + phase)];
  if (m.made) return m;
  m.made = true;
  const int pad = 2 + static_cast<int>(std::ceil(f.font.pixelSize() * 0.25));
  const int ascent = static_cast<int>(std::ceil(f.ascent));
  m.w = static_cast<int>(std::ceil(f.advance[static_cast<std::size_t>(index)])) + 2 * pad;
  m.h = ascent + static_cast<int>(std::ceil(f.descent)) + 2 * pad;
  m.dx = -pad;
  m.dy = -(pad + ascent);
  QImage img(m.w, m.h, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  {
    QPainter gp(&img);
    gp.setFont(f.font);
    gp.setPen(QColor(0, 0, 0));
    gp.drawText(QPointF(pad + static_cast<qreal>(phase) / CellFont::kPhases, pad + ascent),
                QString(QChar(kFirstAscii + index)));
  }
  // Keep only the rows and columns the glyph covers.
  int left = m.w, right = -1, top = m.h, bottom = -1;
  for (int y = 0; y < m.h; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = 0; x < m.w; ++x) {
      if (qAlpha(row[x]) == 0) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right < 0) {  // blank glyph (space)
    m.w = m.h = 0;
    return m;
  }
  m.dx += left;
  m.dy += top;
  m.w = right - left + 1;
  m.h = bottom - top + 1;
  m.alpha.resize(static_cast<std::size_t>(m.w) * static_cast<std::size_t>(m.h));
  for (int y = 0; y < m.h; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(top + y)) + left;
    for (int x = 0; x < m.w; ++x)
      m.alpha[static_cast<std::size_t>(y) * static_cast<std::size_t>(m.w) + static_cast<std::size_t>(x)] =
          static_cast<std::uint8_t>(qAlpha(row[x]));
  }
  return m;
}

// x * a / 255 + y * b / 255 per 8-bit channel, two channels at a time, with
// a + b = 255 (rounded like the raster engine's own blending).
inline quint32 Interpolate255(quint32 x, quint32 a, quint32 y, quint32 b) {
  quint32 t = (x & 0xff00ffu) * a + (y & 0xff00ffu) * b;
  t = (t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8;
  t &= 0xff00ffu;
  x = ((x >> 8) & 0xff00ffu) * a + ((y >> 8) & 0xff00ffu) * b;
  x = x + ((x >> 8) & 0xff00ffu) + 0x800080u;
  x &= 0xff00ff00u;
  return x | t;
}

// Blends the glyph masks of a short ASCII text in one opaque colour.
void GridPainter::BlitGlyphs(CellFont& f, qreal left, qreal baseline, const char* ascii, int len, QRgb colour) {
  const quint32 text = 0xFF000000u | (colour & 0xFFFFFFu);
  const int by = static_cast<int>(baseline);
  qreal pen = left;
  for (int i = 0; i < len; ++i) {
    const int index = static_cast<unsigned char>(ascii[i]) - kFirstAscii;
    // Whole pixels plus one of the sub-pixel phases the masks were made at.
    const qreal quarter = std::round(pen * CellFont::kPhases);
    const int whole = static_cast<int>(std::floor(quarter / CellFont::kPhases));
    const int phase = static_cast<int>(quarter) - whole * CellFont::kPhases;
    const GlyphMask& m = Mask(f, index, phase);
    const int ox = whole + m.dx;
    const int oy = by + m.dy;
    pen += f.advance[static_cast<std::size_t>(index)];
    const int x0 = std::max(0, -ox);
    const int x1 = std::min(m.w, raster_.width - ox);
    const int y0 = std::max(0, -oy);
    const int y1 = std::min(m.h, raster_.height - oy);
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* a = m.alpha.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(m.w);
      auto* dst = reinterpret_cast<quint32*>(raster_.bits + (oy + y) * raster_.bytesPerLine) + ox;
      for (int x = x0; x < x1; ++x) {
        const quint32 cov = a[x];
        if (cov == 0) continue;
        dst[x] = cov == 255 ? text : Interpolate255(text, cov, dst[x], 255 - cov);
      }
    }
  }
}

// ---- Whole paint ------------------------------------------------------------------------

std::string GridPainter::Paint(QPainter& p, NodeMap& model, const GridEditState& edit, QSize size) {
  // Fonts are kept between paints (one set per node size); a long run of
  // resizes must not let the set grow without bound.
  if (fonts_.size() > 256) fonts_.clear();
  raster_ = Raster{};
  if (p.device() != nullptr && p.device()->devType() == QInternal::Image && p.deviceTransform().isIdentity() &&
      !p.hasClipping()) {
    auto* image = static_cast<QImage*>(p.device());
    const QImage::Format format = image->format();
    if ((format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_RGB32) &&
        image->devicePixelRatio() == 1.0) {
      raster_.bits = image->bits();
      raster_.bytesPerLine = image->bytesPerLine();
      raster_.width = image->width();
      raster_.height = image->height();
    }
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  Background(p, model, size);

  // An empty map shows only the background, plus the notice label, which
  // carries the reconnect countdown while the map is emptied.
  if (model.IsEmpty()) {
    const GridLabel& notice = model.NoticeLabel();
    if (notice.bShown) LabelBox(p, notice, 10, 150);
    return model.GetVerdictText();
  }

  std::string verdict;
  const bool frozen = model.IsFrozen();
  if (!frozen) {
    Headers(p, model, edit);
    Nodes(p, model, edit, size);
    NodeTexts(p, model);
    StatusOverlay(p, model);
    p.setRenderHint(QPainter::Antialiasing, true);
    HoverReadout(p, model, edit, size);
    Selection(p, model, edit);
    AreaFrames(p, model);
    // Fixing the verdict text also counts it (stable-frame filter).
    verdict = model.FixVerdict();
    Verdict(p, model, verdict, size);
    Legend(p, model);
  } else {
    verdict = model.GetVerdictText();
  }
  p.setRenderHint(QPainter::Antialiasing, true);
  Labels(p, model);
  return verdict;
}

void GridPainter::Background(QPainter& p, const NodeMap& m, QSize size) {
  const QColor background(200, 200, 200);
  const QRect client(QPoint(0, 0), size);
  const VisibleLines v = Visible(m);
  if (m.IsEmpty() || m.IsFrozen() || v.cols.empty() || v.rows.empty()) {
    Fill(p, client, background);
    return;
  }
  // The nodes cover their whole block (neighbours overlap), so only the
  // rest of the client area needs the background.
  const Rect first = m.Cell(v.cols.front(), v.rows.front()).rcNode;
  const Rect last = m.Cell(v.cols.back(), v.rows.back()).rcNode;
  const QRect nodes = QRect(QPoint(first.left, first.top), QPoint(last.right - 1, last.bottom - 1)) & client;
  if (nodes.isEmpty()) {
    Fill(p, client, background);
    return;
  }
  Fill(p, QRect(0, 0, size.width(), nodes.top()), background);
  Fill(p, QRect(0, nodes.bottom() + 1, size.width(), size.height() - nodes.bottom() - 1), background);
  Fill(p, QRect(0, nodes.top(), nodes.left(), nodes.height()), background);
  Fill(p, QRect(nodes.right() + 1, nodes.top(), size.width() - nodes.right() - 1, nodes.height()), background);
}

// ---- Layer: header strips ------------------------------------------------------------------

void GridPainter::Headers(QPainter& p, const NodeMap& m, const GridEditState& e) {
  const bool leftAlone = e.LeftAlone();
  const int base = m.LineNumberBase();
  const QColor shadow(128, 128, 128);
  const QColor light(255, 255, 255);
  char buf[16];
  auto one = [&](const GridLine& line, bool hovered) {
    const QRect r = ToQRect(line.rcHeader);
    if (r.width() <= 0 || r.height() <= 0) return;
    Fill(p, r, hovered ? QColor(255, 0, 0) : ToQColor(line.crBack));
    Frame3D([&](const QRect& rr, const QColor& c) { Fill(p, rr, c); }, r, shadow, light);
    const int len = std::snprintf(buf, sizeof buf, "%d", line.nNumber + base);
    CellFont& f = Font(kNarrow, r.height(), r.width() / 4.0);
    p.setPen(ToQColor(line.crText));
    CentredText(p, f, QRectF(r), buf, len);
  };
  const auto& cols = m.ColumnLines();
  const auto& rows = m.RowLines();
  for (std::size_t c = 0; c < cols.size(); ++c)
    if (cols[c].bVisible) one(cols[c], leftAlone && e.hovered.col == static_cast<int>(c));
  for (std::size_t r = 0; r < rows.size(); ++r)
    if (rows[r].bVisible) one(rows[r], leftAlone && e.hovered.row == static_cast<int>(r));
}

// ---- Layer: nodes ----------------------------------------------------------------------------

// Every node is filled with its colour and framed dark grey (top, left) and red
// (bottom, right). Neighbouring rectangles overlap by one pixel and are drawn
// column by column, so each node's dark top and left edges cover the red edges
// of the nodes before it: the frames add up to one dark grid with red only on
// the far right and bottom edges. The grid is drawn as whole lines, which gives
// the same pixels as framing each node.
void GridPainter::Nodes(QPainter& p, const NodeMap& m, const GridEditState& e, QSize size) {
  const VisibleLines v = Visible(m);
  const QColor grey(64, 64, 64);
  const QColor red(255, 0, 0);
  const bool hoverLit = e.LeftAlone() && e.hovered.Valid() && LineVisible(m.ColumnLines(), e.hovered.col) &&
                        LineVisible(m.RowLines(), e.hovered.row) && e.hovered.col < m.Columns() &&
                        e.hovered.row < m.Rows();
  if (!v.cols.empty() && !v.rows.empty()) {
    for (int c : v.cols) {
      for (int r : v.rows) {
        const GridCell& cell = m.Cell(c, r);
        Rgb colour = cell.crColor;
        if (hoverLit && c == e.hovered.col && r == e.hovered.row) colour = Raised(colour);
        Fill(p, ToQRect(cell.rcNode), ToQColor(colour));
      }
    }
    const Rect first = m.Cell(v.cols.front(), v.rows.front()).rcNode;
    const Rect last = m.Cell(v.cols.back(), v.rows.back()).rcNode;
    for (int c : v.cols) {
      const int x = m.Cell(c, v.rows.front()).rcNode.left;
      Fill(p, x, first.top, 1, last.bottom - 1 - first.top, grey);
    }
    for (int r : v.rows) {
      const int y = m.Cell(v.cols.front(), r).rcNode.top;
      Fill(p, first.left, y, last.right - 1 - first.left, 1, grey);
    }
    Fill(p, last.right - 1, first.top, 1, last.bottom - first.top, red);
    Fill(p, first.left, last.bottom - 1, last.right - first.left, 1, red);

    if (hoverLit) {
      const QRect h = ToQRect(m.Cell(e.hovered.col, e.hovered.row).rcNode);
      const bool lastCol = e.hovered.col == v.cols.back();
      const bool lastRow = e.hovered.row == v.rows.back();
      const QColor litGrey = ToQColor(Raised(MakeRgb(64, 64, 64)));
      const QColor litRed = ToQColor(Raised(MakeRgb(255, 0, 0)));
      Fill(p, h.x(), h.y(), h.width() - 1, 1, litGrey);
      Fill(p, h.x(), h.y(), 1, h.height() - 1, litGrey);
      if (lastCol) Fill(p, h.x() + h.width() - 1, h.y(), 1, lastRow ? h.height() : h.height() - 1, litRed);
      if (lastRow) Fill(p, h.x(), h.y() + h.height() - 1, lastCol ? h.width() : h.width() - 1, 1, litRed);
    }
  }
  // Frame around the whole client area.
  const int w = size.width();
  const int h = size.height();
  if (w > 0 && h > 0) {
    Fill(p, 0, 0, w, 1, grey);
    Fill(p, 0, h - 1, w, 1, grey);
    Fill(p, 0, 0, 1, h, grey);
    Fill(p, w - 1, 0, 1, h, grey);
  }
}

// ---- Layer: node value texts -----------------------------------------------------------------

void GridPainter::NodeTexts(QPainter& p, const NodeMap& m) {
  const VisibleLines v = Visible(m);
  const int mode = m.TestModeFlags();
  const bool diff = (mode & TestMode::DIFFERENCE) != 0;
  const bool limits = (mode & TestMode::LIMITS) != 0;
  const bool adjacent = (mode & TestMode::ADJACENT) != 0;
  const bool blackText = diff && m.GetDisplayStyle() == kStyleText;
  const NodeFrame& upper = m.UpperLimits();
  const NodeFrame& lower = m.LowerLimits();

  // Fonts per node size; the nodes of a map differ by at most a pixel.
  struct FontSet {
    int w, h;
    CellFont* full;   // value alone
    CellFont* third;  // a third of the height, full width
    CellFont* thirdHalf;
    CellFont* quarter;
    CellFont* quarterHalf;
  };
  std::vector<FontSet> sets;
  char buf[32];

  for (int c : v.cols) {
    for (int r : v.rows) {
      const GridCell& cell = m.Cell(c, r);
      const int w = cell.rcNode.Width();
      const int h = cell.rcNode.Height();
      const double cw = (w - 2) / 6.5;
      if (cw < 2.0 || h < 12) continue;
      const FontSet* set = nullptr;
      for (const FontSet& fs : sets)
        if (fs.w == w && fs.h == h) set = &fs;
      if (set == nullptr) {
        sets.push_back(FontSet{w, h, &Font(kNarrow, h / 2, cw), &Font(kNarrow, h / 3, cw),
                               &Font(kNarrow, h / 3, cw / 2.0), &Font(kNarrow, h / 4, cw),
                               &Font(kNarrow, h / 4, cw / 2.0)});
        set = &sets.back();
      }
      CellFont* full = set->full;
      CellFont* third = set->third;
      CellFont* thirdHalf = set->thirdHalf;
      CellFont* quarter = set->quarter;
      CellFont* quarterHalf = set->quarterHalf;
      const Rgb col = cell.crColor;
      const QColor textColour = blackText ? QColor(0, 0, 0)
                                          : QColor(127 - RgbRed(col) / 2, 127 - RgbGreen(col) / 2,
                                                   127 - RgbBlue(col) / 2);
      p.setPen(textColour);
      const QRectF in(cell.rcNode.left + 1, cell.rcNode.top + 1, w - 2, h - 2);
      const int len = std::snprintf(buf, sizeof buf, "%05d", cell.nValue);
      const bool haveLimits = upper.InRange(c, r) && lower.InRange(c, r);

      if (diff || (!limits && !adjacent)) {
        CentredText(p, *full, in, buf, len);
      } else if (limits && !adjacent) {
        const qreal band = in.height() / 3.0;
        CentredText(p, *third, QRectF(in.left(), in.top() + band, in.width(), band), buf, len);
        if (haveLimits) {
          int n = std::snprintf(buf, sizeof buf, "%05d", upper(c, r));
          CentredText(p, *thirdHalf, QRectF(in.left(), in.top(), in.width(), band), buf, n);
          n = std::snprintf(buf, sizeof buf, "%05d", lower(c, r));
          CentredText(p, *thirdHalf, QRectF(in.left(), in.top() + 2 * band, in.width(), band), buf, n);
        }
      } else if (adjacent && !limits) {
        const qreal band = in.height() / 2.0;
        CentredText(p, *third, QRectF(in.left(), in.top(), in.width(), band), buf, len);
        const int n = std::snprintf(buf, sizeof buf, "%.0f%%", cell.dPercent / 100.0);
        CentredText(p, *third, QRectF(in.left(), in.top() + band, in.width(), band), buf, n);
      } else {
        // Both: upper limit, value, percentage, lower limit from top to bottom.
        const qreal band = in.height() / 4.0;
        CentredText(p, *quarter, QRectF(in.left(), in.top() + band, in.width(), band), buf, len);
        int n = std::snprintf(buf, sizeof buf, "%.0f%%", cell.dPercent / 100.0);
        CentredText(p, *quarter, QRectF(in.left(), in.top() + 2 * band, in.width(), band), buf, n);
        if (haveLimits) {
          n = std::snprintf(buf, sizeof buf, "%05d", upper(c, r));
          CentredText(p, *quarterHalf, QRectF(in.left(), in.top(), in.width(), band), buf, n);
          n = std::snprintf(buf, sizeof buf, "%05d", lower(c, r));
          CentredText(p, *quarterHalf, QRectF(in.left(), in.top() + 3 * band, in.width(), band), buf, n);
        }
      }
    }
  }
}

// ---- Layer: status overlay -------------------------------------------------------------------

void GridPainter::StatusOverlay(QPainter& p, const NodeMap& m) {
  constexpr std::int32_t kFaultBits =
      NodeFlag::SHORT_ANY | NodeFlag::OPEN | NodeFlag::LOW | NodeFlag::HIGH | NodeFlag::FAIL;
  constexpr std::int32_t kDrawn = NodeFlag::KEY | NodeFlag::MASK | NodeFlag::ZERO | NodeFlag::SHORT_ANY |
                                  NodeFlag::OPEN | NodeFlag::LOW | NodeFlag::HIGH | NodeFlag::PASS |
                                  NodeFlag::FAIL;
  const VisibleLines v = Visible(m);
  const int style = m.GetDisplayStyle();
  int lastW = -1;
  int lastH = -1;
  CellFont* letterFont = nullptr;

  for (int c : v.cols) {
    for (int r : v.rows) {
      const GridCell& cell = m.Cell(c, r);
      const std::int32_t flags = cell.nFlags;
      if ((flags & kDrawn) == 0) continue;
      const int w = cell.rcNode.Width();
      const int h = cell.rcNode.Height();
      if (w < 3 || h < 3) continue;
      const QRect in(cell.rcNode.left + 1, cell.rcNode.top + 1, w - 2, h - 2);

      if (flags & NodeFlag::PASS) Fill(p, in, QColor(0, 255, 0));
      if (flags & NodeFlag::FAIL) Fill(p, in, QColor(255, 0, 0));

      const char letter = NodeMap::OverlayLetter(flags);
      if (letter != '\0' && style != kStyleBackground) {
        QColor colour = ToQColor(Complement(cell.crColor));
        if (flags & NodeFlag::PASS) colour = QColor(0, 0, 255);
        if (flags & NodeFlag::FAIL) colour = QColor(0, 0, 0);
        if (style == kStyleText && (flags & kFaultBits)) colour = QColor(255, 0, 0);
        if (w != lastW || h != lastH) {
          lastW = w;
          lastH = h;
          letterFont = &Font(kArial, h - 2, 0.6 * (w - 2));
        }
        p.setPen(colour);
        CentredText(p, *letterFont, QRectF(in), &letter, 1);
      }
      if (flags & NodeFlag::ZERO) Fill(p, in, QColor(205, 179, 208));
      if (flags & NodeFlag::KEY) {
        p.setPen(QPen(ToQColor(Complement(cell.crColor)), 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(in.adjusted(1, 1, -1, -1));
      }
      if (flags & NodeFlag::MASK) {
        Fill(p, in, QColor(100, 100, 100));
        p.setPen(QPen(QColor(255, 0, 0), 1));
        p.drawLine(in.topLeft(), in.bottomRight());
        p.drawLine(in.topRight(), in.bottomLeft());
      }
    }
  }
}

// ---- Layer: hover read-out -------------------------------------------------------------------

void GridPainter::HoverReadout(QPainter& p, const NodeMap& m, const GridEditState& e, QSize size) {
  if (m.Columns() <= 6 || m.Rows() <= 6) return;
  if (!(e.LeftAlone() || e.bNewArea || e.bRedefineArea || e.bRegionSelect)) return;
  const NodePos n = e.hovered;
  if (!n.Valid() || n.col >= m.Columns() || n.row >= m.Rows()) return;
  if (!LineVisible(m.ColumnLines(), n.col) || !LineVisible(m.RowLines(), n.row)) return;
  const GridCell& cell = m.Cell(n.col, n.row);
  const QRect node = ToQRect(cell.rcNode);

  // Cross-hair through the node's centre over the node area.
  const VisibleLines v = Visible(m);
  const Rect first = m.Cell(v.cols.front(), v.rows.front()).rcNode;
  const Rect last = m.Cell(v.cols.back(), v.rows.back()).rcNode;
  const QPointF centre = QRectF(node).center();
  p.setPen(QPen(QColor(0, 0, 0, 160), 1, Qt::DashLine));
  p.drawLine(QPointF(first.left, centre.y()), QPointF(last.right - 1, centre.y()));
  p.drawLine(QPointF(centre.x(), first.top), QPointF(centre.x(), last.bottom - 1));

  const int rowNumber = m.RowLines()[static_cast<std::size_t>(n.row)].nNumber;
  const int colNumber = m.ColumnLines()[static_cast<std::size_t>(n.col)].nNumber;
  const QString coords = QString::asprintf("%c=%d %c=%d", 'X', rowNumber, 'Y', colNumber);
  const QString label = QString::fromStdString(NodeMap::NodeLabelText(cell.nFlags));
  const QString text = label.isEmpty() ? coords : coords + QLatin1Char('\n') + label;

  QFont font(kArial);
  font.setPixelSize(14);
  font.setStyleStrategy(QFont::NoSubpixelAntialias);
  p.setFont(font);
  const QFontMetrics fm(font);
  const QRect textRect = fm.boundingRect(QRect(0, 0, 400, 100), Qt::AlignLeft, text);
  QRect box(0, 0, textRect.width() + 16, textRect.height() + 10);
  // Below right of the cursor, flipped to stay inside the client area.
  QPoint at = e.ptLast + QPoint(18, 18);
  if (at.x() + box.width() > size.width() - 2) at.setX(e.ptLast.x() - 18 - box.width());
  if (at.y() + box.height() > size.height() - 2) at.setY(e.ptLast.y() - 18 - box.height());
  box.moveTopLeft(at);
  p.setPen(QPen(QColor(64, 64, 64, 200), 1));
  p.setBrush(QColor(255, 255, 225, 200));
  p.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
  p.setPen(QColor(0, 0, 0));
  p.drawText(box.adjusted(8, 5, -8, -5), Qt::AlignLeft | Qt::AlignVCenter, text);
}

// ---- Layer: selection ------------------------------------------------------------------------

void GridPainter::Selection(QPainter& p, const NodeMap& m, const GridEditState& e) {
  if (!e.bShowSelection) return;
  const NodePos a = e.selStart;
  const NodePos b = e.selEnd;
  if (!a.Valid() || !b.Valid() || a.col >= m.Columns() || b.col >= m.Columns() || a.row >= m.Rows() ||
      b.row >= m.Rows())
    return;
  const QRect sel = ToQRect(m.Cell(a.col, a.row).rcNode).united(ToQRect(m.Cell(b.col, b.row).rcNode));
  p.setPen(Qt::NoPen);
  p.fillRect(sel, QColor(0, 120, 215, 128));
  p.setPen(QPen(QColor(0, 60, 160, 128), 2));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(sel).adjusted(1, 1, -1, -1));

  // The matching header ranges.
  const auto& cols = m.ColumnLines();
  const auto& rows = m.RowLines();
  QRect colHeaders;
  for (int c = std::min(a.col, b.col); c <= std::max(a.col, b.col); ++c)
    if (cols[static_cast<std::size_t>(c)].bVisible) colHeaders |= ToQRect(cols[static_cast<std::size_t>(c)].rcHeader);
  QRect rowHeaders;
  for (int r = std::min(a.row, b.row); r <= std::max(a.row, b.row); ++r)
    if (rows[static_cast<std::size_t>(r)].bVisible) rowHeaders |= ToQRect(rows[static_cast<std::size_t>(r)].rcHeader);
  if (colHeaders.isValid()) p.fillRect(colHeaders, QColor(0, 120, 215, 128));
  if (rowHeaders.isValid()) p.fillRect(rowHeaders, QColor(0, 120, 215, 128));
}

// ---- Layer: area frames ----------------------------------------------------------------------

void GridPainter::AreaFrames(QPainter& p, const NodeMap& m) {
  const auto& areas = m.Areas();
  for (const GridArea& a : areas) {
    if (!a.bEnabled) continue;
    if (a.nFirstCol < 0 || a.nSecondCol < 0 || a.nFirstRow < 0 || a.nSecondRow < 0) continue;
    if (a.nFirstCol >= m.Columns() || a.nSecondCol >= m.Columns() || a.nFirstRow >= m.Rows() ||
        a.nSecondRow >= m.Rows())
      continue;
    const QRect r1 = ToQRect(m.Cell(a.nFirstCol, a.nFirstRow).rcNode);
    const QRect r2 = ToQRect(m.Cell(a.nSecondCol, a.nSecondRow).rcNode);
    const QRectF frame = QRectF(r1.united(r2)).adjusted(2, 2, -2, -2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0), 6));
    p.drawRoundedRect(frame, 15, 15);
    p.setPen(QPen(QColor(255, 0, 255), 2));
    p.drawRoundedRect(frame, 15, 15);
    if (!a.strName.empty()) {
      QFont font(kArial);
      font.setPixelSize(18);
      font.setBold(true);
      font.setStyleStrategy(QFont::NoSubpixelAntialias);
      p.setFont(font);
      p.setPen(ToQColor(a.crText));
      p.drawText(frame.adjusted(-15, -15, 15, 15), Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip,
                 QString::fromStdString(a.strName));
    }
  }
}

// ---- Layer: verdict overlay ------------------------------------------------------------------

void GridPainter::Verdict(QPainter& p, const NodeMap& m, const std::string& verdict, QSize size) {
  const std::int32_t result = m.ResultFlags();
  if ((result & ResultFlag::EVALUATION_SHOWN) == 0 || verdict.empty()) return;
  constexpr std::int32_t kNg = ResultFlag::TOUCH_NG | ResultFlag::KEY_NG | ResultFlag::SHORT_FOUND |
                               ResultFlag::SHORT_LINE_NOT_FOUND;
  const QColor brush = (result & kNg) ? QColor(0x80, 0x00, 0x00, 0xC8) : QColor(0x00, 0x00, 0x80, 0xC8);

  // The glyphs are several hundred pixels high; they are rendered once per
  // text, colour and size and then blended, which gives the same pixels.
  if (verdict_.text != verdict || verdict_.colour != brush.rgba() || verdict_.size != size) {
    verdict_.text = verdict;
    verdict_.colour = brush.rgba();
    verdict_.size = size;
    // Em size 0.3 x client height in points, at the 96 dpi of the screen.
    QFont font(kArial);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(0.3 * size.height() * 96.0 / 72.0))));
    font.setStyleStrategy(QFont::NoSubpixelAntialias);
    const QString text = QString::fromStdString(verdict);
    const QFontMetricsF fm(font);
    // Centred both ways over the client area, like a centred single line.
    const qreal originX = std::round((size.width() - fm.horizontalAdvance(text)) / 2.0);
    const qreal baseline = std::round((size.height() - (fm.ascent() + fm.descent())) / 2.0 + fm.ascent());
    const QRect ink = fm.boundingRect(text).toAlignedRect().adjusted(-4, -4, 4, 4);
    verdict_.image = QImage(ink.size(), QImage::Format_ARGB32_Premultiplied);
    verdict_.image.fill(Qt::transparent);
    {
      QPainter vp(&verdict_.image);
      vp.setRenderHint(QPainter::Antialiasing, true);
      vp.setFont(font);
      vp.setPen(brush);
      vp.drawText(QPointF(-ink.left(), -ink.top()), text);
    }
    verdict_.at = QPoint(static_cast<int>(originX) + ink.left(), static_cast<int>(baseline) + ink.top());
  }
  p.drawImage(verdict_.at, verdict_.image);
}

// ---- Layer: legend ---------------------------------------------------------------------------

void GridPainter::Legend(QPainter& p, const NodeMap& m) {
  const Rect box = m.LegendRect();
  const double cw = (box.Width() - 1) / 6.5;
  if (cw <= 1.0 || box.Height() <= 12) return;
  const int lineH = box.Height() / 3;
  const CellFont& f = Font(kNarrow, lineH, cw / 2.0);
  p.setPen(QColor(0, 0, 0));
  const QString lines[3] = {QString::asprintf("最大 %05d", m.LegendMax()),
                            QString::asprintf("平均 %05d", m.LegendMid()),
                            QString::asprintf("最小 %05d", m.LegendMin())};
  // Kept inside its box, like text drawn into a rectangle with clipping.
  p.save();
  p.setClipRect(ToQRect(box));
  for (int i = 0; i < 3; ++i) {
    const QRectF r(box.left, box.top + i * box.Height() / 3.0, box.Width(), box.Height() / 3.0);
    CentredText(p, f, r, lines[i]);
  }
  p.restore();
}

// ---- Layers: notice and statistics labels ----------------------------------------------------

void GridPainter::LabelBox(QPainter& p, const GridLabel& label, int y, int alpha) {
  const QString text = QString::fromStdString(label.strText);
  const QRect box(10, y, 12 * static_cast<int>(text.size()) + 30, 48);
  p.fillRect(box, ToQColor(label.crBack, alpha));
  if (text.isEmpty()) return;
  // 20-pixel Arial, smaller when a text of wide (Chinese) characters would
  // overflow the box.
  QFont font(kArial);
  font.setStyleStrategy(QFont::NoSubpixelAntialias);
  int px = 20;
  font.setPixelSize(px);
  while (px > 9 && QFontMetricsF(font).horizontalAdvance(text) > box.width() - 12) {
    font.setPixelSize(--px);
  }
  p.setFont(font);
  p.setPen(ToQColor(label.crText));
  p.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, text);
}

void GridPainter::Labels(QPainter& p, const NodeMap& m) {
  const GridLabel& notice = m.NoticeLabel();
  if (notice.bShown) LabelBox(p, notice, 10, 150);
  if (m.IsEmpty()) return;
  for (int i = 1; i <= 4; ++i) {
    const GridLabel& label = m.StatisticsLabel(i);
    if (label.bShown) LabelBox(p, label, 70 + 60 * (i - 1), 200);
  }
}

}  // namespace varnex2::judging
