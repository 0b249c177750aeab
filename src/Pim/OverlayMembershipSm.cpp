#include "Pim/OverlayMembershipSm.h"

#include <algorithm>
#include <cassert>
#include <iterator>
#include <vector>

#include "Corvo/Exception.h"
#include "Pim/Trace.h"
#include "Vorn/Exception.h"
#include "model/ModelSupport.h"

namespace Irb::Multicast::Egress {

using Bridging::VlanId;
using Gmp::GroupMembershipJoin;
using Gmp::SourceMembershipJoin;
using Gmp::VlanMembershipJoin;
using Wirl::AddressFamily;
using Wirl::IpGenAddr;

namespace {

// Whether a group entry counts for a peer: one of its sources includes an
// interface other than a multicast tunnel interface.
bool peerGroupJoined(GroupMembershipJoin const& group) {
  for (auto const& [addr, source] : group.source().raw()) {
    for (Wirl::IntfId const intf : source->includeIntf().raw()) {
      if (!::Multicast::Tunnel::McastTunnelIntfId::isMcastTunnelIntfId(intf)) return true;
    }
  }
  return false;
}

IpGenAddr const kIpv4Wildcard{AddressFamily::ipv4};
IpGenAddr const kIpv6Wildcard{AddressFamily::ipv6};

}  // namespace

// ---- MembershipJoinStatusColl -------------------------------------------------

MembershipJoinStatusColl::~MembershipJoinStatusColl() {
  // Nothing observes an entity that is being destroyed (observers hold it);
  // peer statuses go first, then local ones.
  while (peer_.firstKey()) peer_.erase(*peer_.firstKey());
  while (local_.firstKey()) local_.erase(*local_.firstKey());
}

Vorn::Ptr<MembershipJoinStatusColl> membershipJoinStatusCollFactory() {
  return Model::makeActive<MembershipJoinStatusColl>();
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::localMembership(Vorn::String const& name) const {
  return Model::lookup<Gmp::MembershipJoinStatus const>(local_, name);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::peerMembership(Vorn::String const& name) const {
  return Model::lookup<Gmp::MembershipJoinStatus const>(peer_, name);
}

void MembershipJoinStatusColl::statusIs(StatusColl& coll, StatusVlanIndex& index, Attribute attribute,
                                        char const* attributeName, StatusPtr const& status) {
  if (!status) throw Vorn::MutatorNullArgumentException(fwkType(), attributeName);
  Vorn::String const& key = status->name();
  if (StatusPtr const* existing = coll.find(key)) {
    if (*existing == status) return;
    VORN_ASSERT(key == (*existing)->name(), "fwkKey() == KeyFunktor()( _value )");
    index.statusDel(existing->ptr());
  }
  // The index is current before anyone hears of the new status.
  index.statusIs(status);
  setIn(coll, attribute, key, status);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::statusDel(StatusColl& coll, StatusVlanIndex& index,
                                                                        Attribute attribute,
                                                                        Vorn::String const& name) {
  if (StatusPtr const* existing = coll.find(name)) index.statusDel(existing->ptr());
  return takeFrom(coll, attribute, name);
}

void MembershipJoinStatusColl::localMembershipIs(StatusPtr const& status) {
  statusIs(local_, localVlans_, attrLocalMembership, "localMembership", status);
}

void MembershipJoinStatusColl::peerMembershipIs(StatusPtr const& status) {
  statusIs(peer_, peerVlans_, attrPeerMembership, "peerMembership", status);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::localMembershipDel(Vorn::String const& name) {
  return statusDel(local_, localVlans_, attrLocalMembership, name);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::peerMembershipDel(Vorn::String const& name) {
  return statusDel(peer_, peerVlans_, attrPeerMembership, name);
}

void MembershipJoinStatusColl::localMembershipDelAll() {
  while (Vorn::String const* first = local_.firstKey()) localMembershipDel(Vorn::String(*first));
}

void MembershipJoinStatusColl::peerMembershipDelAll() {
  while (Vorn::String const* first = peer_.firstKey()) peerMembershipDel(Vorn::String(*first));
}

bool MembershipJoinStatusColl::groupActive(VlanId vlanId, IpGenAddr const& group) const {
  for (StatusVlanIndex::Entry const& e : localVlans_.vlan(vlanId)) {
    auto const& groups = e.vlan->group();
    if (groups.contains(group) || groups.contains(kIpv4Wildcard) || groups.contains(kIpv6Wildcard)) return true;
  }
  for (StatusVlanIndex::Entry const& e : peerVlans_.vlan(vlanId)) {
    Vorn::Ptr<GroupMembershipJoin> const* g = e.vlan->group().find(group);
    if (g && peerGroupJoined(**g)) return true;
  }
  return false;
}

bool MembershipJoinStatusColl::vlanActive(VlanId vlanId) const {
  auto found = [](Vorn::String const& name) {
    VORN_TRACE(overlayMembershipTrace(), 9, kOverlayMembershipSmFile, __LINE__, "vlanActive",
               "vlanActive" << "  found entry in " << name);
    return true;
  };
  for (StatusVlanIndex::Entry const& e : localVlans_.vlan(vlanId)) {
    if (!e.vlan->group().empty()) return found(e.status->name());
  }
  for (StatusVlanIndex::Entry const& e : peerVlans_.vlan(vlanId)) {
    for (auto const& [addr, group] : e.vlan->group().raw()) {
      if (peerGroupJoined(*group)) return found(e.status->name());
    }
  }
  VORN_TRACE(overlayMembershipTrace(), 9, kOverlayMembershipSmFile, __LINE__, "vlanActive",
             "vlanActive" << "  No entry found ");
  return false;
}

// ---- OverlayChangeSet ------------------------------------------------------------

Vorn::Ptr<OverlayChangeSet> overlayChangeSetFactory() { return Model::makeActive<OverlayChangeSet>(); }

void OverlayChangeSet::changedIs(std::uint32_t value) {
  if (value == changed_) return;
  changed_ = value;
  notify(attrChanged, Vorn::Key());
}

std::uint32_t OverlayChangeSet::changedInc(std::uint32_t delta) {
  changedIs(changed_ + delta);  // unsigned: wraps modulo 2^32
  return changed_;
}

// ---- Mode --------------------------------------------------------------------------

Vorn::EnumType<unsigned> const& modeEnumType() {
  static Vorn::EnumType<unsigned> const type("Irb::Multicast::Egress::Mode",
                                             {{0u, "groupLevel"}, {1u, "interfaceLevel"}});
  return type;
}

std::optional<Mode> ModeInstance(unsigned value) {
  if (!modeEnumType().valid(value)) return std::nullopt;
  return static_cast<Mode>(value);
}

std::optional<Mode> ModeInstance(Vorn::String const& name) {
  auto v = modeEnumType().value(name.stdString());
  if (!v) return std::nullopt;
  return static_cast<Mode>(*v);
}

char const* stringValue(Mode mode) { return modeEnumType().name(static_cast<unsigned>(mode)); }

Vorn::String valueToStrep(Mode const& mode) {
  char const* name = stringValue(mode);
  return name ? Vorn::String(name) : Vorn::String(std::to_string(static_cast<unsigned>(mode)));
}

bool sequenceToValue(Vorn::String::IteratorConst& pos, Vorn::String::IteratorConst const& end, Mode* mode) {
  auto v = modeEnumType().parse(pos, end);
  if (!v) return false;
  if (mode) *mode = static_cast<Mode>(*v);
  return true;
}

std::ostream& operator<<(std::ostream& os, Mode const& mode) { return os << valueToStrep(mode); }

// ==== Change trackers ==================================================================

using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::OverlayVlanGroup;

using VlanSm = LocalMembershipChangeSm::VlanSm;
using VornGroupMembership = VlanSm::VornGroupMembership;
using VornSourceMembership = VornGroupMembership::VornSourceMembership;

namespace {

char const* const kLocalMembershipChangeSmType = "Irb::Multicast::Egress::LocalMembershipChangeSm";
char const* const kVlanSmType = "Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm";
char const* const kVornGroupMembershipType =
    "Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm::VornGroupMembership";

// Lets a reactor go the way every owner here does: out of the collection,
// its final pass, back pointer cleared, delivery off. Returns what it observed.
template <class Reactor, class K>
auto letGo(Vorn::KeyedMap<K, Vorn::Ptr<Reactor>>& coll, K const key) -> Vorn::Ptr<typename Reactor::Notifier const> {
  std::optional<Vorn::Ptr<Reactor>> taken = coll.take(key);
  if (!taken) return nullptr;
  Vorn::Ptr<Reactor> const reactor = std::move(*taken);
  reactor->vornDoZombieReactors(true);
  reactor->ownerIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->notifier();
}

template <class Reactor, class K, class KeyOf>
auto letGo(Vorn::SortedReactorSet<Reactor, K, KeyOf>& coll, K const key) -> Vorn::Ptr<typename Reactor::Notifier const> {
  Vorn::Ptr<Reactor> const reactor = coll.take(key);
  if (!reactor) return nullptr;
  reactor->vornDoZombieReactors(true);
  reactor->ownerIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->notifier();
}

// Removes every reactor of `coll`, one by one, in collection order.
template <class Reactor, class K, class Del>
void letGoAll(Vorn::KeyedMap<K, Vorn::Ptr<Reactor>>& coll, Del del) {
  while (K const* first = coll.firstKey()) {
    K const key = *first;
    del(key);
  }
}

template <class Reactor, class K, class KeyOf, class Del>
void letGoAll(Vorn::SortedReactorSet<Reactor, K, KeyOf>& coll, Del del) {
  while (Reactor const* first = coll.first()) {
    K const key = KeyOf()(*first);
    del(key);
  }
}

bool isTunnelIntf(Wirl::IntfId intf) { return ::Multicast::Tunnel::McastTunnelIntfId::isMcastTunnelIntfId(intf); }

// Whether a source join lists an interface that counts (not a multicast
// tunnel interface).
bool listsNonTunnelInterface(Gmp::SourceMembershipJoin const* source) {
  if (!source) return false;
  for (Wirl::IntfId const intf : source->includeIntf().raw()) {
    if (!isTunnelIntf(intf)) return true;
  }
  return false;
}

// Whether two source joins list the same interfaces that count.
bool sameNonTunnelInterfaces(Gmp::SourceMembershipJoin const* a, Gmp::SourceMembershipJoin const* b) {
  static Gmp::SourceMembershipJoin::IncludeIntfColl const kNone;
  auto const& as = (a ? a->includeIntf() : kNone).raw();
  auto const& bs = (b ? b->includeIntf() : kNone).raw();
  auto ai = as.begin();
  auto bi = bs.begin();
  while (true) {
    while (ai != as.end() && isTunnelIntf(*ai)) ++ai;
    while (bi != bs.end() && isTunnelIntf(*bi)) ++bi;
    if (ai == as.end() || bi == bs.end()) return ai == as.end() && bi == bs.end();
    if (!(*ai == *bi)) return false;
    ++ai;
    ++bi;
  }
}

Wirl::IpGenAddr const kNoAddr{};

// Adds every mapping keyed by `vlan` to the change set; returns how many.
// The tunnel status is ordered VLAN first, so the walk starts at the VLAN's
// smallest key (a group of no family) and stops at the next VLAN.
unsigned recordMappingsOf(Bridging::VlanId vlan, IpTunnelVlanGroupStatus const& tunnel, OverlayChangeSet& changeSet,
                          bool traced) {
  unsigned recorded = 0;
  auto const& mappings = tunnel.vlanToMulticastGroup();
  for (auto it = mappings.lowerBound(OverlayVlanGroup(vlan, IpGenAddr())); it != mappings.end(); ++it) {
    OverlayVlanGroup const key = it->first;
    if (key.vlanId() != vlan) break;
    if (traced) {
      VORN_TRACE(overlayMembershipTrace(), 9, kOverlayMembershipSmFile, __LINE__, "groupChanged",
                 "Changed  " << key);
    }
    changeSet.vlanGroupIs(key);
    ++recorded;
  }
  return recorded;
}

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
  Vorn::Ptr<VlanSm> vlanSm = vlanMembership(vlanId);
  if (vlanSm) {
    if (vlanSm->notifierRaw() == join.ptr()) return;
    vlanSm->vlanMembershipIs(join);
  } else {
    vlanSm = Vorn::make<VlanSm>(join, this);
    vlanSm->hasNotificationActiveIs(true);
    vlanMembership_.set(vlanSm);
  }
  vlanSm->vornDoZombieReactors(zombie_);
}

LocalMembershipChangeSm::VlanJoinPtr LocalMembershipChangeSm::vlanMembershipDel(Bridging::VlanId vlanId) {
  return letGo(vlanMembership_, vlanId);
}

void LocalMembershipChangeSm::vlanMembershipDelAll() {
  letGoAll(vlanMembership_, [this](Bridging::VlanId v) { vlanMembershipDel(v); });
}

LocalMembershipChangeSm::StatusPtr LocalMembershipChangeSm::membershipJoinStatusDel() {
  Vorn::Ptr<VornMembershipJoinStatus> const reactor = std::move(membershipJoinStatus_);
  if (!reactor) return nullptr;
  reactor->vornDoZombieReactors(true);
  reactor->ownerIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->notifier();
}

std::optional<Bridging::VlanId> LocalMembershipChangeSm::readSbdVlan(Bridging::VlanId vlanId, bool* clean) const {
  *clean = true;
  // Without an IRB status no VLAN has an SBD VLAN.
  if (!mcastIrbStatus_) return std::nullopt;
  VlanToSbd entry{};
  try {
    entry = mcastIrbStatus_->vlanToSbd(vlanId);
  } catch (Corvo::Exception const& e) {
    mcastIrbStatus_->vlanToSbdTable().doCorruptionDetected(e.msg());
    entry = VlanToSbd{};
    *clean = false;
  }
  if (entry == VlanToSbd{}) return std::nullopt;
  return entry.sbdVlan;
}

std::optional<Bridging::VlanId> LocalMembershipChangeSm::sbdVlan(Bridging::VlanId vlanId) const {
  bool clean = true;
  return readSbdVlan(vlanId, &clean);
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
  std::optional<Bridging::VlanId> const sbd = owner_->readSbdVlan(vlan, &clean);
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
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, __LINE__, "groupChanged",
             "groupChanged" << " : " << vlan << " (" << group << ")");
  // Held locally: recording runs the change set's observers.
  ChangeSetPtr const changeSet = owner_->changeSet();
  TunnelStatusPtr const tunnel = owner_->tunnelVlanGroupStatus();
  std::optional<Bridging::VlanId> const sbd = sbdVlanOfChange(vlan);
  if (group.isSpecific()) {
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
  unsigned recorded = recordMappingsOf(first, *tunnel, *changeSet, true);
  if (second) recorded += recordMappingsOf(*second, *tunnel, *changeSet, true);
  if (recorded > 0) changeSet->changedInc(1);
}

void VlanSm::handleGroup(IpGenAddr const& groupIn) {
  if (!owner_) return;
  IpGenAddr const group = groupIn;  // the caller's may live in an element that goes
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, __LINE__, "handleGroup",
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
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, __LINE__, "handleVlan",
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
  Vorn::Ptr<VornGroupMembership> reactor = groupMembership(join->groupAddr());
  if (reactor) {
    if (reactor->notifierRaw() == join.ptr()) return;
    reactor->notifierIs(join);
  } else {
    reactor = newGroupMembership(join);
  }
  reactor->vornDoZombieReactors(isZombie());
}

VlanSm::GroupJoinPtr VlanSm::groupMembershipDel(IpGenAddr const& group) { return letGo(groupMembership_, group); }

VlanSm::GroupJoinPtr VlanSm::groupMembershipDel(GroupColl::Iterator const& it) {
  if (it == groupMembership_.end()) return nullptr;
  return groupMembershipDel(IpGenAddr(GroupKey()(**it)));
}

void VlanSm::groupMembershipDelAll() {
  letGoAll(groupMembership_, [this](IpGenAddr const& g) { groupMembershipDel(g); });
}

Vorn::Ptr<VornGroupMembership> VlanSm::newGroupMembership(GroupJoinPtr const& join) {
  if (!join) throw Vorn::MutatorNullArgumentException(kVlanSmType, "groupMembership");
  assert(!groupMembership_.contains(join->groupAddr()) && "newGroupMembership over an existing reactor");
  auto reactor = Vorn::make<VornGroupMembership>(join, this);
  reactor->hasNotificationActiveIs(true);
  groupMembership_.set(reactor);
  return reactor;
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
  if (owner_) owner_->vorn_handleVlanMembership(Vorn::Ptr<VlanSm>(this));
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
  Vorn::Ptr<VornSourceMembership> reactor = sourceMembership(join->sourceAddr());
  if (reactor) {
    if (reactor->notifierRaw() == join.ptr()) return;
    reactor->notifierIs(join);
  } else {
    reactor = newSourceMembership(join);
  }
  reactor->vornDoZombieReactors(isZombie());
}

VornGroupMembership::SourceJoinPtr VornGroupMembership::sourceMembershipDel(IpGenAddr const& source) {
  return letGo(sourceMembership_, source);
}

VornGroupMembership::SourceJoinPtr VornGroupMembership::sourceMembershipDel(SourceColl::Iterator const& it) {
  if (it == sourceMembership_.end()) return nullptr;
  return sourceMembershipDel(IpGenAddr(SourceKey()(**it)));
}

void VornGroupMembership::sourceMembershipDelAll() {
  letGoAll(sourceMembership_, [this](IpGenAddr const& s) { sourceMembershipDel(s); });
}

Vorn::Ptr<VornSourceMembership> VornGroupMembership::newSourceMembership(SourceJoinPtr const& join) {
  if (!join) throw Vorn::MutatorNullArgumentException(kVornGroupMembershipType, "sourceMembership");
  assert(!sourceMembership_.contains(join->sourceAddr()) && "newSourceMembership over an existing reactor");
  auto reactor = Vorn::make<VornSourceMembership>(join, this);
  reactor->hasNotificationActiveIs(true);
  sourceMembership_.set(reactor);
  return reactor;
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
  if (isTunnelIntf(intf)) return;
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
  if (owner_) owner_->vorn_handleSourceMembership(Vorn::Ptr<VornSourceMembership>(this));
  zombieIs(zombie);
}

// ---- OverlayMembershipChangeSm ---------------------------------------------------

Vorn::Ptr<OverlayMembershipChangeSm> OverlayMembershipChangeSm::OverlayMembershipChangeSmIs(
    JoinStatusCollPtr const& joinStatusColl, LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
    LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  Vorn::Ptr<OverlayMembershipChangeSm> sm(
      new OverlayMembershipChangeSm(joinStatusColl, mcastIrbStatus, tunnelVlanGroupStatus, changeSet));
  sm->hasNotificationActiveIs(true);
  return sm;
}

Vorn::Ptr<OverlayMembershipChangeSm> overlayMembershipChangeSmFactory(
    OverlayMembershipChangeSm::JoinStatusCollPtr const& joinStatusColl,
    LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
    LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  return OverlayMembershipChangeSm::OverlayMembershipChangeSmIs(joinStatusColl, mcastIrbStatus, tunnelVlanGroupStatus,
                                                                changeSet);
}

OverlayMembershipChangeSm::OverlayMembershipChangeSm(JoinStatusCollPtr const& joinStatusColl,
                                                     LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
                                                     LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                                                     LocalMembershipChangeSm::ChangeSetPtr const& changeSet)
    : mcastIrbStatus_(mcastIrbStatus), tunnelVlanGroupStatus_(tunnelVlanGroupStatus), changeSet_(changeSet) {
  assert(joinStatusColl && "the overlay tracker follows a status collection");
  if (joinStatusColl) {
    joinStatusColl_ = Vorn::make<VornJoinStatusColl>(joinStatusColl, this);
    joinStatusColl_->hasNotificationActiveIs(true);
  }
  handleInitialized();
}

OverlayMembershipChangeSm::~OverlayMembershipChangeSm() {
  vornDoZombieReactors(true);
  // Each tracker dropped here reports its whole content.
  localSmDelAll();
  peerSmDelAll();
  if (joinStatusColl_) joinStatusColl_->ownerIs(nullptr);
}

OverlayMembershipChangeSm::JoinStatusCollPtr OverlayMembershipChangeSm::joinStatusColl() const {
  return joinStatusColl_ ? joinStatusColl_->notifier() : nullptr;
}

OverlayMembershipChangeSm::TrackerPtr OverlayMembershipChangeSm::localSm(Vorn::String const& name) const {
  TrackerPtr const* t = localSm_.find(name);
  return t ? *t : nullptr;
}

OverlayMembershipChangeSm::TrackerPtr OverlayMembershipChangeSm::peerSm(Vorn::String const& name) const {
  TrackerPtr const* t = peerSm_.find(name);
  return t ? *t : nullptr;
}

void OverlayMembershipChangeSm::handleLocalMembership(Vorn::String name) {
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, __LINE__, "handleLocalMembership",
             "handleLocalMembership" << "(" << name << ")");
  JoinStatusCollPtr const coll = joinStatusColl();
  LocalMembershipChangeSm::StatusPtr const status = coll ? coll->localMembership(name) : nullptr;
  // Never updated in place: the old tracker goes (reporting what it covered)...
  localSmDel(name);
  // ...and a new one reports what the status lists now.
  if (status) localSmIs(Mode::groupLevel, status, mcastIrbStatus_, tunnelVlanGroupStatus_, changeSet_);
}

void OverlayMembershipChangeSm::handlePeerMembership(Vorn::String name) {
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, __LINE__, "handlePeerMembership",
             "handlePeerMembership" << "(" << name << ")");
  JoinStatusCollPtr const coll = joinStatusColl();
  LocalMembershipChangeSm::StatusPtr const status = coll ? coll->peerMembership(name) : nullptr;
  peerSmDel(name);
  if (status) peerSmIs(Mode::interfaceLevel, status, mcastIrbStatus_, tunnelVlanGroupStatus_, changeSet_);
}

void OverlayMembershipChangeSm::handleInitialized() {
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, __LINE__, "handleInitialized",
             "void Irb::Multicast::Egress::OverlayMembershipChangeSm::handleInitialized()");
  VORN_ASSERT(tunnelVlanGroupStatus_ &&
                  tunnelVlanGroupStatus_->name() ==
                      Routing::Multicast::stringValue(Routing::Multicast::irbRemoteReduced()),
              "tunnelVlanGroupStatus()->name() == stringValue( Routing::Multicast::irbRemoteReduced() )");
  if (JoinStatusCollPtr const coll = joinStatusColl()) {
    for (auto const& [name, status] : coll->localMembership()) handleLocalMembership(name);
    for (auto const& [name, status] : coll->peerMembership()) handlePeerMembership(name);
  }
  initializedIs(true);
}

OverlayMembershipChangeSm::TrackerPtr OverlayMembershipChangeSm::trackerIs(
    TrackerColl& coll, char const* attribute, char const* nullText, Mode mode,
    LocalMembershipChangeSm::StatusPtr const& status, LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
    LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  if (!status) throw Vorn::MutatorNullArgumentException(fwkType(), nullText);
  Vorn::String const name = status->name();
  if (TrackerPtr const* existing = coll.find(name)) {
    TrackerPtr const tracker = *existing;
    if (tracker->mode() != mode) throw Vorn::ReinstantiationException(attribute, "mode value");
    if (tracker->membershipJoinStatus() != status || tracker->mcastIrbStatus() != mcastIrbStatus ||
        tracker->tunnelVlanGroupStatus() != tunnelVlanGroupStatus || tracker->changeSet() != changeSet) {
      throw Vorn::ReinstantiationException(attribute, "object");
    }
    return tracker;
  }
  TrackerPtr const tracker =
      LocalMembershipChangeSm::LocalMembershipChangeSmIs(mode, status, mcastIrbStatus, tunnelVlanGroupStatus, changeSet);
  coll.set(name, tracker);
  return tracker;
}

OverlayMembershipChangeSm::TrackerPtr OverlayMembershipChangeSm::localSmIs(
    Mode mode, LocalMembershipChangeSm::StatusPtr const& status, LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
    LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  return trackerIs(localSm_, "localSm", "membershipJoinStatus", mode, status, mcastIrbStatus, tunnelVlanGroupStatus,
                   changeSet);
}

OverlayMembershipChangeSm::TrackerPtr OverlayMembershipChangeSm::peerSmIs(
    Mode mode, LocalMembershipChangeSm::StatusPtr const& status, LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
    LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  return trackerIs(peerSm_, "peerSm", "peerSm_MembershipJoinStatus", mode, status, mcastIrbStatus,
                   tunnelVlanGroupStatus, changeSet);
}

OverlayMembershipChangeSm::TrackerPtr OverlayMembershipChangeSm::localSmDel(Vorn::String name) {
  std::optional<TrackerPtr> taken = localSm_.take(name);
  return taken ? std::move(*taken) : nullptr;
}

OverlayMembershipChangeSm::TrackerPtr OverlayMembershipChangeSm::peerSmDel(Vorn::String name) {
  std::optional<TrackerPtr> taken = peerSm_.take(name);
  return taken ? std::move(*taken) : nullptr;
}

void OverlayMembershipChangeSm::localSmDelAll() {
  letGoAll(localSm_, [this](Vorn::String const& name) { localSmDel(name); });
}

void OverlayMembershipChangeSm::peerSmDelAll() {
  letGoAll(peerSm_, [this](Vorn::String const& name) { peerSmDel(name); });
}

OverlayMembershipChangeSm::JoinStatusCollPtr OverlayMembershipChangeSm::joinStatusCollDel() {
  Vorn::Ptr<VornJoinStatusColl> const reactor = std::move(joinStatusColl_);
  if (!reactor) return nullptr;
  reactor->vornDoZombieReactors(true);
  reactor->ownerIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->notifier();
}

void OverlayMembershipChangeSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  if (joinStatusColl_) joinStatusColl_->hasNotificationActiveIs(active);
  // Peer trackers keep the state they were built with.
  for (auto const& [name, tracker] : localSm_) {
    TrackerPtr const keep = tracker;
    keep->hasNotificationActiveIs(active);
  }
}

void OverlayMembershipChangeSm::vornDoZombieReactors(bool zombie) {
  if (zombie == zombie_) return;
  // The trackers are state machines of their own and keep their mark.
  if (joinStatusColl_) joinStatusColl_->vornDoZombieReactors(zombie);
  zombie_ = zombie;
}

// ---- OverlayMembershipChangeSm::VornJoinStatusColl -------------------------------

OverlayMembershipChangeSm::VornJoinStatusColl::VornJoinStatusColl(JoinStatusCollPtr const& coll,
                                                                  OverlayMembershipChangeSm* owner)
    : owner_(owner) {
  NotifieeConstOf::notifierIs(coll);
  isRegisteredNotifieeIs(true);
}

OverlayMembershipChangeSm::VornJoinStatusColl::~VornJoinStatusColl() { vornDoZombieReactors(true); }

void OverlayMembershipChangeSm::VornJoinStatusColl::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != MembershipJoinStatusColl::attrLocalMembership &&
      attribute != MembershipJoinStatusColl::attrPeerMembership) {
    return;
  }
  Vorn::String const* name = key.get<Vorn::String>();
  if (!name || isZombie() || !owner_) return;
  if (attribute == MembershipJoinStatusColl::attrLocalMembership) {
    owner_->handleLocalMembership(*name);
  } else {
    owner_->handlePeerMembership(*name);
  }
}

