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

// ---- groupActive: local statuses --------------------------------------------------------

TEST_F(MembershipJoinStatusCollTest, WithoutStatusesNothingIsActive) {
  TestSupport::TraceCapture trace("VpnInjectSm::OverlayMembership=9");
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));
  EXPECT_FALSE(coll_->vlanActive(10));
  EXPECT_EQ(trace.texts(kOverlayHandle, 9), (Events{"vlanActive  No entry found "}));
}

TEST_F(MembershipJoinStatusCollTest, LocalGroupEntryWithoutSourcesMakesTheGroupActive) {
  coll_->localMembershipIs(local_);
  join(*local_, 10, "239.1.1.1");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
  EXPECT_FALSE(groupActive(10, "239.1.1.2"));
  EXPECT_FALSE(groupActive(11, "239.1.1.1"));
}

TEST_F(MembershipJoinStatusCollTest, LocalWildcardOfEitherFamilyCoversEveryGroupOfItsVlan) {
  coll_->localMembershipIs(local_);
  join(*local_, 10, "::");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));  // IPv6 wildcard, IPv4 group
  EXPECT_TRUE(groupActive(10, "ff3e::1"));
  EXPECT_FALSE(groupActive(11, "239.1.1.1"));

  leave(*local_, 10, "::");
  join(*local_, 10, "0.0.0.0");
  EXPECT_TRUE(groupActive(10, "ff3e::1"));  // IPv4 wildcard, IPv6 group
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
}

TEST_F(MembershipJoinStatusCollTest, LocalVlanEntryWithoutGroupsCountsForNeitherQuery) {
  coll_->localMembershipIs(local_);
  join(*local_, 10);
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));
  EXPECT_FALSE(coll_->vlanActive(10));
}

TEST_F(MembershipJoinStatusCollTest, LocalStatusIsNotReadBelowGroupLevel) {
  // A local join held only on a tunnel interface still counts: local statuses
  // are not filtered by interface.
  coll_->localMembershipIs(local_);
  join(*local_, 10, "239.1.1.1", "0.0.0.0", "Vxlan1");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
  EXPECT_TRUE(coll_->vlanActive(10));
}

TEST_F(MembershipJoinStatusCollTest, AnyLocalStatusAnswers) {
  auto second = MembershipJoinStatus::membershipJoinStatusIs("local2");
  coll_->localMembershipIs(local_);
  coll_->localMembershipIs(second);
  join(*local_, 10);  // empty VLAN entry in the first
  join(*second, 10, "239.1.1.1");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
  EXPECT_TRUE(coll_->vlanActive(10));
}

// ---- groupActive: peer statuses -----------------------------------------------------------

TEST_F(MembershipJoinStatusCollTest, PeerJoinCountsOnlyThroughANonTunnelInterface) {
  coll_->peerMembershipIs(peer_);
  join(*peer_, 10, "239.1.1.1", "0.0.0.0", "Vxlan1");
  join(*peer_, 10, "239.1.1.1", "10.0.0.9", "Vxlan2");
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));
  EXPECT_FALSE(coll_->vlanActive(10));

  join(*peer_, 10, "239.1.1.1", "10.0.0.9", "Ethernet1");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
  EXPECT_TRUE(coll_->vlanActive(10));
  EXPECT_FALSE(groupActive(10, "239.1.1.2"));
}

TEST_F(MembershipJoinStatusCollTest, PeerGroupWithoutSourcesOrInterfacesDoesNotCount) {
  coll_->peerMembershipIs(peer_);
  join(*peer_, 10, "239.1.1.1");                    // no source
  join(*peer_, 10, "239.1.1.2", "0.0.0.0");          // a source with no interface
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));
  EXPECT_FALSE(groupActive(10, "239.1.1.2"));
  EXPECT_FALSE(coll_->vlanActive(10));
}

TEST_F(MembershipJoinStatusCollTest, PeerWildcardEntryCountsForTheVlanButNotForASpecificGroup) {
  coll_->peerMembershipIs(peer_);
  join(*peer_, 10, "0.0.0.0", "0.0.0.0", "Vxlan1");
  EXPECT_FALSE(coll_->vlanActive(10));

  join(*peer_, 10, "0.0.0.0", "0.0.0.0", "Ethernet1");
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));  // peers get no wildcard fallback
  EXPECT_TRUE(groupActive(10, "0.0.0.0"));      // the exact entry itself
  EXPECT_TRUE(coll_->vlanActive(10));
}

