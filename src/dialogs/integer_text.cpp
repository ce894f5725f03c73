#include "dialogs/integer_text.h"

#include <limits>

namespace varnex2::dialogs {

namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

std::optional<std::int32_t> StrictInt32(const QString& text) {
  qsizetype i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i].unicode() - '0');
    if (value > kMax + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < kMin || value > kMax) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::int32_t LenientInt32(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t') ||
                             text[i] == QLatin1Char('\n') || text[i] == QLatin1Char('\r') ||
                             text[i] == QLatin1Char('\v') || text[i] == QLatin1Char('\f')))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  std::int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i].unicode() - '0');
    if (value > kMax + 1) value = kMax + 1;
  }
  if (negative) value = -value;
  if (value < kMin) value = kMin;
  if (value > kMax) value = kMax;
  return static_cast<std::int32_t>(value);
}

}  // namespace varnex2::dialogs
