#include "Pim/vpn/LocalMembershipChangeSm.h"

#include <algorithm>
#include <cassert>
#include <iterator>
#include <vector>

#include "Corvo/Exception.h"
#include "Pim/join/JoinKey.h"
#include "Pim/join/Trace.h"
#include "Vorn/ReactorOwnership.h"
#include "Vorn/Exception.h"
#include "model/ModelSupport.h"

namespace Irb::Multicast::Egress {

using Bridging::VlanId;
using Gmp::GroupMembershipJoin;
using Gmp::SourceMembershipJoin;
using Wirl::IpGenAddr;

// ==== Change trackers ==================================================================

using Routing::Multicast::OverlayVlanGroup;

using VlanSm = LocalMembershipChangeSm::VlanSm;
using VornGroupMembership = VlanSm::VornGroupMembership;
using VornSourceMembership = VornGroupMembership::VornSourceMembership;

namespace {

char const* const kLocalMembershipChangeSmType = "Irb::Multicast::Egress::LocalMembershipChangeSm";
char const* const kVlanSmType = "Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm";
char const* const kVornGroupMembershipType =
    "Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm::VornGroupMembership";

Wirl::IpGenAddr const kNoAddr{};

}  // namespace

// ---- keys of the reactor sets ------------------------------------------------------

Bridging::VlanId LocalMembershipChangeSm::VlanSmKey::operator()(VlanSm const& vlanSm) const noexcept {
  return vlanSm.vlanKey();
}

IpGenAddr const& VlanSm::GroupKey::operator()(VornGroupMembership const& reactor) const noexcept {
  GroupMembershipJoin const* join = reactor.notifierRaw();
  return join ? join->groupAddr() : kNoAddr;
}

IpGenAddr const& VornGroupMembership::SourceKey::operator()(VornSourceMembership const& reactor) const noexcept {
  SourceMembershipJoin const* join = reactor.notifierRaw();
  return join ? join->sourceAddr() : kNoAddr;
}

// ---- the SBD VLAN read --------------------------------------------------------------

std::optional<Bridging::VlanId> sbdVlanOf(McastIrbStatus const* irb, VlanId vlanId, bool* clean) {
  if (clean) *clean = true;
  if (!irb) return std::nullopt;
  VlanToSbd entry{};
  try {
    entry = irb->vlanToSbd(vlanId);
  } catch (Corvo::Exception const& e) {
    irb->vlanToSbdTable().doCorruptionDetected(e.msg());
    entry = VlanToSbd{};
    if (clean) *clean = false;
  }
  if (entry == VlanToSbd{}) return std::nullopt;
  return entry.sbdVlan;
}

// ---- LocalMembershipChangeSm -----------------------------------------------------

Vorn::Ptr<LocalMembershipChangeSm> LocalMembershipChangeSm::LocalMembershipChangeSmIs(
    Mode mode, StatusPtr const& status, IrbStatusPtr const& mcastIrbStatus, TunnelStatusPtr const& tunnelVlanGroupStatus,
    ChangeSetPtr const& changeSet) {
  Vorn::Ptr<LocalMembershipChangeSm> sm(
      new LocalMembershipChangeSm(mode, status, mcastIrbStatus, tunnelVlanGroupStatus, changeSet));
  sm->hasNotificationActiveIs(true);
  return sm;
}

Vorn::Ptr<LocalMembershipChangeSm> localMembershipChangeSmFactory(
    Mode mode, LocalMembershipChangeSm::StatusPtr const& status, LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
    LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  return LocalMembershipChangeSm::LocalMembershipChangeSmIs(mode, status, mcastIrbStatus, tunnelVlanGroupStatus,
                                                            changeSet);
}

LocalMembershipChangeSm::LocalMembershipChangeSm(Mode mode, StatusPtr const& status, IrbStatusPtr const& mcastIrbStatus,
                                                 TunnelStatusPtr const& tunnelVlanGroupStatus,
                                                 ChangeSetPtr const& changeSet)
    : mode_(mode),
      mcastIrbStatus_(mcastIrbStatus),
      tunnelVlanGroupStatus_(tunnelVlanGroupStatus),
      changeSet_(changeSet) {
  assert(tunnelVlanGroupStatus_ && "the change rule reads the tunnel VLAN group status");
  assert(changeSet_ && "a tracker records into a change set");
  if (!status) return;
  membershipJoinStatus_ = Vorn::make<VornMembershipJoinStatus>(status, this);
  membershipJoinStatus_->hasNotificationActiveIs(true);
  vlanMembership_.reserve(status->vlan().size());
  for (auto const& [vlanId, join] : status->vlan()) vlanMembershipIs(join);
}

LocalMembershipChangeSm::~LocalMembershipChangeSm() {
  // Report what the status still lists while every back pointer is set.
  vornDoZombieReactors(true);
  if (membershipJoinStatus_) membershipJoinStatus_->ownerIs(nullptr);
  for (VlanSm* vlanSm : vlanMembership_) vlanSm->ownerIs(nullptr);
}

LocalMembershipChangeSm::StatusPtr LocalMembershipChangeSm::membershipJoinStatus() const {
  return membershipJoinStatus_ ? membershipJoinStatus_->notifier() : nullptr;
}

Vorn::String LocalMembershipChangeSm::name() const {
  StatusPtr const status = membershipJoinStatus();
  return status ? status->name() : Vorn::String();
}

Vorn::Ptr<VlanSm> LocalMembershipChangeSm::vlanMembership(Bridging::VlanId vlanId) const {
  return Vorn::Ptr<VlanSm>(vlanMembership_.find(vlanId));
}

void LocalMembershipChangeSm::vlanMembershipIs(VlanJoinPtr const& join) {
  if (!join) throw Vorn::MutatorNullArgumentException(kLocalMembershipChangeSmType, "vlanMembership");
  Bridging::VlanId const vlanId = join->vlanId();
  Vorn::reactorIs(vlanMembership(vlanId), join, this, [&](Vorn::Ptr<VlanSm> const& vlanSm) {
    vlanMembership_.set(vlanSm);
  })->vornDoZombieReactors(zombie_);
}

LocalMembershipChangeSm::VlanJoinPtr LocalMembershipChangeSm::vlanMembershipDel(Bridging::VlanId vlanId) {
  return Vorn::letGo(vlanMembership_, vlanId);
}

void LocalMembershipChangeSm::vlanMembershipDelAll() {
  Vorn::letGoAll(vlanMembership_, [this](Bridging::VlanId v) { vlanMembershipDel(v); });
}

LocalMembershipChangeSm::StatusPtr LocalMembershipChangeSm::membershipJoinStatusDel() {
  return Vorn::letGo(std::exchange(membershipJoinStatus_, nullptr));
}

bool LocalMembershipChangeSm::finalPassNeeded() const {
  return !changeSet_->discarded() || overlayMembershipTrace().enabled(8);
}

std::optional<Bridging::VlanId> LocalMembershipChangeSm::sbdVlan(Bridging::VlanId vlanId) const {
  return sbdVlanOf(mcastIrbStatus_.ptr(), vlanId);
}

void LocalMembershipChangeSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  if (membershipJoinStatus_) membershipJoinStatus_->hasNotificationActiveIs(active);
  vlanMembership_.walk([active](Vorn::Ptr<VlanSm> const& vlanSm) { vlanSm->hasNotificationActiveIs(active); });
}

