// ParseFrames on arbitrary bytes: never crashes, stays within its bounds, and
// what it accepts survives a write and a second read. Every input is also read
// with the shape of the first frame it gave: that read accepts the same frames
// exactly when they all have that shape.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "judging/frame_capture.h"

using varnex2::judging::BuildCaptureText;
using varnex2::judging::FrameShape;
using varnex2::judging::kMaxFrameLines;
using varnex2::judging::kMaxFrameNodes;
using varnex2::judging::NodeFrame;
using varnex2::judging::ParseFrames;
using varnex2::judging::NodeFlag::TOUCH;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<NodeFrame> frames;
  std::string error;
  const bool ok = ParseFrames(text, frames, error);
  if (!ok) {
    if (error.empty() || !frames.empty()) std::abort();
    return 0;
  }
  if (!error.empty()) std::abort();
  if (!frames.empty()) {
    // Shorter rows were padded, so a frame of the shape may still be refused; a
    // shaped read that succeeds must give the same frames.
    const FrameShape shape{frames[0].Columns(), frames[0].Rows()};
    std::vector<NodeFrame> shaped;
    std::string shapedError;
    if (ParseFrames(text, shaped, shapedError, shape)) {
      if (shaped.size() != frames.size()) std::abort();
      for (std::size_t i = 0; i < shaped.size(); ++i)
        if (!(shaped[i] == frames[i])) std::abort();
    } else if (shapedError.empty() || !shaped.empty()) {
      std::abort();
    }
  }
  for (const NodeFrame& f : frames) {
    if (f.Empty() || f.Columns() > kMaxFrameLines || f.Rows() > kMaxFrameLines ||
        f.Columns() * f.Rows() > kMaxFrameNodes)
      std::abort();
    // A frame without zeros writes every field, so reading it back must give it again.
    bool zeros = false;
    for (std::int32_t v : f.Data()) zeros = zeros || v == 0;
    if (zeros) continue;
    std::vector<NodeFrame> again;
    if (!ParseFrames(BuildCaptureText(f, NodeFrame(f.Columns(), f.Rows(), TOUCH), f.Columns(), f.Rows()), again,
                     error) ||
        again.size() != 1 || !(again[0] == f))
      std::abort();
  }
  return 0;
}
