// Bridging::VlanId — an 802.1Q VLAN number.
//
// A 2-byte, trivially copyable value: cheap to compare, order and hash, meant
// as a key of hot maps. A default-constructed VlanId is VLAN 1 (the default
// VLAN). The value is not range-checked: it holds any 16-bit number, callers
// that need 1..4094 check it themselves.
//
//   Bridging::VlanId v = 10;
//   std::unordered_map<Bridging::VlanId, int> counts;
//   counts[v]++;  std::cout << v;  // prints "10"
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>

namespace Bridging {

class VlanId {
 public:
  constexpr VlanId() noexcept = default;
  // Implicit on purpose: VLAN numbers are written as plain literals.
  constexpr VlanId(std::uint16_t value) noexcept : value_(value) {}

  constexpr std::uint16_t value() const noexcept { return value_; }

  constexpr bool operator==(VlanId const&) const noexcept = default;
  constexpr auto operator<=>(VlanId const&) const noexcept = default;

 private:
  std::uint16_t value_ = 1;
};

inline std::ostream& operator<<(std::ostream& os, VlanId v) {
  return os << static_cast<unsigned>(v.value());
}

}  // namespace Bridging

template <>
struct std::hash<Bridging::VlanId> {
  std::size_t operator()(Bridging::VlanId v) const noexcept { return v.value(); }
};
