// The reviewer: initial pass, walk slicing and bookmark, SBD expansion, input
// reactors, walk events.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "Flit/Flit.h"
#include "Flit/FlitReader.h"
#include "Vorn/Exception.h"
#include "support/Recorder.h"
#include "support/TraceCapture.h"
#include "support/VpnReviewFixture.h"

namespace {

using Routing::Multicast::OverlayVlanGroup;
using TestSupport::join;
using TestSupport::key;
using TestSupport::leave;
using TestSupport::route;
using Texts = std::vector<std::string>;

constexpr char kHandle[] = "VpnInjectSm";
constexpr char kSig[] = "Irb::Multicast::Egress::VpnInjectReviewSm::";

std::string sig(char const* rest) { return std::string(kSig) + rest; }

// Texts of `handle` at `level` that start with `prefix`.
Texts startingWith(TestSupport::TraceCapture const& trace, char const* handle, int level, std::string const& prefix) {
  Texts out;
  for (auto const& t : trace.texts(handle, level))
    if (t.rfind(prefix, 0) == 0) out.push_back(t);
  return out;
}

class VpnInjectReviewSmTest : public TestSupport::VpnReviewFixture {};

// ---- start-up ---------------------------------------------------------------------------

TEST_F(VpnInjectReviewSmTest, FirstWalkServesEveryMappingFromLocalAndPeerMembership) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(10, "239.1.1.2", {route("10.0.0.1", "225.1.1.2")});
  map(20, "", {route("10.0.0.1", "225.1.1.3")});
  map(30, "239.1.1.3", {route("10.0.0.1", "225.1.1.4")});
  join(*local_, 10, "239.1.1.1");
  join(*peer_, 20, "239.2.2.2", "0.0.0.0", "Ethernet1");
  join(*peer_, 30, "239.1.1.3", "0.0.0.0", "Vxlan1");  // tunnel only: no member

  start();
  EXPECT_TRUE(joins().empty());  // decided by the walk, not by construction
  EXPECT_EQ(changeSet_->vlanGroup().size(), 4u);
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.3", 20)}));
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
  EXPECT_TRUE(sm_->initialized());
  EXPECT_EQ(sm_->taskName(), Vorn::String("VpnInjectReviewSm"));
}

TEST_F(VpnInjectReviewSmTest, NoWalkRunsBeforeInitialized) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local_, 10, "239.1.1.1");
  start();
  sm_->initializedIs(false);

  TestSupport::TraceCapture trace("VpnInjectSm=7-9");
  settle();
  changed(key(10, "239.1.1.1"));
  settle();
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(changeSet_->vlanGroup(key(10, "239.1.1.1")));
  EXPECT_TRUE(startingWith(trace, kHandle, 8, sig("walk()")).empty());
  EXPECT_EQ(startingWith(trace, kHandle, 7, "virtual void " + sig("traceEvent")).back(),
            "virtual void " + sig("traceEvent(Keel::WalkSmBase::TraceEvent) const: traceEventwalkRefused"));

  sm_->handleInitialized();
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
}

TEST_F(VpnInjectReviewSmTest, ConstructionQueuesEveryMappingOnceAndBumpsThePerMappingCounter) {
  map(10, "239.1.1.1");
  map(10, "");
  start();
  EXPECT_EQ(changeSet_->vlanGroup().size(), 2u);
  EXPECT_EQ(changeSet_->changed(), 2u);  // one per new reactor; the initial pass adds no bump
  EXPECT_FALSE(sched_->idle());
}

// ---- walk -------------------------------------------------------------------------------

TEST_F(VpnInjectReviewSmTest, WalkOfAnEmptySetReviewsNothing) {
  start();
  settle();
  TestSupport::TraceCapture trace("VpnInjectSm=8-9");
  Keel::WalkRet const ret = sm_->walk();
  EXPECT_FALSE(ret.moreWork);
  EXPECT_EQ(ret.count, 0u);
  EXPECT_EQ(trace.texts(kHandle, 8), (Texts{"virtual Keel::WalkRet " + sig("walk(): 0 items")}));
}

