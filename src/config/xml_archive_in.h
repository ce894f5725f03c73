// Reading Boost.Serialization XML archives whose elements are vectors (the parameter file and the
// legacy companion files): bounded element reads, the archive without a parse of its end on
// destruction, and the checks made on the text before the archive sees it. Internal to config.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <boost/archive/xml_iarchive.hpp>
#include <boost/serialization/collection_size_type.hpp>
#include <boost/serialization/item_version_type.hpp>
#include <boost/serialization/level.hpp>
#include <boost/serialization/library_version_type.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/string.hpp>

namespace varnex2::config::detail {

// Names of the nested elements, each in a buffer far longer than the name. Boost's end-tag check
// indexes the expected name by the length of the name found in the file (and compares that many
// bytes), so with a plain literal a long end tag makes it read past the literal. Names found in
// the file are limited to kMaxTagName characters before the archive sees them.
inline constexpr std::size_t kNameBuffer = 256;
inline constexpr std::size_t kMaxTagName = 200;
alignas(16) inline const char kCountName[kNameBuffer] = "count";
alignas(16) inline const char kItemVersionName[kNameBuffer] = "item_version";
alignas(16) inline const char kItemName[kNameBuffer] = "item";

// One top-level element: read exactly as Boost reads a std::vector<T> (count, item_version from
// library version 4 on, then the items), except that a count above nMax is refused (as
// std::length_error) before anything is allocated.
template <class T>
struct BoundedVector {
  std::size_t nMax = 0;
  std::vector<T> values;

  template <class Archive>
  void serialize(Archive& ar, const unsigned int /*version*/) {
    boost::serialization::collection_size_type count;
    ar >> boost::serialization::make_nvp(kCountName, count);
    if (boost::serialization::library_version_type(3) < ar.get_library_version()) {
      boost::serialization::item_version_type itemVersion(0);
      ar >> boost::serialization::make_nvp(kItemVersionName, itemVersion);
    }
    if (static_cast<std::size_t>(count) > nMax) throw std::length_error("element count");
    values.resize(count);
    for (T& v : values) ar >> boost::serialization::make_nvp(kItemName, v);
  }
};

// The archive as Boost reads it, except that its end is not parsed on destruction: Boost parses
// the root's end tag in the destructor and an exception there (a stream cut inside that tag)
// would end the process. All data has been read by then; a missing end tag is accepted, as
// Boost accepts it.
class StationXmlArchive : public boost::archive::xml_iarchive {
 public:
  explicit StationXmlArchive(std::istream& is) : xml_iarchive(is, boost::archive::no_header) { init(); }
};

// Offset of the first tag whose name is longer than kMaxTagName, or npos. Such names are refused
// before the archive compares them.
std::size_t FindOverlongTagName(std::string_view text);

// Boost compares the signature only up to the length found in the file and does not refuse
// archive versions newer than its own; both are checked here. The problem, or nothing.
std::optional<std::string> CheckArchiveHeader(std::string_view text, unsigned nLibraryVersion);

}  // namespace varnex2::config::detail

// No class information of their own, like a vector of a primitive type (attributes a file carries
// on the first element of a type are read and ignored).
BOOST_CLASS_IMPLEMENTATION(varnex2::config::detail::BoundedVector<int32_t>, boost::serialization::object_serializable)
BOOST_CLASS_IMPLEMENTATION(varnex2::config::detail::BoundedVector<double>, boost::serialization::object_serializable)
BOOST_CLASS_IMPLEMENTATION(varnex2::config::detail::BoundedVector<std::string>,
                           boost::serialization::object_serializable)
