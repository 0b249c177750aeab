// Commands applied to the inputs: changes are made in place, a command that
// fails changes nothing, and the state checks of `no`, `start`, `stop`,
// `toggle` hold.
#include <gtest/gtest.h>

#include <sstream>

#include "Parser.h"
#include "Paths.h"
#include "Runner.h"
#include "Show.h"
#include "Vorn/Notifiee.h"
#include "World.h"

namespace Mcinject {
namespace {

using Irb::Multicast::Gmp::MembershipJoinStatus;

// Counts the changes an entity notifies.
template <class T>
class ChangeCounter : public Vorn::NotifieeConstOf<T> {
 public:
  explicit ChangeCounter(Vorn::Ptr<T const> const& entity) {
    this->notifierIs(entity);
    this->isRegisteredNotifieeIs(true);
    this->hasNotificationActiveIs(true);
  }
  void onAttribute(Vorn::AttributeId, Vorn::Key const&) override { ++changes; }
  int changes = 0;
};

class RunnerTest : public ::testing::Test {
 protected:
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
  std::string inputs() {
    std::ostringstream os;
    showInputs(os, world);
    return os.str();
  }
  Vorn::Ptr<MembershipJoinStatus> local(std::string const& name) {
    auto it = world.statuses(Side::local).find(name);
    return it == world.statuses(Side::local).end() ? nullptr : it->second;
  }

