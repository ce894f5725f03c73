// GridPainter: draws a NodeMap with QPainter, layer by layer, and the editing
// state the widget keeps beside it (hover, selection, area drawing).
#pragma once

#include <QFont>
#include <QPoint>
#include <QRawFont>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <QImage>

#include "judging/node_map.h"

class QPainter;

namespace varnex2::judging {

// Mouse key-state bits, as the control records them with every mouse event.
namespace MouseKey {
inline constexpr int LEFT = 0x1;
inline constexpr int RIGHT = 0x2;
inline constexpr int SHIFT = 0x4;
inline constexpr int CTRL = 0x8;
inline constexpr int MIDDLE = 0x10;
}  // namespace MouseKey

// Editing state of the control (UI thread only).
struct GridEditState {
  NodePos hovered;        // node under the cursor at the last mouse event
  int nLastKeyFlags = 0;  // MouseKey bits of the last mouse event
  QPoint ptLast;          // position of the last mouse event
  NodePos selStart;
  NodePos selEnd;
  bool bSelecting = false;      // left button went down for a selection
  bool bShowSelection = false;  // the selection rectangle is drawn
  bool bRegionSelect = false;   // next press starts a selection without Ctrl
  bool bNewArea = false;        // the last area record is being drawn
  bool bRedefineArea = false;   // an existing area is being redrawn
  int nRedefineIndex = -1;
  bool bRedefineDragging = false;

  bool LeftAlone() const { return nLastKeyFlags == MouseKey::LEFT; }
};

// A glyph's coverage as horizontal runs: covered pixels less than eight apart
// form one run, blended four pixels at a time; runs of only full coverage are
// filled; the pixels between runs are never visited.
struct GlyphSpan {
  std::int16_t dy = 0;  // row and first column within the mask box
  std::int16_t dx = 0;
  std::int16_t len = 0;
  bool full = false;         // coverage 255 throughout
  std::uint32_t offset = 0;  // partial runs: first coverage value in GlyphMask::alpha
};

struct GlyphMask {
  std::vector<std::uint8_t> alpha;  // coverage of the partial runs, each padded with zeros to a multiple of 4
  std::vector<GlyphSpan> spans;     // row by row, left to right
  int w = 0;                        // box around the covered pixels
  int h = 0;
  int dx = 0;  // box origin relative to the pen position on the baseline
  int dy = 0;
  bool made = false;
};

// A font set up like a GDI font of a given cell height and average character
// width, with the glyphs of printable ASCII cached so that the many short node
// texts can be drawn as glyph runs without text layout.
struct CellFont {
  QFont font;
  QRawFont raw;
  std::array<quint32, 95> glyph{};
  std::array<qreal, 95> advance{};
  qreal ascent = 0;
  qreal descent = 0;
  bool fast = false;  // raw font usable for ASCII glyph runs
  // Made on first use for direct drawing, at kPhases sub-pixel offsets.
  static constexpr int kPhases = 4;
  std::array<GlyphMask, 95 * kPhases> masks;
};

class GridPainter {
 public:
  // Paints everything into a painter whose device is size large. The caller
  // holds model.Mutex() and has laid the model out for size. Returns the
  // verdict text fixed by this paint (empty map or frozen: the last one).
  std::string Paint(QPainter& p, NodeMap& model, const GridEditState& edit, QSize size);

  // Whether a paint through p of an extent of size writes the pixels straight
  // into memory (a 32-bit image, or a widget's backing store, at an integer
  // offset, unclipped); otherwise everything goes through the painter.
  static bool PaintsDirect(QPainter& p, QSize size);

  // Font of the given family with a GDI-like cell height and average character
  // width in pixels (width 0: natural width).
  CellFont& Font(const QString& family, int cellHeight, double avgWidth);

  // Loads ahead what the first paints of a map would otherwise load on their
  // way: the text families, the fallback font of the legend's labels and the
  // PASS and FAIL overlays for an extent of size. For an idle moment before
  // the panel is known.
  void WarmUp(QSize size);

