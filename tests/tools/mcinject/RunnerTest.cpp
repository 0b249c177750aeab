// Commands applied to the inputs: changes are made in place, a command that
// fails changes nothing, and the state checks of `no`, `start`, `stop`,
// `toggle` hold. The VPN path as the program runs it: built in when the
// library has it, its change set drained only as far as the scheduler is let
// run, corruption armed for the change trackers' next read, and a stop that
// leaves no work behind. How state is printed for people: natural interface
// order, aligned columns, counts, and `show inputs` giving lines that rebuild
// the same inputs. (Messages that a scenario under tests/scenarios already
// checks for the same lines are not repeated.)
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
using Routing::Gmp::Brim::RouteIntfKey;

Wirl::IpGenAddr addr(char const* text) { return *Wirl::IpGenAddr::fromString(text); }

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

TEST_F(RunnerTest, MembershipAndMappingChangesAreMadeOnTheExistingObjects) {
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

  ok("map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1");
  Routing::Multicast::OverlayVlanGroup const key(10, *Wirl::IpGenAddr::fromString("239.1.1.1"));
  auto mapping = world.tunnelVlanGroupStatus().vlanToMulticastGroup(key);
  ok("map vlan 10 group 239.1.1.1 route 10.0.0.2 225.1.1.2");
  ok("no map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1");
  EXPECT_EQ(world.tunnelVlanGroupStatus().vlanToMulticastGroup(key), mapping);
  EXPECT_EQ(mapping->multicastGroup().size(), 1u);
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
}

TEST_F(RunnerTest, TheL3PathsStatusCannotBeRemovedWhileItRuns) {
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
}

TEST_F(RunnerTest, TogglesCloseWhenAPathHasStarted) {
  ok("toggle PimL3TunnelInject on");
  ok("start l3");
  EXPECT_EQ(run("toggle PimL3TunnelInject off").kind, Outcome::Kind::failed);
  EXPECT_EQ(process.toggles.values().at("PimL3TunnelInject"), true);
}