TEST_F(VpnInjectReviewSmTest, GroupsOfOneVlanGetAReviewEachAndTheVlanOne) {
  for (char const* g : {"239.1.1.1", "239.1.1.2", "239.1.1.3"}) map(10, g);
  TestSupport::TraceCapture trace("VpnInjectSm=8-9,VpnInjectSm::OverlayMembership=9");
  start();
  settle();
  EXPECT_EQ(startingWith(trace, kHandle, 8, "review"),
            (Texts{"reviewVlanGroup((10, 239.1.1.1))", "reviewVlan(10)", "reviewVlanGroup((10, 239.1.1.2))",
                   "reviewVlanGroup((10, 239.1.1.3))"}));
  EXPECT_EQ(startingWith(trace, kHandle, 8, "virtual Keel::WalkRet"),
            (Texts{"virtual Keel::WalkRet " + sig("walk(): 3 items")}));
  // No VLAN-wide mapping: the VLAN review stops before asking.
  EXPECT_EQ(trace.texts(kHandle, 9), (Texts{"No VlanToMulticastGroup(10, *)"}));
  EXPECT_EQ(trace.count("VpnInjectSm::OverlayMembership", 9), 0u);
}

TEST_F(VpnInjectReviewSmTest, VlanWideEntryGetsOnlyTheVlanReview) {
  map(20, "", {route("10.0.0.1", "225.1.1.1")});
  join(*local_, 20, "239.7.7.7");
  TestSupport::TraceCapture trace("VpnInjectSm=8");
  start();
  settle();
  EXPECT_EQ(startingWith(trace, kHandle, 8, "review"), (Texts{"reviewVlan(20)"}));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 20)}));
}

TEST_F(VpnInjectReviewSmTest, ChangedGroupWithoutMappingIsDroppedWithATrace) {
  start();
  settle();
  TestSupport::TraceCapture trace("VpnInjectSm=9");
  changed(key(10, "239.9.9.9"));
  settle();
  EXPECT_EQ(trace.texts(kHandle, 9),
            (Texts{"No VlanToMulticastGroup(10, 239.9.9.9)", "No VlanToMulticastGroup(10, *)"}));
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
}

TEST_F(VpnInjectReviewSmTest, BurstOfGroupsOfOneVlanAsksVlanActiveOncePerSlice) {
  map(10, "", {route("10.0.0.1", "225.1.1.100")});
  for (int i = 1; i <= 20; ++i) {
    std::string const g = "239.1.1." + std::to_string(i);
    map(10, g, {route("10.0.0.1", "225.1.1." + std::to_string(i))});
  }
  join(*local_, 10, "239.1.1.5");
  sched_->itemBudgetIs(7);  // 21 entries: three slices
  TestSupport::TraceCapture trace("VpnInjectSm=8,VpnInjectSm::OverlayMembership=9");
  start();
  settle();
  EXPECT_EQ(startingWith(trace, kHandle, 8, "reviewVlan(").size(), 3u);
  EXPECT_EQ(trace.count("VpnInjectSm::OverlayMembership", 9), 3u);  // one vlanActive per slice
  EXPECT_EQ(startingWith(trace, kHandle, 8, "reviewVlanGroup").size(), 20u);
  EXPECT_EQ(sm_->walkCount(), 21u);
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.100", 10), join4("225.1.1.5", 10)}));
}

class VpnInjectReviewWalkYieldTest : public VpnInjectReviewSmTest {
 protected:
  void SetUp() override { sched_->itemBudgetIs(1); }
  void mapJoined(char const* group, char const* underlay) {
    map(10, group, {route("10.0.0.1", underlay)});
    join(*local_, 10, group);
  }
};

TEST_F(VpnInjectReviewWalkYieldTest, YieldingAfterEveryItemResumesAtTheBookmark) {
  mapJoined("239.1.1.1", "225.1.1.1");
  mapJoined("239.1.1.2", "225.1.1.2");
  mapJoined("239.1.1.3", "225.1.1.3");
  TestSupport::TraceCapture trace("VpnInjectSm=8");
  start();

  ASSERT_TRUE(sched_->runSlice());
  EXPECT_TRUE(sm_->walkInProgress());
  EXPECT_EQ(sm_->bookmark(), key(10, "239.1.1.2"));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));

  ASSERT_TRUE(sched_->runSlice());
  EXPECT_EQ(sm_->bookmark(), key(10, "239.1.1.3"));

  ASSERT_TRUE(sched_->runSlice());  // yields after the last entry: nothing left
  EXPECT_FALSE(sm_->walkInProgress());
  EXPECT_EQ(sm_->bookmark(), OverlayVlanGroup());
  EXPECT_TRUE(sched_->idle());

  EXPECT_EQ(startingWith(trace, kHandle, 8, "reviewVlanGroup"),
            (Texts{"reviewVlanGroup((10, 239.1.1.1))", "reviewVlanGroup((10, 239.1.1.2))",
                   "reviewVlanGroup((10, 239.1.1.3))"}));
  // The VLAN set lives for one call: every slice reviews the VLAN again.
  EXPECT_EQ(startingWith(trace, kHandle, 8, "reviewVlan(").size(), 3u);
  EXPECT_EQ(joins(), freshJoins());
  EXPECT_EQ(joins().size(), 3u);
}

