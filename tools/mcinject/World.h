// World — the inputs of the library as the scenario program keeps them, and
// the one inject path that may run on them.
//
// OVERVIEW
//   The World creates every input with the state model's factories and keeps
//   a non-const Ptr to each entity it creates: the local and peer membership
//   join statuses (by name, also held by the membership join status
//   collection), the IP tunnel VLAN group status, the IRB status, the GMP
//   status table and the task scheduler. Every change is made IN PLACE on the
//   existing objects, the way the agents that own them would: adding a group
//   to a VLAN entry changes that entry object; a level that is missing is
//   built with what the change gives and attached in one change.
//
// GUARANTEES
//   - `...Problem` answers, without changing anything, why the matching
//     removal cannot be applied; the removal itself then cannot fail.
//   - Destroying the World drops the running path first, so its teardown
//     runs against inputs that still exist.
//
// WARNING
//   Single event thread. Changes notify the running path synchronously.
//
// TYPICAL USAGE
//   World w;  w.membershipIs(path);  w.pathIs(PathKind::l3, "local");  w.settle();
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Brim/Status.h"
#include "Command.h"
#include "Keel/TaskScheduler.h"
#include "Paths.h"
#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Vorn/Ptr.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"

namespace Mcinject {

class World {
 public:
  using StatusMap = std::map<std::string, Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus>>;

  // Slices `settle` runs at most before it gives up on a scheduler that never
  // becomes idle.
  static constexpr std::size_t kSettleSliceLimit = 10000000;

  World();
  ~World();
  World(World const&) = delete;
  World& operator=(World const&) = delete;

  // ---- inputs ----------------------------------------------------------------
  StatusMap const& statuses(Side side) const { return side == Side::local ? local_ : peer_; }
  Irb::Multicast::Egress::MembershipJoinStatusColl const& membershipColl() const { return *coll_; }
  Routing::Multicast::IpTunnelVlanGroupStatus const& tunnelVlanGroupStatus() const { return *tunnel_; }
  Irb::Multicast::McastIrbStatus const& mcastIrbStatus() const { return *irb_; }
  Routing::Gmp::Brim::Status const& gmpStatus() const { return *gmp_; }
  Keel::TaskScheduler const& scheduler() const { return *scheduler_; }

  // Ensures every level `path` names exists, adding the interfaces.
  void membershipIs(MembershipPath const& path);
  std::optional<std::string> membershipDelProblem(MembershipPath const& path) const;
  // Removes the deepest level `path` names. Precondition: no problem.
  void membershipDel(MembershipPath const& path);

  // Ensures the mapping exists and, with a route, lists it.
  void mapIs(MapIs const& map);
  std::optional<std::string> mapDelProblem(MapDel const& map) const;
  // Removes the route from the mapping, or the mapping. Precondition: no problem.
  void mapDel(MapDel const& map);

  void sbdIs(SbdIs const& sbd);
  std::optional<std::string> sbdDelProblem(SbdDel const& sbd) const;
  void sbdDel(SbdDel const& sbd);

  // Writes the entry with value 1 straight into the status table.
  void gmpIs(GmpIs const& gmp);
  // Arms the table so that its next read reports a corruption.
  void corruptIs(Table table);
  std::uint32_t corruptions(Table table) const;

  // ---- the path --------------------------------------------------------------
  InjectPath const* path() const { return path_.get(); }
  std::optional<std::string> pathProblem(Start const& start) const;
  // Starts a path; for L3 the local status `localName`, created empty when
  // missing. Precondition: no problem.
  void pathIs(Start const& start);
  // Drops the running path (its teardown runs). Precondition: one runs.
  void pathDel();

  // ---- scheduling ------------------------------------------------------------
  bool held() const noexcept { return held_; }
  void heldIs(bool held) noexcept { held_ = held; }
  void budgetIs(std::uint32_t items) { scheduler_->itemBudgetIs(items); }
  // Runs up to `slices` task slices; returns how many ran.
  std::size_t step(std::uint32_t slices) { return scheduler_->runUntilIdle(slices); }
  // Unless held: runs the scheduler until it is idle. False when it is still
  // busy after kSettleSliceLimit slices.
  [[nodiscard]] bool settle();

 private:
  Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> status(Side side, std::string const& name) const;
  void statusIs(Side side, Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> const& status);

  Vorn::Ptr<Keel::TaskScheduler> scheduler_;
  Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl> coll_;
  StatusMap local_;
  StatusMap peer_;
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> tunnel_;
  Vorn::Ptr<Irb::Multicast::McastIrbStatus> irb_;
  Vorn::Ptr<Routing::Gmp::Brim::Status> gmp_;
  std::unique_ptr<InjectPath> path_;  // declared last: destroyed first
  bool held_ = false;
};

}  // namespace Mcinject
