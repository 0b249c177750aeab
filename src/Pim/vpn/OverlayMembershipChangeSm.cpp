#include "Pim/vpn/OverlayMembershipChangeSm.h"

#include <algorithm>
#include <cassert>
#include <iterator>
#include <vector>

#include "Corvo/Exception.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"
#include "Vorn/ReactorOwnership.h"
#include "model/ModelSupport.h"

namespace Irb::Multicast::Egress {

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
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, 893, "handleLocalMembership",
             "handleLocalMembership" << "(" << name << ")");
  JoinStatusCollPtr const coll = joinStatusColl();
  LocalMembershipChangeSm::StatusPtr const status = coll ? coll->localMembership(name) : nullptr;
  // Never updated in place: the old tracker goes (reporting what it covered)...
  localSmDel(name);
  // ...and a new one reports what the status lists now.
  if (status) localSmIs(Mode::groupLevel, status, mcastIrbStatus_, tunnelVlanGroupStatus_, changeSet_);
}

void OverlayMembershipChangeSm::handlePeerMembership(Vorn::String name) {
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, 904, "handlePeerMembership",
             "handlePeerMembership" << "(" << name << ")");
  JoinStatusCollPtr const coll = joinStatusColl();
  LocalMembershipChangeSm::StatusPtr const status = coll ? coll->peerMembership(name) : nullptr;
  peerSmDel(name);
  if (status) peerSmIs(Mode::interfaceLevel, status, mcastIrbStatus_, tunnelVlanGroupStatus_, changeSet_);
}

void OverlayMembershipChangeSm::handleInitialized() {
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, 913, "handleInitialized",
             "void Irb::Multicast::Egress::OverlayMembershipChangeSm::handleInitialized()");
  VORN_ASSERT_AT(tunnelVlanGroupStatus_ &&
                  tunnelVlanGroupStatus_->name() ==
                      Routing::Multicast::stringValue(Routing::Multicast::irbRemoteReduced()),
              "tunnelVlanGroupStatus()->name() == stringValue( Routing::Multicast::irbRemoteReduced() )",
              kOverlayMembershipSmFile, 915);
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
  Vorn::letGoAll(localSm_, [this](Vorn::String const& name) { localSmDel(name); });
}

void OverlayMembershipChangeSm::peerSmDelAll() {
  Vorn::letGoAll(peerSm_, [this](Vorn::String const& name) { peerSmDel(name); });
}

OverlayMembershipChangeSm::JoinStatusCollPtr OverlayMembershipChangeSm::joinStatusCollDel() {
  return Vorn::letGo(std::exchange(joinStatusColl_, nullptr));
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

}  // namespace Irb::Multicast::Egress
