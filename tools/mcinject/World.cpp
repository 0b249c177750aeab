#include "World.h"

#include <cassert>

#include "SharedTable.h"
#include "Show.h"
#include "Text.h"

namespace Mcinject {

using Irb::Multicast::Gmp::GroupMembershipJoin;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::SourceMembershipJoin;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Multicast::VlanToMulticastGroup;

namespace {

// Builds the levels below an entry that is being created, from what `path`
// gives, so that the new entry is attached in one change.
Vorn::Ptr<SourceMembershipJoin> newSource(MembershipPath const& path) {
  auto source = SourceMembershipJoin::sourceMembershipJoinIs(*path.source);
  for (Wirl::IntfId intf : path.intfs) source->includeIntfIs(intf);
  return source;
}

Vorn::Ptr<GroupMembershipJoin> newGroup(MembershipPath const& path) {
  auto group = GroupMembershipJoin::groupMembershipJoinIs(*path.group);
  if (path.source) group->sourceIs(newSource(path));
  return group;
}

Vorn::Ptr<VlanMembershipJoin> newVlan(MembershipPath const& path) {
  auto vlan = VlanMembershipJoin::vlanMembershipJoinIs(*path.vlan);
  if (path.group) vlan->groupIs(newGroup(path));
  return vlan;
}

std::string statusText(MembershipPath const& path) {
  return std::string(sideName(path.side)) + " status " + Mcinject::quoted(path.name);
}

}  // namespace

World::World()
    : scheduler_(Vorn::make<Keel::TaskScheduler>()),
      coll_(Irb::Multicast::Egress::membershipJoinStatusCollFactory()),
      tunnel_(Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(
          Routing::Multicast::stringValue(Routing::Multicast::IpTunnelGroupStatusType::irbRemote))),
      irb_(Irb::Multicast::McastIrbStatus::mcastIrbStatusIs()),
      gmp_(gmpStatusForWorld()) {}

World::~World() {
  // The path's teardown withdraws its Joins and may cancel scheduled work:
  // it goes while every input it holds still exists. A shared table keeps
  // the Joins it holds now, as an agent that ends leaves them.
  gmpStatusReleased(*gmp_);
  path_.reset();
}

Vorn::Ptr<MembershipJoinStatus> World::status(Side side, std::string const& name) const {
  StatusMap const& map = statuses(side);
  auto it = map.find(name);
  return it == map.end() ? nullptr : it->second;
}

void World::statusIs(Side side, Vorn::Ptr<MembershipJoinStatus> const& status) {
  (side == Side::local ? local_ : peer_)[status->name().stdString()] = status;
  if (side == Side::local) {
    coll_->localMembershipIs(status);
  } else {
    coll_->peerMembershipIs(status);
  }
}

// ---- membership ----------------------------------------------------------------

void World::membershipIs(MembershipPath const& path) {
  assert(path.vlan && "a membership change names at least the VLAN");
  auto status = this->status(path.side, path.name);
  if (!status) {
    auto created = MembershipJoinStatus::membershipJoinStatusIs(path.name);
    created->vlanIs(newVlan(path));
    statusIs(path.side, created);
    return;
  }
  auto vlan = status->vlanMutable(*path.vlan);
  if (!vlan) {
    status->vlanIs(newVlan(path));
    return;
  }
  if (!path.group) return;
  auto group = vlan->groupMutable(*path.group);
  if (!group) {
    vlan->groupIs(newGroup(path));
    return;
  }
  if (!path.source) return;
  auto source = group->sourceMutable(*path.source);
  if (!source) {
    group->sourceIs(newSource(path));
    return;
  }
  for (Wirl::IntfId intf : path.intfs) source->includeIntfIs(intf);
}

std::optional<std::string> World::membershipDelProblem(MembershipPath const& path) const {
  auto status = this->status(path.side, path.name);
  if (!status) return statusText(path) + " does not exist";
  if (!path.vlan) {
    if (path.side == Side::local && path_ && path_->kind() == PathKind::l3 && path_->localName() == path.name) {
      return "the L3 path runs on " + statusText(path) + "; stop it first";
    }
    return std::nullopt;
  }
  auto vlan = status->vlan(*path.vlan);
  if (!vlan) return statusText(path) + " has no VLAN " + std::to_string(path.vlan->value());
  if (!path.group) return std::nullopt;
  std::string const where = "VLAN " + std::to_string(path.vlan->value()) + " of " + statusText(path);
  auto group = vlan->group(*path.group);
  if (!group) return where + " has no group " + path.group->stringValue();
  if (!path.source) return std::nullopt;
  auto source = group->source(*path.source);
  if (!source)
    return "group " + path.group->stringValue() + " of " + where + " has no source " + sourceText(*path.source);
  for (Wirl::IntfId intf : path.intfs) {
    if (!source->includeIntf(intf)) {
      return "source " + sourceText(*path.source) + " of group " + path.group->stringValue() + " in " + where +
             " does not include interface " + intf.stringValue();
    }
  }
  return std::nullopt;
}

void World::membershipDel(MembershipPath const& path) {
  assert(!membershipDelProblem(path) && "membershipDel of something that cannot be removed");
  auto status = this->status(path.side, path.name);
  if (!path.vlan) {
    if (path.side == Side::local) {
      coll_->localMembershipDel(status->name());
      local_.erase(path.name);
    } else {
      coll_->peerMembershipDel(status->name());
      peer_.erase(path.name);
    }
    return;
  }
  if (!path.group) {
    status->vlanDel(*path.vlan);
    return;
  }
  auto vlan = status->vlanMutable(*path.vlan);
  if (!path.source) {
    vlan->groupDel(*path.group);
    return;
  }
  auto group = vlan->groupMutable(*path.group);
  if (path.intfs.empty()) {
    group->sourceDel(*path.source);
    return;
  }
  auto source = group->sourceMutable(*path.source);
  for (Wirl::IntfId intf : path.intfs) source->includeIntfDel(intf);
}

// ---- mappings, SBD, status table ---------------------------------------------

void World::mapIs(MapIs const& map) {
  auto mapping = tunnel_->vlanToMulticastGroupMutable(map.key);
  if (!mapping) {
    auto created = VlanToMulticastGroup::vlanToMulticastGroupIs(map.key);
    if (map.route) created->multicastGroupIs(*map.route);
    tunnel_->vlanToMulticastGroupIs(created);
    return;
  }
  if (map.route) mapping->multicastGroupIs(*map.route);
}

std::optional<std::string> World::mapDelProblem(MapDel const& map) const {
  auto mapping = tunnel_->vlanToMulticastGroup(map.key);
  if (!mapping) return "no mapping for " + overlayText(map.key);
  if (map.route && !mapping->multicastGroup(*map.route)) {
    return "the mapping for " + overlayText(map.key) + " has no route " + routeText(*map.route);
  }
  return std::nullopt;
}

void World::mapDel(MapDel const& map) {
  assert(!mapDelProblem(map) && "mapDel of something that cannot be removed");
  if (!map.route) {
    tunnel_->vlanToMulticastGroupDel(map.key);
    return;
  }
  tunnel_->vlanToMulticastGroupMutable(map.key)->multicastGroupDel(*map.route);
}

void World::sbdIs(SbdIs const& sbd) { irb_->vlanToSbdIs({sbd.vlan, sbd.sbdVlan}); }

std::optional<std::string> World::sbdDelProblem(SbdDel const& sbd) const {
  // The plain entry list, not a read of the table: an armed corruption stays
  // for the path to find.
  auto const& entries = irb_->vlanToSbdTable().entries();
  auto const* entry = entries.find(sbd.vlan);
  if (!entry) return "VLAN " + std::to_string(sbd.vlan.value()) + " has no SBD VLAN";
  if (sbd.sbdVlan && entry->sbdVlan != *sbd.sbdVlan) {
    return "VLAN " + std::to_string(sbd.vlan.value()) + " has SBD VLAN " + std::to_string(entry->sbdVlan.value()) +
           ", not " + std::to_string(sbd.sbdVlan->value());
  }
  return std::nullopt;
}

void World::sbdDel(SbdDel const& sbd) { irb_->vlanToSbdDel(sbd.vlan); }

void World::gmpIs(GmpIs const& gmp) { gmp_->membershipIs(Routing::Gmp::Brim::Membership{gmp.key, 1}); }

void World::corruptIs(Table table) {
  if (table == Table::gmp) {
    gmp_->corruptNextReadIs(true);
  } else {
    irb_->vlanToSbdTable().corruptNextReadIs(true);
  }
}

std::uint32_t World::corruptions(Table table) const {
  return table == Table::gmp ? gmp_->corruptionsDetected() : irb_->vlanToSbdTable().corruptionsDetected();
}

// ---- the path ----------------------------------------------------------------------

std::optional<std::string> World::pathProblem(Start const&) const {
  if (path_) {
    std::string running = path_->kind() == PathKind::l3
                              ? "the L3 path (on local status " + Mcinject::quoted(path_->localName()) + ")"
                              : std::string("the VPN path");
    return running + " is already running; stop it first";
  }
  return std::nullopt;
}

void World::pathIs(Start const& start) {
  assert(!pathProblem(start) && "pathIs while a path runs");
  PathInputs in;
  in.scheduler = scheduler_;
  in.membershipColl = coll_;
  in.tunnelVlanGroupStatus = tunnel_;
  in.mcastIrbStatus = irb_;
  in.gmpStatus = gmp_;
  if (start.kind == PathKind::l3) {
    auto local = status(Side::local, start.localName);
    if (!local) {
      local = MembershipJoinStatus::membershipJoinStatusIs(start.localName);
      statusIs(Side::local, local);
    }
    in.localStatus = local;
  }
  path_ = Mcinject::pathIs(start.kind, in);
}

void World::pathDel() {
  assert(path_ && "pathDel with no path running");
  path_.reset();
}

bool World::settle() {
  if (held_ || scheduler_->idle()) return true;
  scheduler_->runUntilIdle(kSettleSliceLimit);
  return scheduler_->idle();
}

}  // namespace Mcinject