  Process process;
  World world;
  std::ostringstream out;
  Runner runner{world, process, out};
};

TEST_F(RunnerTest, MembershipChangesAreMadeOnTheExistingObjects) {
  ok("local A vlan 10 group 239.1.1.1");
  auto status = local("A");
  ASSERT_TRUE(status);
  auto vlan = status->vlanMutable(10);
  auto group = vlan->groupMutable(*Wirl::IpGenAddr::fromString("239.1.1.1"));

  ok("local A vlan 10 group 239.1.1.1 source * intf Ethernet1");
  ok("local A vlan 10 group 239.1.1.1 source * intf Ethernet2");
  ok("local A vlan 10 group 239.1.1.2");
  EXPECT_EQ(local("A"), status);
  EXPECT_EQ(status->vlanMutable(10), vlan);
  EXPECT_EQ(vlan->groupMutable(*Wirl::IpGenAddr::fromString("239.1.1.1")), group);
  EXPECT_EQ(vlan->group().size(), 2u);
  auto source = group->source(Wirl::IpGenAddr(Wirl::AddressFamily::ipv4));
  ASSERT_TRUE(source);
  EXPECT_EQ(source->includeIntf().size(), 2u);

  ok("no local A vlan 10 group 239.1.1.1 source * intf Ethernet1");
  EXPECT_EQ(group->source(Wirl::IpGenAddr(Wirl::AddressFamily::ipv4)), source);
  EXPECT_EQ(source->includeIntf().size(), 1u);
}

TEST_F(RunnerTest, AMissingLevelIsAttachedInOneChange) {
  ok("local A vlan 10");
  auto counter = Vorn::make<ChangeCounter<MembershipJoinStatus>>(Vorn::Ptr<MembershipJoinStatus const>(local("A")));
  ok("local A vlan 20 group 239.1.1.1 source * intf Ethernet1 Ethernet2");
  EXPECT_EQ(counter->changes, 1);
  auto group = local("A")->vlan(20)->group(*Wirl::IpGenAddr::fromString("239.1.1.1"));
  ASSERT_TRUE(group);
  EXPECT_EQ(group->source(Wirl::IpGenAddr(Wirl::AddressFamily::ipv4))->includeIntf().size(), 2u);
  ok("no local A vlan 20");
  EXPECT_EQ(counter->changes, 2);
}

TEST_F(RunnerTest, MappingRoutesChangeInPlace) {
  ok("map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1");
  Routing::Multicast::OverlayVlanGroup const key(10, *Wirl::IpGenAddr::fromString("239.1.1.1"));
  auto mapping = world.tunnelVlanGroupStatus().vlanToMulticastGroup(key);
  ok("map vlan 10 group 239.1.1.1 route 10.0.0.2 225.1.1.2");
  ok("no map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1");
  EXPECT_EQ(world.tunnelVlanGroupStatus().vlanToMulticastGroup(key), mapping);
  EXPECT_EQ(mapping->multicastGroup().size(), 1u);
}

TEST_F(RunnerTest, AFailedRemovalChangesNothing) {
  ok("local A vlan 10 group 239.1.1.1 source * intf Ethernet1 Ethernet2");
  ok("map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1");
  ok("sbd vlan 10 4000");
  std::string const before = inputs();
  for (char const* line : {"no local A vlan 10 group 239.1.1.1 source * intf Ethernet1 Ethernet9",
                           "no local A vlan 10 group 239.1.1.1 source 10.0.0.1", "no local A vlan 11",
                           "no local B", "no peer A", "no map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.2",
                           "no map vlan 10", "no sbd vlan 11"}) {
    Outcome o = run(line);
    EXPECT_EQ(o.kind, Outcome::Kind::failed) << line;
    EXPECT_EQ(inputs(), before) << line;
  }
  EXPECT_EQ(run("no local A vlan 10 group 239.1.1.1 source * intf Ethernet1 Ethernet9").message,
            "no local: source * of group 239.1.1.1 in VLAN 10 of local status 'A' does not include interface "
            "Ethernet9");
}

TEST_F(RunnerTest, TheL3PathsStatusCannotBeRemovedWhileItRuns) {
  if (!pathAvailable(PathKind::l3)) GTEST_SKIP() << "no L3 path in this build";
  ok("map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1");
  ok("start l3 leaf");
  ASSERT_TRUE(local("leaf")) << "start l3 creates its status";
  ok("local leaf vlan 10 group 239.1.1.1");
  EXPECT_EQ(world.gmpStatus().membershipCount(), 1u);

  Outcome refused = run("no local leaf");
  EXPECT_EQ(refused.kind, Outcome::Kind::failed);
  EXPECT_EQ(refused.message, "no local: the L3 path runs on local status 'leaf'; stop it first");
  EXPECT_TRUE(local("leaf"));
  ok("no local leaf vlan 10");  // below the status itself, changes go on
  EXPECT_EQ(world.gmpStatus().membershipCount(), 0u);

  EXPECT_EQ(run("start l3").kind, Outcome::Kind::failed);
  ok("stop");
  ok("no local leaf");
  EXPECT_EQ(run("stop").message, "stop: no inject path is running");
}

TEST_F(RunnerTest, TogglesCloseWhenAPathHasStarted) {
  if (!pathAvailable(PathKind::l3)) GTEST_SKIP() << "no L3 path in this build";
  ok("toggle SomeOtherToggle on");
  ok("start l3");
  EXPECT_EQ(run("toggle SomeOtherToggle off").kind, Outcome::Kind::failed);
  EXPECT_EQ(process.toggles.values().at("SomeOtherToggle"), true);
}

TEST_F(RunnerTest, ChangeSetCommandsNeedARunningVpnPath) {
  std::string const why = pathAvailable(PathKind::vpn) ? "the VPN path is not running"
                                                       : "the VPN inject path is not available in this build";
  EXPECT_EQ(run("show changeset").message, "show changeset: " + why);
  EXPECT_EQ(run("expect changeset 0").message, "expect changeset: " + why);
  if (!pathAvailable(PathKind::vpn)) {
    Outcome o = run("start vpn");
    EXPECT_EQ(o.kind, Outcome::Kind::failed);
    EXPECT_EQ(o.message, "start vpn: the VPN inject path is not available in this build");
    EXPECT_EQ(world.path(), nullptr);
  }
}

TEST_F(RunnerTest, ExpectationsReportWhatTheyFound) {
  ok("gmp * 225.1.1.1 Vlan10");
  ok("gmp 10.0.0.1 225.1.1.1 Vlan20");
  Outcome o = run("expect join * 225.1.1.1 Vlan30");
  EXPECT_EQ(o.kind, Outcome::Kind::expectationFailed);
  EXPECT_EQ(o.message, "expected join (*, 225.1.1.1, Vlan30), found only (*, 225.1.1.1, Vlan10), "
                       "(10.0.0.1, 225.1.1.1, Vlan20)");
  EXPECT_EQ(run("expect joins 1").message,
            "expected 1 join, found 2: (*, 225.1.1.1, Vlan10), (10.0.0.1, 225.1.1.1, Vlan20)");
  EXPECT_EQ(run("expect no join 10.0.0.1 225.1.1.1 Vlan20").message,
            "expected no join (10.0.0.1, 225.1.1.1, Vlan20), found it with value 1");
  ok("expect joins 2");
  ok("expect join 0.0.0.0 225.1.1.1 Vlan10");
}

TEST_F(RunnerTest, CorruptionIsArmedForTheNextReadOnly) {
  ok("sbd vlan 10 4000");
  ok("corrupt sbd");
  ok("no sbd vlan 10");  // the check reads the entry list, not the table
  EXPECT_TRUE(world.mcastIrbStatus().vlanToSbdTable().corruptNextRead());
  ok("corrupt gmp");
  EXPECT_TRUE(world.gmpStatus().corruptNextRead());
  ok("expect corruptions gmp 0");
}

TEST_F(RunnerTest, HoldLeavesTheSchedulerAlone) {
  ok("hold");
  EXPECT_TRUE(world.held());
  ok("budget 3");
  EXPECT_EQ(world.scheduler().itemBudget(), 3u);
  ok("release");
  EXPECT_FALSE(world.held());
  EXPECT_TRUE(world.scheduler().idle());
}

}  // namespace
}  // namespace Mcinject