// ---- SbdVlanChangeSm ------------------------------------------------------------------

Vorn::Ptr<SbdVlanChangeSm> SbdVlanChangeSm::SbdVlanChangeSmIs(
    SbdToVlanStatusPtr const& sbdToVlanStatus, LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  Vorn::Ptr<SbdVlanChangeSm> sm(new SbdVlanChangeSm(sbdToVlanStatus, tunnelVlanGroupStatus, changeSet));
  sm->hasNotificationActiveIs(true);
  return sm;
}

Vorn::Ptr<SbdVlanChangeSm> sbdVlanChangeSmFactory(SbdVlanChangeSm::SbdToVlanStatusPtr const& sbdToVlanStatus,
                                                  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                                                  LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  return SbdVlanChangeSm::SbdVlanChangeSmIs(sbdToVlanStatus, tunnelVlanGroupStatus, changeSet);
}

SbdVlanChangeSm::SbdVlanChangeSm(SbdToVlanStatusPtr const& sbdToVlanStatus,
                                 LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                                 LocalMembershipChangeSm::ChangeSetPtr const& changeSet)
    : tunnelVlanGroupStatus_(tunnelVlanGroupStatus), changeSet_(changeSet) {
  assert(tunnelVlanGroupStatus_ && "SBD VLAN changes record the SBD VLAN's mappings");
  assert(changeSet_ && "a tracker records into a change set");
  if (!sbdToVlanStatus) return;
  sbdToVlanStatus_ = Vorn::make<VornSbdToVlanStatus>(sbdToVlanStatus, this);
  sbdToVlanStatus_->hasNotificationActiveIs(true);
  for (auto const& [sbdVlan, state] : sbdToVlanStatus->sbdVlanState()) sbdStateIs(state);
}