TEST_F(VpnInjectReviewWalkYieldTest, BookmarkRemovedMeanwhileRestartsAtTheBeginning) {
  mapJoined("239.1.1.2", "225.1.1.2");
  mapJoined("239.1.1.3", "225.1.1.3");
  mapJoined("239.1.1.4", "225.1.1.4");
  TestSupport::TraceCapture trace("VpnInjectSm=8");
  start();
  ASSERT_TRUE(sched_->runSlice());
  ASSERT_EQ(sm_->bookmark(), key(10, "239.1.1.3"));

  changeSet_->vlanGroupDel(key(10, "239.1.1.3"));  // the bookmarked key goes
  mapJoined("239.1.1.1", "225.1.1.1");              // and a new mapping queues itself in front
  settle();

  EXPECT_EQ(startingWith(trace, kHandle, 8, "reviewVlanGroup"),
            (Texts{"reviewVlanGroup((10, 239.1.1.2))", "reviewVlanGroup((10, 239.1.1.1))",
                   "reviewVlanGroup((10, 239.1.1.4))"}));
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
  EXPECT_EQ(sm_->bookmark(), OverlayVlanGroup());
}

TEST_F(VpnInjectReviewWalkYieldTest, KeysAddedBehindTheCursorAreReviewedInALaterCall) {
  mapJoined("239.1.1.2", "225.1.1.2");
  mapJoined("239.1.1.3", "225.1.1.3");
  TestSupport::TraceCapture trace("VpnInjectSm=7-8");
  start();
  ASSERT_TRUE(sched_->runSlice());
  ASSERT_EQ(sm_->bookmark(), key(10, "239.1.1.3"));

  mapJoined("239.1.1.1", "225.1.1.1");  // lands behind the cursor, bumps `changed`
  settle();

  EXPECT_EQ(startingWith(trace, kHandle, 8, "reviewVlanGroup"),
            (Texts{"reviewVlanGroup((10, 239.1.1.2))", "reviewVlanGroup((10, 239.1.1.3))",
                   "reviewVlanGroup((10, 239.1.1.1))"}));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.2", 10), join4("225.1.1.3", 10)}));
  EXPECT_EQ(joins(), freshJoins());
  // The bump during the walk asked for a restart, which found nothing left.
  EXPECT_EQ(trace.countContaining("traceEventwalkRestarted"), 1u);
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
}

TEST_F(VpnInjectReviewWalkYieldTest, MembershipChangeBetweenSlicesIsReviewedAgain) {
  mapJoined("239.1.1.1", "225.1.1.1");
  mapJoined("239.1.1.2", "225.1.1.2");
  start();
  ASSERT_TRUE(sched_->runSlice());
  ASSERT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));

  leave(*local_, 10, "239.1.1.1");  // reported for a key the walk already passed
  changed(key(10, "239.1.1.1"));
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.2", 10)}));
  EXPECT_EQ(joins(), freshJoins());
}

// ---- SBD expansion ------------------------------------------------------------------------

TEST_F(VpnInjectReviewSmTest, GroupActiveOnlyInAServedVlanIsInjectedForTheSbdVlan) {
  serve(10, 11);
  serve(10, 12);
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local_, 12, "239.1.1.1");
  start();
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));

  leave(*local_, 12, "239.1.1.1");
  join(*local_, 12, "239.1.1.2");  // another group of the served VLAN does not count
  changed(key(10, "239.1.1.1"));
  settle();
  EXPECT_TRUE(joins().empty());
}

TEST_F(VpnInjectReviewSmTest, VlanReviewTriesTheServedVlans) {
  serve(10, 11);
  map(10, "", {route("10.0.0.1", "225.1.1.1")});
  join(*peer_, 11, "239.1.1.1", "0.0.0.0", "Ethernet1");
  start();
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));

  leave(*peer_, 11, "239.1.1.1", "0.0.0.0", "Ethernet1");
  changed(key(10));
  settle();
  EXPECT_TRUE(joins().empty());
}