TEST_F(RunnerTest, ChangeSetCommandsNeedARunningVpnPath) {
  EXPECT_EQ(run("show changeset").message, "show changeset: the VPN path is not running");
  EXPECT_EQ(run("expect changeset 0").message, "expect changeset: the VPN path is not running");
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

// ---- the VPN path -------------------------------------------------------------------------

class VpnPathTest : public RunnerTest {
 protected:
  std::size_t waiting() const { return world.path()->changeSet()->vlanGroup().size(); }
  std::uint64_t joins() const { return world.gmpStatus().membershipCount(); }
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

TEST_F(VpnPathTest, ChangesWaitWhileHeldAndConvergeOnReleaseAndAStopLeavesNothingToRun) {
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

  ok("hold");
  ok("local local vlan 10 group 239.1.1.2");
  EXPECT_FALSE(world.scheduler().idle());
  ok("stop");
  EXPECT_EQ(world.path(), nullptr);
  EXPECT_TRUE(world.scheduler().idle()) << "the path's review task outlived it";
  EXPECT_EQ(joins(), 0u);
}


// ---- how state is shown -------------------------------------------------------------------

using ShowTest = RunnerTest;

TEST_F(ShowTest, InterfaceNamesSortWithTheirNumbersAsNumbers) {
  EXPECT_TRUE(intfNameLess("Vlan9", "Vlan10"));
  EXPECT_FALSE(intfNameLess("Vlan10", "Vlan9"));
  EXPECT_TRUE(intfNameLess("Ethernet2", "Ethernet10"));
  EXPECT_TRUE(intfNameLess("Ethernet1/2", "Ethernet1/10"));
  EXPECT_TRUE(intfNameLess("Ethernet10", "Vlan1"));
  EXPECT_TRUE(intfNameLess("Vlan1", "Vlan1a"));
  EXPECT_FALSE(intfNameLess("Vlan7", "Vlan7"));
  EXPECT_TRUE(intfNameLess("Port1", "Port01"));
}

TEST_F(ShowTest, JoinsAreAlignedSortedByNameAndCountedAndAnEmptyTableSaysSo) {
  auto status = Routing::Gmp::Brim::Status::statusIs();
  std::ostringstream empty;
  showJoins(empty, *status);
  EXPECT_EQ(empty.str(), "no joins\n");
  // Interned in the reverse of their name order: the table must not show
  // interning order.
  Wirl::IntfId const vlan200 = Wirl::IntfId::fromName("Vlan200");
  Wirl::IntfId const vlan3 = Wirl::VlanIntfId::vlanIdToIntfId(3);
  status->membershipIs({RouteIntfKey(addr("10.0.0.1"), addr("225.1.1.1"), vlan200), 1});
  status->membershipIs({RouteIntfKey(Wirl::IpGenAddr(Wirl::AddressFamily::ipv4), addr("225.1.1.10"), vlan3), 1});
  status->membershipIs({RouteIntfKey(Wirl::IpGenAddr(Wirl::AddressFamily::ipv4), addr("225.1.1.2"), vlan3), 1});
  status->membershipIs({RouteIntfKey(Wirl::IpGenAddr(Wirl::AddressFamily::ipv6), addr("ff3e::1"), vlan3), 0});
  std::ostringstream os;
  showJoins(os, *status);
  EXPECT_EQ(os.str(),
            "Interface  Group       Source    Type\n"
            "Vlan3      225.1.1.2   *         (*,G)\n"
            "Vlan3      225.1.1.10  *         (*,G)\n"
            "Vlan3      ff3e::1     *         (*,G) value 0\n"
            "Vlan200    225.1.1.1   10.0.0.1  (S,G)\n"
            "3 joins, 1 other entry\n");
}

TEST_F(ShowTest, ChangeSetListsKeysCounterAndScheduler) {
  auto changeSet = Irb::Multicast::Egress::overlayChangeSetFactory();
  changeSet->vlanGroupIs({20, addr("239.1.1.1")});
  changeSet->vlanGroupIs({10, Wirl::IpGenAddr()});
  changeSet->vlanGroupIs({10, addr("0.0.0.0")});
  changeSet->changedInc(3);
  auto scheduler = Vorn::make<Keel::TaskScheduler>();
  scheduler->itemBudgetIs(2);
  std::ostringstream os;
  showChangeSet(os, *changeSet, *scheduler, true);
  EXPECT_EQ(os.str(),
            "VLAN  Group\n"
            "10    * (whole VLAN)\n"
            "10    0.0.0.0 (every group)\n"
            "20    239.1.1.1\n"
            "3 overlay VLAN groups waiting for review (changed counter 3)\n"
            "scheduler: held, 0 tasks queued, budget 2 items per slice, 0 slices run\n");
}

TEST_F(ShowTest, ShownInputsRebuildTheSameInputs) {
  for (char const* line :
       {"local A vlan 10 group 239.1.1.1 source * intf Ethernet2 Ethernet10", "local A vlan 11",
        "local A vlan 10 group ff3e::1 source 2001:db8::1", "peer B vlan 10 group 0.0.0.0",
        "map vlan 10 route 10.0.0.1 225.1.1.1", "map vlan 10 group 239.1.1.1 route * 225.1.1.2 tunnel gre",
        "map vlan 12 group ::", "sbd vlan 10 4000"})
    ok(line);
  std::string const shown = inputs();
  EXPECT_NE(shown.find("local A vlan 10 group 239.1.1.1 source * intf Ethernet2 Ethernet10\n"), std::string::npos)
      << shown;

  World second;
  Runner runSecond(second, process, out);
  std::istringstream lines(shown);
  std::string line;
  while (std::getline(lines, line)) {
    ParseResult r = parseLine(line);
    ASSERT_FALSE(r.isError()) << line << ": " << r.error();
    if (r.isEmpty()) continue;
    ASSERT_EQ(runSecond.run(r.command()).kind, Outcome::Kind::done) << line;
  }
  std::ostringstream again;
  showInputs(again, second);
  EXPECT_EQ(again.str(), shown);
}

}  // namespace
}  // namespace Mcinject