void LocalMembershipChangeSm::vornDoZombieReactors(bool zombie) {
  if (zombie == zombie_) return;
  if (membershipJoinStatus_) membershipJoinStatus_->vornDoZombieReactors(zombie);
  vlanMembership_.walk([zombie](Vorn::Ptr<VlanSm> const& vlanSm) { vlanSm->vornDoZombieReactors(zombie); });
  zombie_ = zombie;
}

void LocalMembershipChangeSm::vorn_handleVlanMembership(Vorn::Ptr<VlanSm> const& vlanSm) {
  if (vlanSm) vlanSm->handleVlan();
}

// ---- LocalMembershipChangeSm::VornMembershipJoinStatus --------------------------

LocalMembershipChangeSm::VornMembershipJoinStatus::VornMembershipJoinStatus(StatusPtr const& status,
                                                                            LocalMembershipChangeSm* owner)
    : owner_(owner) {
  NotifieeConstOf::notifierIs(status);
  isRegisteredNotifieeIs(true);
}

LocalMembershipChangeSm::VornMembershipJoinStatus::~VornMembershipJoinStatus() { vornDoZombieReactors(true); }

void LocalMembershipChangeSm::VornMembershipJoinStatus::onAttribute(Vorn::AttributeId attribute,
                                                                    Vorn::Key const& key) {
  if (attribute != Gmp::MembershipJoinStatus::attrVlan) return;
  Bridging::VlanId const* vlanId = key.get<Bridging::VlanId>();
  Gmp::MembershipJoinStatus const* status = notifierRaw();
  if (!vlanId || !status || !owner_ || isZombie()) return;
  Bridging::VlanId const v = *vlanId;
  if (VlanJoinPtr const join = status->vlan(v)) {
    owner_->vlanMembershipIs(join);
  } else {
    owner_->vlanMembershipDel(v);
  }
}

