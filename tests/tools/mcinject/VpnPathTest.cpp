// The VPN path as the program runs it: built in when the library has it,
// its change set drained only as far as the scheduler is let run, corruption
// armed for the change trackers' next read, and a stop that leaves no work
// behind.
#include <gtest/gtest.h>

#include <sstream>

#include "Parser.h"
#include "Paths.h"
#include "Runner.h"
#include "World.h"

namespace Mcinject {
namespace {

class VpnPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The library declares vpnInjectSmFactory: the build must carry the path.
    ASSERT_TRUE(pathAvailable(PathKind::vpn)) << "the VPN path was not compiled in";
  }

  Outcome run(std::string_view line) {
    ParseResult r = parseLine(line);
    EXPECT_FALSE(r.isError()) << line << ": " << r.error();
    if (r.isError() || r.isEmpty()) return Outcome::failed("not parsed");
    return runner.run(r.command());
  }
  void ok(std::string_view line) {
    Outcome o = run(line);
    EXPECT_EQ(o.kind, Outcome::Kind::done) << line << ": " << o.message;
  }
  std::size_t waiting() const { return world.path()->changeSet()->vlanGroup().size(); }
  std::uint64_t joins() const { return world.gmpStatus().membershipCount(); }

  Process process;
  World world;
  std::ostringstream out;
  Runner runner{world, process, out};
};

TEST_F(VpnPathTest, StepRunsNoMoreSlicesThanAsked) {
  for (char const* g : {"239.1.1.1", "239.1.1.2", "239.1.1.3", "239.1.1.4"}) {
    ok(std::string("map vlan 10 group ") + g + " route 10.0.0.1 225.1.1.1");
    ok(std::string("local local vlan 10 group ") + g);
  }
  ok("hold");
  ok("budget 1");
  ok("start vpn");
  ASSERT_EQ(world.path()->kind(), PathKind::vpn);
  EXPECT_EQ(waiting(), 4u);
  std::uint64_t const before = world.scheduler().slicesRun();
  ok("step 2");
  EXPECT_EQ(world.scheduler().slicesRun(), before + 2);
  EXPECT_EQ(waiting(), 2u);
  EXPECT_EQ(joins(), 1u) << "four groups share one underlay route";
  ok("step 5");  // two left: the walk ends and the scheduler goes idle
  EXPECT_EQ(waiting(), 0u);
  EXPECT_TRUE(world.scheduler().idle());
}

TEST_F(VpnPathTest, ChangesWaitWhileHeldAndConvergeOnRelease) {
  ok("map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1");
  ok("start vpn");
  ok("hold");
  ok("local local vlan 10 group 239.1.1.1");
  EXPECT_EQ(waiting(), 1u);
  EXPECT_EQ(joins(), 0u);
  ok("release");
  EXPECT_EQ(waiting(), 0u);
  EXPECT_EQ(joins(), 1u);
  EXPECT_EQ(run("expect changeset 1").kind, Outcome::Kind::expectationFailed);
}

TEST_F(VpnPathTest, StopWithQueuedReviewLeavesNothingToRun) {
  ok("map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1");
  ok("local local vlan 10 group 239.1.1.1");
  ok("start vpn");
  EXPECT_EQ(joins(), 1u);
  ok("hold");
  ok("local local vlan 10 group 239.1.1.2");
  EXPECT_FALSE(world.scheduler().idle());
  ok("stop");
  EXPECT_EQ(world.path(), nullptr);
  EXPECT_TRUE(world.scheduler().idle()) << "the path's review task outlived it";
  EXPECT_EQ(joins(), 0u);
}

TEST_F(VpnPathTest, CorruptSbdIsReportedByTheNextGroupChangeWhichThenIgnoresTheSbd) {
  using Routing::Multicast::OverlayVlanGroup;
  auto const g1 = *Wirl::IpGenAddr::fromString("239.1.1.1");
  auto const g2 = *Wirl::IpGenAddr::fromString("239.1.1.2");
  ok("local local vlan 10 group 239.1.1.1");
  ok("sbd vlan 10 4000");
  ok("start vpn");
  ok("hold");
  ok("corrupt sbd");
  // Neither a change below a local group nor a mapping or SBD change reads
  // the table: the corruption stays armed.
  ok("local local vlan 10 group 239.1.1.1 source * intf Ethernet1");
  ok("map vlan 4000 group 239.1.1.2 route 10.0.0.1 225.4.4.2");
  ok("sbd vlan 11 4000");
  ok("release");
  ok("hold");
  EXPECT_EQ(world.corruptions(Table::sbd), 0u);
  EXPECT_TRUE(world.mcastIrbStatus().vlanToSbdTable().corruptNextRead());

  // The group change reads it: reported, and VLAN 10 counts as having no SBD
  // VLAN for this change only.
  ok("local local vlan 10 group 239.1.1.2");
  EXPECT_EQ(world.corruptions(Table::sbd), 1u);
  EXPECT_FALSE(world.mcastIrbStatus().vlanToSbdTable().corruptNextRead());
  auto const changeSet = world.path()->changeSet();
  EXPECT_TRUE(changeSet->vlanGroup(OverlayVlanGroup(10, g2)));
  EXPECT_FALSE(changeSet->vlanGroup(OverlayVlanGroup(4000, g2)));
  ok("no local local vlan 10 group 239.1.1.1");
  EXPECT_TRUE(changeSet->vlanGroup(OverlayVlanGroup(4000, g1)));
  ok("release");
  EXPECT_EQ(joins(), 0u) << "(4000, 239.1.1.2) is not reviewed again after the join";
  ok("expect corruptions sbd 1");
}

TEST_F(VpnPathTest, AnyStatusMayGoWhileTheVpnPathRuns) {
  ok("map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1");
  ok("local local vlan 10 group 239.1.1.1");
  ok("start vpn");
  EXPECT_EQ(joins(), 1u);
  ok("no local local");  // only the L3 path pins a status
  EXPECT_EQ(joins(), 0u);
  Outcome twice = run("start vpn");
  EXPECT_EQ(twice.kind, Outcome::Kind::failed);
  EXPECT_EQ(twice.message, "start vpn: the VPN path is already running; stop it first");
  EXPECT_EQ(run("start l3").message, "start l3: the VPN path is already running; stop it first");
}

}  // namespace
}  // namespace Mcinject
