// Frame capture text (the raw counts of the node map as comma-separated lines)
// and the reader of such frame files for the offline judge.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "judging/node_map.h"

namespace varnex2::judging {

// Largest frame ParseFrames accepts.
inline constexpr int kMaxFrameNodes = 1664 * 4;
inline constexpr int kMaxFrameLines = 256;

// One line per row (X line 0 first), one field per column, fields separated by
// ",", each line ended by "\n". A field holds the raw count ("%d") when the
// node's flags have TOUCH or KEY and the count is not 0, and is empty
// otherwise. Rows = min(mapRows, raw rows), columns = min(mapCols, raw columns);
// a node beyond the flags' extents counts as unflagged.
std::string BuildCaptureText(const NodeFrame& rawFrame, const NodeFrame& flags, int mapCols, int mapRows);
// The same from the map's current raw counts and flags, at the map's extents.
std::string BuildCaptureText(const NodeMap& map);

// Appends the text at the end of the file (created when missing, never
// truncated), writing each "\n" as CR LF. False when the file cannot be opened
// or the write fails.
bool AppendCaptureToFile(const std::string& path, std::string_view text);

// The shape every frame must have: `fields` per line and `lines` per frame; 0 leaves
// that count free.
struct FrameShape {
  int fields = 0;
  int lines = 0;
};

// Reads frames: one frame per block of lines, blocks separated by blank lines
// (empty or only spaces, tabs, CR). A line is a row, its comma-separated fields
// are the columns; an empty field reads 0; a field is a decimal integer with an
// optional sign and surrounding spaces. Without a shape, shorter rows are padded
// with 0; with one, a line or frame of another count is an error. On an error
// returns false with `out` cleared and `error` naming the line (and field).
bool ParseFrames(std::string_view text, std::vector<NodeFrame>& out, std::string& error, FrameShape shape = {});

}  // namespace varnex2::judging
