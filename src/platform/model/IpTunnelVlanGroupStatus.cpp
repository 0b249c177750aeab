#include "model/IpTunnelVlanGroupStatus.h"

#include "Vorn/Exception.h"
#include "model/ModelSupport.h"

namespace Routing::Multicast {

Vorn::Ptr<VlanToMulticastGroup> VlanToMulticastGroup::vlanToMulticastGroupIs(OverlayVlanGroup const& key) {
  return Model::makeActive<VlanToMulticastGroup>(key);
}

Vorn::Ptr<IpTunnelVlanGroupStatus> IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(Vorn::String name) {
  return Model::makeActive<IpTunnelVlanGroupStatus>(std::move(name));
}

Vorn::Ptr<VlanToMulticastGroup const> IpTunnelVlanGroupStatus::vlanToMulticastGroup(
    OverlayVlanGroup const& key) const {
  return Model::lookup<VlanToMulticastGroup>(vlanToMulticastGroup_, key);
}

Vorn::Ptr<VlanToMulticastGroup> IpTunnelVlanGroupStatus::vlanToMulticastGroupMutable(
    OverlayVlanGroup const& key) const {
  return Model::lookup<VlanToMulticastGroup>(vlanToMulticastGroup_, key);
}

void IpTunnelVlanGroupStatus::vlanToMulticastGroupIs(Vorn::Ptr<VlanToMulticastGroup> const& m) {
  if (!m) throw Vorn::MutatorNullArgumentException(fwkType(), "vlanToMulticastGroup");
  setIn(vlanToMulticastGroup_, attrVlanToMulticastGroup, m->overlayVlanGroup(), m);
}

Vorn::Ptr<VlanToMulticastGroup> IpTunnelVlanGroupStatus::vlanToMulticastGroupDel(OverlayVlanGroup const& key) {
  return takeFrom(vlanToMulticastGroup_, attrVlanToMulticastGroup, key);
}

}  // namespace Routing::Multicast