// ---- LocalMembershipChangeSm::VlanSm ----------------------------------------------

static_assert(sizeof(VlanSm) <= 56, "a VlanSm's small members belong in its base's tail padding");
static_assert(sizeof(VornGroupMembership) <= 56, "a group reactor holds its sources in one word");

// A pass over the VLAN's groups, on the stack of the VlanSm's own handler (the
// reactor outlives it). Passes nest: each restores the state it found.
class VlanSm::SbdPassScope {
 public:
  explicit SbdPassScope(VlanSm* vlanSm) : vlanSm_(vlanSm), saved_(vlanSm->sbdPass_), savedSbd_(vlanSm->passSbd_) {
    vlanSm_->sbdPass_ = sbdPassUnread;
  }
  ~SbdPassScope() {
    vlanSm_->sbdPass_ = saved_;
    vlanSm_->passSbd_ = savedSbd_;
  }
  SbdPassScope(SbdPassScope const&) = delete;
  SbdPassScope& operator=(SbdPassScope const&) = delete;

 private:
  VlanSm* vlanSm_;
  SbdPassState saved_;
  Bridging::VlanId savedSbd_;
};

std::optional<Bridging::VlanId> VlanSm::sbdVlanOfChange(Bridging::VlanId vlan) {
  switch (sbdPass_) {
    case sbdPassNone:
      return owner_->sbdVlan(vlan);
    case sbdPassNoSbd:
      return std::nullopt;
    case sbdPassSbd:
      return passSbd_;
    case sbdPassUnread:
      break;
  }
  bool clean = true;
  std::optional<Bridging::VlanId> const sbd = sbdVlanOf(owner_->mcastIrbStatus().ptr(), vlan, &clean);
  if (clean) {
    sbdPass_ = sbd ? sbdPassSbd : sbdPassNoSbd;
    if (sbd) passSbd_ = *sbd;
  }
  return sbd;
}

VlanSm::VlanSm(VlanJoinPtr const& join, LocalMembershipChangeSm* owner)
    : vlanKey_(join ? join->vlanId() : Bridging::VlanId()), owner_(owner) {
  NotifieeConstOf::notifierIs(join);
  if (join && owner_ && owner_->mode() == Mode::interfaceLevel) groupMembership_.reserve(join->group().size());
  if (join) handleVlan();
  isRegisteredNotifieeIs(true);
}

VlanSm::~VlanSm() {
  vornDoZombieReactors(true);
  for (VornGroupMembership* reactor : groupMembership_) reactor->ownerIs(nullptr);
}

Bridging::VlanId VlanSm::vlanId() const noexcept {
  Gmp::VlanMembershipJoin const* join = notifierRaw();
  return join ? join->vlanId() : Bridging::VlanId();
}

LocalMembershipChangeSm::ChangeSetPtr VlanSm::changeSet() const { return owner_ ? owner_->changeSet() : nullptr; }

LocalMembershipChangeSm::IrbStatusPtr VlanSm::mcastIrbStatus() const {
  return owner_ ? owner_->mcastIrbStatus() : nullptr;
}

LocalMembershipChangeSm::TunnelStatusPtr VlanSm::tunnelVlanGroupStatus() const {
  return owner_ ? owner_->tunnelVlanGroupStatus() : nullptr;
}