SbdVlanChangeSm::~SbdVlanChangeSm() {
  vornDoZombieReactors(true);
  if (sbdToVlanStatus_) sbdToVlanStatus_->ownerIs(nullptr);
  for (auto const& [sbdVlan, reactor] : sbdState_) reactor->ownerIs(nullptr);
}

SbdVlanChangeSm::SbdToVlanStatusPtr SbdVlanChangeSm::sbdToVlanStatus() const {
  return sbdToVlanStatus_ ? sbdToVlanStatus_->notifier() : nullptr;
}

Vorn::Ptr<SbdVlanChangeSm::VornSbdState> SbdVlanChangeSm::sbdState(Bridging::VlanId sbdVlan) const {
  Vorn::Ptr<VornSbdState> const* reactor = sbdState_.find(sbdVlan);
  return reactor ? *reactor : nullptr;
}

void SbdVlanChangeSm::sbdStateIs(SbdStatePtr const& state) {
  if (!state) throw Vorn::MutatorNullArgumentException(fwkType(), "sbdState");
  Bridging::VlanId const sbdVlan = state->sbdVlan();
  Vorn::Ptr<VornSbdState> reactor = this->sbdState(sbdVlan);
  if (reactor) {
    if (reactor->notifierRaw() == state.ptr()) return;
    reactor->notifierIs(state);
  } else {
    reactor = Vorn::make<VornSbdState>(state, this);
    reactor->hasNotificationActiveIs(true);
    sbdState_.set(sbdVlan, reactor);
  }
  reactor->vornDoZombieReactors(zombie_);
}

