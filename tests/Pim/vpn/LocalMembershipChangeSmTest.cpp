// The change tracker of one membership join status where the randomized suite
// does not reach: its trace, its own mutators, and a tracker switched off for
// a while.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Vorn/Exception.h"
#include "support/ChangeSetProbe.h"
#include "support/Inputs.h"
#include "support/TraceCapture.h"

namespace {

using namespace Irb::Multicast::Egress;
using Irb::Multicast::McastIrbStatus;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using TestSupport::addr;
using TestSupport::ChangeSetProbe;
using TestSupport::join;
using TestSupport::key;
using Keys = ChangeSetProbe::Keys;

constexpr char const* kHandle = "VpnInjectSm::OverlayMembership";

// Runs `f`, which must raise the null-argument exception; returns its type
// and attribute.
template <class F>
std::pair<std::string, std::string> nullArgumentOf(F f) {
  try {
    f();
  } catch (Vorn::MutatorNullArgumentException const& e) {
    return {e.type(), e.attribute()};
  }
  ADD_FAILURE() << "no MutatorNullArgumentException";
  return {};
}

class LocalMembershipChangeSmTest : public ::testing::Test {
 protected:
  // Builds the tracker over the present status and forgets what its
  // start-up recorded.
  void track(Mode mode) {
    tracker = localMembershipChangeSmFactory(mode, status, irb, tunnel, changeSet);
    probe.take();
  }

  Vorn::Ptr<MembershipJoinStatus> status = MembershipJoinStatus::membershipJoinStatusIs("local");
  Vorn::Ptr<McastIrbStatus> irb = McastIrbStatus::mcastIrbStatusIs();
  Vorn::Ptr<IpTunnelVlanGroupStatus> tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(
      Routing::Multicast::stringValue(Routing::Multicast::irbRemoteReduced()));
  Vorn::Ptr<OverlayChangeSet> changeSet = overlayChangeSetFactory();
  ChangeSetProbe probe{changeSet};
  Vorn::Ptr<LocalMembershipChangeSm> tracker;
};

// ---- mutators and notification ---------------------------------------------------------------

TEST_F(LocalMembershipChangeSmTest, NullJoinsRaiseNamingTypeAndAttributeAndChangeNothing) {
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  track(Mode::interfaceLevel);
  auto vlanSm = tracker->vlanMembership(10);
  ASSERT_TRUE(vlanSm);
  auto groupReactor = vlanSm->groupMembership(addr("239.1.1.1"));
  ASSERT_TRUE(groupReactor);

  EXPECT_EQ(nullArgumentOf([&] { tracker->vlanMembershipIs(nullptr); }),
            (std::pair<std::string, std::string>{"Irb::Multicast::Egress::LocalMembershipChangeSm", "vlanMembership"}));
  EXPECT_EQ(nullArgumentOf([&] { vlanSm->groupMembershipIs(nullptr); }),
            (std::pair<std::string, std::string>{"Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm",
                                                 "groupMembership"}));
  EXPECT_EQ(nullArgumentOf([&] { groupReactor->sourceMembershipIs(nullptr); }),
            (std::pair<std::string, std::string>{
                "Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm::VornGroupMembership", "sourceMembership"}));
  EXPECT_EQ(tracker->vlanMembership().size(), 1u);
  EXPECT_EQ(vlanSm->groupMembership().size(), 1u);
  EXPECT_EQ(groupReactor->sourceMembership().size(), 1u);
  EXPECT_EQ(probe.bumps(), 0u);
}

TEST_F(LocalMembershipChangeSmTest, SwitchedOffTrackerRecordsNothingUntilSwitchedBackOn) {
  join(*status, 10, "239.1.1.1", "10.0.0.1");
  track(Mode::interfaceLevel);
  tracker->hasNotificationActiveIs(false);
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  join(*status, 10, "239.1.1.2");
  join(*status, 20, "239.1.1.3");
  EXPECT_EQ(probe.bumps(), 0u);
  tracker->hasNotificationActiveIs(true);
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet2");
  join(*status, 30, "239.1.1.4");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(30, "239.1.1.4")}));
}

}  // namespace