void VlanSm::groupChanged(IpGenAddr const& groupIn) {
  if (!owner_) return;
  IpGenAddr const group = groupIn;
  Bridging::VlanId const vlan = vlanId();
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, 540, "groupChanged",
             "groupChanged" << " : " << vlan << " (" << group << ")");
  // Held locally: recording runs the change set's observers.
  ChangeSetPtr const changeSet = owner_->changeSet();
  TunnelStatusPtr const tunnel = owner_->tunnelVlanGroupStatus();
  std::optional<Bridging::VlanId> const sbd = sbdVlanOfChange(vlan);
  if (!isVlanWide(group)) {
    // The VLAN's own key and, in a VLAN served by an SBD VLAN, the SBD VLAN's
    // key too: both may carry the group.
    changeSet->vlanGroupIs(OverlayVlanGroup(vlan, group));
    if (sbd) changeSet->vlanGroupIs(OverlayVlanGroup(*sbd, group));
    changeSet->changedInc(1);
    return;
  }
  // A wildcard (or family-less) group stands for every group of the VLAN:
  // every mapping of the VLAN and of its SBD VLAN, in collection order.
  Bridging::VlanId first = vlan;
  std::optional<Bridging::VlanId> second;
  if (sbd && *sbd != vlan) {
    first = std::min(vlan, *sbd);
    second = std::max(vlan, *sbd);
  }
  unsigned recorded = vlanMappingsIs(*changeSet, *tunnel, first, true);
  if (second) recorded += vlanMappingsIs(*changeSet, *tunnel, *second, true);
  if (recorded > 0) changeSet->changedInc(1);
}

void VlanSm::handleGroup(IpGenAddr const& groupIn) {
  if (!owner_) return;
  IpGenAddr const group = groupIn;  // the caller's may live in an element that goes
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, 570, "handleGroup",
             "handleGroup" << " : " << vlanId() << " (" << group << ")");
  groupChanged(group);
  if (!owner_ || owner_->mode() != Mode::interfaceLevel) return;
  Gmp::VlanMembershipJoin const* join = notifierRaw();
  GroupJoinPtr const entry = join ? join->group(group) : nullptr;
  if (entry) {
    groupMembershipIs(entry);
  } else {
    groupMembershipDel(group);
  }
}

void VlanSm::handleVlan() {
  if (!owner_) return;
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, 585, "handleVlan",
             "handleVlan" << "(" << vlanId() << ")");
  VlanJoinPtr const join = notifier();
  if (!join) return;
  SbdPassScope const pass(this);
  for (auto const& [group, entry] : join->group()) handleGroup(group);
}

void VlanSm::vlanMembershipIs(VlanJoinPtr const& join) {
  VlanJoinPtr const old = notifier();
  if (join == old) return;
  NotifieeConstOf::notifierIs(join);
  if (!owner_) return;
  SbdPassScope const pass(this);
  // What differs between the two objects is what changed: the groups only one
  // of them lists. The groups both list are unchanged at group level.
  std::vector<IpGenAddr> const oldGroups = old ? old->group().keys() : std::vector<IpGenAddr>();
  std::vector<IpGenAddr> const newGroups = join ? join->group().keys() : std::vector<IpGenAddr>();
  std::vector<IpGenAddr> differing;
  std::set_symmetric_difference(oldGroups.begin(), oldGroups.end(), newGroups.begin(), newGroups.end(),
                                std::back_inserter(differing));
  for (IpGenAddr const& group : differing) groupChanged(group);
  if (!owner_ || owner_->mode() != Mode::interfaceLevel) return;
  // Bring the group reactors in line with the new object: a group it lists
  // gets a reactor (or has its reactor re-pointed, which re-synchronises the
  // sources); a reactor of a group it lacks goes.
  if (join) {
    for (auto const& [group, entry] : join->group()) groupMembershipIs(entry);
  }
  for (IpGenAddr const& group : groupMembership_.keys()) {
    if (!join || !join->group(group)) groupMembershipDel(group);
  }
}

Vorn::Ptr<VornGroupMembership> VlanSm::groupMembership(IpGenAddr const& group) const {
  return Vorn::Ptr<VornGroupMembership>(groupMembership_.find(group));
}

void VlanSm::groupMembershipIs(GroupJoinPtr const& join) {
  if (!join) throw Vorn::MutatorNullArgumentException(kVlanSmType, "groupMembership");
  Vorn::reactorIs(groupMembership(join->groupAddr()), join, this, [&](Vorn::Ptr<VornGroupMembership> const& reactor) {
    groupMembership_.set(reactor);
  })->vornDoZombieReactors(isZombie());
}

