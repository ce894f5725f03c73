#pragma once
// UTF-8 checks and glibc's iconv converters, shared by the settings file, the legacy INI reader
// and the record writer.

#include <iconv.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace varnex2::platform {

// Length (1..4) of the well-formed UTF-8 sequence at the start of `s`, or 0 when there is none
// (stray continuation byte, overlong form, surrogate, beyond U+10FFFF, truncated, empty).
std::size_t Utf8SequenceLength(std::string_view s);

// An iconv converter from one encoding to another, closed with the object.
class TextConverter {
 public:
  TextConverter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
  ~TextConverter();
  TextConverter(const TextConverter&) = delete;
  TextConverter& operator=(const TextConverter&) = delete;

  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Appends the converted text to `out`; each byte that cannot be converted becomes
  // `replacement` and the conversion goes on after it. Needs Ok().
  void Append(std::string_view in, std::string_view replacement, std::string& out);

 private:
  iconv_t cd_;
};

}  // namespace varnex2::platform