TEST_F(MembershipJoinStatusCollTest, PeerAnswersWhenNoLocalStatusDoes) {
  coll_->localMembershipIs(local_);
  coll_->peerMembershipIs(peer_);
  join(*local_, 10, "239.1.1.9");
  join(*peer_, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
}

// ---- answers follow the statuses after they were added -------------------------------------
// The queries visit only the statuses holding the VLAN, found through an index
// the collection keeps by observing each status: every kind of change made
// after a status joined the collection must show in the next answer.

TEST_F(MembershipJoinStatusCollTest, AnswersFollowVlanEntriesAddedReplacedAndRemovedInPlace) {
  coll_->localMembershipIs(local_);
  coll_->peerMembershipIs(peer_);
  join(*local_, 10, "239.1.1.1");
  join(*peer_, 20, "239.1.1.2", "0.0.0.0", "Ethernet1");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
  EXPECT_TRUE(groupActive(20, "239.1.1.2"));

  // A VLAN entry replaced by another object under the same id: the new
  // object's groups count, the old one's no longer do.
  auto fresh = Irb::Multicast::Gmp::VlanMembershipJoin::vlanMembershipJoinIs(10);
  fresh->groupIs(Irb::Multicast::Gmp::GroupMembershipJoin::groupMembershipJoinIs(addr("239.1.1.5")));
  local_->vlanIs(fresh);
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));
  EXPECT_TRUE(groupActive(10, "239.1.1.5"));

  local_->vlanDel(10);
  peer_->vlanDel(20);
  EXPECT_FALSE(groupActive(10, "239.1.1.5"));
  EXPECT_FALSE(coll_->vlanActive(10));
  EXPECT_FALSE(groupActive(20, "239.1.1.2"));
  EXPECT_FALSE(coll_->vlanActive(20));

  join(*peer_, 10, "239.1.1.7", "0.0.0.0", "Ethernet1");  // a VLAN entry new to the status
  EXPECT_TRUE(groupActive(10, "239.1.1.7"));
}

TEST_F(MembershipJoinStatusCollTest, AStatusReplacedOrRemovedNoLongerAnswers) {
  coll_->localMembershipIs(local_);
  join(*local_, 10, "239.1.1.1");
  auto other = MembershipJoinStatus::membershipJoinStatusIs("local");
  join(*other, 11, "239.1.1.1");
  coll_->localMembershipIs(other);  // same name: replaces
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));
  EXPECT_TRUE(groupActive(11, "239.1.1.1"));
  join(*local_, 12, "239.1.1.1");  // the replaced status goes on changing: not read
  EXPECT_FALSE(groupActive(12, "239.1.1.1"));

  coll_->localMembershipDel("local");
  EXPECT_FALSE(groupActive(11, "239.1.1.1"));
  coll_->peerMembershipIs(peer_);
  join(*peer_, 13, "239.1.1.1", "0.0.0.0", "Ethernet1");
  coll_->peerMembershipDelAll();
  EXPECT_FALSE(groupActive(13, "239.1.1.1"));
  EXPECT_FALSE(coll_->vlanActive(13));
}

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

