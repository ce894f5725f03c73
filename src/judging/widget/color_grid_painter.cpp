#include "judging/widget/color_grid_painter.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>
#include <QPen>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

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
  return index >= 0 && static_cast<std::size_t>(index) < lines.size() &&
         lines[static_cast<std::size_t>(index)].bVisible;
}

}  // namespace

// Visible column and row positions, in list order; the vectors keep their
// capacity from paint to paint.
void GridPainter::FindVisible(const NodeMap& m) {
  VisibleLines& v = visible_;
  v.cols.clear();
  v.rows.clear();
  const auto& cl = m.ColumnLines();
  const auto& rl = m.RowLines();
  const int nc = std::min<int>(m.Columns(), static_cast<int>(cl.size()));
  const int nr = std::min<int>(m.Rows(), static_cast<int>(rl.size()));
  for (int c = 0; c < nc; ++c)
    if (cl[static_cast<std::size_t>(c)].bVisible) v.cols.push_back(c);
  for (int r = 0; r < nr; ++r)
    if (rl[static_cast<std::size_t>(r)].bVisible) v.rows.push_back(r);
}

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

bool GridPainter::Place(const CellFont& f, const QRectF& rect, const char* ascii, int len, qreal& left,
                        qreal& baseline) {
  if (!f.fast) return false;
  qreal width = 0;
  for (int i = 0; i < len; ++i) {
    const int ch = static_cast<unsigned char>(ascii[i]) - kFirstAscii;
    if (ch < 0 || ch >= 95 || f.glyph[static_cast<std::size_t>(ch)] == 0) return false;
    width += f.advance[static_cast<std::size_t>(ch)];
  }
  left = std::round(rect.left() + (rect.width() - width) / 2.0);
  baseline = std::round(rect.top() + (rect.height() - (f.ascent + f.descent)) / 2.0 + f.ascent);
  return true;
}

void GridPainter::CentredText(QPainter& p, CellFont& f, const QRectF& rect, const char* ascii, int len, QRgb colour) {
  if (len <= 0) return;
  qreal left = 0;
  qreal baseline = 0;
  if (!Place(f, rect, ascii, len, left, baseline)) {
    p.setPen(QColor::fromRgb(colour));
    CentredText(p, f, rect, QString::fromLatin1(ascii, len));
    return;
  }
  if (raster_.bits != nullptr) {
    BlitGlyphs(f, left, baseline, ascii, len, colour);
    return;
  }
  p.setPen(QColor::fromRgb(colour));
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

void GridPainter::FillDirect(int x, int y, int w, int h, Rgb colour, QPainter& p) {
  if (raster_.bits == nullptr) {
    p.fillRect(QRect(x, y, w, h), ToQColor(colour));
    return;
  }
  const int x0 = std::max(x, 0);
  const int y0 = std::max(y, 0);
  const int x1 = std::min(x + w, raster_.width);
  const int y1 = std::min(y + h, raster_.height);
  if (x0 >= x1 || y0 >= y1) return;
  const quint32 value = 0xFF000000u | (static_cast<quint32>(RgbRed(colour)) << 16) |
                        (static_cast<quint32>(RgbGreen(colour)) << 8) | static_cast<quint32>(RgbBlue(colour));
  for (int row = y0; row < y1; ++row)
    std::fill_n(reinterpret_cast<quint32*>(raster_.bits + row * raster_.bytesPerLine) + x0, x1 - x0, value);
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
  // Covered pixels closer than kGap in a row go into one run (a run of only
  // full coverage is filled): fewer, longer runs blend faster than many short
  // ones, and a run's four-pixel steps never overlap the next run's.
  constexpr int kGap = 8;
  for (int y = 0; y < m.h; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(top + y)) + left;
    int x = 0;
    while (x < m.w) {
      if (qAlpha(row[x]) == 0) {
        ++x;
        continue;
      }
      const int start = x;
      int end = x;  // one past the last covered pixel of the run
      for (int gap = 0; x < m.w && gap < kGap; ++x) {
        if (qAlpha(row[x]) == 0) {
          ++gap;
        } else {
          gap = 0;
          end = x + 1;
        }
      }
      x = end;
      bool full = true;
      for (int k = start; k < end; ++k) full = full && qAlpha(row[k]) == 255;
      GlyphSpan span;
      span.dy = static_cast<std::int16_t>(y);
      span.dx = static_cast<std::int16_t>(start);
      span.len = static_cast<std::int16_t>(end - start);
      span.full = full;
      span.offset = static_cast<std::uint32_t>(m.alpha.size());
      if (!full) {
        for (int k = start; k < end; ++k) m.alpha.push_back(static_cast<std::uint8_t>(qAlpha(row[k])));
        while ((m.alpha.size() - span.offset) % 4 != 0) m.alpha.push_back(0);
      }
      m.spans.push_back(span);
    }
  }
  return m;
}

// Clips a run of n pixels starting at x to the columns [0, width); returns how
// many pixels were cut off at its start (n may end up 0 or less).
inline int ClipRun(int& x, int& n, int width) {
  int cut = 0;
  if (x < 0) {
    cut = -x;
    n += x;
    x = 0;
  }
  n = std::min(n, width - x);
  return cut;
}

// x * a / 255 per 8-bit channel, rounded like the raster engine.
inline quint32 ByteMul(quint32 x, quint32 a) {
  quint32 t = (x & 0xff00ffu) * a;
  t = (t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8;
  t &= 0xff00ffu;
  x = ((x >> 8) & 0xff00ffu) * a;
  x = x + ((x >> 8) & 0xff00ffu) + 0x800080u;
  x &= 0xff00ff00u;
  return x | t;
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

// Where each glyph of a text goes, from the pen position: whole pixels plus
// one of the sub-pixel phases the masks were made at. Blank glyphs are left
// out; ink grows by the box of every glyph placed.
int GridPainter::PlaceGlyphs(CellFont& f, qreal& pen, int baseline, const char* ascii, int len, PlacedGlyph* out,
                             QRect& ink) {
  int n = 0;
  for (int i = 0; i < len; ++i) {
    const int index = static_cast<unsigned char>(ascii[i]) - kFirstAscii;
    // Rounded half away from zero like std::round, without the library call:
    // pen positions are whole 1/64 pixels (the advances are), so adding a half
    // is exact. Four phases: the whole pixel and the phase by shift and mask.
    static_assert(CellFont::kPhases == 4);
    const qreal scaled = pen * CellFont::kPhases;
    const auto quarter = static_cast<std::int64_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    const int whole = static_cast<int>(quarter >> 2);
    const int phase = static_cast<int>(quarter & 3);
    const GlyphMask& m = Mask(f, index, phase);
    pen += f.advance[static_cast<std::size_t>(index)];
    if (m.spans.empty()) continue;
    out[n++] = PlacedGlyph{&m, whole + m.dx, baseline + m.dy};
    ink |= QRect(whole + m.dx, baseline + m.dy, m.w, m.h);
  }
  return n;
}

#if defined(__SSE2__)
// Four pixels of Interpolate255(text, a, dst, 255 - a), a from four coverage
// bytes, in 16-bit lanes: the same arithmetic, so the same pixels (a = 0
// leaves a pixel as it is, a = 255 gives the text colour).
inline void Blend4(quint32* dst, const std::uint8_t* cov, __m128i text16) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c255 = _mm_set1_epi16(255);
  const __m128i c128 = _mm_set1_epi16(128);
  std::uint32_t four = 0;
  std::memcpy(&four, cov, 4);
  const __m128i a16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(four)), zero);
  const __m128i a32 = _mm_unpacklo_epi16(a16, a16);
  const __m128i aLo = _mm_unpacklo_epi32(a32, a32);
  const __m128i aHi = _mm_unpackhi_epi32(a32, a32);
  const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
  __m128i lo = _mm_add_epi16(_mm_mullo_epi16(text16, aLo),
                             _mm_mullo_epi16(_mm_unpacklo_epi8(d, zero), _mm_sub_epi16(c255, aLo)));
  __m128i hi = _mm_add_epi16(_mm_mullo_epi16(text16, aHi),
                             _mm_mullo_epi16(_mm_unpackhi_epi8(d, zero), _mm_sub_epi16(c255, aHi)));
  lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo, _mm_srli_epi16(lo, 8)), c128), 8);
  hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(hi, _mm_srli_epi16(hi, 8)), c128), 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(lo, hi));
}
#endif

