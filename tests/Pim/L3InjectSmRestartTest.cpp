// Restart equivalence of the L3 inject path under random input changes: after
// every change the running path holds exactly the Joins that a fresh instance
// on the same inputs writes, and that the reference model calls for. A failing
// seed is reported with the changes that led to it and replays as it is.
#include "Pim/L3InjectSm.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/Inputs.h"
#include "support/L3Fixture.h"
#include "support/ReferenceModel.h"

namespace {

using namespace TestSupport;
using Irb::Multicast::Egress::L3InjectSm;
using Irb::Multicast::Gmp::GroupMembershipJoin;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::UnderlayRoute;
using Routing::Multicast::VlanToMulticastGroup;

constexpr unsigned short kVlans[] = {10, 20};
// Membership groups: specific ones of both families and both wildcards.
constexpr char const* kGroups[] = {"239.1.1.1", "239.1.1.2", "0.0.0.0", "::", "ff3e::1"};
// Mapping keys add the group of no family (whole VLAN).
constexpr char const* kMapGroups[] = {"", "239.1.1.1", "239.1.1.2", "0.0.0.0", "::", "ff3e::1"};

std::vector<UnderlayRoute> routePool() {
  return {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.1"), route("10.0.0.3", "225.1.1.3"),
          route("2001:db8::1", "ff3e::225")};
}

class L3InjectSmRestart : public L3Fixture {
 protected:
  template <class T, std::size_t N>
  T pick(T const (&from)[N]) {
    return from[std::uniform_int_distribution<std::size_t>(0, N - 1)(rng_)];
  }
  UnderlayRoute pickRoute() {
    auto const pool = routePool();
    return pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(rng_)];
  }
  bool coin(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }

  // A new VLAN entry object for `vlan`: the present groups, each kept or
  // dropped, plus maybe one more.
  Vorn::Ptr<VlanMembershipJoin> reshapedEntry(unsigned short vlan, VlanMembershipJoin const* present) {
    auto entry = VlanMembershipJoin::vlanMembershipJoinIs(vlan);
    if (present) {
      for (auto const& g : present->group())
        if (coin(70)) entry->groupIs(GroupMembershipJoin::groupMembershipJoinIs(g.first));
    }
    if (coin(50)) entry->groupIs(GroupMembershipJoin::groupMembershipJoinIs(addr(pick(kGroups))));
    return entry;
  }

  Vorn::Ptr<VlanToMulticastGroup> reshapedMapping(unsigned short vlan, char const* group,
                                                   VlanToMulticastGroup const* present) {
    auto m = VlanToMulticastGroup::vlanToMulticastGroupIs(key(vlan, group));
    if (present) {
      for (auto const& r : present->multicastGroup())
        if (coin(70)) m->multicastGroupIs(r);
    }
    if (coin(50)) m->multicastGroupIs(pickRoute());
    return m;
  }