TEST_F(MembershipJoinStatusCollTest, VlanActiveNamesTheFirstAnsweringStatusByNameWhateverTheOrderOfArrival) {
  std::vector<Vorn::Ptr<MembershipJoinStatus>> peers;
  for (char const* name : {"peer3", "peer1", "peer2"}) {
    peers.push_back(MembershipJoinStatus::membershipJoinStatusIs(name));
    coll_->peerMembershipIs(peers.back());
  }
  // peer3 joined the VLAN first, peer1 last; peer2 only through a tunnel.
  join(*peers[0], 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  join(*peers[2], 10, "239.1.1.1", "0.0.0.0", "Vxlan1");
  join(*peers[1], 10, "239.1.1.2", "0.0.0.0", "Ethernet1");
  TestSupport::TraceCapture trace("VpnInjectSm::OverlayMembership=9");
  EXPECT_TRUE(coll_->vlanActive(10));
  leave(*peers[1], 10, "239.1.1.2", "0.0.0.0", "Ethernet1");
  EXPECT_TRUE(coll_->vlanActive(10));
  EXPECT_EQ(trace.texts(kOverlayHandle, 9),
            (Events{"vlanActive  found entry in peer1", "vlanActive  found entry in peer3"}));
}

// ---- vlanActive traces --------------------------------------------------------------------

TEST_F(MembershipJoinStatusCollTest, VlanActiveNamesTheStatusThatAnswered) {
  coll_->localMembershipIs(local_);
  coll_->peerMembershipIs(peer_);
  join(*peer_, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  join(*local_, 20, "239.1.1.1");
  join(*peer_, 20, "239.1.1.1", "0.0.0.0", "Ethernet1");

  TestSupport::TraceCapture trace("VpnInjectSm::OverlayMembership=9");
  EXPECT_TRUE(coll_->vlanActive(10));
  EXPECT_TRUE(coll_->vlanActive(20));  // the local pass runs first
  EXPECT_FALSE(coll_->vlanActive(30));
  EXPECT_EQ(trace.texts(kOverlayHandle, 9),
            (Events{"vlanActive  found entry in peer1", "vlanActive  found entry in local",
                    "vlanActive  No entry found "}));
}

TEST_F(MembershipJoinStatusCollTest, GroupActiveWritesNoTrace) {
  coll_->localMembershipIs(local_);
  join(*local_, 10, "239.1.1.1");
  TestSupport::TraceCapture trace("*=0-9");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
  EXPECT_FALSE(groupActive(10, "239.1.1.2"));
  EXPECT_TRUE(trace.lines().empty());
}

// ---- mutators -----------------------------------------------------------------------------

TEST_F(MembershipJoinStatusCollTest, SettingTheSameStatusTwiceNotifiesOnce) {
  auto rec = CollRecorder::on(coll_);
  coll_->localMembershipIs(local_);
  coll_->localMembershipIs(local_);
  coll_->peerMembershipIs(peer_);
  coll_->peerMembershipIs(peer_);
  EXPECT_EQ(rec->events, (Events{"1:local", "2:peer1"}));
  EXPECT_EQ(coll_->localMembership("local"), local_);
  EXPECT_EQ(coll_->peerMembership("peer1"), peer_);
  EXPECT_EQ(coll_->localMembership("peer1"), nullptr);  // each collection its own
}

TEST_F(MembershipJoinStatusCollTest, ReplacingAStatusOfTheSameNameNotifiesAndDropsTheOldOne) {
  std::uint32_t const unheld = local_->references();
  coll_->localMembershipIs(local_);
  auto rec = CollRecorder::on(coll_);
  auto replacement = MembershipJoinStatus::membershipJoinStatusIs("local");
  coll_->localMembershipIs(replacement);
  EXPECT_EQ(rec->events, (Events{"1:local"}));
  EXPECT_EQ(coll_->localMembership("local"), replacement);
  EXPECT_EQ(local_->references(), unheld) << "nothing of the collection holds the old status";

  // The answers follow the new object.
  join(*local_, 10, "239.1.1.1");
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));
  join(*replacement, 10, "239.1.1.1");
  EXPECT_TRUE(groupActive(10, "239.1.1.1"));
}

TEST_F(MembershipJoinStatusCollTest, DeletingReturnsTheStatusAndAbsentNamesNotifyNobody) {
  coll_->peerMembershipIs(peer_);
  join(*peer_, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  auto rec = CollRecorder::on(coll_);
  EXPECT_EQ(coll_->localMembershipDel("peer1"), nullptr);  // not a local status
  EXPECT_EQ(coll_->peerMembershipDel("nobody"), nullptr);
  EXPECT_TRUE(rec->events.empty());

  EXPECT_EQ(coll_->peerMembershipDel("peer1"), peer_);
  EXPECT_EQ(rec->events, (Events{"2:peer1"}));
  EXPECT_FALSE(groupActive(10, "239.1.1.1"));
}

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

TEST_F(MembershipJoinStatusCollTest, DeleteAllNotifiesEveryRemovalOnItsOwn) {
  coll_->localMembershipIs(local_);
  coll_->localMembershipIs(MembershipJoinStatus::membershipJoinStatusIs("local2"));
  coll_->peerMembershipIs(peer_);
  auto rec = CollRecorder::on(coll_);
  coll_->localMembershipDelAll();
  EXPECT_EQ(rec->events, (Events{"1:local", "1:local2"}));
  EXPECT_TRUE(coll_->localMembership().empty());
  coll_->peerMembershipDelAll();
  EXPECT_EQ(rec->events.back(), "2:peer1");
  EXPECT_TRUE(coll_->peerMembership().empty());
}

TEST_F(MembershipJoinStatusCollTest, DestroyingTheCollectionReleasesItsStatuses) {
  std::uint32_t const before = local_->references();
  coll_->localMembershipIs(local_);
  coll_->peerMembershipIs(local_);  // the same object may be both
  EXPECT_GE(local_->references(), before + 2);
  coll_ = nullptr;
  EXPECT_EQ(local_->references(), before);
}

}  // namespace