VlanSm::GroupJoinPtr VlanSm::groupMembershipDel(IpGenAddr const& group) { return Vorn::letGo(groupMembership_, group); }

VlanSm::GroupJoinPtr VlanSm::groupMembershipDel(GroupColl::Iterator const& it) {
  if (it == groupMembership_.end()) return nullptr;
  return groupMembershipDel(IpGenAddr(GroupKey()(**it)));
}

void VlanSm::groupMembershipDelAll() {
  Vorn::letGoAll(groupMembership_, [this](IpGenAddr const& g) { groupMembershipDel(g); });
}

void VlanSm::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != Gmp::VlanMembershipJoin::attrGroup) return;
  IpGenAddr const* group = key.get<IpGenAddr>();
  if (!group || isZombie() || !owner_) return;
  handleGroup(*group);
}

void VlanSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  NotifieeConstOf::hasNotificationActiveIs(active);
  groupMembership_.walk(
      [active](Vorn::Ptr<VornGroupMembership> const& reactor) { reactor->hasNotificationActiveIs(active); });
}

void VlanSm::vornDoZombieReactors(bool zombie) {
  if (zombie == isZombie()) return;
  if (notifierBase()) hasNotificationActiveIs(!zombie);
  if (owner_ && (!zombie || owner_->finalPassNeeded())) owner_->vorn_handleVlanMembership(Vorn::Ptr<VlanSm>(this));
  groupMembership_.walk(
      [zombie](Vorn::Ptr<VornGroupMembership> const& reactor) { reactor->vornDoZombieReactors(zombie); });
  zombieIs(zombie);
}

// ---- VlanSm::VornGroupMembership ---------------------------------------------------

VornGroupMembership::VornGroupMembership(GroupJoinPtr const& join, VlanSm* owner) : owner_(owner) {
  NotifieeConstOf::notifierIs(join);
  if (join) {
    sourceMembership_.reserve(join->source().size());
    for (auto const& [source, entry] : join->source()) sourceMembershipIs(entry);
  }
  isRegisteredNotifieeIs(true);
}

VornGroupMembership::~VornGroupMembership() {
  vornDoZombieReactors(true);
  for (VornSourceMembership* reactor : sourceMembership_) reactor->ownerIs(nullptr);
}

IpGenAddr VornGroupMembership::groupAddr() const noexcept {
  Gmp::GroupMembershipJoin const* join = notifierRaw();
  return join ? join->groupAddr() : IpGenAddr();
}

void VornGroupMembership::notifierIs(GroupJoinPtr const& join) {
  if (join.ptr() == notifierRaw()) return;
  assert((!owner_ || (join && join->groupAddr() == groupAddr())) &&
         "a group reactor held by its VlanSm keeps its group (the VlanSm's key)");
  NotifieeConstOf::notifierIs(join);
  if (join) {
    for (auto const& [source, entry] : join->source()) sourceMembershipIs(entry);
  }
  for (IpGenAddr const& source : sourceMembership_.keys()) {
    if (!join || !join->source(source)) sourceMembershipDel(source);
  }
}

Vorn::Ptr<VornSourceMembership> VornGroupMembership::sourceMembership(IpGenAddr const& source) const {
  return Vorn::Ptr<VornSourceMembership>(sourceMembership_.find(source));
}

void VornGroupMembership::sourceMembershipIs(SourceJoinPtr const& join) {
  if (!join) throw Vorn::MutatorNullArgumentException(kVornGroupMembershipType, "sourceMembership");
  Vorn::reactorIs(sourceMembership(join->sourceAddr()), join, this,
                  [&](Vorn::Ptr<VornSourceMembership> const& reactor) { sourceMembership_.set(reactor); })
      ->vornDoZombieReactors(isZombie());
}

VornGroupMembership::SourceJoinPtr VornGroupMembership::sourceMembershipDel(IpGenAddr const& source) {
  return Vorn::letGo(sourceMembership_, source);
}