// Blends placed glyphs in one opaque colour: full runs are filled, partial
// runs blended four pixels at a time with SSE2 (their coverage is padded with
// zeros, which leave pixels as they are), one by one where a run meets the
// image edge or without SSE2.
void GridPainter::BlitPlaced(const PlacedGlyph* glyphs, int count, quint32 text) {
#if defined(__SSE2__)
  const __m128i text16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(text)), _mm_setzero_si128());
#endif
  for (int g = 0; g < count; ++g) {
    const GlyphMask& m = *glyphs[g].mask;
    const int ox = glyphs[g].ox;
    const int oy = glyphs[g].oy;
    for (const GlyphSpan& span : m.spans) {
      const int y = oy + span.dy;
      if (y < 0 || y >= raster_.height) continue;
      int x = ox + span.dx;
      int n = span.len;
      const std::uint8_t* cov = m.alpha.data() + span.offset;
      auto* row = reinterpret_cast<quint32*>(raster_.bits + y * raster_.bytesPerLine);
#if defined(__SSE2__)
      if (!span.full && x >= 0 && x + ((n + 3) & ~3) <= raster_.width) {
        for (int i = 0; i < n; i += 4) Blend4(row + x + i, cov + i, text16);
        continue;
      }
#endif
      cov += ClipRun(x, n, raster_.width);
      if (n <= 0) continue;
      quint32* dst = row + x;
      if (span.full) {
        std::fill_n(dst, n, text);
      } else {
        for (int i = 0; i < n; ++i) dst[i] = Interpolate255(text, cov[i], dst[i], 255u - cov[i]);
      }
    }
  }
}

void GridPainter::BlitGlyphs(CellFont& f, qreal left, qreal baseline, const char* ascii, int len, QRgb colour) {
  const quint32 text = 0xFF000000u | (colour & 0xFFFFFFu);
  PlacedGlyph glyphs[kMaxGlyphs];
  qreal pen = left;
  for (int done = 0; done < len; done += kMaxGlyphs) {
    QRect ink;
    const int n =
        PlaceGlyphs(f, pen, static_cast<int>(baseline), ascii + done, std::min(len - done, kMaxGlyphs), glyphs, ink);
    BlitPlaced(glyphs, n, text);
  }
}

// ---- Whole paint ------------------------------------------------------------------------

GridPainter::Raster GridPainter::DirectTarget(QPainter& p, QSize size) {
  Raster raster;
  QPaintEngine* engine = p.paintEngine();
  if (engine == nullptr || engine->type() != QPaintEngine::Raster || p.hasClipping()) return raster;
  // A widget's painter draws into its window's backing store: the engine's
  // device is then that image, and the device transform the widget's offset.
  QPaintDevice* device = engine->paintDevice();
  if (device == nullptr || device->devType() != QInternal::Image) return raster;
  auto* image = static_cast<QImage*>(device);
  const QImage::Format format = image->format();
  if ((format != QImage::Format_ARGB32_Premultiplied && format != QImage::Format_RGB32) ||
      image->devicePixelRatio() != 1.0)
    return raster;
  const QTransform& t = p.deviceTransform();
  if (t.type() > QTransform::TxTranslate) return raster;
  const int dx = static_cast<int>(t.dx());
  const int dy = static_cast<int>(t.dy());
  if (dx != t.dx() || dy != t.dy() || dx < 0 || dy < 0) return raster;
  const QRect target = QRect(QPoint(dx, dy), size) & image->rect();
  if (target.isEmpty() || target.topLeft() != QPoint(dx, dy)) return raster;
  // Only a paint of the whole extent: a partial one may have siblings above it
  // whose pixels the direct writes would cover.
  const QRegion clip = engine->systemClip();
  if (!clip.isEmpty() && !QRegion(target).subtracted(clip).isEmpty()) return raster;
  raster.bits = image->bits() + static_cast<qsizetype>(dy) * image->bytesPerLine() + dx * 4;
  raster.bytesPerLine = image->bytesPerLine();
  raster.width = target.width();
  raster.height = target.height();
  return raster;
}

bool GridPainter::PaintsDirect(QPainter& p, QSize size) { return DirectTarget(p, size).bits != nullptr; }

