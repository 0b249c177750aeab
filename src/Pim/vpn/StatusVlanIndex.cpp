#include "Pim/vpn/StatusVlanIndex.h"

#include <algorithm>

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
  for (std::vector<Entry>& entries : byVlan_) {
    std::erase_if(entries, [status](Entry const& e) { return e.status == status; });
  }
}

std::span<StatusVlanIndex::Entry const> StatusVlanIndex::vlan(VlanId vlanId) const noexcept {
  std::size_t const v = vlanId.value();
  if (v >= byVlan_.size()) return {};
  return byVlan_[v];
}

void StatusVlanIndex::vlanChanged(MembershipJoinStatus const& status, VlanId vlanId) {
  Vorn::Ptr<Gmp::VlanMembershipJoin const> vlan = status.vlan(vlanId);
  if (!vlan) {
    entryDel(&status, vlanId);
    return;
  }
  std::size_t const v = vlanId.value();
  if (v >= byVlan_.size()) byVlan_.resize(v + 1);
  std::vector<Entry>& entries = byVlan_[v];
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
  std::size_t const v = vlanId.value();
  if (v >= byVlan_.size()) return;
  std::vector<Entry>& entries = byVlan_[v];
  std::erase_if(entries, [&](Entry const& e) { return e.status == status; });
  if (entries.empty()) entries.shrink_to_fit();
}

}  // namespace Irb::Multicast::Egress
