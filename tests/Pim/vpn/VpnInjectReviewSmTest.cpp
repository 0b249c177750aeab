// The reviewer: initial pass, walk slicing and bookmark, input reactors, walk
// events; its per-mapping reactor (the per-route rule, the flag, handle
// bookkeeping, Joins shared through the dedup table); and the Joins a fresh
// start on the same inputs would write after VLAN-wide keys, a flag turning
// false with a handle left, and a mapping replaced by another object of the
// same key. (Which memberships count for a mapping, SBD VLANs included, IPv6
// underlay groups and mappings of every key kind sharing Joins are judged
// against the reference model and a fresh start by RandomizedVpnTest.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "Flit/Flit.h"
#include "Flit/FlitReader.h"
#include "Vorn/Exception.h"
#include "support/TraceCapture.h"
#include "support/VpnReviewFixture.h"

namespace {

using namespace TestSupport;
using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::VlanToMulticastGroup;
using Texts = std::vector<std::string>;

constexpr char kHandle[] = "VpnInjectSm";
constexpr char kSig[] = "Irb::Multicast::Egress::VpnInjectReviewSm::";

std::string sig(char const* rest) { return std::string(kSig) + rest; }

// Texts of `handle` at `level` that start with `prefix`.
Texts startingWith(TraceCapture const& trace, char const* handle, int level, std::string const& prefix) {
  Texts out;
  for (auto const& t : trace.texts(handle, level))
    if (t.rfind(prefix, 0) == 0) out.push_back(t);
  return out;
}

class VpnInjectReviewSmTest : public VpnReviewFixture {
 protected:
  // A mapping of (10, group) with one route to `underlay`, and a local member of the group.
  void mapJoined(char const* group, char const* underlay) {
    map(10, group, {route("10.0.0.1", underlay)});
    join(*local_, 10, group);
  }
  void startSettled() {
    start();
    settle();
  }
  // A producer's report of `vlanGroup`, reviewed.
  void review(OverlayVlanGroup const& vlanGroup) {
    changed(vlanGroup);
    settle();
  }
  // A mapping of (10, 239.1.1.1) with one route, started and reviewed.
  Vorn::Ptr<VlanToMulticastGroup> startWithOneMapping(bool joined) {
    auto m = map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
    if (joined) join(*local_, 10, "239.1.1.1");
    startSettled();
    return m;
  }
};

// ---- start-up ---------------------------------------------------------------------------

// Construction queues every mapping once, with one bump per new reactor (the
// initial pass adds none); the Joins are decided by the walk.
TEST_F(VpnInjectReviewSmTest, FirstWalkServesEveryMappingFromLocalAndPeerMembership) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(10, "239.1.1.2", {route("10.0.0.1", "225.1.1.2")});
  map(20, "", {route("10.0.0.1", "225.1.1.3")});
  map(30, "239.1.1.3", {route("10.0.0.1", "225.1.1.4")});
  join(*local_, 10, "239.1.1.1");
  join(*peer_, 20, "239.2.2.2", "0.0.0.0", "Ethernet1");
  join(*peer_, 30, "239.1.1.3", "0.0.0.0", "Vxlan1");  // tunnel only: no member

  start();
  EXPECT_TRUE(joins().empty());
  EXPECT_EQ(changeSet_->vlanGroup().size(), 4u);
  EXPECT_EQ(changeSet_->changed(), 4u);
  EXPECT_FALSE(sched_->idle());
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.3", 20)}));
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
  EXPECT_TRUE(sm_->initialized());
  EXPECT_EQ(sm_->taskName(), Vorn::String("VpnInjectReviewSm"));
}

TEST_F(VpnInjectReviewSmTest, NoWalkRunsBeforeInitialized) {
  mapJoined("239.1.1.1", "225.1.1.1");
  start();
  sm_->initializedIs(false);

  TraceCapture trace("VpnInjectSm=7-9");
  settle();
  review(key(10, "239.1.1.1"));
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(changeSet_->vlanGroup(key(10, "239.1.1.1")));
  EXPECT_TRUE(startingWith(trace, kHandle, 8, sig("walk()")).empty());
  EXPECT_EQ(startingWith(trace, kHandle, 7, "virtual void " + sig("traceEvent")).back(),
            "virtual void " + sig("traceEvent(Keel::WalkSmBase::TraceEvent) const: traceEventwalkRefused"));

  sm_->handleInitialized();
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
}