std::string GridPainter::Paint(QPainter& p, NodeMap& model, const GridEditState& edit, QSize size) {
  // Fonts are kept between paints (one set per node size); a long run of
  // resizes must not let the set grow without bound.
  fontSets_.clear();
  letterFont_ = nullptr;
  overlayDrawn_ = false;
  FindVisible(model);
  if (fonts_.size() > 256) fonts_.clear();
  raster_ = DirectTarget(p, size);
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
    if (!overlayDrawn_) StatusOverlay(p, model);
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
  const VisibleLines& v = visible_;
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
  int fontW = -1;
  int fontH = -1;
  CellFont* font = nullptr;
  // A header covers its whole rectangle, so while its rectangle, colours and
  // number stay the same (and its text lies inside) its last pixels are
  // simply copied back.
  std::size_t index = 0;
  const QRect image(0, 0, raster_.width, raster_.height);
  auto one = [&](const GridLine& line, bool hovered) {
    const QRect r = ToQRect(line.rcHeader);
    if (r.width() <= 0 || r.height() <= 0) return;
    const QColor back = hovered ? QColor(255, 0, 0) : ToQColor(line.crBack);
    const QRgb text = ToQColor(line.crText).rgb();
    const int number = line.nNumber + base;
    const bool memo = raster_.bits != nullptr && image.contains(r);
    if (memo) {
      if (headers_.size() <= index) headers_.resize(index + 1);
      HeaderMemo& h = headers_[index++];
      if (h.usable && h.rect == r && h.back == back.rgb() && h.text == text && h.number == number) {
        PutPixels(r, h.pixels);
        return;
      }
      h.usable = false;
    }
    Fill(p, r, back);
    Frame3D([&](const QRect& rr, const QColor& c) { Fill(p, rr, c); }, r, shadow, light);
    const int len = std::snprintf(buf, sizeof buf, "%d", number);
    if (r.width() != fontW || r.height() != fontH || font == nullptr) {  // headers share a few sizes
      fontW = r.width();
      fontH = r.height();
      font = &Font(kNarrow, r.height(), r.width() / 4.0);
    }
    CentredText(p, *font, QRectF(r), buf, len, text);
    if (!memo) return;
    qreal left = 0;
    qreal baseline = 0;
    if (len > kMaxGlyphs || !Place(*font, QRectF(r), buf, len, left, baseline)) return;
    PlacedGlyph glyphs[kMaxGlyphs];
    QRect ink;
    PlaceGlyphs(*font, left, static_cast<int>(baseline), buf, len, glyphs, ink);
    if (!ink.isEmpty() && !r.contains(ink)) return;
    HeaderMemo& h = headers_[index - 1];
    h.rect = r;
    h.back = back.rgb();
    h.text = text;
    h.number = number;
    GetPixels(r, h.pixels);
    h.usable = true;
  };
  const auto& cols = m.ColumnLines();
  const auto& rows = m.RowLines();
  for (std::size_t c = 0; c < cols.size(); ++c)
    if (cols[c].bVisible) one(cols[c], leftAlone && e.hovered.col == static_cast<int>(c));
  for (std::size_t r = 0; r < rows.size(); ++r)
    if (rows[r].bVisible) one(rows[r], leftAlone && e.hovered.row == static_cast<int>(r));
}

// ---- Layer: nodes ----------------------------------------------------------------------------

// The node block is regular when every visible column has one left edge and
// one width over all rows (and every row one top edge and height), and each
// node overlaps the next by exactly one pixel. Fills gridX_ / gridY_ with the
// grid line positions: one per visible line, then the far (red) edge.
bool GridPainter::RegularGrid(const NodeMap& m, const VisibleLines& v) {
  auto& xs = gridX_;
  auto& ys = gridY_;
  xs.clear();
  ys.clear();
  for (int c : v.cols) xs.push_back(m.Cell(c, v.rows.front()).rcNode.left);
  for (int r : v.rows) ys.push_back(m.Cell(v.cols.front(), r).rcNode.top);
  xs.push_back(m.Cell(v.cols.back(), v.rows.front()).rcNode.right - 1);
  ys.push_back(m.Cell(v.cols.front(), v.rows.back()).rcNode.bottom - 1);
  for (std::size_t i = 0; i < v.cols.size(); ++i) {
    if (xs[i + 1] - xs[i] < 1) return false;
    for (std::size_t j = 0; j < v.rows.size(); ++j) {
      const Rect& n = m.Cell(v.cols[i], v.rows[j]).rcNode;
      if (n.left != xs[i] || n.right != xs[i + 1] + 1 || n.top != ys[j] || n.bottom != ys[j + 1] + 1) return false;
    }
  }
  for (std::size_t j = 0; j < v.rows.size(); ++j)
    if (ys[j + 1] - ys[j] < 1) return false;
  return true;
}