VornGroupMembership::SourceJoinPtr VornGroupMembership::sourceMembershipDel(SourceColl::Iterator const& it) {
  if (it == sourceMembership_.end()) return nullptr;
  return sourceMembershipDel(IpGenAddr(SourceKey()(**it)));
}

void VornGroupMembership::sourceMembershipDelAll() {
  Vorn::letGoAll(sourceMembership_, [this](IpGenAddr const& s) { sourceMembershipDel(s); });
}

void VornGroupMembership::vorn_handleSourceMembership(Vorn::Ptr<VornSourceMembership> const& source) {
  if (source) source->handleInterface();
}

void VornGroupMembership::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != Gmp::GroupMembershipJoin::attrSource) return;
  IpGenAddr const* sourceKey = key.get<IpGenAddr>();
  Gmp::GroupMembershipJoin const* join = notifierRaw();
  if (!sourceKey || !join || !owner_) return;
  IpGenAddr const source = *sourceKey;
  if (SourceJoinPtr const entry = join->source(source)) {
    sourceMembershipIs(entry);
  } else {
    sourceMembershipDel(source);
  }
}

void VornGroupMembership::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  NotifieeConstOf::hasNotificationActiveIs(active);
  sourceMembership_.walk(
      [active](Vorn::Ptr<VornSourceMembership> const& reactor) { reactor->hasNotificationActiveIs(active); });
}

void VornGroupMembership::vornDoZombieReactors(bool zombie) {
  if (zombie == isZombie()) return;
  if (notifierBase()) hasNotificationActiveIs(!zombie);
  sourceMembership_.walk(
      [zombie](Vorn::Ptr<VornSourceMembership> const& reactor) { reactor->vornDoZombieReactors(zombie); });
  zombieIs(zombie);
}

// ---- VornGroupMembership::VornSourceMembership ---------------------------------------

VornSourceMembership::VornSourceMembership(SourceJoinPtr const& join, VornGroupMembership* owner) : owner_(owner) {
  NotifieeConstOf::notifierIs(join);
  if (join) handleInterface();
  isRegisteredNotifieeIs(true);
}

VornSourceMembership::~VornSourceMembership() { vornDoZombieReactors(true); }

IpGenAddr VornSourceMembership::sourceAddr() const noexcept {
  Gmp::SourceMembershipJoin const* join = notifierRaw();
  return join ? join->sourceAddr() : IpGenAddr();
}

void VornSourceMembership::reportGroup() {
  VlanSm* vlanSm = owner_ ? owner_->owner() : nullptr;
  if (vlanSm) vlanSm->groupChanged(owner_->groupAddr());
}

void VornSourceMembership::notifierIs(SourceJoinPtr const& join) {
  Gmp::SourceMembershipJoin const* old = notifierRaw();
  if (join.ptr() == old) return;
  assert((!owner_ || (join && join->sourceAddr() == sourceAddr())) &&
         "a source reactor held by its group reactor keeps its source (the group reactor's key)");
  // Compare before the re-point: the old object may go with it.
  bool const differs = !sameNonTunnelInterfaces(old, join.ptr());
  NotifieeConstOf::notifierIs(join);
  if (differs) reportGroup();
}

void VornSourceMembership::handleInterface() {
  if (listsNonTunnelInterface(notifierRaw())) reportGroup();
}

void VornSourceMembership::handleInterface(Wirl::IntfId intf) {
  if (!isNonTunnelIntf(intf)) return;
  reportGroup();
}

void VornSourceMembership::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != Gmp::SourceMembershipJoin::attrIncludeIntf) return;
  Wirl::IntfId const* intf = key.get<Wirl::IntfId>();
  if (!intf || isZombie() || !owner_) return;
  handleInterface(*intf);
}

void VornSourceMembership::vornDoZombieReactors(bool zombie) {
  if (zombie == isZombie()) return;
  if (notifierBase()) hasNotificationActiveIs(!zombie);
  VlanSm const* const vlanSm = owner_ ? owner_->owner() : nullptr;
  bool const needed = !zombie || !vlanSm || !vlanSm->owner() || vlanSm->owner()->finalPassNeeded();
  if (owner_ && needed) owner_->vorn_handleSourceMembership(Vorn::Ptr<VornSourceMembership>(this));
  zombieIs(zombie);
}

}  // namespace Irb::Multicast::Egress