// ---- walk -------------------------------------------------------------------------------

TEST_F(VpnInjectReviewSmTest, EmptyWalkReviewsNothingAndChangedGroupWithoutMappingIsDroppedWithATrace) {
  startSettled();
  TraceCapture trace("VpnInjectSm=8-9");
  Keel::WalkRet const ret = sm_->walk();
  EXPECT_FALSE(ret.moreWork);
  EXPECT_EQ(ret.count, 0u);
  EXPECT_EQ(trace.texts(kHandle, 8), (Texts{"virtual Keel::WalkRet " + sig("walk(): 0 items")}));
  trace.clear();
  review(key(10, "239.9.9.9"));
  EXPECT_EQ(trace.texts(kHandle, 9),
            (Texts{"No VlanToMulticastGroup(10, 239.9.9.9)", "No VlanToMulticastGroup(10, *)"}));
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
}

// Groups of one VLAN get a review each and the VLAN one; a VLAN with only a
// VLAN-wide entry gets only the VLAN review.
TEST_F(VpnInjectReviewSmTest, GroupsOfOneVlanGetAReviewEachAndTheVlanOne) {
  for (char const* g : {"239.1.1.1", "239.1.1.2", "239.1.1.3"}) map(10, g);
  map(20, "", {route("10.0.0.1", "225.1.1.1")});
  join(*local_, 20, "239.7.7.7");
  TraceCapture trace("VpnInjectSm=8-9,VpnInjectSm::OverlayMembership=9");
  startSettled();
  EXPECT_EQ(startingWith(trace, kHandle, 8, "review"),
            (Texts{"reviewVlanGroup((10, 239.1.1.1))", "reviewVlan(10)", "reviewVlanGroup((10, 239.1.1.2))",
                   "reviewVlanGroup((10, 239.1.1.3))", "reviewVlan(20)"}));
  EXPECT_EQ(startingWith(trace, kHandle, 8, "virtual Keel::WalkRet"),
            (Texts{"virtual Keel::WalkRet " + sig("walk(): 4 items")}));
  // No VLAN-wide mapping in VLAN 10: its review stops before asking; VLAN 20's asks.
  EXPECT_EQ(trace.texts(kHandle, 9), (Texts{"No VlanToMulticastGroup(10, *)"}));
  EXPECT_EQ(trace.count("VpnInjectSm::OverlayMembership", 9), 1u);
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 20)}));
}

TEST_F(VpnInjectReviewSmTest, BurstOfGroupsOfOneVlanAsksVlanActiveOncePerSlice) {
  map(10, "", {route("10.0.0.1", "225.1.1.100")});
  for (int i = 1; i <= 20; ++i) {
    std::string const g = "239.1.1." + std::to_string(i);
    map(10, g, {route("10.0.0.1", "225.1.1." + std::to_string(i))});
  }
  join(*local_, 10, "239.1.1.5");
  sched_->itemBudgetIs(7);  // 21 entries: three slices
  TraceCapture trace("VpnInjectSm=8,VpnInjectSm::OverlayMembership=9");
  startSettled();
  EXPECT_EQ(startingWith(trace, kHandle, 8, "reviewVlan(").size(), 3u);
  EXPECT_EQ(trace.count("VpnInjectSm::OverlayMembership", 9), 3u);  // one vlanActive per slice
  EXPECT_EQ(startingWith(trace, kHandle, 8, "reviewVlanGroup").size(), 20u);
  EXPECT_EQ(sm_->walkCount(), 21u);
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.100", 10), join4("225.1.1.5", 10)}));
}

class VpnInjectReviewWalkYieldTest : public VpnInjectReviewSmTest {
 protected:
  void SetUp() override { sched_->itemBudgetIs(1); }
};