// The node layer, the texts and the status overlay of a regular node block,
// band by band (one row of nodes each, its scan lines still in the cache):
// - the scan lines, every pixel written once and in memory order: node
//   interiors in their colours, dark grey lines at every node's left and top
//   edge, red along the far right and bottom edge;
// - the lit edges of the hovered node and the client frame within the band;
// - the node texts that lie inside their node's interior;
// - the status overlay of the band's nodes, when every text and overlay of the
//   map stays inside its node (checked first), since then nothing drawn for
//   another band reaches them.
// Per pixel this is the order of the layers painted one after the other.
void GridPainter::NodesByScanline(QPainter& p, const NodeMap& m, const VisibleLines& v, const GridEditState& e,
                                  bool hoverLit, const TextModes& modes, QSize size) {
  constexpr quint32 kGrey = 0xFF404040u;
  constexpr quint32 kRed = 0xFFFF0000u;
  const auto& xs = gridX_;
  const auto& ys = gridY_;
  const std::size_t nc = v.cols.size();
  const std::size_t nr = v.rows.size();
  const std::size_t rows = static_cast<std::size_t>(m.Rows());
  const int width = raster_.width;
  const int style = m.GetDisplayStyle();
  auto span = [width](quint32* line, int x0, int x1, quint32 value) {  // [x0, x1) clipped
    x0 = std::max(x0, 0);
    x1 = std::min(x1, width);
    if (x0 < x1) std::fill_n(line + x0, x1 - x0, value);
  };

  // Texts placed first: which lie inside their nodes, and may the overlay join the bands?
  placed_.clear();
  placedStart_.assign(nc * nr + 1, 0);
  placedColour_.resize(nc * nr);
  placedInside_.assign(nc * nr, 0);
  bandColours_.resize(nc * nr);
  bool fuse = true;
  for (std::size_t j = 0; j < nr; ++j) {
    for (std::size_t i = 0; i < nc; ++i) {
      const std::size_t k = j * nc + i;
      const std::size_t start = placed_.size();
      placedStart_[k] = start;
      const GridCell& cell = m.Cell(v.cols[i], v.rows[j]);
      Rgb fill = cell.crColor;
      if (hoverLit && v.cols[i] == e.hovered.col && v.rows[j] == e.hovered.row) fill = Raised(fill);
      bandColours_[k] = 0xFF000000u | (static_cast<quint32>(RgbRed(fill)) << 16) |
                        (static_cast<quint32>(RgbGreen(fill)) << 8) | static_cast<quint32>(RgbBlue(fill));
      NodeText texts[4];
      QRgb colour = 0;
      const int n = TextsOf(m, modes, v.cols[i], v.rows[j], cell, texts, colour);
      // The client frame is drawn before the texts here, so they may cover it.
      const Rect& node = cell.rcNode;
      const QRect interior(node.left + 1, node.top + 1, node.Width() - 2, node.Height() - 2);
      bool inside = true;
      QRect ink;
      for (int t = 0; t < n && inside; ++t) {
        qreal left = 0;
        qreal baseline = 0;
        const NodeText& nt = texts[t];
        if (nt.len > kMaxGlyphs || !Place(*nt.font, nt.rect, nt.text, nt.len, left, baseline)) {
          inside = false;
          break;
        }
        const std::size_t at = placed_.size();
        placed_.resize(at + static_cast<std::size_t>(nt.len));
        const int placedCount =
            PlaceGlyphs(*nt.font, left, static_cast<int>(baseline), nt.text, nt.len, placed_.data() + at, ink);
        placed_.resize(at + static_cast<std::size_t>(placedCount));
      }
      if (inside && !ink.isEmpty() && !interior.contains(ink)) inside = false;
      if (!inside) {
        placed_.resize(start);
        fuse = false;
      }
      placedInside_[k] = inside ? 1 : 0;
      placedColour_[k] = 0xFF000000u | (colour & 0xFFFFFFu);
      if (fuse && !OverlayInside(cell, style)) fuse = false;
    }
  }
  placedStart_[nc * nr] = placed_.size();
  overlayDrawn_ = fuse;

  const int w = size.width();
  const int h = size.height();
  auto edges = [&](int y0, int y1) {
    auto within = [&](int x, int y, int fw, int fh, quint32 value) {
      const int top = std::max(y, y0);
      const int bottom = std::min(y + fh, y1);
      if (top >= bottom) return;
      for (int yy = top; yy < bottom; ++yy)
        span(reinterpret_cast<quint32*>(raster_.bits + yy * raster_.bytesPerLine), x, x + fw, value);
    };
    if (hoverLit) {
      const QRect hv = ToQRect(m.Cell(e.hovered.col, e.hovered.row).rcNode);
      const bool lastCol = e.hovered.col == v.cols.back();
      const bool lastRow = e.hovered.row == v.rows.back();
      const Rgb g = Raised(MakeRgb(64, 64, 64));
      const Rgb rd = Raised(MakeRgb(255, 0, 0));
      const quint32 litGrey = 0xFF000000u | (static_cast<quint32>(RgbRed(g)) << 16) |
                              (static_cast<quint32>(RgbGreen(g)) << 8) | static_cast<quint32>(RgbBlue(g));
      const quint32 litRed = 0xFF000000u | (static_cast<quint32>(RgbRed(rd)) << 16) |
                             (static_cast<quint32>(RgbGreen(rd)) << 8) | static_cast<quint32>(RgbBlue(rd));
      within(hv.x(), hv.y(), hv.width() - 1, 1, litGrey);
      within(hv.x(), hv.y(), 1, hv.height() - 1, litGrey);
      if (lastCol) within(hv.x() + hv.width() - 1, hv.y(), 1, lastRow ? hv.height() : hv.height() - 1, litRed);
      if (lastRow) within(hv.x(), hv.y() + hv.height() - 1, lastCol ? hv.width() : hv.width() - 1, 1, litRed);
    }
    if (w > 0 && h > 0) {
      within(0, 0, w, 1, kGrey);
      within(0, h - 1, w, 1, kGrey);
      within(0, 0, 1, h, kGrey);
      within(w - 1, 0, 1, h, kGrey);
    }
  };

  // One scan line inside a row of nodes, built once per row and copied.
  const int x0 = std::max(xs[0], 0);
  const int x1 = std::min(xs[nc] + 1, width);
  bandLine_.resize(static_cast<std::size_t>(width));
  quint32* inner = bandLine_.data();
  for (std::size_t j = 0; j <= nr; ++j) {
    const int yTop = ys[j];
    const int yEnd = j < nr ? ys[j + 1] : ys[j] + 1;
    if (j < nr) {
      for (std::size_t i = 0; i < nc; ++i) {
        span(inner, xs[i], xs[i] + 1, kGrey);
        span(inner, xs[i] + 1, xs[i + 1], bandColours_[j * nc + i]);
      }
      span(inner, xs[nc], xs[nc] + 1, kRed);
    }
    for (int y = std::max(yTop, 0); y < std::min(yEnd, raster_.height); ++y) {
      auto* line = reinterpret_cast<quint32*>(raster_.bits + y * raster_.bytesPerLine);
      if (j == nr) {
        span(line, xs[0], xs[nc] + 1, kRed);
      } else if (y == yTop) {
        span(line, xs[0], xs[nc], kGrey);
        span(line, xs[nc], xs[nc] + 1, kRed);
      } else if (x0 < x1) {
        std::memcpy(line + x0, inner + x0, static_cast<std::size_t>(x1 - x0) * sizeof(quint32));
      }
    }
    edges(yTop, yEnd);
    if (j == nr) continue;
    for (std::size_t i = 0; i < nc; ++i) {
      const std::size_t k = j * nc + i;
      if (placedInside_[k] == 0) continue;
      BlitPlaced(placed_.data() + placedStart_[k], static_cast<int>(placedStart_[k + 1] - placedStart_[k]),
                 placedColour_[k]);
      textsDrawn_[static_cast<std::size_t>(v.cols[i]) * rows + static_cast<std::size_t>(v.rows[j])] = 1;
    }
    if (fuse)
      for (std::size_t i = 0; i < nc; ++i) OverlayNode(p, m, v.cols[i], v.rows[j], style);
  }
  // The hover edges and the client frame above and below the node block.
  edges(0, ys[0]);
  edges(ys[nr] + 1, std::max(h, raster_.height));
}

