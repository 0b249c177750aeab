// Irb::Multicast::Egress::L3InjectSm — the L3 tunnel inject path.
//
// OVERVIEW
//   Given the switch's own membership join status, the IP tunnel VLAN group
//   status (overlay VLAN group -> underlay routes) and the underlay GMP status
//   table, the state machine keeps one Join in the table for every underlay
//   route of every mapping whose overlay VLAN group has local members (SMET).
//     VornVlanToMulticastGroup  one per mapping; holds `smet` and one dedup
//                               handle per route that has a Join.
//     VornVlanMembership        one per VLAN entry of the membership status;
//                               keeps `smet` of the mapping reactors in step.
//   Joins are dedup handles of the path's own MembershipDedupTable, written
//   by its Join writer (MembershipDedupedLifetimeNotifiee).
//
// GUARANTEES
//   - Construction is the whole start-up: mappings first, then VLAN entries,
//     then the stale cleanup, which removes every status-table entry whose key
//     this instance does not hold (wanted entries are never deleted), in key
//     order. When nobody else changed the table during start-up, it looks
//     only at the entries the table held before the first Join (the others
//     are this instance's Joins); otherwise it walks the table. A corruption
//     raised while reading the table goes to its doCorruptionDetected;
//     `initialized()` is true afterwards in every case.
//   - Once changes stop, the Joins held equal those a fresh instance on the
//     same inputs writes (also across removed VLAN entries, re-pointed objects
//     and mappings keyed by a non-specific group, which are VLAN-wide).
//   - Dropping the last reference withdraws every Join of this path before
//     the dedup table goes.
//
// WARNING
//   Single event thread; handlers run synchronously inside the inputs'
//   mutators. `underlayGmpStatus` must be set. After membershipJoinStatusDel /
//   tunnelVlanGroupStatusDel the per-item reactors stay and keep their Joins.
//   A reactor's `underlayRoute()` collection is not a Vorn collection: a
//   change invalidates iterations over it (see VornUnderlayRoute).
//
// TYPICAL USAGE
//   auto sm = l3InjectSmFactory(localStatus, tunnelVlanGroupStatus, gmpStatus);
//   ...   // inputs change, Joins follow
//   sm = nullptr;   // Joins withdrawn
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <type_traits>
#include <utility>
#include <vector>

#include "Brim/MembershipDedupTable.h"
#include "Brim/Status.h"
#include "Pim/join/JoinProvenance.h"
#include "Pim/join/MembershipDedupedLifetimeNotifiee.h"
#include "Pim/join/VornUnderlayRoute.h"
#include "Vorn/Collection.h"
#include "Vorn/Notifiee.h"
#include "Vorn/Ptr.h"
#include "model/Bridging.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/MembershipJoinStatus.h"
#include "model/RoutingTypes.h"
#include "model/Wirl.h"

namespace Irb::Multicast::Egress {

class L3InjectSm : public Vorn::PtrInterface {
 private:
  struct StartUpTable;

 public:
  using MembershipJoinStatusPtr = Vorn::Ptr<Gmp::MembershipJoinStatus const>;
  using TunnelVlanGroupStatusPtr = Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const>;
  using GmpStatusPtr = Vorn::Ptr<Routing::Gmp::Brim::Status>;

  // ---- input reactors ---------------------------------------------------------

  // Keeps `vornVlanMembership` in step with the VLAN entries of the status.
  class VornMembershipJoinStatus : public Vorn::NotifieeConstOf<Gmp::MembershipJoinStatus> {
   public:
    VornMembershipJoinStatus(MembershipJoinStatusPtr const& notifier, L3InjectSm* l3InjectSm);
    ~VornMembershipJoinStatus() override;

    void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
    // Re-points to another status and resynchronises the VLAN reactors with it.
    void notifierIs(MembershipJoinStatusPtr const& notifier) override;
    void ownerIs(L3InjectSm* sm) noexcept { l3InjectSm_ = sm; }
    L3InjectSm* l3InjectSm() const noexcept { return l3InjectSm_; }
    char const* fwkType() const override {
      return "Irb::Multicast::Egress::L3InjectSm::VornMembershipJoinStatus";
    }