TEST_F(VpnInjectReviewWalkYieldTest, YieldingAfterEveryItemResumesAtTheBookmark) {
  mapJoined("239.1.1.1", "225.1.1.1");
  mapJoined("239.1.1.2", "225.1.1.2");
  mapJoined("239.1.1.3", "225.1.1.3");
  TraceCapture trace("VpnInjectSm=8");
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
  TraceCapture trace("VpnInjectSm=8");
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
  TraceCapture trace("VpnInjectSm=7-8");
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

// ---- input reactors ---------------------------------------------------------------------

// A new mapping queues its key with one bump; only the bump schedules a walk.
TEST_F(VpnInjectReviewSmTest, NewMappingQueuesItsKeyWithOneBumpAndOnlyTheCounterSchedulesAWalk) {
  startSettled();
  changeSet_->vlanGroupIs(key(20, "239.2.2.2"));
  EXPECT_TRUE(sched_->idle());
  join(*local_, 10, "239.1.1.1");
  std::uint32_t const before = changeSet_->changed();
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  EXPECT_TRUE(changeSet_->vlanGroup(key(10, "239.1.1.1")));
  EXPECT_EQ(changeSet_->changed(), before + 1);
  EXPECT_FALSE(sched_->idle());
  ASSERT_NE(reactor(10, "239.1.1.1"), nullptr);
  EXPECT_TRUE(joins().empty());
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
}

TEST_F(VpnInjectReviewSmTest, RemovedMappingWithdrawsItsJoinsWithoutAReview) {
  startWithOneMapping(true);
  ASSERT_EQ(joins().size(), 1u);
  unmap(*tunnel_, 10, "239.1.1.1");
  EXPECT_TRUE(joins().empty());
  EXPECT_EQ(reactor(10, "239.1.1.1"), nullptr);
  EXPECT_TRUE(changeSet_->vlanGroup().empty());
  EXPECT_TRUE(sched_->idle());
}

// Reactors are kept by key; one removed releases its handles and is unhooked.
TEST_F(VpnInjectReviewSmTest, MappingReactorsAreKeptByKeyAndARemovedOneReleasesItsHandlesAndIsUnhooked) {
  auto m = startWithOneMapping(true);
  Vorn::Ptr<Reactor> const r = reactor(10, "239.1.1.1");
  sm_->vlanToMulticastGroupIs(m);  // the mapping it observes: nothing
  EXPECT_EQ(reactor(10, "239.1.1.1"), r.ptr());
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
  EXPECT_TRUE(r->isZombie());
  EXPECT_EQ(r->owner(), nullptr);
  m->multicastGroupIs(route("10.0.0.1", "225.1.1.7"));  // no longer heard
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(r->injectRoute().empty());
}

TEST_F(VpnInjectReviewSmTest, SwitchingNotificationOffSilencesEveryReactorUntilSwitchedOn) {
  auto m = startWithOneMapping(true);
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

TEST_F(VpnInjectReviewSmTest, DetachedInputsAreNoLongerFollowedButTheReactorsStay) {
  startWithOneMapping(true);
  EXPECT_EQ(sm_->tunnelVlanGroupStatusDel(), tunnel_);
  EXPECT_EQ(sm_->tunnelVlanGroupStatus(), nullptr);
  EXPECT_EQ(sm_->tunnelVlanGroupStatusDel(), nullptr);
  EXPECT_EQ(sm_->changeSetDel(), changeSet_);
  EXPECT_EQ(sm_->changeSet(), nullptr);

  map(20, "");
  unmap(*tunnel_, 10, "239.1.1.1");
  changeSet_->changedInc(1);
  EXPECT_TRUE(sched_->idle());
  EXPECT_EQ(reactor(20), nullptr);
  EXPECT_NE(reactor(10, "239.1.1.1"), nullptr);
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
}

TEST_F(VpnInjectReviewSmTest, MirrorRepointedToAnotherStatusFollowsItsMappings) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(20, "239.1.1.2", {route("10.0.0.1", "225.1.1.2")});
  join(*local_, 10, "239.1.1.1");
  join(*local_, 20, "239.1.1.2");
  join(*local_, 30, "239.1.1.3");
  startSettled();
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
  startSettled();
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

// The walk traces its start, end and events; the events reach the ring
// buffer with their number.
TEST_F(VpnInjectReviewSmTest, WalkTracesItsStartEndAndEventsAndTheEventsReachTheRingBuffer) {
  std::filesystem::path const file =
      std::filesystem::temp_directory_path() / ("vpn-review-" + std::to_string(::getpid()) + ".flit");
  Flit::defaultFileIs(Flit::File::create(file.string()));
  ASSERT_NE(Flit::defaultFile(), nullptr);
  map(10, "239.1.1.1");
  TraceCapture trace("VpnInjectSm=7-8");
  startSettled();
  Flit::defaultFileIs(nullptr);
  std::string const event = "virtual void " + sig("traceEvent(Keel::WalkSmBase::TraceEvent) const: traceEvent");
  EXPECT_EQ(trace.texts(kHandle, 7), (Texts{event + "walkScheduled", event + "walkStarted", event + "walkFinished"}));
  EXPECT_EQ(trace.texts(kHandle, 8),
            (Texts{"void Irb::Multicast::Egress::VpnInjectReviewSm::VlanToMulticastGroup::handleVlanToMulticastGroup()",
                   "void " + sig("handleInitialized()"), "virtual bool " + sig("walkStartedNotification()"),
                   "virtual Keel::WalkRet " + sig("walk(): 1 items"), "reviewVlanGroup((10, 239.1.1.1))",
                   "reviewVlan(10)", "virtual void " + sig("walkFinishedNotification()")}));

  Texts records;
  Flit::TraceSummary summary;
  std::string error;
  ASSERT_TRUE(Flit::readFile(
      file.string(), summary, [&](std::uint64_t, std::string const& text) { records.push_back(text); }, error))
      << error;
  std::filesystem::remove(file);
  EXPECT_EQ(records, (Texts{event + "0", event + "1", event + "4"}));
}


// ---- the per-mapping reactor ----------------------------------------------------------------

using VpnInjectReviewReactorTest = VpnInjectReviewSmTest;

TEST_F(VpnInjectReviewReactorTest, RouteAddedOrRemovedWhileActiveIsInjectedOrWithdrawnAtOnce) {
  auto m = startWithOneMapping(true);
  m->multicastGroupIs(route("10.0.0.2", "225.1.1.2"));
  EXPECT_TRUE(sched_->idle());  // no walk needed
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.2", 10)}));
  EXPECT_EQ(reactor(10, "239.1.1.1")->injectRoute().size(), 2u);
  m->multicastGroupDel(route("10.0.0.1", "225.1.1.1"));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.2", 10)}));
  EXPECT_EQ(reactor(10, "239.1.1.1")->injectRoute(route("10.0.0.1", "225.1.1.1")), nullptr);
}

TEST_F(VpnInjectReviewReactorTest, RouteAddedWhileInactiveWaitsForTheFlag) {
  auto m = startWithOneMapping(false);
  m->multicastGroupIs(route("10.0.0.2", "225.1.1.2"));
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(reactor(10, "239.1.1.1")->injectRoute().empty());

  join(*local_, 10, "239.1.1.1");
  review(key(10, "239.1.1.1"));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.2", 10)}));

  leave(*local_, 10, "239.1.1.1");
  review(key(10, "239.1.1.1"));
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(reactor(10, "239.1.1.1")->injectRoute().empty());
}

TEST_F(VpnInjectReviewReactorTest, SettingTheFlagToItsValueDoesNothing) {
  startWithOneMapping(true);
  Reactor* const r = reactor(10, "239.1.1.1");
  ASSERT_TRUE(r->overlayMembership());
  std::uint64_t const writes = gmp_->membershipIsCalls();
  std::uint64_t const deletes = gmp_->membershipDelCalls();
  TraceCapture trace("*=0-9");
  r->overlayMembershipIs(true);
  changed(key(10, "239.1.1.1"));  // a review with the same verdict
  settle();
  EXPECT_EQ(trace.countContaining("handle"), 0u);
  EXPECT_EQ(gmp_->membershipIsCalls(), writes);
  EXPECT_EQ(gmp_->membershipDelCalls(), deletes);
}

TEST_F(VpnInjectReviewReactorTest, FlagChangeTracesTheKeyAndVerdictThenEachRoute) {
  map(10, "239.1.1.1",
      {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.2", Routing::Multicast::TunnelType::gre)});
  startSettled();
  TraceCapture trace("VpnInjectSm=8");
  reactor(10, "239.1.1.1")->overlayMembershipIs(true);
  EXPECT_EQ(trace.texts("VpnInjectSm", 8),
            (Texts{"handleOverlayMembershipVlan 10, Group 239.1.1.1=> true",
                   "handleMulticastGroup((10.0.0.1, 225.1.1.1, vxlan))",
                   "handleMulticastGroup((10.0.0.2, 225.1.1.2, gre))"}));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.2", 10)}));
}

TEST_F(VpnInjectReviewReactorTest, TeardownReleasesEveryHandle) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.1", "225.1.1.2")});
  map(20, "", {route("10.0.0.1", "225.1.1.3")});
  join(*local_, 10, "239.1.1.1");
  join(*local_, 20, "239.1.1.1");
  startSettled();
  ASSERT_EQ(joins().size(), 3u);
  sm_ = nullptr;
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(dedup_->empty());
}

TEST_F(VpnInjectReviewReactorTest, MappingsSharingAJoinKeepItUntilBothLetGo) {
  // Two overlay groups of one VLAN carried by the same underlay group.
  auto shared = route("10.0.0.1", "225.1.1.1");
  map(10, "239.1.1.1", {shared});
  map(10, "239.1.1.2", {shared});
  join(*local_, 10, "239.1.1.1");
  join(*local_, 10, "239.1.1.2");
  startSettled();
  ASSERT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
  EXPECT_EQ(gmp_->membershipIsCalls(), 1u);

  leave(*local_, 10, "239.1.1.1");
  review(key(10, "239.1.1.1"));
  EXPECT_FALSE(reactor(10, "239.1.1.1")->overlayMembership());
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
  EXPECT_EQ(gmp_->membershipDelCalls(), 0u);

  leave(*local_, 10, "239.1.1.2");
  review(key(10, "239.1.1.2"));
  EXPECT_TRUE(joins().empty());
}

TEST_F(VpnInjectReviewReactorTest, InjectRouteTakesTheNewHandleBeforeReleasingTheOld) {
  startWithOneMapping(false);
  Reactor* const r = reactor(10, "239.1.1.1");
  auto const rt = route("10.0.0.1", "225.1.1.1");
  auto first = dedup_->dedup(join4("225.1.1.1", 10));
  auto second = dedup_->dedup(join4("225.1.1.9", 10));
  r->injectRouteIs(rt, first);
  r->injectRouteIs(rt, first);  // the same handle: no change
  EXPECT_EQ(first->references(), 2u);
  r->injectRouteIs(rt, second);
  EXPECT_EQ(r->injectRoute(rt), second);
  EXPECT_EQ(first->references(), 1u);
  first = nullptr;
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.9", 10)}));

  r->injectRouteIs(rt, nullptr);  // null deletes
  EXPECT_TRUE(r->injectRoute().empty());
  EXPECT_EQ(second->references(), 1u);
  EXPECT_EQ(r->injectRouteDel(rt), nullptr);
}

// ---- restart equivalence --------------------------------------------------------------------

using VpnInjectReviewRestartEquivalenceTest = VpnInjectReviewSmTest;

// ---- VLAN-wide keys -------------------------------------------------------------------------

// Mappings keyed by no group or a wildcard group of either family all follow
// the one verdict on their VLAN.
TEST_F(VpnInjectReviewRestartEquivalenceTest, WildcardKeyedMappingsGetTheVlanVerdict) {
  map(10, "", {route("10.0.0.1", "225.1.1.2")});
  map(10, "0.0.0.0", {route("10.0.0.1", "225.1.1.1")});
  map(10, "::", {route("2001:db8::1", "ff3e::100")});
  join(*local_, 10, "239.1.1.1");
  TraceCapture trace("VpnInjectSm::OverlayMembership=9");
  startSettled();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.2", 10), join6("ff3e::100", 10)}));
  EXPECT_EQ(trace.count("VpnInjectSm::OverlayMembership", 9), 1u);  // one verdict for all three keys
  EXPECT_EQ(joins(), freshJoins());

  leave(*local_, 10, "239.1.1.1");
  review(key(10, "239.1.1.1"));
  EXPECT_TRUE(joins().empty());
  EXPECT_EQ(joins(), freshJoins());
}

// ---- flag turning false -------------------------------------------------------------------

TEST_F(VpnInjectReviewRestartEquivalenceTest, MembershipEndingReleasesHandlesOfRoutesNoLongerListed) {
  auto m = map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.1", "225.1.1.2")});
  join(*local_, 10, "239.1.1.1");
  startSettled();
  ASSERT_EQ(joins().size(), 2u);

  // A route removal the reactor does not hear: its handle stays for now.
  sm_->hasNotificationActiveIs(false);
  m->multicastGroupDel(route("10.0.0.1", "225.1.1.2"));
  sm_->hasNotificationActiveIs(true);
  ASSERT_EQ(joins().size(), 2u);

  leave(*local_, 10, "239.1.1.1");
  review(key(10, "239.1.1.1"));
  EXPECT_TRUE(reactor(10, "239.1.1.1")->injectRoute().empty());
  EXPECT_TRUE(joins().empty());
  EXPECT_EQ(joins(), freshJoins());
}

// ---- mapping replaced by another object ------------------------------------------------------

class VpnInjectReviewReplacedMappingTest : public VpnInjectReviewSmTest {
 protected:
  // Puts a new mapping object with `routes` in place of the present one.
  Vorn::Ptr<VlanToMulticastGroup> replace(std::initializer_list<Routing::Multicast::UnderlayRoute> routes) {
    auto m = VlanToMulticastGroup::vlanToMulticastGroupIs(key(10, "239.1.1.1"));
    for (auto const& r : routes) m->multicastGroupIs(r);
    tunnel_->vlanToMulticastGroupIs(m);
    return m;
  }
  void startWith(bool joined) {
    map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.1", "225.1.1.2")});
    if (joined) join(*local_, 10, "239.1.1.1");
    startSettled();
  }
};

TEST_F(VpnInjectReviewReplacedMappingTest, ReplacementReleasesRoutesGoneAndInjectsNewOnes) {
  startWith(true);
  std::uint64_t const writes = gmp_->membershipIsCalls();
  std::uint64_t const deletes = gmp_->membershipDelCalls();
  auto m2 = replace({route("10.0.0.1", "225.1.1.2"), route("10.0.0.1", "225.1.1.3")});

  EXPECT_EQ(reactor(10, "239.1.1.1")->vlanToMulticastGroup(), m2);
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.2", 10), join4("225.1.1.3", 10)}));
  EXPECT_EQ(gmp_->membershipIsCalls(), writes + 1);  // the route in both keeps its Join
  EXPECT_EQ(gmp_->membershipDelCalls(), deletes + 1);
  settle();
  EXPECT_EQ(joins(), freshJoins());

  m2->multicastGroupDel(route("10.0.0.1", "225.1.1.3"));  // the new object is observed
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.2", 10)}));
}

TEST_F(VpnInjectReviewReplacedMappingTest, ReplacementWhileInactiveInjectsNothing) {
  startWith(false);
  replace({route("10.0.0.1", "225.1.1.3")});
  EXPECT_TRUE(joins().empty());

  join(*local_, 10, "239.1.1.1");
  review(key(10, "239.1.1.1"));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.3", 10)}));
  EXPECT_EQ(joins(), freshJoins());
}

TEST_F(VpnInjectReviewReplacedMappingTest, ReplacementWithEqualRoutesRunsNothing) {
  startWith(true);
  std::uint64_t const writes = gmp_->membershipIsCalls();
  std::uint64_t const deletes = gmp_->membershipDelCalls();
  TraceCapture trace("VpnInjectSm=7-9,Pim::L3InjectSm=7");
  auto m2 = replace({route("10.0.0.1", "225.1.1.1"), route("10.0.0.1", "225.1.1.2")});
  EXPECT_EQ(reactor(10, "239.1.1.1")->vlanToMulticastGroup(), m2);
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_EQ(gmp_->membershipIsCalls(), writes);
  EXPECT_EQ(gmp_->membershipDelCalls(), deletes);
  EXPECT_TRUE(sched_->idle());
  EXPECT_EQ(joins().size(), 2u);
}

}  // namespace