 private:
  // Visible column and row positions, in list order.
  struct VisibleLines {
    std::vector<int> cols;
    std::vector<int> rows;
  };
  // Direct access to the pixels when painting into a 32-bit image without
  // transformation or clipping: the thousands of node fills and value texts
  // are then written straight into memory instead of through the painter.
  struct Raster {
    uchar* bits = nullptr;
    qsizetype bytesPerLine = 0;
    int width = 0;
    int height = 0;
  };
  static Raster DirectTarget(QPainter& p, QSize size);
  void Fill(QPainter& p, const QRect& r, const QColor& c);
  // An opaque fill, straight into the pixels when there is direct access.
  void FillDirect(int x, int y, int w, int h, Rgb colour, QPainter& p);
  void Fill(QPainter& p, int x, int y, int w, int h, const QColor& c) { Fill(p, QRect(x, y, w, h), c); }
  const GlyphMask& Mask(CellFont& f, int index, int phase);
  void BlitGlyphs(CellFont& f, qreal left, qreal baseline, const char* ascii, int len, QRgb colour);
  static constexpr int kMaxGlyphs = 32;
  struct PlacedGlyph {
    const GlyphMask* mask;
    int ox, oy;  // top-left corner of the mask box
  };
  int PlaceGlyphs(CellFont& f, qreal& pen, int baseline, const char* ascii, int len, PlacedGlyph* out, QRect& ink);
  void BlitPlaced(const PlacedGlyph* glyphs, int count, quint32 text);
  // Pen start and baseline of an ASCII text centred in rect; false when the
  // glyph cache cannot draw the text.
  static bool Place(const CellFont& f, const QRectF& rect, const char* ascii, int len, qreal& left, qreal& baseline);

  // Node value texts: what the test modes show in each node.
  struct TextModes {
    bool diff = false;
    bool limits = false;
    bool adjacent = false;
    bool blackText = false;
  };
  struct NodeText {
    CellFont* font = nullptr;
    QRectF rect;
    char text[32] = {};
    int len = 0;
  };
  // Fonts of the node texts for one node size, each made when first used
  // (loading a font is slow and a test mode uses one or two of them): the
  // value alone, then a third or a quarter of the height at full or half width.
  struct FontSet {
    enum Kind { kFull, kThird, kThirdHalf, kQuarter, kQuarterHalf };
    int w, h;
    std::array<CellFont*, 5> fonts{};
  };
  CellFont* SetFont(FontSet& set, FontSet::Kind kind);
  static TextModes Modes(const NodeMap& m);
  int TextsOf(const NodeMap& m, const TextModes& t, int c, int r, const GridCell& cell, NodeText* out, QRgb& colour);
  bool TextsInside(const NodeMap& m, const TextModes& t, int c, int r);
  void NodesByScanline(QPainter& p, const NodeMap& m, const VisibleLines& v, const GridEditState& e, bool hoverLit,
                       const TextModes& modes, QSize size);
  // Status overlay of one node, and whether it stays inside the node.
  void OverlayNode(QPainter& p, const NodeMap& m, int c, int r, int style);
  bool OverlayInside(const GridCell& cell, int style);
  CellFont& LetterFont(int w, int h);
  enum class Shape { Ring, Cross };
  bool ReplayShape(Shape shape, const QRect& in, QRgb colour);

  void Background(QPainter& p, const NodeMap& m, QSize size);
  void Headers(QPainter& p, const NodeMap& m, const GridEditState& e);
  void Nodes(QPainter& p, const NodeMap& m, const GridEditState& e, QSize size);
  void FindVisible(const NodeMap& m);
  bool RegularGrid(const NodeMap& m, const VisibleLines& v);
  void NodeTexts(QPainter& p, const NodeMap& m);
  void StatusOverlay(QPainter& p, const NodeMap& m);
  void HoverReadout(QPainter& p, const NodeMap& m, const GridEditState& e, QSize size);
  void Selection(QPainter& p, const NodeMap& m, const GridEditState& e);
  void AreaFrames(QPainter& p, const NodeMap& m);
  void FrameStrokes(const QRectF& frame, std::size_t slot, int penWidth, QRgb colour);
  void Verdict(QPainter& p, const NodeMap& m, const std::string& verdict, QSize size);
  struct VerdictCache;
  const VerdictCache& VerdictImage(const std::string& verdict, const QColor& brush, QSize size);
  void VerdictSpans(VerdictCache& v);
  void BlendVerdict(const VerdictCache& v);
  void Legend(QPainter& p, const NodeMap& m);
  // Pixels of an area inside the image, row by row.
  void GetPixels(const QRect& area, std::vector<quint32>& out) const;
  void PutPixels(const QRect& area, const std::vector<quint32>& in);
  bool SamePixels(const QRect& area, const std::vector<quint32>& in) const;
  void Labels(QPainter& p, const NodeMap& m);
  void LabelBox(QPainter& p, const GridLabel& label, int y, int alpha);

