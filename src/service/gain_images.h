#pragma once
// The gain dialogs' controller images: the T46 image the global-gain dialog writes and the
// fields it shows, the T56 image the single-layer dialog edits in place, the X-delay text and
// the dialogs' number fields. Qt-free.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace varnex2::service {

inline constexpr std::size_t kT46ImageBytes = 11;
inline constexpr std::size_t kT56ImageBytes = 50;
inline constexpr int kGainStepMax = 16;  // both T46 sliders: 0 to 16
inline constexpr std::size_t kXDelayCount = 32;

using T46Image = std::array<std::uint8_t, kT46ImageBytes>;
using T56Image = std::array<std::uint8_t, kT56ImageBytes>;

// ---- T46 ---------------------------------------------------------------------------------------

struct T46Fields {
  bool enabled = false;  // byte 0 bit 2 ("增益设置使能")
  int xVoltage = 0;      // byte 9 ("X驱动电压调整")
  int adcGain = 0;       // byte 10 ("ADC 增益控制")
};

// The image written on OK, built from scratch: only the enable and the two gains vary; the
// gains are clamped to 0..16.
T46Image BuildT46Image(const T46Fields& fields);
// What the dialog shows of an image read from the controller (gains as read, unclamped).
T46Fields ReadT46Fields(const T46Image& image);

// ---- T56 ---------------------------------------------------------------------------------------

// A 16-bit row (bytes 42/43 ... 48/49): `high` is the field left of "*" (the high byte), `low`
// the field right of it (the low byte).
struct T56Row {
  int high = 0;
  int low = 0;
};

// Calculation mode byte 36: 1 "或", 3 "与"; any other value selects neither radio.
inline constexpr int kT56ModeOr = 1;
inline constexpr int kT56ModeAnd = 3;

struct T56Fields {
  bool enable = false;           // byte 0 bit 0
  bool calibration = false;      // byte 1
  bool integration = false;      // byte 2
  int integrationTime = 0;       // byte 3
  std::array<int, kXDelayCount> xDelays{};  // bytes 4..35
  bool multiYFilter = false;     // byte 35, overwritten by the 32nd delay value
  int mode = 0;                  // byte 36 (kT56ModeOr, kT56ModeAnd, else unchanged)
  int noiseThreshold = 0;        // byte 37
  bool noiseControl = false;     // byte 38
  int touchBias = 0;             // byte 39
  int referenceScale = 0;        // byte 40
  int offsetLimit = 0;           // byte 41
  std::array<T56Row, 4> rows{};  // Low Y 乘数 (42/43), Low Y 除数 (44/45), High Y 乘数, High Y 除数
};

// The fields as the dialog fills them from an image (check boxes from non-zero bytes, byte 0
// from its bit 0).
T56Fields ReadT56Fields(const T56Image& image);
// Puts the fields onto `image` in the dialog's order: check boxes and the mode, byte 3, the 32
// delays (so byte 35 ends up as the 32nd delay), bytes 37 and 39..49. Numbers keep their low 8
// bits; every bit not named here keeps what was read.
void ApplyT56Fields(const T56Fields& fields, T56Image& image);

// ---- Text ----------------------------------------------------------------------------------------

// "%03d" values, "," after all but the last, CR LF after the 16th and the 32nd.
std::string FormatXDelays(std::span<const std::uint8_t, kXDelayCount> delays);
std::string FormatXDelays(const std::array<int, kXDelayCount>& delays);

// Splits at ","; each piece: leading white space skipped, digits up to the first non-digit,
// low 8 bits. The first 32 pieces must each start with a digit: nullopt otherwise (too few
// values, or a piece that is no number); pieces after the 32nd are ignored. `found` receives
// how many of the first pieces were numbers before the first one that was not.
std::optional<std::array<int, kXDelayCount>> ParseXDelays(std::string_view text, std::size_t* found = nullptr);

// A number field: optional white space, an optional sign, decimal digits, optional white space,
// within the range of a 32-bit int. nullopt for anything else (empty text too).
std::optional<int> ParseDecimalField(std::string_view text);

}  // namespace varnex2::service