   private:
    L3InjectSm* l3InjectSm_;
  };

  // Keeps `vornVlanToMulticastGroup` in step with the mappings of the status.
  class VornTunnelVlanGroupStatus : public Vorn::NotifieeConstOf<Routing::Multicast::IpTunnelVlanGroupStatus> {
   public:
    VornTunnelVlanGroupStatus(TunnelVlanGroupStatusPtr const& notifier, L3InjectSm* l3InjectSm);
    ~VornTunnelVlanGroupStatus() override;

    void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
    void notifierIs(TunnelVlanGroupStatusPtr const& notifier) override;
    void ownerIs(L3InjectSm* sm) noexcept { l3InjectSm_ = sm; }
    L3InjectSm* l3InjectSm() const noexcept { return l3InjectSm_; }
    char const* fwkType() const override {
      return "Irb::Multicast::Egress::L3InjectSm::VornTunnelVlanGroupStatus";
    }

   private:
    L3InjectSm* l3InjectSm_;
  };

  // ---- per-mapping reactor -------------------------------------------------------

  // Decides the Joins of one mapping: while `smet`, one dedup handle per route
  // of the mapping's `multicastGroup`; otherwise none.
  class VornVlanToMulticastGroup : public Vorn::NotifieeConstOf<Routing::Multicast::VlanToMulticastGroup> {
   public:
    using UnderlayRouteColl = VornUnderlayRoute;

    VornVlanToMulticastGroup(Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup const> const& notifier,
                             L3InjectSm* l3InjectSm);
    ~VornVlanToMulticastGroup() override;

    bool smet() const noexcept { return smet_; }
    void smetIs(bool smet);

    void handleInit();
    void handleSmetUpdate();
    void handleMulticastGroup(Routing::Multicast::UnderlayRoute const& underlayRouteInfo);
    void handleDel();

    UnderlayRouteColl const& underlayRoute() const noexcept { return underlayRoute_; }
    Vorn::Ptr<Routing::Gmp::MembershipDeduped const> underlayRoute(Routing::Multicast::UnderlayRoute const& r) const;
    // Inserts or replaces the handle of `r` (the old one is released); null removes.
    void underlayRouteIs(Routing::Multicast::UnderlayRoute const& r,
                         Vorn::Ptr<Routing::Gmp::MembershipDeduped const> const& handle);
    Vorn::Ptr<Routing::Gmp::MembershipDeduped const> underlayRouteDel(Routing::Multicast::UnderlayRoute const& r);
    void underlayRouteDelAll();

    // Re-points to another object of the same key: the routes that differ
    // between the two go through handleMulticastGroup; equal content runs
    // nothing. handleInit does not run again.
    void notifierIs(Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup const> const& notifier) override;
    void vlanToMulticastGroupIs(Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup const> const& notifier) {
      notifierIs(notifier);
    }
    Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup const> vlanToMulticastGroup() const { return notifier(); }

    void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
    void vornDoZombieReactors(bool zombie) override;

    // The mapping's key, or the null key without a notifier.
    Routing::Multicast::OverlayVlanGroup overlayVlanGroup() const;
    Routing::Multicast::OverlayVlanGroup fwkKey() const { return overlayVlanGroup(); }
    L3InjectSm* l3InjectSm() const noexcept { return l3InjectSm_; }
    void ownerIs(L3InjectSm* sm) noexcept { l3InjectSm_ = sm; }

    char const* fwkType() const override {
      return "Irb::Multicast::Egress::L3InjectSm::VornVlanToMulticastGroup";
    }

   private:
    // handleMulticastGroup once it is known whether the mapping lists the route.
    void routeIs(Routing::Multicast::UnderlayRoute const& underlayRouteInfo, bool found);

    L3InjectSm* l3InjectSm_;
    bool smet_ = false;
    UnderlayRouteColl underlayRoute_;
  };

  // ---- per-VLAN SMET reactor -------------------------------------------------------

