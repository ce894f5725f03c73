#include "config/xml_archive_in.h"

#include <charconv>

namespace varnex2::config::detail {

std::size_t FindOverlongTagName(std::string_view text) {
  for (std::size_t p = text.find('<'); p != std::string_view::npos; p = text.find('<', p + 1)) {
    std::size_t q = p + 1;
    if (q < text.size() && text[q] == '/') ++q;
    const std::size_t nameEnd = text.find_first_of(" \t\r\n<>", q);
    const std::size_t nLength = (nameEnd == std::string_view::npos ? text.size() : nameEnd) - q;
    if (nLength > detail::kMaxTagName) return p;
  }
  return std::string_view::npos;
}

// Boost compares the signature only up to the length found in the file and does not refuse
// archive versions newer than its own; both are checked here.
std::optional<std::string> CheckArchiveHeader(std::string_view text, unsigned nLibraryVersion) {
  constexpr std::string_view kRoot = "<boost_serialization";
  const std::size_t nStart = text.find(kRoot);
  if (nStart == std::string_view::npos) return std::string("no archive root");
  const std::size_t nEnd = text.find('>', nStart);
  const std::string_view tag = text.substr(nStart, nEnd == std::string_view::npos ? text.npos : nEnd - nStart);
  if (tag.find("signature=\"serialization::archive\"") == std::string_view::npos) {
    return std::string("invalid signature");
  }
  constexpr std::string_view kVersionAttr = "version=\"";
  const std::size_t nVersion = tag.find(kVersionAttr);
  if (nVersion != std::string_view::npos) {
    unsigned nFileVersion = 0;
    const char* first = tag.data() + nVersion + kVersionAttr.size();
    const auto res = std::from_chars(first, tag.data() + tag.size(), nFileVersion);
    if (res.ec == std::errc{} && nFileVersion > nLibraryVersion) return std::string("unsupported version");
  }
  return std::nullopt;
}

}  // namespace varnex2::config::detail
