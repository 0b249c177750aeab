// How state is printed for people: natural interface order, aligned columns,
// counts, and `show inputs` giving lines that rebuild the same inputs.
#include <gtest/gtest.h>

#include <sstream>

#include "Parser.h"
#include "Runner.h"
#include "Show.h"
#include "World.h"

namespace Mcinject {
namespace {

using Routing::Gmp::Brim::Membership;
using Routing::Gmp::Brim::RouteIntfKey;

Wirl::IpGenAddr addr(char const* text) { return *Wirl::IpGenAddr::fromString(text); }

TEST(ShowTest, InterfaceNamesSortWithTheirNumbersAsNumbers) {
  EXPECT_TRUE(intfNameLess("Vlan9", "Vlan10"));
  EXPECT_FALSE(intfNameLess("Vlan10", "Vlan9"));
  EXPECT_TRUE(intfNameLess("Ethernet2", "Ethernet10"));
  EXPECT_TRUE(intfNameLess("Ethernet1/2", "Ethernet1/10"));
  EXPECT_TRUE(intfNameLess("Ethernet10", "Vlan1"));
  EXPECT_TRUE(intfNameLess("Vlan1", "Vlan1a"));
  EXPECT_FALSE(intfNameLess("Vlan7", "Vlan7"));
  EXPECT_TRUE(intfNameLess("Port1", "Port01"));
}

TEST(ShowTest, JoinsAreAlignedSortedByNameAndCounted) {
  auto status = Routing::Gmp::Brim::Status::statusIs();
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

TEST(ShowTest, AnEmptyTableSaysSo) {
  auto status = Routing::Gmp::Brim::Status::statusIs();
  std::ostringstream os;
  showJoins(os, *status);
  EXPECT_EQ(os.str(), "no joins\n");
}

TEST(ShowTest, ChangeSetListsKeysCounterAndScheduler) {
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

TEST(ShowTest, ShownInputsRebuildTheSameInputs) {
  Process process;
  std::ostringstream ignored;
  World first;
  Runner runFirst(first, process, ignored);
  for (char const* line :
       {"local A vlan 10 group 239.1.1.1 source * intf Ethernet2 Ethernet10", "local A vlan 11",
        "local A vlan 10 group ff3e::1 source 2001:db8::1", "peer B vlan 10 group 0.0.0.0",
        "map vlan 10 route 10.0.0.1 225.1.1.1", "map vlan 10 group 239.1.1.1 route * 225.1.1.2 tunnel gre",
        "map vlan 12 group ::", "sbd vlan 10 4000"}) {
    ParseResult r = parseLine(line);
    ASSERT_FALSE(r.isError()) << r.error();
    ASSERT_EQ(runFirst.run(r.command()).kind, Outcome::Kind::done) << line;
  }
  std::ostringstream shown;
  showInputs(shown, first);
  EXPECT_NE(shown.str().find("local A vlan 10 group 239.1.1.1 source * intf Ethernet2 Ethernet10\n"),
            std::string::npos)
      << shown.str();

  World second;
  Runner runSecond(second, process, ignored);
  std::istringstream lines(shown.str());
  std::string line;
  while (std::getline(lines, line)) {
    ParseResult r = parseLine(line);
    ASSERT_FALSE(r.isError()) << line << ": " << r.error();
    if (r.isEmpty()) continue;
    ASSERT_EQ(runSecond.run(r.command()).kind, Outcome::Kind::done) << line;
  }
  std::ostringstream again;
  showInputs(again, second);
  EXPECT_EQ(again.str(), shown.str());
}

}  // namespace
}  // namespace Mcinject
