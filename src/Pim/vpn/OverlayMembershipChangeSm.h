// OverlayMembershipChangeSm — one LocalMembershipChangeSm per status of the
// membership join status collection: groupLevel for local statuses,
// interfaceLevel for peer statuses.
//
// GUARANTEES
//   - Start-up builds a tracker for every status present (local first, then
//     peers); each records what its status lists.
//   - The tracker of a name is torn down (reporting what it covered) and
//     rebuilt whenever the collection's entry under that name changes.
//
// WARNING
//   Single event thread. `tunnelVlanGroupStatus` must be the reduced status
//   (an assertion checks its name at start-up).
//
// TYPICAL USAGE
//   auto sm = overlayMembershipChangeSmFactory(coll, irb, reducedTunnelStatus, changeSet);
//   coll->localMembershipIs(status);   // its (VLAN, group) keys land in changeSet
#pragma once

#include "Pim/vpn/LocalMembershipChangeSm.h"
#include "Pim/vpn/MembershipJoinStatusColl.h"
#include "Vorn/Collection.h"
#include "Vorn/String.h"

namespace Irb::Multicast::Egress {

// ---- OverlayMembershipChangeSm ---------------------------------------------------

class OverlayMembershipChangeSm : public Vorn::PtrInterface {
 public:
  using JoinStatusCollPtr = Vorn::Ptr<MembershipJoinStatusColl const>;
  using TrackerPtr = Vorn::Ptr<LocalMembershipChangeSm>;
  using TrackerColl = Vorn::KeyedMap<Vorn::String, TrackerPtr>;

  class VornJoinStatusColl;

  // Builds one tracker per status present (the start-up sweep) and switches
  // notification on. `tunnelVlanGroupStatus` must be the reduced status.
  static Vorn::Ptr<OverlayMembershipChangeSm> OverlayMembershipChangeSmIs(
      JoinStatusCollPtr const& joinStatusColl, LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
      LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
      LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  OverlayMembershipChangeSm(JoinStatusCollPtr const& joinStatusColl,
                            LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
                            LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                            LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  ~OverlayMembershipChangeSm() override;

  JoinStatusCollPtr joinStatusColl() const;
  LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus() const noexcept { return mcastIrbStatus_; }
  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus() const noexcept {
    return tunnelVlanGroupStatus_;
  }
  LocalMembershipChangeSm::ChangeSetPtr const& changeSet() const noexcept { return changeSet_; }
  bool initialized() const noexcept { return initialized_; }
  void initializedIs(bool initialized) noexcept { initialized_ = initialized; }

  TrackerColl const& localSm() const noexcept { return localSm_; }
  TrackerPtr localSm(Vorn::String const& name) const;
  TrackerColl const& peerSm() const noexcept { return peerSm_; }
  TrackerPtr peerSm(Vorn::String const& name) const;

  // Tear down the tracker of `name` (its content reported) and, if the
  // collection still holds a status of that name, build a new one.
  void handleLocalMembership(Vorn::String name);
  void handlePeerMembership(Vorn::String name);
  // The start-up sweep: local statuses first, then peers; sets `initialized`.
  void handleInitialized();

  // The tracker under the status's name: built from these arguments, or the
  // existing one when it was built from the very same arguments. Other
  // arguments raise ReinstantiationException; a null status raises
  // MutatorNullArgumentException.
  TrackerPtr localSmIs(Mode mode, LocalMembershipChangeSm::StatusPtr const& status,
                       LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
                       LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                       LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  TrackerPtr peerSmIs(Mode mode, LocalMembershipChangeSm::StatusPtr const& status,
                      LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
                      LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                      LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  // Removes the tracker; dropping the result destroys it (and reports it).
  TrackerPtr localSmDel(Vorn::String name);
  TrackerPtr peerSmDel(Vorn::String name);
  void localSmDelAll();
  void peerSmDelAll();
  // Takes the collection reactor out; the trackers stay.
  JoinStatusCollPtr joinStatusCollDel();

  // Switches the collection reactor and the local trackers; the peer
  // trackers keep the state they were built with.
  void hasNotificationActiveIs(bool active) override;
  void vornDoZombieReactors(bool zombie);
  bool isZombie() const noexcept { return zombie_; }
  char const* fwkType() const override { return "Irb::Multicast::Egress::OverlayMembershipChangeSm"; }

 private:
  TrackerPtr trackerIs(TrackerColl& coll, char const* attribute, char const* nullText, Mode mode,
                       LocalMembershipChangeSm::StatusPtr const& status,
                       LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
                       LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                       LocalMembershipChangeSm::ChangeSetPtr const& changeSet);

  Vorn::Ptr<VornJoinStatusColl> joinStatusColl_;
  LocalMembershipChangeSm::IrbStatusPtr mcastIrbStatus_;
  LocalMembershipChangeSm::TunnelStatusPtr tunnelVlanGroupStatus_;
  LocalMembershipChangeSm::ChangeSetPtr changeSet_;
  TrackerColl localSm_;
  TrackerColl peerSm_;
  bool initialized_ = false;
  bool zombie_ = false;
};

Vorn::Ptr<OverlayMembershipChangeSm> overlayMembershipChangeSmFactory(
    OverlayMembershipChangeSm::JoinStatusCollPtr const& joinStatusColl,
    LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
    LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet);

// Follows both collections of the status collection into the owner's rebuilds.
class OverlayMembershipChangeSm::VornJoinStatusColl : public Vorn::NotifieeConstOf<MembershipJoinStatusColl> {
 public:
  VornJoinStatusColl(JoinStatusCollPtr const& coll, OverlayMembershipChangeSm* owner);
  ~VornJoinStatusColl() override;

  OverlayMembershipChangeSm* owner() const noexcept { return owner_; }
  void ownerIs(OverlayMembershipChangeSm* owner) noexcept { owner_ = owner; }

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  char const* fwkType() const override {
    return "Irb::Multicast::Egress::OverlayMembershipChangeSm::VornJoinStatusColl";
  }

 private:
  OverlayMembershipChangeSm* owner_;
};

}  // namespace Irb::Multicast::Egress
