// Null arguments to the mutators of the input entities the library observes:
// each raises Vorn::MutatorNullArgumentException naming the entity type and
// the attribute, leaves the collection as it was (same size, same object
// under the existing key) and notifies no observer. (The library's own
// mutators are checked the same way, at the end.)
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "Keel/TaskScheduler.h"
#include "Pim/l3/L3InjectSm.h"
#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Pim/vpn/VpnInjectSm.h"
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
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Routing::Multicast::IpTunnelVlanGroupStatus;

// Calls `callWithNull` on `entity` and checks the exception names `type` and
// `attribute`, and that the collection keeps its size and the object under
// the existing key (`existing`), with no notification.
template <class KeyType, class Entity, class Existing, class Size>
void expectRefused(std::string const& type, std::string const& attribute, Vorn::Ptr<Entity> const& entity,
                   std::function<void()> const& callWithNull, Existing existing, Size size) {
  SCOPED_TRACE(type + "::" + attribute);
  auto recorder = Recorder<Entity, KeyType>::on(entity);
  void const* const before = existing().ptr();
  ASSERT_NE(before, nullptr);
  std::size_t const sizeBefore = size();
  try {
    callWithNull();
    ADD_FAILURE() << "no exception";
  } catch (Vorn::MutatorNullArgumentException const& e) {
    EXPECT_EQ(e.type(), type);
    EXPECT_EQ(e.attribute(), attribute);
  }
  EXPECT_EQ(size(), sizeBefore);
  EXPECT_EQ(existing().ptr(), before);
  EXPECT_TRUE(recorder->events.empty());
}

TEST(NullArgument, EntityMutatorsRaiseNamingTypeAndAttributeAndChangeNothing) {
  auto status = MembershipJoinStatus::membershipJoinStatusIs("local");
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  auto vlan = status->vlanMutable(10);
  auto group = vlan->groupMutable(addr("239.1.1.1"));
  expectRefused<Bridging::VlanId>(
      "Irb::Multicast::Gmp::MembershipJoinStatus", "vlan", status, [&] { status->vlanIs(nullptr); },
      [&] { return status->vlan(10); }, [&] { return status->vlan().size(); });
  expectRefused<Wirl::IpGenAddr>(
      "Irb::Multicast::Gmp::VlanMembershipJoin", "group", vlan, [&] { vlan->groupIs(nullptr); },
      [&] { return vlan->group(addr("239.1.1.1")); }, [&] { return vlan->group().size(); });
  expectRefused<Wirl::IpGenAddr>(
      "Irb::Multicast::Gmp::GroupMembershipJoin", "source", group, [&] { group->sourceIs(nullptr); },
      [&] { return group->source(addr("10.0.0.1")); }, [&] { return group->source().size(); });

  auto tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  expectRefused<Routing::Multicast::OverlayVlanGroup>(
      "Routing::Multicast::IpTunnelVlanGroupStatus", "vlanToMulticastGroup", tunnel,
      [&] { tunnel->vlanToMulticastGroupIs(nullptr); }, [&] { return tunnel->vlanToMulticastGroup(key(10, "239.1.1.1")); },
      [&] { return tunnel->vlanToMulticastGroup().size(); });

  auto sbd = SbdToVlanStatus::sbdToVlanStatusIs();
  auto state = SbdVlanState::sbdVlanStateIs(4000);
  state->vlanIdIs(10);
  sbd->sbdVlanStateIs(state);
  expectRefused<Bridging::VlanId>(
      "Irb::Multicast::SbdToVlanStatus", "sbdVlanState", sbd, [&] { sbd->sbdVlanStateIs(nullptr); },
      [&] { return sbd->sbdVlanState(4000); }, [&] { return sbd->sbdVlanState().size(); });
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

// The library's own mutators refuse a null object the same way, before they
// change anything.
TEST(NullArgument, LibraryMutatorsRaiseNamingTypeAndAttribute) {
  using namespace Irb::Multicast::Egress;
  auto local = MembershipJoinStatus::membershipJoinStatusIs("local");
  join(*local, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  auto tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(
      Routing::Multicast::stringValue(Routing::Multicast::irbRemoteReduced()));
  auto irb = Irb::Multicast::McastIrbStatus::mcastIrbStatusIs();
  auto changeSet = overlayChangeSetFactory();
  auto coll = membershipJoinStatusCollFactory();
  auto l3 = l3InjectSmFactory(local, tunnel, Routing::Gmp::Brim::Status::statusIs());
  auto tracker = localMembershipChangeSmFactory(Mode::interfaceLevel, local, irb, tunnel, changeSet);
  auto vlanSm = tracker->vlanMembership(10);
  auto groupSm = vlanSm->groupMembership(addr("239.1.1.1"));
  auto overlay = overlayMembershipChangeSmFactory(coll, irb, tunnel, changeSet);
  auto sbd = sbdVlanChangeSmFactory(SbdToVlanStatus::sbdToVlanStatusIs(), tunnel, changeSet);
  struct Case {
    char const* type;
    char const* attribute;
    std::function<void()> call;
  } const cases[] = {
      {"L3InjectSm", "vlanToMulticastGroup", [&] { l3->vlanToMulticastGroupIs(nullptr); }},
      {"L3InjectSm", "vlanMembership", [&] { l3->vlanMembershipIs(nullptr); }},
      {"L3InjectSm", "membershipJoinStatus", [&] { l3->membershipJoinStatusIs(nullptr); }},
      {"L3InjectSm", "tunnelVlanGroupStatus", [&] { l3->tunnelVlanGroupStatusIs(nullptr); }},
      {"MembershipJoinStatusColl", "localMembership", [&] { coll->localMembershipIs(nullptr); }},
      {"MembershipJoinStatusColl", "peerMembership", [&] { coll->peerMembershipIs(nullptr); }},
      {"LocalMembershipChangeSm", "vlanMembership", [&] { tracker->vlanMembershipIs(nullptr); }},
      {"LocalMembershipChangeSm::VlanSm", "groupMembership", [&] { vlanSm->groupMembershipIs(nullptr); }},
      {"LocalMembershipChangeSm::VlanSm::VornGroupMembership", "sourceMembership",
       [&] { groupSm->sourceMembershipIs(nullptr); }},
      {"OverlayMembershipChangeSm", "membershipJoinStatus",
       [&] { overlay->localSmIs(Mode::groupLevel, nullptr, irb, tunnel, changeSet); }},
      {"OverlayMembershipChangeSm", "peerSm_MembershipJoinStatus",
       [&] { overlay->peerSmIs(Mode::interfaceLevel, nullptr, irb, tunnel, changeSet); }},
      {"SbdVlanChangeSm", "sbdState", [&] { sbd->sbdStateIs(nullptr); }},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(std::string(c.type) + "::" + c.attribute);
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (Vorn::MutatorNullArgumentException const& e) {
      EXPECT_EQ(e.type(), std::string("Irb::Multicast::Egress::") + c.type);
      EXPECT_EQ(e.attribute(), c.attribute);
    }
  }
  EXPECT_EQ(vlanSm->groupMembership().size(), 1u);
  EXPECT_EQ(groupSm->sourceMembership().size(), 1u);
}

}  // namespace
