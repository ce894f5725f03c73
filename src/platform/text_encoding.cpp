#include "platform/text_encoding.h"

#include <array>
#include <cerrno>

namespace varnex2::platform {

std::size_t Utf8SequenceLength(std::string_view s) {
  if (s.empty()) return 0;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < n || b(1) < lo || b(1) > hi) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  }
  return n;
}

TextConverter::~TextConverter() {
  if (Ok()) ::iconv_close(cd_);
}

void TextConverter::Append(std::string_view in, std::string_view replacement, std::string& out) {
  std::array<char, 4096> buffer{};
  char* src = const_cast<char*>(in.data());  // iconv does not write its input
  std::size_t srcLeft = in.size();
  while (srcLeft > 0) {
    char* dst = buffer.data();
    std::size_t dstLeft = buffer.size();
    const std::size_t r = ::iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
    const int error = errno;
    out.append(buffer.data(), buffer.size() - dstLeft);
    if (r == static_cast<std::size_t>(-1) && error != E2BIG) {
      // EILSEQ, or EINVAL for a sequence cut at the end: replace one byte and go on.
      out += replacement;
      ++src;
      --srcLeft;
      ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
  }
  ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
}

}  // namespace varnex2::platform
