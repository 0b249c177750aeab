// The status collection where the randomized suite does not reach: one status
// in both roles, the trace naming the status that answered, null statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Vorn/Exception.h"
#include "support/Inputs.h"
#include "support/Recorder.h"
#include "support/TraceCapture.h"

namespace {

using Irb::Multicast::Egress::MembershipJoinStatusColl;
using Irb::Multicast::Egress::membershipJoinStatusCollFactory;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using TestSupport::addr;
using TestSupport::join;
using TestSupport::leave;
using Events = std::vector<std::string>;
using CollRecorder = TestSupport::Recorder<MembershipJoinStatusColl, Vorn::String>;

constexpr char kOverlayHandle[] = "VpnInjectSm::OverlayMembership";

class MembershipJoinStatusCollTest : public ::testing::Test {
 protected:
  Vorn::Ptr<MembershipJoinStatusColl> coll_ = membershipJoinStatusCollFactory();
  Vorn::Ptr<MembershipJoinStatus> local_ = MembershipJoinStatus::membershipJoinStatusIs("local");
  Vorn::Ptr<MembershipJoinStatus> peer_ = MembershipJoinStatus::membershipJoinStatusIs("peer1");

  bool groupActive(unsigned short vlan, char const* group) const { return coll_->groupActive(vlan, addr(group)); }
};

// ---- answers follow the statuses after they were added -------------------------------------
// The queries visit only the statuses holding the VLAN, found through an index
// the collection keeps by observing each status: every kind of change made
// after a status joined the collection must show in the next answer.

TEST_F(MembershipJoinStatusCollTest, OneStatusInBothRolesIsReadByEachRoleItsOwnWay) {
  coll_->localMembershipIs(peer_);
  coll_->peerMembershipIs(peer_);
  join(*peer_, 10, "239.1.1.1", "0.0.0.0", "Vxlan1");  // counts locally, not for a peer
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
  coll_->localMembershipDel("peer1");
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));
  join(*peer_, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
}

// ---- mutators -----------------------------------------------------------------------------

TEST_F(MembershipJoinStatusCollTest, NullStatusRaisesAndChangesNothing) {
  coll_->localMembershipIs(local_);
  auto rec = CollRecorder::on(coll_);
  try {
    coll_->localMembershipIs(nullptr);
    FAIL() << "no exception";
  } catch (Vorn::MutatorNullArgumentException const& e) {
    EXPECT_EQ(e.attribute(), "localMembership");
    EXPECT_EQ(e.type(), "Irb::Multicast::Egress::MembershipJoinStatusColl");
  }
  try {
    coll_->peerMembershipIs(nullptr);
    FAIL() << "no exception";
  } catch (Vorn::MutatorNullArgumentException const& e) {
    EXPECT_EQ(e.attribute(), "peerMembership");
  }
  EXPECT_TRUE(rec->events.empty());
  EXPECT_EQ(coll_->localMembership().size(), 1u);
  EXPECT_TRUE(coll_->peerMembership().empty());
}

}  // namespace