// Every node is filled with its colour and framed dark grey (top, left) and red
// (bottom, right). Neighbouring rectangles overlap by one pixel and are drawn
// column by column, so each node's dark top and left edges cover the red edges
// of the nodes before it: the frames add up to one dark grid with red only on
// the far right and bottom edges. The grid is drawn as whole lines, which gives
// the same pixels as framing each node.
void GridPainter::Nodes(QPainter& p, const NodeMap& m, const GridEditState& e, QSize size) {
  const VisibleLines& v = visible_;
  const QColor grey(64, 64, 64);
  const QColor red(255, 0, 0);
  const bool hoverLit = e.LeftAlone() && e.hovered.Valid() && LineVisible(m.ColumnLines(), e.hovered.col) &&
                        LineVisible(m.RowLines(), e.hovered.row) && e.hovered.col < m.Columns() &&
                        e.hovered.row < m.Rows();
  // With direct pixel access each node's texts follow its fill where they can.
  const bool direct = raster_.bits != nullptr;
  const TextModes modes = Modes(m);
  const std::size_t rows = static_cast<std::size_t>(m.Rows());
  textsDrawn_.clear();
  if (direct) textsDrawn_.resize(static_cast<std::size_t>(m.Columns()) * rows, 0);
  overlayDrawn_ = false;
  if (!v.cols.empty() && !v.rows.empty() && direct && RegularGrid(m, v)) {
    NodesByScanline(p, m, v, e, hoverLit, modes, size);
    return;
  }
  if (!v.cols.empty() && !v.rows.empty()) {
    for (int c : v.cols) {
      for (int r : v.rows) {
        const GridCell& cell = m.Cell(c, r);
        Rgb colour = cell.crColor;
        if (hoverLit && c == e.hovered.col && r == e.hovered.row) colour = Raised(colour);
        FillDirect(cell.rcNode.left, cell.rcNode.top, cell.rcNode.Width(), cell.rcNode.Height(), colour, p);
        if (direct && TextsInside(m, modes, c, r))
          textsDrawn_[static_cast<std::size_t>(c) * rows + static_cast<std::size_t>(r)] = 1;
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
  }
  if (!v.cols.empty() && !v.rows.empty()) {
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

GridPainter::TextModes GridPainter::Modes(const NodeMap& m) {
  TextModes t;
  const int mode = m.TestModeFlags();
  t.diff = (mode & TestMode::DIFFERENCE) != 0;
  t.limits = (mode & TestMode::LIMITS) != 0;
  t.adjacent = (mode & TestMode::ADJACENT) != 0;
  t.blackText = t.diff && m.GetDisplayStyle() == kStyleText;
  return t;
}

namespace {

// Average character width of the node texts for a node w pixels wide.
double NodeCharWidth(int w) { return (w - 2) / 6.5; }

}  // namespace

CellFont* GridPainter::SetFont(FontSet& set, FontSet::Kind kind) {
  CellFont*& font = set.fonts[static_cast<std::size_t>(kind)];
  if (font != nullptr) return font;
  const double cw = NodeCharWidth(set.w);
  switch (kind) {
    case FontSet::kFull:
      font = &Font(kNarrow, set.h / 2, cw);
      break;
    case FontSet::kThird:
      font = &Font(kNarrow, set.h / 3, cw);
      break;
    case FontSet::kThirdHalf:
      font = &Font(kNarrow, set.h / 3, cw / 2.0);
      break;
    case FontSet::kQuarter:
      font = &Font(kNarrow, set.h / 4, cw);
      break;
    case FontSet::kQuarterHalf:
      font = &Font(kNarrow, set.h / 4, cw / 2.0);
      break;
  }
  return font;
}

// The value texts of one node (none when the node is too small), laid out in
// bands by the test modes, and their colour.
int GridPainter::TextsOf(const NodeMap& m, const TextModes& t, int c, int r, const GridCell& cell, NodeText* out,
                         QRgb& colour) {
  const int w = cell.rcNode.Width();
  const int h = cell.rcNode.Height();
  if (NodeCharWidth(w) < 2.0 || h < 12) return 0;
  // Fonts per node size; the nodes of a map differ by at most a pixel.
  FontSet* set = nullptr;
  for (FontSet& fs : fontSets_)
    if (fs.w == w && fs.h == h) set = &fs;
  if (set == nullptr) {
    fontSets_.push_back(FontSet{w, h, {}});
    set = &fontSets_.back();
  }
  const Rgb col = cell.crColor;
  colour = t.blackText ? qRgb(0, 0, 0) : qRgb(127 - RgbRed(col) / 2, 127 - RgbGreen(col) / 2, 127 - RgbBlue(col) / 2);
  const QRectF in(cell.rcNode.left + 1, cell.rcNode.top + 1, w - 2, h - 2);
  const NodeFrame& upper = m.UpperLimits();
  const NodeFrame& lower = m.LowerLimits();
  const bool haveLimits = upper.InRange(c, r) && lower.InRange(c, r);
  int n = 0;
  auto add = [&](CellFont* font, qreal top, qreal height, const char* format, auto value) {
    NodeText& nt = out[n++];
    nt.font = font;
    nt.rect = QRectF(in.left(), top, in.width(), height);
    if constexpr (std::is_integral_v<decltype(value)>) {
      if (value >= 0 && value <= 99999) {  // "%05d" without the formatter
        int rest = static_cast<int>(value);
        for (int i = 4; i >= 0; --i, rest /= 10) nt.text[i] = static_cast<char>('0' + rest % 10);
        nt.text[5] = '\0';
        nt.len = 5;
        return;
      }
    }
    // A percentage too large for the buffer is cut, never read past its end.
    nt.len = std::clamp(std::snprintf(nt.text, sizeof nt.text, format, value), 0, static_cast<int>(sizeof nt.text) - 1);
  };

  if (t.diff || (!t.limits && !t.adjacent)) {
    add(SetFont(*set, FontSet::kFull), in.top(), in.height(), "%05d", cell.nValue);
  } else if (t.limits && !t.adjacent) {
    const qreal band = in.height() / 3.0;
    add(SetFont(*set, FontSet::kThird), in.top() + band, band, "%05d", cell.nValue);
    if (haveLimits) {
      add(SetFont(*set, FontSet::kThirdHalf), in.top(), band, "%05d", upper(c, r));
      add(SetFont(*set, FontSet::kThirdHalf), in.top() + 2 * band, band, "%05d", lower(c, r));
    }
  } else if (t.adjacent && !t.limits) {
    const qreal band = in.height() / 2.0;
    add(SetFont(*set, FontSet::kThird), in.top(), band, "%05d", cell.nValue);
    add(SetFont(*set, FontSet::kThird), in.top() + band, band, "%.0f%%", cell.dPercent / 100.0);
  } else {
    // Both: upper limit, value, percentage, lower limit from top to bottom.
    const qreal band = in.height() / 4.0;
    add(SetFont(*set, FontSet::kQuarter), in.top() + band, band, "%05d", cell.nValue);
    add(SetFont(*set, FontSet::kQuarter), in.top() + 2 * band, band, "%.0f%%", cell.dPercent / 100.0);
    if (haveLimits) {
      add(SetFont(*set, FontSet::kQuarterHalf), in.top(), band, "%05d", upper(c, r));
      add(SetFont(*set, FontSet::kQuarterHalf), in.top() + 3 * band, band, "%05d", lower(c, r));
    }
  }
  return n;
}

// Draws the node's texts straight after its fill when every
// glyph lies inside the node's interior and off the client frame: no later
// fill or line of the node layer reaches those pixels, so the picture is the
// same as with the texts drawn as a layer of their own, and the pixels are
// still in the cache. Returns false (nothing drawn) otherwise.
bool GridPainter::TextsInside(const NodeMap& m, const TextModes& t, int c, int r) {
  NodeText texts[4];
  QRgb colour = 0;
  const int n = TextsOf(m, t, c, r, m.Cell(c, r), texts, colour);
  if (n == 0) return true;
  const Rect& node = m.Cell(c, r).rcNode;
  const QRect interior = QRect(node.left + 1, node.top + 1, node.Width() - 2, node.Height() - 2) &
                         QRect(1, 1, raster_.width - 2, raster_.height - 2);
  PlacedGlyph glyphs[4 * kMaxGlyphs];
  int count = 0;
  QRect ink;
  for (int i = 0; i < n; ++i) {
    qreal left = 0;
    qreal baseline = 0;
    const NodeText& nt = texts[i];
    if (nt.len > kMaxGlyphs || !Place(*nt.font, nt.rect, nt.text, nt.len, left, baseline)) return false;
    count += PlaceGlyphs(*nt.font, left, static_cast<int>(baseline), nt.text, nt.len, glyphs + count, ink);
  }
  if (!interior.contains(ink) && !ink.isEmpty()) return false;
  BlitPlaced(glyphs, count, 0xFF000000u | (colour & 0xFFFFFFu));
  return true;
}

void GridPainter::NodeTexts(QPainter& p, const NodeMap& m) {
  const VisibleLines& v = visible_;
  const TextModes t = Modes(m);
  const bool skipDrawn =
      textsDrawn_.size() == static_cast<std::size_t>(m.Columns()) * static_cast<std::size_t>(m.Rows());
  NodeText texts[4];
  for (int c : v.cols) {
    for (int r : v.rows) {
      if (skipDrawn &&
          textsDrawn_[static_cast<std::size_t>(c) * static_cast<std::size_t>(m.Rows()) + static_cast<std::size_t>(r)] !=
              0)
        continue;
      QRgb colour = 0;
      const int n = TextsOf(m, t, c, r, m.Cell(c, r), texts, colour);
      for (int i = 0; i < n; ++i) CentredText(p, *texts[i].font, texts[i].rect, texts[i].text, texts[i].len, colour);
    }
  }
}

// ---- Layer: status overlay -------------------------------------------------------------------

namespace {

constexpr std::int32_t kFaultBits =
    NodeFlag::SHORT_ANY | NodeFlag::OPEN | NodeFlag::LOW | NodeFlag::HIGH | NodeFlag::FAIL;
constexpr std::int32_t kOverlaid = NodeFlag::KEY | NodeFlag::MASK | NodeFlag::ZERO | NodeFlag::SHORT_ANY |
                                   NodeFlag::OPEN | NodeFlag::LOW | NodeFlag::HIGH | NodeFlag::PASS | NodeFlag::FAIL;

// The overlay letter of a node and its colour; '\0' for none.
char LetterOf(const GridCell& cell, int style, QRgb& colour) {
  const std::int32_t flags = cell.nFlags;
  const char letter = NodeMap::OverlayLetter(flags);
  if (letter == '\0' || style == kStyleBackground) return '\0';
  colour = ToQColor(Complement(cell.crColor)).rgb();
  if (flags & NodeFlag::PASS) colour = qRgb(0, 0, 255);
  if (flags & NodeFlag::FAIL) colour = qRgb(0, 0, 0);
  if (style == kStyleText && (flags & kFaultBits)) colour = qRgb(255, 0, 0);
  return letter;
}

}  // namespace

CellFont& GridPainter::LetterFont(int w, int h) {
  if (w != letterW_ || h != letterH_ || letterFont_ == nullptr) {
    letterW_ = w;
    letterH_ = h;
    letterFont_ = &Font(kArial, h - 2, 0.6 * (w - 2));
  }
  return *letterFont_;
}

// Whether the node's overlay stays inside the node's interior (off the grid
// lines): the fills, ellipse and cross do by their geometry, the letter is
// measured.
bool GridPainter::OverlayInside(const GridCell& cell, int style) {
  if ((cell.nFlags & kOverlaid) == 0) return true;
  const int w = cell.rcNode.Width();
  const int h = cell.rcNode.Height();
  if (w < 3 || h < 3) return true;
  QRgb colour = 0;
  const char letter = LetterOf(cell, style, colour);
  if (letter == '\0') return true;
  const QRect in(cell.rcNode.left + 1, cell.rcNode.top + 1, w - 2, h - 2);
  CellFont& f = LetterFont(w, h);
  qreal left = 0;
  qreal baseline = 0;
  if (!Place(f, QRectF(in), &letter, 1, left, baseline)) return false;
  PlacedGlyph glyph[1];
  QRect ink;
  PlaceGlyphs(f, left, static_cast<int>(baseline), &letter, 1, glyph, ink);
  return ink.isEmpty() || in.contains(ink);
}

void GridPainter::OverlayNode(QPainter& p, const NodeMap& m, int c, int r, int style) {
  const GridCell& cell = m.Cell(c, r);
  const std::int32_t flags = cell.nFlags;
  if ((flags & kOverlaid) == 0) return;
  const int w = cell.rcNode.Width();
  const int h = cell.rcNode.Height();
  if (w < 3 || h < 3) return;
  const QRect in(cell.rcNode.left + 1, cell.rcNode.top + 1, w - 2, h - 2);

  if (flags & NodeFlag::PASS) Fill(p, in, QColor(0, 255, 0));
  if (flags & NodeFlag::FAIL) Fill(p, in, QColor(255, 0, 0));

  QRgb colour = 0;
  const char letter = LetterOf(cell, style, colour);
  if (letter != '\0') CentredText(p, LetterFont(w, h), QRectF(in), &letter, 1, colour);
  if (flags & NodeFlag::ZERO) Fill(p, in, QColor(205, 179, 208));
  if (flags & NodeFlag::KEY) {
    const QRgb ring = ToQColor(Complement(cell.crColor)).rgb();
    if (!ReplayShape(Shape::Ring, in, ring)) {
      p.setPen(QPen(QColor::fromRgb(ring), 2));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(in.adjusted(1, 1, -1, -1));
    }
  }
  if (flags & NodeFlag::MASK) {
    Fill(p, in, QColor(100, 100, 100));
    if (!ReplayShape(Shape::Cross, in, qRgb(255, 0, 0))) {
      p.setPen(QPen(QColor(255, 0, 0), 1));
      p.drawLine(in.topLeft(), in.bottomRight());
      p.drawLine(in.topRight(), in.bottomLeft());
    }
  }
}

// The aliased mark shapes of the overlay, drawn once per node size by Qt into a
// small image and replayed as fills of the pixels they set (an aliased pen
// sets whole pixels, and the same shape one whole pixel further is the same
// pixels one pixel further). Only for shapes inside the image; false when
// the shape is not replayed and must be painted.
bool GridPainter::ReplayShape(Shape shape, const QRect& in, QRgb colour) {
  if (raster_.bits == nullptr || !QRect(0, 0, raster_.width, raster_.height).contains(in)) return false;
  ShapeRuns* runs = nullptr;
  for (ShapeRuns& r : shapes_)
    if (r.shape == shape && r.size == in.size()) runs = &r;
  if (runs == nullptr) {
    if (shapes_.size() >= 16) shapes_.clear();  // nodes of a map have a few sizes
    shapes_.emplace_back();
    runs = &shapes_.back();
    runs->shape = shape;
    runs->size = in.size();
    QImage img(in.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
      QPainter sp(&img);
      sp.setRenderHint(QPainter::Antialiasing, false);
      const QRect local(QPoint(0, 0), in.size());
      if (shape == Shape::Ring) {
        sp.setPen(QPen(QColor(255, 255, 255), 2));
        sp.setBrush(Qt::NoBrush);
        sp.drawEllipse(local.adjusted(1, 1, -1, -1));
      } else {
        sp.setPen(QPen(QColor(255, 255, 255), 1));
        sp.drawLine(local.topLeft(), local.bottomRight());
        sp.drawLine(local.topRight(), local.bottomLeft());
      }
    }
    runs->usable = true;
    for (int y = 0; y < img.height() && runs->usable; ++y) {
      const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
      for (int x = 0; x < img.width();) {
        const int a = qAlpha(row[x]);
        if (a == 0) {
          ++x;
          continue;
        }
        if (a != 255) {  // not a whole pixel: paint it
          runs->usable = false;
          break;
        }
        const int start = x;
        while (x < img.width() && qAlpha(row[x]) == 255) ++x;
        runs->runs.push_back(QRect(start, y, x - start, 1));
      }
    }
  }
  if (!runs->usable) return false;
  const quint32 value = 0xFF000000u | (colour & 0xFFFFFFu);
  for (const QRect& r : runs->runs)
    std::fill_n(
        reinterpret_cast<quint32*>(raster_.bits + (in.top() + r.top()) * raster_.bytesPerLine) + in.left() + r.left(),
        r.width(), value);
  return true;
}

void GridPainter::StatusOverlay(QPainter& p, const NodeMap& m) {
  const int style = m.GetDisplayStyle();
  for (int c : visible_.cols)
    for (int r : visible_.rows) OverlayNode(p, m, c, r, style);
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
  const VisibleLines& v = visible_;
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

// The anti-aliased stroke of a rounded area frame, replayed: its coverage is
// rasterised once per frame rectangle and pen (into a small image whose
// alpha is the coverage) and then blended each paint as the raster engine
// blends an opaque pen, colour x coverage + pixel x (255 - coverage).
void GridPainter::FrameStrokes(const QRectF& frame, std::size_t slot, int penWidth, QRgb colour) {
  if (strokes_.size() <= slot) strokes_.resize(slot + 1);
  StrokeCoverage& sc = strokes_[slot];
  const QSize size(raster_.width, raster_.height);
  if (!sc.made || sc.frame != frame || sc.size != size) {
    sc.made = true;
    sc.frame = frame;
    sc.size = size;
    sc.spans.clear();
    sc.alpha.clear();
    sc.box = frame.toAlignedRect().adjusted(-penWidth, -penWidth, penWidth, penWidth) & QRect(QPoint(0, 0), size);
    if (sc.box.isEmpty()) return;
    QImage img(sc.box.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
      QPainter cp(&img);
      cp.setRenderHint(QPainter::Antialiasing, true);
      cp.translate(-sc.box.left(), -sc.box.top());
      cp.setBrush(Qt::NoBrush);
      cp.setPen(QPen(QColor(255, 255, 255), penWidth));
      cp.drawRoundedRect(frame, 15, 15);
    }
    for (int y = 0; y < img.height(); ++y) {
      const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
      int x = 0;
      while (x < img.width()) {
        if (qAlpha(row[x]) == 0) {
          ++x;
          continue;
        }
        GlyphSpan span;
        span.dy = static_cast<std::int16_t>(y);
        span.dx = static_cast<std::int16_t>(x);
        span.full = qAlpha(row[x]) == 255;
        span.offset = static_cast<std::uint32_t>(sc.alpha.size());
        while (x < img.width() && qAlpha(row[x]) != 0 && (qAlpha(row[x]) == 255) == span.full) {
          if (!span.full) sc.alpha.push_back(static_cast<std::uint8_t>(qAlpha(row[x])));
          ++x;
        }
        span.len = static_cast<std::int16_t>(x - span.dx);
        sc.spans.push_back(span);
      }
    }
  }
  const quint32 pen = 0xFF000000u | (colour & 0xFFFFFFu);
  for (const GlyphSpan& span : sc.spans) {
    auto* dst = reinterpret_cast<quint32*>(raster_.bits + (sc.box.top() + span.dy) * raster_.bytesPerLine) +
                sc.box.left() + span.dx;
    if (span.full) {
      std::fill_n(dst, span.len, pen);
      continue;
    }
    const std::uint8_t* cov = sc.alpha.data() + span.offset;
    for (int i = 0; i < span.len; ++i) dst[i] = ByteMul(pen, cov[i]) + ByteMul(dst[i], 255u - cov[i]);
  }
}

void GridPainter::AreaFrames(QPainter& p, const NodeMap& m) {
  const auto& areas = m.Areas();
  for (std::size_t index = 0; index < areas.size(); ++index) {
    const GridArea& a = areas[index];
    if (!a.bEnabled) continue;
    if (a.nFirstCol < 0 || a.nSecondCol < 0 || a.nFirstRow < 0 || a.nSecondRow < 0) continue;
    if (a.nFirstCol >= m.Columns() || a.nSecondCol >= m.Columns() || a.nFirstRow >= m.Rows() ||
        a.nSecondRow >= m.Rows())
      continue;
    const QRect r1 = ToQRect(m.Cell(a.nFirstCol, a.nFirstRow).rcNode);
    const QRect r2 = ToQRect(m.Cell(a.nSecondCol, a.nSecondRow).rcNode);
    const QRectF frame = QRectF(r1.united(r2)).adjusted(2, 2, -2, -2);
    if (raster_.bits != nullptr) {
      FrameStrokes(frame, 2 * index, 6, qRgb(0, 0, 0));
      FrameStrokes(frame, 2 * index + 1, 2, qRgb(255, 0, 255));
    } else {
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(QColor(0, 0, 0), 6));
      p.drawRoundedRect(frame, 15, 15);
      p.setPen(QPen(QColor(255, 0, 255), 2));
      p.drawRoundedRect(frame, 15, 15);
    }
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

namespace {

// Blue for PASS, red for a failed panel.
QColor VerdictBrush(std::int32_t result) {
  constexpr std::int32_t kNg =
      ResultFlag::TOUCH_NG | ResultFlag::KEY_NG | ResultFlag::SHORT_FOUND | ResultFlag::SHORT_LINE_NOT_FOUND;
  return (result & kNg) ? QColor(0x80, 0x00, 0x00, 0xC8) : QColor(0x00, 0x00, 0x80, 0xC8);
}

}  // namespace

void GridPainter::Verdict(QPainter& p, const NodeMap& m, const std::string& verdict, QSize size) {
  const std::int32_t result = m.ResultFlags();
  if ((result & ResultFlag::EVALUATION_SHOWN) == 0 || verdict.empty()) return;
  const VerdictCache& v = VerdictImage(verdict, VerdictBrush(result), size);
  if (raster_.bits == nullptr) {
    p.drawImage(v.at, v.image);
    return;
  }
  BlendVerdict(v);
}

// The glyphs are several hundred pixels high; they are rendered once per text,
// colour and size and then blended, which gives the same pixels. Two are kept:
// a verdict that changes every frame between PASS and FAIL renders neither again.
const GridPainter::VerdictCache& GridPainter::VerdictImage(const std::string& verdict, const QColor& brush,
                                                           QSize size) {
  for (std::size_t i = 0; i < verdicts_.size(); ++i) {
    const VerdictCache& c = verdicts_[i];
    if (c.text == verdict && c.colour == brush.rgba() && c.size == size) {
      lastVerdict_ = i;
      return c;
    }
  }
  lastVerdict_ = (lastVerdict_ + 1) % verdicts_.size();  // the one used longest ago
  VerdictCache& v = verdicts_[lastVerdict_];
  v.text = verdict;
  v.colour = brush.rgba();
  v.size = size;
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
  v.image = QImage(ink.size(), QImage::Format_ARGB32_Premultiplied);
  v.image.fill(Qt::transparent);
  {
    QPainter vp(&v.image);
    vp.setRenderHint(QPainter::Antialiasing, true);
    vp.setFont(font);
    vp.setPen(brush);
    vp.drawText(QPointF(-ink.left(), -ink.top()), text);
  }
  v.at = QPoint(static_cast<int>(originX) + ink.left(), static_cast<int>(baseline) + ink.top());
  VerdictSpans(v);
  return v;
}

void GridPainter::WarmUp(QSize size) {
  // The families of the node texts and marks (a family's first font is slow
  // to match), and the fallback that draws the legend's Chinese labels.
  const CellFont& narrow = Font(kNarrow, 16, 0);
  Font(kArial, 16, 0);
  {
    QImage scratch(96, 24, QImage::Format_ARGB32_Premultiplied);
    scratch.fill(Qt::transparent);
    QPainter sp(&scratch);
    sp.setFont(narrow.font);
    sp.drawText(QRectF(scratch.rect()), Qt::AlignCenter, QStringLiteral("最大平均最小 0"));
  }
  if (size.width() <= 0 || size.height() <= 0) return;
  VerdictImage(NodeMap::VerdictFor(ResultFlag::TOUCH_NG), VerdictBrush(ResultFlag::TOUCH_NG), size);
  VerdictImage(NodeMap::VerdictFor(0), VerdictBrush(0), size);
}

// The covered pixels of the verdict image as runs: covered pixels less than
// eight apart form one run, its pixels kept in VerdictCache::pixels padded with
// transparent ones to a multiple of four. Most of the image is transparent and
// is then never visited.
void GridPainter::VerdictSpans(VerdictCache& v) {
  v.spans.clear();
  v.pixels.clear();
  const QImage& image = v.image;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
    int x = 0;
    while (x < image.width()) {
      while (x < image.width() && row[x] == 0) ++x;
      if (x == image.width()) break;
      const int start = x;
      int end = x;
      while (x < image.width()) {
        if (row[x] != 0) {
          end = ++x;
        } else if (x - end < 7) {
          ++x;
        } else {
          break;
        }
      }
      GlyphSpan span;
      span.dy = static_cast<std::int16_t>(y);
      span.dx = static_cast<std::int16_t>(start);
      span.len = static_cast<std::int16_t>(end - start);
      span.offset = static_cast<std::uint32_t>(v.pixels.size());
      v.pixels.insert(v.pixels.end(), row + start, row + end);
      v.pixels.resize(v.pixels.size() + static_cast<std::size_t>((4 - span.len % 4) % 4), 0u);
      v.spans.push_back(span);
      x = end;
    }
  }
}

// Source-over of the verdict's premultiplied pixels, with the raster engine's
// arithmetic (source + destination * (255 - source alpha) / 255), so the pixels
// are those of drawing the image through the painter.
void GridPainter::BlendVerdict(const VerdictCache& v) {
  const int ox = v.at.x();
  const int oy = v.at.y();
  for (const GlyphSpan& span : v.spans) {
    const int y = oy + span.dy;
    if (y < 0 || y >= raster_.height) continue;
    int x = ox + span.dx;
    int n = span.len;
    const quint32* src = v.pixels.data() + span.offset;
    auto* row = reinterpret_cast<quint32*>(raster_.bits + y * raster_.bytesPerLine);
#if defined(__SSE2__)
    if (x >= 0 && x + ((n + 3) & ~3) <= raster_.width) {
      const __m128i rbMask = _mm_set1_epi32(0x00ff00ff);
      const __m128i c255 = _mm_set1_epi16(255);
      const __m128i half = _mm_set1_epi16(0x80);
      for (int i = 0; i < n; i += 4) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + i));
        __m128i alpha = _mm_srli_epi32(sv, 24);
        alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
        const __m128i inv = _mm_sub_epi16(c255, alpha);
        __m128i rb = _mm_mullo_epi16(_mm_and_si128(dv, rbMask), inv);
        __m128i ag = _mm_mullo_epi16(_mm_srli_epi16(dv, 8), inv);
        rb = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(rb, _mm_srli_epi16(rb, 8)), half), 8);
        ag = _mm_andnot_si128(rbMask, _mm_add_epi16(_mm_add_epi16(ag, _mm_srli_epi16(ag, 8)), half));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x + i), _mm_add_epi8(sv, _mm_or_si128(rb, ag)));
      }
      continue;
    }