SbdVlanChangeSm::SbdStatePtr SbdVlanChangeSm::sbdStateDel(Bridging::VlanId sbdVlan) {
  return letGo(sbdState_, sbdVlan);
}

void SbdVlanChangeSm::sbdStateDelAll() {
  letGoAll(sbdState_, [this](Bridging::VlanId v) { sbdStateDel(v); });
}

SbdVlanChangeSm::SbdToVlanStatusPtr SbdVlanChangeSm::sbdToVlanStatusDel() {
  Vorn::Ptr<VornSbdToVlanStatus> const reactor = std::move(sbdToVlanStatus_);
  if (!reactor) return nullptr;
  reactor->vornDoZombieReactors(true);
  reactor->ownerIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->notifier();
}

void SbdVlanChangeSm::vorn_handleSbdState(Vorn::Ptr<VornSbdState> const& state) {
  if (state) state->handleSbdStatus();
}

void SbdVlanChangeSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  if (sbdToVlanStatus_) sbdToVlanStatus_->hasNotificationActiveIs(active);
  for (auto const& [sbdVlan, reactor] : sbdState_) {
    Vorn::Ptr<VornSbdState> const keep = reactor;
    keep->hasNotificationActiveIs(active);
  }
}

void SbdVlanChangeSm::vornDoZombieReactors(bool zombie) {
  if (zombie == zombie_) return;
  if (sbdToVlanStatus_) sbdToVlanStatus_->vornDoZombieReactors(zombie);
  for (auto const& [sbdVlan, reactor] : sbdState_) {
    Vorn::Ptr<VornSbdState> const keep = reactor;
    keep->vornDoZombieReactors(zombie);
  }
  zombie_ = zombie;
}