TEST_F(VpnInjectReviewSmTest, ServedVlanDoesNotLendItsMembershipTheOtherWay) {
  serve(10, 11);
  map(11, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local_, 10, "239.1.1.1");  // members in the SBD VLAN only
  start();
  settle();
  EXPECT_TRUE(joins().empty());
}

// ---- input reactors ---------------------------------------------------------------------

TEST_F(VpnInjectReviewSmTest, NewMappingQueuesItsKeyWithOneBumpAndIsReviewed) {
  start();
  settle();
  join(*local_, 10, "239.1.1.1");
  std::uint32_t const before = changeSet_->changed();
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  EXPECT_TRUE(changeSet_->vlanGroup(key(10, "239.1.1.1")));
  EXPECT_EQ(changeSet_->changed(), before + 1);
  ASSERT_NE(reactor(10, "239.1.1.1"), nullptr);
  EXPECT_TRUE(joins().empty());
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
}

TEST_F(VpnInjectReviewSmTest, OnlyTheCounterSchedulesAWalk) {
  start();
  settle();
  changeSet_->vlanGroupIs(key(10, "239.1.1.1"));
  EXPECT_TRUE(sched_->idle());
  changeSet_->changedInc(1);
  EXPECT_FALSE(sched_->idle());
  settle();
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
}

TEST_F(VpnInjectReviewSmTest, RemovedMappingWithdrawsItsJoinsWithoutAReview) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local_, 10, "239.1.1.1");
  start();
  settle();
  ASSERT_EQ(joins().size(), 1u);
  TestSupport::unmap(*tunnel_, 10, "239.1.1.1");
  EXPECT_TRUE(joins().empty());
  EXPECT_EQ(reactor(10, "239.1.1.1"), nullptr);
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
  EXPECT_TRUE(sched_->idle());
}

TEST_F(VpnInjectReviewSmTest, MappingReactorsAreKeptByKey) {
  auto m = map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local_, 10, "239.1.1.1");
  start();
  settle();
  Reactor* const r = reactor(10, "239.1.1.1");
  sm_->vlanToMulticastGroupIs(m);  // the mapping it observes: nothing
  EXPECT_EQ(reactor(10, "239.1.1.1"), r);
  EXPECT_TRUE(sched_->idle());

  try {
    sm_->vlanToMulticastGroupIs(nullptr);
    FAIL() << "no exception";
  } catch (Vorn::MutatorNullArgumentException const& e) {
    EXPECT_EQ(e.attribute(), "vlanToMulticastGroup");
  }

  EXPECT_EQ(sm_->vlanToMulticastGroupDel(key(10, "239.1.1.2")), nullptr);
  EXPECT_EQ(sm_->vlanToMulticastGroupDel(key(10, "239.1.1.1")), m);
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(sm_->vornVlanToMulticastGroup().empty());
}

TEST_F(VpnInjectReviewSmTest, SwitchingNotificationOffSilencesEveryReactorUntilSwitchedOn) {
  auto m = map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local_, 10, "239.1.1.1");
  start();
  settle();
  sm_->hasNotificationActiveIs(false);
  EXPECT_FALSE(sm_->vornTunnelVlanGroupStatus()->hasNotificationActive());
  EXPECT_FALSE(sm_->vornChangeSet()->hasNotificationActive());
  EXPECT_FALSE(reactor(10, "239.1.1.1")->hasNotificationActive());

  m->multicastGroupIs(route("10.0.0.1", "225.1.1.2"));
  map(20, "");
  changeSet_->changedInc(1);
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
  EXPECT_EQ(reactor(20), nullptr);
  EXPECT_TRUE(sched_->idle());

  sm_->hasNotificationActiveIs(true);
  m->multicastGroupIs(route("10.0.0.1", "225.1.1.3"));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.3", 10)}));
}

TEST_F(VpnInjectReviewSmTest, DetachedTunnelStatusIsNoLongerMirroredButItsReactorsStay) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local_, 10, "239.1.1.1");
  start();
  settle();
  EXPECT_EQ(sm_->tunnelVlanGroupStatusDel(), tunnel_);
  EXPECT_EQ(sm_->tunnelVlanGroupStatus(), nullptr);
  EXPECT_EQ(sm_->tunnelVlanGroupStatusDel(), nullptr);

  map(20, "");
  TestSupport::unmap(*tunnel_, 10, "239.1.1.1");
  EXPECT_EQ(reactor(20), nullptr);
  EXPECT_NE(reactor(10, "239.1.1.1"), nullptr);
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
}