  // Sets `smet` of the mapping reactors of its VLAN from the VLAN entry: the
  // VLAN-wide mappings (group of no family, 0.0.0.0, ::) while the entry
  // exists, a specific group's mapping while the entry lists that group.
  class VornVlanMembership : public Vorn::NotifieeConstOf<Gmp::VlanMembershipJoin> {
   public:
    VornVlanMembership(Vorn::Ptr<Gmp::VlanMembershipJoin const> const& notifier, L3InjectSm* l3InjectSm);
    ~VornVlanMembership() override;

    void handleVlanMembership();
    void handleVlanDel();
    void handleGroup();
    void handleGroup(Wirl::IpGenAddr const& groupAddr);

    // Re-points to another entry of the same VLAN: the groups present in only
    // one of the two go through handleGroup; equal content runs nothing.
    void notifierIs(Vorn::Ptr<Gmp::VlanMembershipJoin const> const& notifier) override;
    void vlanMembershipIs(Vorn::Ptr<Gmp::VlanMembershipJoin const> const& notifier) { notifierIs(notifier); }
    Vorn::Ptr<Gmp::VlanMembershipJoin const> vlanMembership() const { return notifier(); }

    void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
    void vornDoZombieReactors(bool zombie) override;

    // The entry's VLAN, or 1 without a notifier.
    Bridging::VlanId vlanId() const;
    Bridging::VlanId fwkKey() const { return vlanId(); }
    L3InjectSm* l3InjectSm() const noexcept { return l3InjectSm_; }
    void ownerIs(L3InjectSm* sm) noexcept { l3InjectSm_ = sm; }

    char const* fwkType() const override { return "Irb::Multicast::Egress::L3InjectSm::VornVlanMembership"; }

   private:
    // Sets `smet` of the mapping reactor(s) a group event of `groupAddr`
    // concerns; true when that changed one (handlers ran).
    bool groupSmetIs(Wirl::IpGenAddr const& groupAddr, bool exists);

    L3InjectSm* l3InjectSm_;
  };

  using VornVlanToMulticastGroupColl =
      Vorn::KeyedMap<Routing::Multicast::OverlayVlanGroup, Vorn::Ptr<VornVlanToMulticastGroup>>;
  using VornVlanMembershipColl = Vorn::KeyedMap<Bridging::VlanId, Vorn::Ptr<VornVlanMembership>>;

  // ---- creation ---------------------------------------------------------------------

  // Allocates, constructs (the whole start-up) and switches notification on.
  static Vorn::Ptr<L3InjectSm> L3InjectSmIs(MembershipJoinStatusPtr const& membershipJoinStatus,
                                            TunnelVlanGroupStatusPtr const& tunnelVlanGroupStatus,
                                            GmpStatusPtr const& underlayGmpStatus);

  L3InjectSm(MembershipJoinStatusPtr const& membershipJoinStatus,
             TunnelVlanGroupStatusPtr const& tunnelVlanGroupStatus, GmpStatusPtr const& underlayGmpStatus);
  ~L3InjectSm() override;

  // ---- inputs ---------------------------------------------------------------------------

  MembershipJoinStatusPtr membershipJoinStatus() const;
  TunnelVlanGroupStatusPtr tunnelVlanGroupStatus() const;
  // Observes `status` (the host re-points the role to another object): the
  // VLAN reactors are resynchronised with it. Null raises
  // MutatorNullArgumentException; use membershipJoinStatusDel to detach.
  void membershipJoinStatusIs(MembershipJoinStatusPtr const& status);
  void tunnelVlanGroupStatusIs(TunnelVlanGroupStatusPtr const& status);
  // Detaches the input reactor and returns the status it observed (or null).
  // The per-item reactors stay as they are.
  MembershipJoinStatusPtr membershipJoinStatusDel();
  TunnelVlanGroupStatusPtr tunnelVlanGroupStatusDel();
  Vorn::Ptr<VornMembershipJoinStatus> const& vornMembershipJoinStatus() const noexcept {
    return vornMembershipJoinStatus_;
  }
  Vorn::Ptr<VornTunnelVlanGroupStatus> const& vornTunnelVlanGroupStatus() const noexcept {
    return vornTunnelVlanGroupStatus_;
  }

