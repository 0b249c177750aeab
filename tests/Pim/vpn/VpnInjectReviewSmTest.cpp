// The reviewer where the randomized suite does not reach: no walk before
// start-up ends, a reviewer switched off for a while, and its trace (walk
// events and the per-mapping reactor). Which Joins it writes is judged
// against the reference model and a fresh start by RandomizedVpnTest.
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

// ---- input reactors ---------------------------------------------------------------------

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

// ---- the per-mapping reactor ----------------------------------------------------------------

using VpnInjectReviewReactorTest = VpnInjectReviewSmTest;

}  // namespace
