#include "Pim/vpn/StatusVlanIndex.h"

#include <algorithm>
#include <iterator>

namespace Irb::Multicast::Egress {

using Bridging::VlanId;
using Gmp::MembershipJoinStatus;

StatusVlanIndex::VornStatus::VornStatus(Vorn::Ptr<MembershipJoinStatus const> const& status, StatusVlanIndex* owner)
    : owner_(owner) {
  NotifieeConstOf::notifierIs(status);
  isRegisteredNotifieeIs(true);
  hasNotificationActiveIs(true);
}

void StatusVlanIndex::VornStatus::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != MembershipJoinStatus::attrVlan || !owner_) return;
  VlanId const* vlanId = key.get<VlanId>();
  MembershipJoinStatus const* status = notifierRaw();
  if (!vlanId || !status) return;
  owner_->vlanChanged(*status, *vlanId);
}

StatusVlanIndex::~StatusVlanIndex() {
  // An observer kept alive by a delivery in progress must not reach back.
  for (auto const& [status, observer] : observers_) observer->ownerIs(nullptr);
}

void StatusVlanIndex::statusIs(Vorn::Ptr<MembershipJoinStatus const> const& status) {
  if (!status || observers_.contains(status.ptr())) return;
  observers_.emplace(status.ptr(), Vorn::make<VornStatus>(status, this));
  for (auto const& [vlanId, vlan] : status->vlan().raw()) vlanChanged(*status, vlanId);
}

void StatusVlanIndex::statusDel(MembershipJoinStatus const* status) {
  auto it = observers_.find(status);
  if (it == observers_.end()) return;
  Vorn::Ptr<VornStatus> const observer = std::move(it->second);
  observers_.erase(it);
  observer->ownerIs(nullptr);
  // Every list is searched, not only the status's current VLANs: changes it
  // made with notification off must not leave an entry naming it behind.
  for (auto listIt = byVlan_.begin(); listIt != byVlan_.end();) {
    std::erase_if(listIt->second, [status](Entry const& e) { return e.status == status; });
    listIt = listIt->second.empty() ? byVlan_.erase(listIt) : std::next(listIt);
  }
}

std::span<StatusVlanIndex::Entry const> StatusVlanIndex::vlan(VlanId vlanId) const noexcept {
  auto it = byVlan_.find(vlanId.value());
  if (it == byVlan_.end()) return {};
  return it->second;
}

void StatusVlanIndex::vlanChanged(MembershipJoinStatus const& status, VlanId vlanId) {
  Vorn::Ptr<Gmp::VlanMembershipJoin const> vlan = status.vlan(vlanId);
  if (!vlan) {
    entryDel(&status, vlanId);
    return;
  }
  std::vector<Entry>& entries = byVlan_[vlanId.value()];
  auto at = std::find_if(entries.begin(), entries.end(), [&](Entry const& e) { return e.status == &status; });
  if (at != entries.end()) {
    at->vlan = std::move(vlan);  // the same VLAN id under another object
    return;
  }
  auto const byName = std::find_if(entries.begin(), entries.end(),
                                   [&](Entry const& e) { return status.name() < e.status->name(); });
  entries.insert(byName, Entry{&status, std::move(vlan)});
}

void StatusVlanIndex::entryDel(MembershipJoinStatus const* status, VlanId vlanId) {
  auto it = byVlan_.find(vlanId.value());
  if (it == byVlan_.end()) return;
  std::vector<Entry>& entries = it->second;
  std::erase_if(entries, [&](Entry const& e) { return e.status == status; });
  if (entries.empty()) byVlan_.erase(it);
}

}  // namespace Irb::Multicast::Egress