  // ---- output ----------------------------------------------------------------------------

  GmpStatusPtr const& underlayGmpStatus() const noexcept { return underlayGmpStatus_; }
  Vorn::Ptr<MembershipDedupedLifetimeNotifiee> const& underlayInjectNotifiee() const noexcept {
    return underlayInjectNotifiee_;
  }
  // Creates the Join writer bound to `gmpStatus`, or re-points the existing one.
  Vorn::Ptr<MembershipDedupedLifetimeNotifiee> underlayInjectNotifieeIs(GmpStatusPtr const& gmpStatus);
  void underlayInjectNotifieeDel() { underlayInjectNotifiee_ = nullptr; }
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const& underlayInjectDedupTable() const noexcept {
    return underlayInjectDedupTable_;
  }
  // Creates the dedup table around `lifetimeNotifiee`; kept when the existing
  // table already has that notifiee.
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> underlayInjectDedupTableIs(
      Vorn::Ptr<Keel::DedupHashTableLifeTimeNotifiee> const& lifetimeNotifiee);
  void underlayInjectDedupTableDel() { underlayInjectDedupTable_ = nullptr; }

  // ---- reactor collections ------------------------------------------------------------------

  VornVlanToMulticastGroupColl const& vornVlanToMulticastGroup() const noexcept { return vornVlanToMulticastGroup_; }
  // The reactor of `key`, or null. Found from where the last lookup ended
  // when it is a step or two on (a run of ascending keys), else by a search.
  Vorn::Ptr<VornVlanToMulticastGroup> vornVlanToMulticastGroup(Routing::Multicast::OverlayVlanGroup const& key) const;
  Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup const> vlanToMulticastGroup(
      Routing::Multicast::OverlayVlanGroup const& key) const;
  // Creates the mapping's reactor (which runs its start-up) or re-points the
  // existing one. Null raises MutatorNullArgumentException and changes nothing.
  void vlanToMulticastGroupIs(Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup const> const& mapping);
  // Removes the reactor after its final pass (its Joins withdrawn); returns
  // the mapping it observed, or null.
  Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup const> vlanToMulticastGroupDel(
      Routing::Multicast::OverlayVlanGroup const& key);
  void vlanToMulticastGroupDelAll();

  VornVlanMembershipColl const& vornVlanMembership() const noexcept { return vornVlanMembership_; }
  Vorn::Ptr<VornVlanMembership> vornVlanMembership(Bridging::VlanId key) const;
  Vorn::Ptr<Gmp::VlanMembershipJoin const> vlanMembership(Bridging::VlanId key) const;
  void vlanMembershipIs(Vorn::Ptr<Gmp::VlanMembershipJoin const> const& entry);
  Vorn::Ptr<Gmp::VlanMembershipJoin const> vlanMembershipDel(Bridging::VlanId key);
  void vlanMembershipDelAll();

  // ---- queries and handlers ---------------------------------------------------------------------

  // Whether the local membership status calls for `group` on `vlanId`: the
  // VLAN has an entry and either the group is not specific (no family or a
  // wildcard) or the entry lists exactly that group. False without a status.
  bool membershipJoinStatusLookup(Bridging::VlanId vlanId, Wirl::IpGenAddr const& group) const;

  // Why the Join of `key` is held or not (see Pim/join/JoinProvenance.h).
  JoinProvenance joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const;
  InjectCounters counters() const;

  // Stale Join cleanup: removes every status-table entry whose key the dedup
  // table does not hold, walking the whole table (start-up runs it through
  // a cheaper route that has the same effect, see the constructor).
  void handleInitialized();
  bool initialized() const noexcept { return initialized_; }
  void initializedIs(bool initialized) noexcept { initialized_ = initialized; }

  // Final passes the reactors run through their owner.
  void vorn_handleVlanToMulticastGroup(Vorn::Ptr<VornVlanToMulticastGroup> const& reactor);
  void vorn_handleVlanMembership(Vorn::Ptr<VornVlanMembership> const& reactor);