#endif
    src += ClipRun(x, n, raster_.width);
    for (int i = 0; i < n; ++i) {
      const quint32 sp = src[i];
      if (sp != 0) row[x + i] = sp + ByteMul(row[x + i], 255u - (sp >> 24));
    }
  }
}

// ---- Layer: legend ---------------------------------------------------------------------------

void GridPainter::Legend(QPainter& p, const NodeMap& m) {
  const Rect box = m.LegendRect();
  const double cw = (box.Width() - 1) / 6.5;
  if (cw <= 1.0 || box.Height() <= 12) return;
  // The legend only changes with its figures: when they and the pixels
  // beneath are those of the last paint, its pixels are copied back.
  const QRect area = ToQRect(box) & QRect(0, 0, raster_.width, raster_.height);
  const bool memo = raster_.bits != nullptr && !area.isEmpty();
  const std::array<std::int32_t, 3> figures{m.LegendMax(), m.LegendMid(), m.LegendMin()};
  if (memo && legend_.area == area && legend_.figures == figures && legend_.before.size() == legend_.after.size() &&
      SamePixels(area, legend_.before)) {
    PutPixels(area, legend_.after);
    return;
  }
  if (memo) {
    legend_.area = area;
    legend_.figures = figures;
    GetPixels(area, legend_.before);
  }
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
  if (memo) GetPixels(area, legend_.after);
}

