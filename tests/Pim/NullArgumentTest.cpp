// Null arguments to the mutators of the input entities the library observes:
// each raises Vorn::MutatorNullArgumentException naming the entity type and
// the attribute, leaves the collection as it was (same size, same object
// under the existing key) and notifies no observer. (The library's own
// mutators are checked the same way next to their state machines.)
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Keel/TaskScheduler.h"
#include "Pim/L3InjectSm.h"
#include "Pim/VpnInjectSm.h"
#include "Vorn/Exception.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"
#include "support/Inputs.h"
#include "support/Recorder.h"

namespace {

using namespace TestSupport;
using Irb::Multicast::SbdToVlanStatus;
using Irb::Multicast::SbdVlanState;
using Irb::Multicast::Gmp::GroupMembershipJoin;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::SourceMembershipJoin;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::VlanToMulticastGroup;

struct Case {
  std::string type;
  std::string attribute;
  std::function<void()> callWithNull;
  std::function<void const*()> existing;   // the object held under the existing key
  std::function<std::size_t()> size;
  std::function<std::size_t()> notifications;
};

// A case on `entity`, holding `element` under its key beforehand.
template <class Entity, class KeyType>
Case caseOf(std::string type, std::string attribute, Vorn::Ptr<Entity> const& entity, std::function<void()> call,
            std::function<void const*()> existing, std::function<std::size_t()> size) {
  auto recorder = Recorder<Entity, KeyType>::on(entity);
  return Case{std::move(type), std::move(attribute), std::move(call), std::move(existing), std::move(size),
              [recorder] { return recorder->events.size(); }};
}

std::vector<Case> cases() {
  std::vector<Case> out;

  auto status = MembershipJoinStatus::membershipJoinStatusIs("local");
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  auto vlan = status->vlanMutable(10);
  auto group = vlan->groupMutable(addr("239.1.1.1"));
  out.push_back(caseOf<MembershipJoinStatus, Bridging::VlanId>(
      "Irb::Multicast::Gmp::MembershipJoinStatus", "vlan", status, [status] { status->vlanIs(nullptr); },
      [status] { return static_cast<void const*>(status->vlan(10).ptr()); }, [status] { return status->vlan().size(); }));
  out.push_back(caseOf<VlanMembershipJoin, Wirl::IpGenAddr>(
      "Irb::Multicast::Gmp::VlanMembershipJoin", "group", vlan, [vlan] { vlan->groupIs(nullptr); },
      [vlan] { return static_cast<void const*>(vlan->group(addr("239.1.1.1")).ptr()); },
      [vlan] { return vlan->group().size(); }));
  out.push_back(caseOf<GroupMembershipJoin, Wirl::IpGenAddr>(
      "Irb::Multicast::Gmp::GroupMembershipJoin", "source", group, [group] { group->sourceIs(nullptr); },
      [group] { return static_cast<void const*>(group->source(addr("10.0.0.1")).ptr()); },
      [group] { return group->source().size(); }));

  auto tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  out.push_back(caseOf<IpTunnelVlanGroupStatus, Routing::Multicast::OverlayVlanGroup>(
      "Routing::Multicast::IpTunnelVlanGroupStatus", "vlanToMulticastGroup", tunnel,
      [tunnel] { tunnel->vlanToMulticastGroupIs(nullptr); },
      [tunnel] { return static_cast<void const*>(tunnel->vlanToMulticastGroup(key(10, "239.1.1.1")).ptr()); },
      [tunnel] { return tunnel->vlanToMulticastGroup().size(); }));

  auto sbd = SbdToVlanStatus::sbdToVlanStatusIs();
  auto state = SbdVlanState::sbdVlanStateIs(4000);
  state->vlanIdIs(10);
  sbd->sbdVlanStateIs(state);
  out.push_back(caseOf<SbdToVlanStatus, Bridging::VlanId>(
      "Irb::Multicast::SbdToVlanStatus", "sbdVlanState", sbd, [sbd] { sbd->sbdVlanStateIs(nullptr); },
      [sbd] { return static_cast<void const*>(sbd->sbdVlanState(4000).ptr()); },
      [sbd] { return sbd->sbdVlanState().size(); }));
  return out;
}

TEST(NullArgument, EntityMutatorsRaiseNamingTypeAndAttributeAndChangeNothing) {
  for (Case const& c : cases()) {
    SCOPED_TRACE(c.type + "::" + c.attribute);
    void const* const before = c.existing();
    ASSERT_NE(before, nullptr);
    std::size_t const size = c.size();
    try {
      c.callWithNull();
      ADD_FAILURE() << "no exception";
    } catch (Vorn::MutatorNullArgumentException const& e) {
      EXPECT_EQ(e.type(), c.type);
      EXPECT_EQ(e.attribute(), c.attribute);
    }
    EXPECT_EQ(c.size(), size);
    EXPECT_EQ(c.existing(), before);
    EXPECT_EQ(c.notifications(), 0u);
  }
}

// Without a status table a path's Join writer would fail at its first Join:
// both paths refuse a null table when they are built, and a running path
// refuses to re-point its writer or dedup table to nothing.
TEST(NullArgument, PathsRefuseANullStatusTableOrDedupNotifiee) {
  auto local = MembershipJoinStatus::membershipJoinStatusIs("local");
  auto tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  EXPECT_THROW(Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, nullptr),
               Vorn::MutatorNullArgumentException);

  auto scheduler = Vorn::make<Keel::TaskScheduler>();
  auto coll = Irb::Multicast::Egress::membershipJoinStatusCollFactory();
  EXPECT_THROW(Irb::Multicast::Egress::vpnInjectSmFactory(scheduler, coll, tunnel, nullptr, nullptr),
               Vorn::MutatorNullArgumentException);
  EXPECT_TRUE(scheduler->idle());

  auto gmp = Routing::Gmp::Brim::Status::statusIs();
  auto l3 = Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, gmp);
  auto const writer = l3->underlayInjectNotifiee();
  EXPECT_THROW(l3->underlayInjectNotifieeIs(nullptr), Vorn::MutatorNullArgumentException);
  EXPECT_THROW(l3->underlayInjectDedupTableIs(nullptr), Vorn::MutatorNullArgumentException);
  EXPECT_EQ(l3->underlayInjectNotifiee(), writer);
  EXPECT_EQ(writer->gmpStatus(), gmp);
}

}  // namespace