TEST_F(VpnInjectReviewSmTest, DetachedChangeSetSchedulesNothing) {
  start();
  settle();
  EXPECT_EQ(sm_->changeSetDel(), changeSet_);
  EXPECT_EQ(sm_->changeSet(), nullptr);
  changeSet_->changedInc(1);
  EXPECT_TRUE(sched_->idle());
}

TEST_F(VpnInjectReviewSmTest, MirrorRepointedToAnotherStatusFollowsItsMappings) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(20, "239.1.1.2", {route("10.0.0.1", "225.1.1.2")});
  join(*local_, 10, "239.1.1.1");
  join(*local_, 20, "239.1.1.2");
  join(*local_, 30, "239.1.1.3");
  start();
  settle();
  ASSERT_EQ(joins().size(), 2u);

  auto other = Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("other");
  TestSupport::map(*other, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  TestSupport::map(*other, 30, "239.1.1.3", {route("10.0.0.1", "225.1.1.3")});
  sm_->vornTunnelVlanGroupStatus()->notifierIs(other);

  EXPECT_EQ(reactor(20, "239.1.1.2"), nullptr);
  EXPECT_EQ(reactor(10, "239.1.1.1")->vlanToMulticastGroup(), other->vlanToMulticastGroup(key(10, "239.1.1.1")));
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.3", 30)}));
  TestSupport::map(*other, 40, "");
  EXPECT_NE(reactor(40), nullptr);  // the new status is observed
}

TEST_F(VpnInjectReviewSmTest, ChangeSetReactorRepointedToAnotherSetSchedulesAWalk) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  start();
  settle();
  join(*local_, 10, "239.1.1.1");
  auto other = Irb::Multicast::Egress::overlayChangeSetFactory();
  other->vlanGroupIs(key(10, "239.1.1.1"));
  sm_->vornChangeSet()->notifierIs(other);
  EXPECT_EQ(sm_->changeSet(), other);
  EXPECT_FALSE(sched_->idle());
  settle();
  EXPECT_TRUE(other->vlanGroup().empty());
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
}

// ---- traces -------------------------------------------------------------------------------

TEST_F(VpnInjectReviewSmTest, WalkTracesItsStartEndAndEvents) {
  map(10, "239.1.1.1");
  TestSupport::TraceCapture trace("VpnInjectSm=7-8");
  start();
  settle();
  std::string const event = "virtual void " + sig("traceEvent(Keel::WalkSmBase::TraceEvent) const: traceEvent");
  EXPECT_EQ(trace.texts(kHandle, 7), (Texts{event + "walkScheduled", event + "walkStarted", event + "walkFinished"}));
  EXPECT_EQ(trace.texts(kHandle, 8),
            (Texts{"void Irb::Multicast::Egress::VpnInjectReviewSm::VlanToMulticastGroup::handleVlanToMulticastGroup()",
                   "void " + sig("handleInitialized()"), "virtual bool " + sig("walkStartedNotification()"),
                   "virtual Keel::WalkRet " + sig("walk(): 1 items"), "reviewVlanGroup((10, 239.1.1.1))",
                   "reviewVlan(10)", "virtual void " + sig("walkFinishedNotification()")}));
}

TEST_F(VpnInjectReviewSmTest, WalkEventsReachTheRingBufferWithTheirNumber) {
  std::filesystem::path const file =
      std::filesystem::temp_directory_path() / ("vpn-review-" + std::to_string(::getpid()) + ".flit");
  Flit::defaultFileIs(Flit::File::create(file.string()));
  ASSERT_NE(Flit::defaultFile(), nullptr);
  start();
  settle();
  Flit::defaultFileIs(nullptr);

  Texts records;
  Flit::TraceSummary summary;
  std::string error;
  ASSERT_TRUE(Flit::readFile(
      file.string(), summary, [&](std::uint64_t, std::string const& text) { records.push_back(text); }, error))
      << error;
  std::filesystem::remove(file);
  std::string const event = "virtual void " + sig("traceEvent(Keel::WalkSmBase::TraceEvent) const: traceEvent");
  EXPECT_EQ(records, (Texts{event + "0", event + "1", event + "4"}));
}

}  // namespace