// ---- SbdVlanChangeSm::VornSbdToVlanStatus ---------------------------------------------

SbdVlanChangeSm::VornSbdToVlanStatus::VornSbdToVlanStatus(SbdToVlanStatusPtr const& status, SbdVlanChangeSm* owner)
    : owner_(owner) {
  NotifieeConstOf::notifierIs(status);
  isRegisteredNotifieeIs(true);
}

SbdVlanChangeSm::VornSbdToVlanStatus::~VornSbdToVlanStatus() { vornDoZombieReactors(true); }

void SbdVlanChangeSm::VornSbdToVlanStatus::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != SbdToVlanStatus::attrSbdVlanState) return;
  Bridging::VlanId const* sbdVlanKey = key.get<Bridging::VlanId>();
  SbdToVlanStatus const* status = notifierRaw();
  if (!sbdVlanKey || !status || !owner_ || isZombie()) return;
  Bridging::VlanId const sbdVlan = *sbdVlanKey;
  if (SbdStatePtr const state = status->sbdVlanState(sbdVlan)) {
    owner_->sbdStateIs(state);
  } else {
    owner_->sbdStateDel(sbdVlan);
  }
}

// ---- SbdVlanChangeSm::VornSbdState ------------------------------------------------------

SbdVlanChangeSm::VornSbdState::VornSbdState(SbdStatePtr const& state, SbdVlanChangeSm* owner) : owner_(owner) {
  NotifieeConstOf::notifierIs(state);
  if (state) handleSbdStatus();
  isRegisteredNotifieeIs(true);
}