  // Switches notification of the whole tree (inputs' reactors and every
  // per-item reactor).
  void hasNotificationActiveIs(bool active) override;
  // Marks the whole tree for deletion (the per-item reactors run their final
  // pass), or unmarks it.
  void vornDoZombieReactors(bool zombie);
  bool isZombie() const noexcept { return zombie_; }

  char const* fwkType() const override { return "Irb::Multicast::Egress::L3InjectSm"; }

 private:
  using ReactorMap = std::remove_cvref_t<decltype(std::declval<VornVlanToMulticastGroupColl const&>().raw())>;

  // A position in the mapping reactors, where the last lookup ended. It is
  // trusted only while no reactor has been removed since it was taken.
  struct ReactorCursor {
    ReactorMap::const_iterator at{};
    std::uint64_t removals = 0;
    bool placed = false;
  };
  // vornVlanToMulticastGroup(key) without taking a reference: for callers
  // that take one only before running a handler.
  VornVlanToMulticastGroup* reactorAt(Routing::Multicast::OverlayVlanGroup const& key) const;
  // Calls `fn(reactor)` for every mapping reactor in key order; `fn` may
  // change the collection.
  template <class Fn>
  void forEachVornVlanToMulticastGroup(Fn&& fn);

  // The stale cleanup of start-up, given what the table held before it.
  void handleInitialized(StartUpTable const& before);
  // Whether, since `before` was taken, the table changed only through this
  // path's Join writer, so that it holds the entries it held then (less those
  // the writer deleted) and the Joins of the dedup table.
  bool onlyOwnChanges(StartUpTable const& before) const;
  // The cleanup walk, from the first entry (`started` false) or from the
  // entry after `key`.
  void staleWalk(Routing::Gmp::Brim::RouteIntfKey key, bool started);
  void traceStale(Routing::Gmp::Brim::RouteIntfKey const& key) const;
  // The membership behind `reason`'s `smet` (or what is missing).
  void smetEvidence(JoinReason& reason) const;

  Vorn::Ptr<VornMembershipJoinStatus> vornMembershipJoinStatus_;
  Vorn::Ptr<VornTunnelVlanGroupStatus> vornTunnelVlanGroupStatus_;
  GmpStatusPtr underlayGmpStatus_;
  Vorn::Ptr<MembershipDedupedLifetimeNotifiee> underlayInjectNotifiee_;
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> underlayInjectDedupTable_;
  VornVlanToMulticastGroupColl vornVlanToMulticastGroup_;
  VornVlanMembershipColl vornVlanMembership_;
  std::uint64_t reactorRemovals_ = 0;  // mapping reactors removed so far
  mutable ReactorCursor finger_;       // see vornVlanToMulticastGroup(key)
  // True while every per-item reactor is switched on: they are made so, and
  // only this instance switches them off (its own switch-off, zombie marks).
  // Switching the tree on skips the reactors then.
  bool reactorsAllActive_ = true;
  std::uint64_t staleRemoved_ = 0;  // entries the start-up cleanup removed
  bool initialized_ = false;
  bool zombie_ = false;
};

// The external entry point: a running L3 inject path on the three inputs.
Vorn::Ptr<L3InjectSm> l3InjectSmFactory(L3InjectSm::MembershipJoinStatusPtr const& membershipJoinStatus,
                                        L3InjectSm::TunnelVlanGroupStatusPtr const& tunnelVlanGroupStatus,
                                        L3InjectSm::GmpStatusPtr const& underlayGmpStatus);

// Trace prefixes: "<status name>()::", then "tunnel Vlan<v> <group>::" for a
// mapping reactor, "smet Vlan<v>::" for a VLAN reactor.
std::ostream& operator<<(std::ostream& os, L3InjectSm const* sm);
std::ostream& operator<<(std::ostream& os, L3InjectSm::VornVlanToMulticastGroup const* r);
std::ostream& operator<<(std::ostream& os, L3InjectSm::VornVlanMembership const* r);

}  // namespace Irb::Multicast::Egress