void GridPainter::GetPixels(const QRect& area, std::vector<quint32>& out) const {
  out.resize(static_cast<std::size_t>(area.width()) * static_cast<std::size_t>(area.height()));
  const auto w = static_cast<std::size_t>(area.width());
  for (int y = 0; y < area.height(); ++y)
    std::memcpy(out.data() + static_cast<std::size_t>(y) * w,
                reinterpret_cast<const quint32*>(raster_.bits + (area.top() + y) * raster_.bytesPerLine) + area.left(),
                w * sizeof(quint32));
}

void GridPainter::PutPixels(const QRect& area, const std::vector<quint32>& in) {
  const auto w = static_cast<std::size_t>(area.width());
  for (int y = 0; y < area.height(); ++y)
    std::memcpy(reinterpret_cast<quint32*>(raster_.bits + (area.top() + y) * raster_.bytesPerLine) + area.left(),
                in.data() + static_cast<std::size_t>(y) * w, w * sizeof(quint32));
}

bool GridPainter::SamePixels(const QRect& area, const std::vector<quint32>& in) const {
  const auto w = static_cast<std::size_t>(area.width());
  if (in.size() != w * static_cast<std::size_t>(area.height())) return false;
  for (int y = 0; y < area.height(); ++y)
    if (std::memcmp(
            reinterpret_cast<const quint32*>(raster_.bits + (area.top() + y) * raster_.bytesPerLine) + area.left(),
            in.data() + static_cast<std::size_t>(y) * w, w * sizeof(quint32)) != 0)
      return false;
  return true;
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
