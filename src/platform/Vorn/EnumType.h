// Vorn::EnumType — generic support for a named enumeration.
//
// Binds numeric values to names once, and answers the instance for a value or
// a name, the name of a value, and parses a name from a character sequence.
// Values or names outside the table give no instance (std::nullopt / null).
//
//   inline Vorn::EnumType<unsigned> const modeType("Irb::...::Mode", {{0, "groupLevel"}, {1, "interfaceLevel"}});
//   modeType.name(1) == "interfaceLevel";  modeType.value("groupLevel") == 0u;
#pragma once

#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace Vorn {

template <class Underlying>
class EnumType {
 public:
  EnumType(char const* typeName, std::initializer_list<std::pair<Underlying, char const*>> values)
      : typeName_(typeName), values_(values) {}

  char const* typeName() const noexcept { return typeName_; }

  // The name of a value, or null for a value outside the enumeration.
  char const* name(Underlying v) const noexcept {
    for (auto const& [value, name] : values_)
      if (value == v) return name;
    return nullptr;
  }
  std::optional<Underlying> value(std::string_view name) const noexcept {
    for (auto const& [value, n] : values_)
      if (name == n) return value;
    return std::nullopt;
  }
  bool valid(Underlying v) const noexcept { return name(v) != nullptr; }

  // Parses the longest listed name at [pos, end); on success advances pos.
  template <class It>
  std::optional<Underlying> parse(It& pos, It const& end) const {
    std::optional<Underlying> best;
    std::size_t bestLen = 0;
    if (pos == end) return std::nullopt;
    std::string_view rest(&*pos, static_cast<std::size_t>(end - pos));
    for (auto const& [value, n] : values_) {
      std::string_view name(n);
      if (name.size() > bestLen && rest.substr(0, name.size()) == name) {
        best = value;
        bestLen = name.size();
      }
    }
    if (best) pos += static_cast<std::ptrdiff_t>(bestLen);
    return best;
  }

 private:
  char const* typeName_;
  std::vector<std::pair<Underlying, char const*>> values_;
};

}  // namespace Vorn