SbdVlanChangeSm::VornSbdState::~VornSbdState() { vornDoZombieReactors(true); }

Bridging::VlanId SbdVlanChangeSm::VornSbdState::sbdVlan() const noexcept {
  SbdVlanState const* state = notifierRaw();
  return state ? state->sbdVlan() : Bridging::VlanId();
}

void SbdVlanChangeSm::VornSbdState::handleSbdStatus() {
  if (!owner_) return;
  Bridging::VlanId const sbd = sbdVlan();
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, __LINE__, "handleSbdStatus",
             "void Irb::Multicast::Egress::SbdVlanChangeSm::VornSbdState::handleSbdStatus()" << ":" << sbd);
  LocalMembershipChangeSm::ChangeSetPtr const changeSet = owner_->changeSet();
  LocalMembershipChangeSm::TunnelStatusPtr const tunnel = owner_->tunnelVlanGroupStatus();
  recordMappingsOf(sbd, *tunnel, *changeSet, false);
  // Bumped even when nothing matched.
  changeSet->changedInc(1);
}

void SbdVlanChangeSm::VornSbdState::notifierIs(SbdStatePtr const& state) {
  SbdVlanState const* old = notifierRaw();
  if (state.ptr() == old) return;
  std::vector<Bridging::VlanId> const oldMembers = old ? old->vlanId().keys() : std::vector<Bridging::VlanId>();
  std::vector<Bridging::VlanId> const newMembers =
      state ? state->vlanId().keys() : std::vector<Bridging::VlanId>();
  NotifieeConstOf::notifierIs(state);
  if (oldMembers != newMembers && state) handleSbdStatus();
}

void SbdVlanChangeSm::VornSbdState::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != SbdVlanState::attrVlanId) return;
  if (!key.get<Bridging::VlanId>() || isZombie() || !owner_) return;
  handleSbdStatus();
}

void SbdVlanChangeSm::VornSbdState::vornDoZombieReactors(bool zombie) {
  if (zombie == isZombie()) return;
  if (notifierBase()) hasNotificationActiveIs(!zombie);
  if (owner_) owner_->vorn_handleSbdState(Vorn::Ptr<VornSbdState>(this));
  zombieIs(zombie);
}

}  // namespace Irb::Multicast::Egress