  // One random change of the inputs; returns what it did.
  std::string change(L3InjectSm& sm) {
    std::ostringstream what;
    unsigned short const vlan = pick(kVlans);
    switch (std::uniform_int_distribution<int>(0, 12)(rng_)) {
      case 0:
      case 1: {
        char const* g = pick(kGroups);
        join(*local, vlan, g);
        what << "join " << vlan << " " << g;
        break;
      }
      case 2: {
        char const* g = pick(kGroups);
        leave(*local, vlan, g);
        what << "leave " << vlan << " " << g;
        break;
      }
      case 3:
        leave(*local, vlan);
        what << "remove VLAN entry " << vlan;
        break;
      case 4:
        join(*local, vlan);
        what << "add VLAN entry " << vlan;
        break;
      case 5: {
        local->vlanIs(reshapedEntry(vlan, local->vlan(vlan).ptr()));
        what << "replace VLAN entry " << vlan;
        break;
      }
      case 6:
      case 7: {
        char const* g = pick(kMapGroups);
        auto const r = pickRoute();
        map(*tunnel, vlan, g, {r});
        what << "map " << vlan << " '" << g << "' + " << r;
        break;
      }
      case 8: {
        char const* g = pick(kMapGroups);
        auto const r = pickRoute();
        if (auto m = tunnel->vlanToMulticastGroupMutable(key(vlan, g))) m->multicastGroupDel(r);
        what << "map " << vlan << " '" << g << "' - " << r;
        break;
      }
      case 9: {
        char const* g = pick(kMapGroups);
        unmap(*tunnel, vlan, g);
        what << "unmap " << vlan << " '" << g << "'";
        break;
      }
      case 10: {
        char const* g = pick(kMapGroups);
        tunnel->vlanToMulticastGroupIs(reshapedMapping(vlan, g, tunnel->vlanToMulticastGroup(key(vlan, g)).ptr()));
        what << "replace mapping " << vlan << " '" << g << "'";
        break;
      }
      case 11: {
        // The host hands over another membership status object: entries
        // shared, copied or reshaped.
        auto other = MembershipJoinStatus::membershipJoinStatusIs("local");
        for (auto const& e : local->vlan()) {
          if (coin(20)) continue;
          other->vlanIs(coin(50) ? e.second : reshapedEntry(e.first.value(), e.second.ptr()));
        }
        sm.membershipJoinStatusIs(other);
        local = other;
        what << "replace membership status";
        break;
      }
      default: {
        auto other = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
        for (auto const& m : tunnel->vlanToMulticastGroup()) {
          if (coin(20)) continue;
          OverlayKeyText const k(m.first);
          other->vlanToMulticastGroupIs(coin(50) ? m.second
                                                 : reshapedMapping(k.vlan, k.group.c_str(), m.second.ptr()));
        }
        sm.tunnelVlanGroupStatusIs(other);
        tunnel = other;
        what << "replace tunnel status";
        break;
      }
    }
    return what.str();
  }

  struct OverlayKeyText {
    explicit OverlayKeyText(Routing::Multicast::OverlayVlanGroup const& k)
        : vlan(k.vlanId().value()),
          group(k.groupAddr().af() == Wirl::AddressFamily::none ? "" : k.groupAddr().stringValue()) {}
    unsigned short vlan;
    std::string group;
  };

  void runSeed(unsigned seed, int steps) {
    rng_.seed(seed);
    // Leftovers of an earlier run, some of them wanted again.
    gmp->membershipIs({starG("225.1.1.1", 10), 1});
    gmp->membershipIs({joinKey("10.9.9.9", "225.9.9.9", 20), 1});
    {
      // Some inputs before the start (the changes need a path to hand statuses to).
      auto scratch = Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, Routing::Gmp::Brim::Status::statusIs());
      for (int i = 0; i < 10; ++i) change(*scratch);
    }
    auto sm = start();
    std::vector<std::string> history;
    for (int step = 0; step < steps; ++step) {
      history.push_back(change(*sm));
      auto const running = current();
      auto const fresh = freshJoins();
      auto const model = l3ModelJoins(local.ptr(), *tunnel, modelStarG());
      if (running != fresh || running != model) {
        std::ostringstream os;
        os << "seed " << seed << ", step " << step << ":";
        for (auto const& h : history) os << "\n  " << h;
        ADD_FAILURE() << os.str() << "\n running " << running.size() << " Joins, fresh " << fresh.size()
                      << ", model " << model.size();
        return;
      }
    }
    sm = nullptr;
    EXPECT_TRUE(gmp->entries().empty()) << "seed " << seed << ": Joins left after teardown";
  }

  std::mt19937 rng_;
};

TEST_F(L3InjectSmRestart, RunningPathMatchesAFreshStartAfterEveryChange) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    runSeed(seed, 400);
    if (HasFailure()) return;
    local = MembershipJoinStatus::membershipJoinStatusIs("local");
    tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
    gmp = Routing::Gmp::Brim::Status::statusIs();
  }
}

}  // namespace
