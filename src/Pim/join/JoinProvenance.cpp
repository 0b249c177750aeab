#include "Pim/join/JoinProvenance.h"

#include <charconv>
#include <string>

namespace Irb::Multicast::Egress {

GroupKeyKind groupKeyKind(Wirl::IpGenAddr const& group) noexcept {
  if (group.af() == Wirl::AddressFamily::none) return GroupKeyKind::wholeVlan;
  return group.isSpecific() ? GroupKeyKind::specific : GroupKeyKind::wildcard;
}

std::optional<Bridging::VlanId> joinKeyVlan(Routing::Gmp::Brim::RouteIntfKey const& key) {
  std::string const& name = key.intf().stringValue();
  constexpr std::string_view kPrefix = "Vlan";
  if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) return std::nullopt;
  unsigned value = 0;
  char const* first = name.data() + kPrefix.size();
  char const* last = name.data() + name.size();
  auto const [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last || value > 0xffff) return std::nullopt;
  auto const vlan = static_cast<unsigned short>(value);
  // Only the canonical name of a VLAN interface ("Vlan010" is another interface).
  if (!(Wirl::VlanIntfId::vlanIdToIntfId(vlan) == key.intf())) return std::nullopt;
  return Bridging::VlanId(vlan);
}

}  // namespace Irb::Multicast::Egress