  // Single-line text centred in rect; ASCII goes through the glyph cache.
  // Drawn in colour (opaque); the painter's pen is only set when the text
  // goes through the painter.
  void CentredText(QPainter& p, CellFont& f, const QRectF& rect, const char* ascii, int len, QRgb colour);
  void CentredText(QPainter& p, const CellFont& f, const QRectF& rect, const QString& text);

  struct FontMetricsRatio {
    qreal heightPerPixel = 1.0;  // (ascent + descent) / pixel size
    qreal avgPerPixel = 0.5;     // average character width / pixel size at stretch 100
  };
  const FontMetricsRatio& Ratio(const QString& family);

  // The big verdict text, rendered once per text, colour and size.
  struct VerdictCache {
    std::string text;
    QRgb colour = 0;
    QSize size;
    QImage image;
    QPoint at;
    std::vector<GlyphSpan> spans;  // covered runs of image, dx/dy within it
    std::vector<quint32> pixels;   // their premultiplied pixels, each run padded to a multiple of 4
  };

  // Coverage of one area frame stroke, for one frame rectangle and image size.
  struct StrokeCoverage {
    bool made = false;
    QRectF frame;
    QSize size;
    QRect box;
    std::vector<GlyphSpan> spans;  // relative to box
    std::vector<std::uint8_t> alpha;
  };

  // The legend's pixels before and after its last drawing, with its figures.
  struct LegendMemo {
    QRect area;
    std::array<std::int32_t, 3> figures{};
    std::vector<quint32> before;
    std::vector<quint32> after;
  };

  // The pixels an aliased mark shape sets in a node interior of one size.
  struct ShapeRuns {
    Shape shape = Shape::Cross;
    QSize size;
    bool usable = false;
    std::vector<QRect> runs;  // one row each, relative to the interior
  };

  // One header's pixels after its last drawing, with what they show.
  struct HeaderMemo {
    bool usable = false;
    QRect rect;
    QRgb back = 0;
    QRgb text = 0;
    int number = 0;
    std::vector<quint32> pixels;
  };

  Raster raster_;
  std::vector<HeaderMemo> headers_;  // in drawing order
  std::vector<ShapeRuns> shapes_;
  LegendMemo legend_;
  std::vector<StrokeCoverage> strokes_;  // [2 * area + stroke]
  VisibleLines visible_;                 // this paint's
  std::vector<int> gridX_;               // grid line positions of a regular node block
  std::vector<int> gridY_;
  std::vector<quint32> bandColours_;      // node fill colours (row by row) of a scan-line paint
  std::vector<quint32> bandLine_;         // a scan line through one row of nodes
  std::vector<PlacedGlyph> placed_;       // node texts placed before a scan-line paint
  std::vector<std::size_t> placedStart_;  // per visible node (row by row), into placed_
  std::vector<quint32> placedColour_;
  std::vector<std::uint8_t> placedInside_;
  bool overlayDrawn_ = false;       // the status overlay went with the scan lines
  CellFont* letterFont_ = nullptr;  // overlay letters, for nodes of letterW_ x letterH_
  int letterW_ = -1;
  int letterH_ = -1;
  std::vector<FontSet> fontSets_;         // this paint's, by node size
  std::vector<std::uint8_t> textsDrawn_;  // [col * rows + row]: texts drawn with the node fill
  std::array<VerdictCache, 2> verdicts_;
  std::size_t lastVerdict_ = 0;
  std::map<QString, FontMetricsRatio> ratios_;
  std::map<std::tuple<QString, int, int>, CellFont> fonts_;
};

}  // namespace varnex2::judging
