// The L3 inject path: Joins following the inputs (also when inputs are removed
// wholesale or replaced by other objects), start-up, teardown and its trace.
#include "Pim/l3/L3InjectSm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Brim/BrimMapBase.h"
#include "Flit/Flit.h"
#include "Flit/FlitReader.h"
#include "Pim/join/JoinKey.h"
#include "Vorn/Exception.h"
#include "support/Inputs.h"
#include "support/L3Fixture.h"
#include "support/TraceCapture.h"

namespace {

using namespace TestSupport;
using Irb::Multicast::Egress::L3InjectSm;
using Irb::Multicast::Egress::l3InjectSmFactory;
using Irb::Multicast::Gmp::GroupMembershipJoin;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Gmp::Brim::Membership;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::UnderlayRoute;
using Routing::Multicast::VlanToMulticastGroup;
using JoinKeys = std::set<Routing::Gmp::Brim::RouteIntfKey>;

constexpr char const* kG1 = "239.1.1.1";
constexpr char const* kG2 = "239.1.1.2";
constexpr char const* kG3 = "239.1.1.3";

UnderlayRoute r1() { return route("10.0.0.1", "225.1.1.1"); }
UnderlayRoute r2() { return route("10.0.0.2", "225.1.1.2"); }
UnderlayRoute r3() { return route("10.0.0.3", "225.1.1.3"); }

std::vector<std::string> containing(std::vector<std::string> const& texts, std::string const& fragment) {
  std::vector<std::string> out;
  for (auto const& t : texts)
    if (t.find(fragment) != std::string::npos) out.push_back(t);
  return out;
}

// ---- Joins follow the inputs ----------------------------------------------------------

class L3InjectSmJoins : public L3Fixture {};

// One scripted case: inputs, a start, then changes; after the start and after
// every change the path holds exactly the expected Joins, the Joins a fresh
// start writes, one reactor per mapping and one per VLAN entry.
struct JoinStep {
  char const* what;
  std::function<void()> change;
  std::set<Routing::Gmp::Brim::RouteIntfKey> joins;
};
struct JoinScript {
  char const* name;
  std::function<void()> inputs;
  std::vector<JoinStep> steps;  // the first one's change runs before the start
};

TEST_F(L3InjectSmJoins, RunningPathFollowsEachScriptedChange) {
  ASSERT_TRUE(Irb::Multicast::Egress::togglePimL3TunnelInjectEnabled());
  auto const g = [](int n, unsigned short vlan = 10) { return starG(("225.1.1." + std::to_string(n)).c_str(), vlan); };
  auto const v6 = joinKey("::", "ff3e::225", 10);
  auto const v6route = route("2001:db8::1", "ff3e::225");
  auto const m = [this](char const* group) { return map(*tunnel, 10, group); };
  auto const none = [] {};
  std::vector<JoinScript> const scripts{
      {"MappingWithLocalMembersInjectsOneJoinPerRouteAndFollowsItsRoutes",
       [&] { join(*local, 10, kG1); map(*tunnel, 10, kG1, {r1(), r2(), r3()}); },
       {{"start", none, {g(1), g(2), g(3)}},
        {"route 1 goes", [&] { m(kG1)->multicastGroupDel(r1()); }, {g(2), g(3)}},
        {"route 1 back", [&] { m(kG1)->multicastGroupIs(r1()); }, {g(1), g(2), g(3)}}}},
      {"GroupJoinAndLeaveMoveTheJoins",
       [&] { map(*tunnel, 10, kG1, {r1()}); map(*tunnel, 10, kG2, {r2()}); },
       {{"start", none, {}},
        {"join G1", [&] { join(*local, 10, kG1); }, {g(1)}},
        {"join G2", [&] { join(*local, 10, kG2); }, {g(1), g(2)}},
        {"leave G1", [&] { leave(*local, 10, kG1); }, {g(2)}}}},
      {"MappingsAddedAndRemovedWhileRunningMoveTheJoins", [&] { join(*local, 10, kG1); },
       {{"start", none, {}},
        {"map", [&] { map(*tunnel, 10, kG1, {r1(), r2()}); }, {g(1), g(2)}},
        {"unmap", [&] { unmap(*tunnel, 10, kG1); }, {}}}},
      {"WholeVlanMappingFollowsTheVlanEntry", [&] { map(*tunnel, 10, "", {r1()}); },
       {{"start", none, {}},
        {"entry without any group", [&] { join(*local, 10); }, {g(1)}},
        {"entry goes", [&] { leave(*local, 10); }, {}}}},
      {"SpecificGroupNeedsItsExactEntryNotAWildcard",
       [&] {
         join(*local, 10, "0.0.0.0");
         map(*tunnel, 10, kG1, {r1()});
         map(*tunnel, 10, "0.0.0.0", {r2()});
       },
       {{"start", none, {g(2)}}, {"join G1", [&] { join(*local, 10, kG1); }, {g(1), g(2)}}}},
      {"VlanEntryWithoutMappingGetsReactorButNoJoin",
       [&] { join(*local, 20, kG1); map(*tunnel, 10, kG1, {r1()}); },
       {{"start", none, {}}}},
      {"IPv6GroupJoinsWithTheUnspecifiedSource",
       [&] { join(*local, 10, "ff3e::1"); map(*tunnel, 10, "ff3e::1", {v6route}); },
       {{"start", none, {v6}}}},
      {"JoinIsStarGWhateverTheRouteSourceAndStaysWhileEitherRouteIsListed",
       [&] { join(*local, 10, kG1); map(*tunnel, 10, kG1, {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.1")}); },
       {{"start", none, {g(1)}},
        {"first route goes", [&] { m(kG1)->multicastGroupDel(route("10.0.0.1", "225.1.1.1")); }, {g(1)}},
        {"second route goes", [&] { m(kG1)->multicastGroupDel(route("10.0.0.2", "225.1.1.1")); }, {}}}},
      {"RepointingVlanEntryActsOnTheGroupsThatDiffer",
       [&] {
         join(*local, 10, kG1);
         join(*local, 10, kG2);
         map(*tunnel, 10, kG1, {r1()});
         map(*tunnel, 10, kG2, {r2()});
         map(*tunnel, 10, kG3, {r3()});
       },
       {{"start", none, {g(1), g(2)}},
        {"entry replaced", [&] { local->vlanIs(vlanEntry(10, {kG2, kG3})); }, {g(2), g(3)}}}},
      {"WildcardKeyedMappingsFollowTheVlanEntryWhileRunning",
       [&] { map(*tunnel, 10, "0.0.0.0", {r1()}); map(*tunnel, 10, "::", {r2()}); },
       {{"start", none, {}},
        {"entry with a specific group only", [&] { join(*local, 10, kG1); }, {g(1), g(2)}},
        {"entry goes", [&] { leave(*local, 10); }, {}}}},
      {"WildcardGroupLeavingKeepsVlanWideSmetWhileTheVlanRemains",
       [&] {
         join(*local, 10, "0.0.0.0");
         join(*local, 10, kG1);
         map(*tunnel, 10, "0.0.0.0", {r1()});
         map(*tunnel, 10, "", {r2()});
       },
       {{"start", none, {g(1), g(2)}}, {"wildcard leaves", [&] { leave(*local, 10, "0.0.0.0"); }, {g(1), g(2)}}}},
      {"UnspecifiedGroupLeavingKeepsTheIPv6WildcardMapping",
       [&] { join(*local, 10, "::"); map(*tunnel, 10, "::", {v6route}); },
       {{"start", none, {v6}},
        {"'::' leaves, the entry stays", [&] { leave(*local, 10, "::"); }, {v6}},
        {"entry goes", [&] { leave(*local, 10); }, {}}}},
  };
  for (auto const& script : scripts) {
    SCOPED_TRACE(script.name);
    local = MembershipJoinStatus::membershipJoinStatusIs("local");
    tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
    gmp = Routing::Gmp::Brim::Status::statusIs();
    script.inputs();
    Vorn::Ptr<L3InjectSm> sm;
    for (auto const& step : script.steps) {
      SCOPED_TRACE(step.what);
      step.change();
      if (!sm) {
        sm = start();
        EXPECT_TRUE(sm->initialized());
      }
      EXPECT_EQ(current(), step.joins);
      EXPECT_EQ(current(), freshJoins());
      for (auto const& [k, v] : gmp->entries()) EXPECT_EQ(v, 1u) << k;
      EXPECT_EQ(sm->vornVlanToMulticastGroup().size(), tunnel->vlanToMulticastGroup().size());
      EXPECT_EQ(sm->vornVlanMembership().size(), local->vlan().size());
    }
  }
}

TEST_F(L3InjectSmJoins, JoinSharedByTwoMappingsStaysUntilBothLetGo) {
  join(*local, 10, kG1);
  join(*local, 10, kG2);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 10, kG2, {r1()});
  auto sm = start();
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.1", 10)});
  EXPECT_EQ(gmp->membershipIsCalls(), 1u);
  unmap(*tunnel, 10, kG1);
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.1", 10)});
  EXPECT_EQ(gmp->membershipDelCalls(), 0u);
  unmap(*tunnel, 10, kG2);
  EXPECT_TRUE(current().empty());
  EXPECT_EQ(gmp->membershipDelCalls(), 1u);
}

TEST_F(L3InjectSmJoins, DelReturnsTheObservedMappingAfterWithdrawingItsJoins) {
  join(*local, 10, kG1);
  auto m = map(*tunnel, 10, kG1, {r1(), r2()});
  auto sm = start();
  auto removed = sm->vlanToMulticastGroupDel(key(10, kG1));
  EXPECT_EQ(removed, m);
  EXPECT_TRUE(current().empty());
  EXPECT_FALSE(sm->vlanToMulticastGroupDel(key(10, kG1)));
}

TEST_F(L3InjectSmJoins, DelAllOfEitherCollectionWithdrawsTheJoins) {
  join(*local, 10, kG1);
  join(*local, 20);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 20, "", {r2()});
  auto sm = start();
  ASSERT_EQ(current().size(), 2u);
  sm->vlanMembershipDelAll();  // SMET given by the VLAN entries goes with them
  EXPECT_TRUE(current().empty());
  EXPECT_TRUE(sm->vornVlanMembership().empty());
  sm->vlanMembershipIs(local->vlan(10));
  sm->vlanMembershipIs(local->vlan(20));
  ASSERT_EQ(current().size(), 2u);
  sm->vlanToMulticastGroupDelAll();
  EXPECT_TRUE(current().empty());
  EXPECT_TRUE(sm->vornVlanToMulticastGroup().empty());
}

TEST_F(L3InjectSmJoins, NullArgumentsRaiseNamingTypeAndAttributeAndChangeNothing) {
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  auto sm = start();
  auto const expectNull = [&](auto&& call, char const* attribute) {
    try {
      call();
      ADD_FAILURE() << "no exception for a null " << attribute;
    } catch (Vorn::MutatorNullArgumentException const& e) {
      EXPECT_EQ(e.type(), "Irb::Multicast::Egress::L3InjectSm");
      EXPECT_EQ(e.attribute(), attribute);
    }
  };
  expectNull([&] { sm->vlanToMulticastGroupIs(nullptr); }, "vlanToMulticastGroup");
  expectNull([&] { sm->vlanMembershipIs(nullptr); }, "vlanMembership");
  expectNull([&] { sm->membershipJoinStatusIs(nullptr); }, "membershipJoinStatus");
  expectNull([&] { sm->tunnelVlanGroupStatusIs(nullptr); }, "tunnelVlanGroupStatus");
  EXPECT_EQ(sm->vornVlanToMulticastGroup().size(), 1u);
  EXPECT_EQ(sm->vornVlanMembership().size(), 1u);
  EXPECT_EQ(sm->membershipJoinStatus(), local);
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.1", 10)});
}

// ---- start-up ---------------------------------------------------------------------------

class L3InjectSmStartUp : public L3Fixture {
 protected:
  void TearDown() override { Brim::BrimMapBase::reporterIs(nullptr); }
};

TEST_F(L3InjectSmStartUp, KeepsWantedJoinsAndRemovesStaleOnesWithOneStatementEach) {
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  gmp->membershipIs(Membership{starG("225.1.1.1", 10), 1});          // wanted
  gmp->membershipIs(Membership{starG("225.9.9.9", 10), 1});          // stale
  gmp->membershipIs(Membership{joinKey("10.1.1.1", "225.1.1.1", 20), 1});  // stale, someone else's
  auto const delsBefore = gmp->membershipDelCalls();
  TraceCapture trace("Pim::L3InjectSm=7");
  auto sm = start();
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.1", 10)});
  EXPECT_EQ(gmp->membershipDelCalls() - delsBefore, 2u) << "a wanted Join was deleted and rewritten";
  std::vector<std::string> const expected{
      "void Irb::Multicast::Egress::L3InjectSm::handleInitialized():  Cleaning up stale underlayRoute "
      "0.0.0.0, 225.9.9.9, Vlan10",
      "void Irb::Multicast::Egress::L3InjectSm::handleInitialized():  Cleaning up stale underlayRoute "
      "10.1.1.1, 225.1.1.1, Vlan20"};
  EXPECT_EQ(containing(trace.texts("Pim::L3InjectSm", 7), "Cleaning up stale"), expected);
  for (auto const& l : trace.lines()) {
    if (l.text.find("Cleaning up stale") == std::string::npos) continue;
    EXPECT_EQ(l.line, 217);
    EXPECT_EQ(l.function, "handleInitialized");
  }
}

TEST_F(L3InjectSmStartUp, StaleCleanupWritesOneFlitRecordPerEntry) {
  gmp->membershipIs(Membership{starG("225.9.9.9", 10), 1});
  gmp->membershipIs(Membership{joinKey("::", "ff3e::9", 20), 1});
  auto const path = std::filesystem::temp_directory_path() /
                    ("mcinject-l3stale-" + std::to_string(::getpid()) + ".flit");
  std::string error;
  auto file = Flit::File::create(path.string(), 1u << 16, &error);
  ASSERT_TRUE(file) << error;
  Flit::defaultFileIs(std::move(file));
  {
    TraceCapture trace("off");
    auto sm = start();
  }
  Flit::defaultFileIs(nullptr);
  std::ostringstream out;
  bool const ok = Flit::printFile(path.string(), out, error);
  std::filesystem::remove(path);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(out.str(),
            "[0] void Irb::Multicast::Egress::L3InjectSm::handleInitialized():  Cleaning up stale underlayRoute "
            "0.0.0.0, 225.9.9.9, Vlan10\n"
            "[1] void Irb::Multicast::Egress::L3InjectSm::handleInitialized():  Cleaning up stale underlayRoute "
            "::, ff3e::9, Vlan20\n");
}

TEST_F(L3InjectSmStartUp, EmptyTableStartsWithoutStatementAndIsInitialized) {
  map(*tunnel, 10, kG1, {r1()});
  TraceCapture trace("Pim::L3InjectSm=7");
  auto sm = start();
  EXPECT_TRUE(sm->initialized());
  EXPECT_EQ(trace.count("Pim::L3InjectSm", 7), 0u);
  EXPECT_TRUE(gmp->entries().empty());
}

TEST_F(L3InjectSmStartUp, CorruptionDuringCleanupIsReportedAndStartUpCompletes) {
  std::vector<std::string> reported;
  Brim::BrimMapBase::reporterIs(
      [&](std::string const& table, std::string const& msg) { reported.push_back(table + ": " + msg); });
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  gmp->membershipIs(Membership{starG("225.9.9.9", 10), 1});
  gmp->corruptNextReadIs(true);
  auto sm = start();
  EXPECT_TRUE(sm->initialized());
  EXPECT_EQ(gmp->corruptionsDetected(), 1u);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find("Routing::Gmp::Brim::Status"), std::string::npos);
  // The walk ended at the corruption; the wanted Join is in place all the same.
  EXPECT_TRUE(current().count(starG("225.1.1.1", 10)));
  EXPECT_TRUE(current().count(starG("225.9.9.9", 10)));
}

TEST_F(L3InjectSmStartUp, StartUpTracesToTheLetter) {
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  TraceCapture trace("Pim::L3InjectSm=8");
  auto sm = start();
  std::vector<std::string> const expected{
      "local()::tunnel Vlan10 239.1.1.1::handleInit",
      "local()::membershipJoinStatusLookup vlan10, 239.1.1.1",
      "local()::membershipJoinStatusLookup found smet for vlan10,239.1.1.1",
      "local()::tunnel Vlan10 239.1.1.1::handleInit:: set smet to true ",
      "local()::tunnel Vlan10 239.1.1.1::handleSmetUpdate smet true",
      "local()::tunnel Vlan10 239.1.1.1::handleMulticastGroup:: underlayRoute ( 10.0.0.1, 225.1.1.1, vxlan ) "
      "smet exist true add/del true",
      "local()::smet Vlan10::handleVlanMembership",
      "local()::smet Vlan10::handleGroup",
      "local()::smet Vlan10::handleGroup Smet group 239.1.1.1 add/del true",
      "local()::smet Vlan10::handleGroup set smet for tunnelVlanGroup to true, vlan10, 239.1.1.1",
      "local()::handleInitialized",
  };
  EXPECT_EQ(trace.texts("Pim::L3InjectSm", 8), expected);
  std::vector<int> lines;
  for (auto const& l : trace.lines()) lines.push_back(l.line);
  EXPECT_EQ(lines, (std::vector<int>{135, 71, 84, 138, 93, 109, 153, 198, 184, 191, 206}));
  // The VLAN reactor found SMET already set: nothing written twice.
  EXPECT_EQ(gmp->membershipIsCalls(), 1u);
}

TEST_F(L3InjectSmStartUp, LookupOfVlanWideGroupNeedsOnlyTheVlanEntry) {
  join(*local, 10);
  map(*tunnel, 10, "", {r1()});
  map(*tunnel, 10, "::", {r2()});
  map(*tunnel, 10, kG1, {r3()});
  TraceCapture trace("Pim::L3InjectSm=8");
  auto sm = start();
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.1", 10), starG("225.1.1.2", 10)}));
  EXPECT_EQ(containing(trace.texts("Pim::L3InjectSm", 8), "no need to check").size(), 2u);
  EXPECT_EQ(containing(trace.texts("Pim::L3InjectSm", 8), "local()::membershipJoinStatusLookup no need to check "
                                                          "wildcard group address")
                .size(),
            2u);
}

// ---- teardown ------------------------------------------------------------------------------

class L3InjectSmTeardown : public L3Fixture {};

TEST_F(L3InjectSmTeardown, DroppingTheLastReferenceWithdrawsEveryJoin) {
  join(*local, 10, kG1);
  join(*local, 20);
  map(*tunnel, 10, kG1, {r1(), r2()});
  map(*tunnel, 20, "", {r2(), r3()});
  auto sm = start();
  auto const foreign = joinKey("10.9.9.9", "225.9.9.9", 30);
  gmp->membershipIs(Membership{foreign, 1});  // written by someone else after start-up
  ASSERT_EQ(current().size(), 5u);
  sm = nullptr;
  EXPECT_EQ(current(), JoinKeys{foreign});
}

TEST_F(L3InjectSmTeardown, InputsChangingAfterTeardownWriteNothing) {
  join(*local, 10, kG1);
  auto m = map(*tunnel, 10, kG1, {r1()});
  auto sm = start();
  sm = nullptr;
  auto const calls = gmp->membershipIsCalls() + gmp->membershipDelCalls();
  m->multicastGroupIs(r2());
  join(*local, 10, kG2);
  map(*tunnel, 10, kG2, {r3()});
  leave(*local, 10);
  EXPECT_TRUE(current().empty());
  EXPECT_EQ(gmp->membershipIsCalls() + gmp->membershipDelCalls(), calls);
}

TEST_F(L3InjectSmTeardown, TunnelStatusDelKeepsTheReactorsAndTheirJoins) {
  join(*local, 10, kG1);
  auto m = map(*tunnel, 10, kG1, {r1()});
  auto sm = start();
  EXPECT_EQ(sm->tunnelVlanGroupStatusDel(), tunnel);
  EXPECT_FALSE(sm->tunnelVlanGroupStatusDel());
  map(*tunnel, 10, kG2, {r2()});  // no longer observed
  EXPECT_FALSE(sm->vornVlanToMulticastGroup(key(10, kG2)));
  m->multicastGroupIs(r3());  // the mapping itself still is
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.1", 10), starG("225.1.1.3", 10)}));
}

// ---- trace statements ---------------------------------------------------------------------------

class L3InjectSmTrace : public L3Fixture {};

TEST_F(L3InjectSmTrace, HandleMulticastGroupTracesEachDecisionToTheLetter) {
  join(*local, 10, kG1);
  auto m = map(*tunnel, 10, kG1, {r1()});
  auto sm = start();
  TraceCapture trace("Pim::L3InjectSm=8");
  m->multicastGroupIs(route("10.0.0.2", "225.1.1.2", Routing::Multicast::TunnelType::gre));
  m->multicastGroupDel(r1());
  std::vector<std::string> const expected{
      "local()::tunnel Vlan10 239.1.1.1::handleMulticastGroup:: underlayRoute ( 10.0.0.2, 225.1.1.2, gre ) "
      "smet exist true add/del true",
      "local()::tunnel Vlan10 239.1.1.1::handleMulticastGroup:: underlayRoute ( 10.0.0.1, 225.1.1.1, vxlan ) "
      "smet exist true add/del false"};
  EXPECT_EQ(trace.texts("Pim::L3InjectSm", 8), expected);
  for (auto const& l : trace.lines()) {
    EXPECT_EQ(l.line, 109);
    EXPECT_EQ(l.function, "handleMulticastGroup");
  }
}

TEST_F(L3InjectSmTrace, VlanAndGroupRemovalTraceToTheLetter) {
  join(*local, 10, kG1);
  map(*tunnel, 10, "", {r1()});
  map(*tunnel, 10, kG1, {r2()});
  auto sm = start();
  TraceCapture trace("Pim::L3InjectSm=8");
  leave(*local, 10, kG1);
  leave(*local, 10);
  std::vector<std::string> const expected{
      "local()::smet Vlan10::handleGroup Smet group 239.1.1.1 add/del false",
      "local()::smet Vlan10::handleGroup set smet for tunnelVlanGroup to false, vlan10, 239.1.1.1",
      "local()::tunnel Vlan10 239.1.1.1::handleSmetUpdate smet false",
      "local()::tunnel Vlan10 239.1.1.1::handleMulticastGroup:: underlayRoute ( 10.0.0.2, 225.1.1.2, vxlan ) "
      "smet exist false add/del true",
      "local()::tunnel Vlan10 239.1.1.1::handleMulticastGroup:: no matching smet route, noop ",
      "local()::smet Vlan10::handleVlanDel",
      "local()::smet Vlan10::handleVlanDel set smet to false for tunnelVlanGroup (vlan10,*) ",
      "local()::tunnel Vlan10 none::handleSmetUpdate smet false",
      "local()::tunnel Vlan10 none::handleMulticastGroup:: underlayRoute ( 10.0.0.1, 225.1.1.1, vxlan ) "
      "smet exist false add/del true",
      "local()::tunnel Vlan10 none::handleMulticastGroup:: no matching smet route, noop ",
  };
  EXPECT_EQ(trace.texts("Pim::L3InjectSm", 8), expected);
  EXPECT_TRUE(current().empty());
}

// ---- a removed VLAN entry takes its groups' SMET with it ----------------------------------

class L3InjectSmVlanRemoval : public L3Fixture {};

TEST_F(L3InjectSmVlanRemoval, RemovingVlanEntryClearsSmetOfItsListedGroups) {
  join(*local, 10, kG1);
  join(*local, 10, kG2);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 10, kG2, {r2()});
  map(*tunnel, 10, "", {r3()});
  auto sm = start();
  ASSERT_EQ(current().size(), 3u);
  leave(*local, 10);  // the VLAN entry goes, still listing both groups
  EXPECT_TRUE(current().empty());
  EXPECT_FALSE(sm->vornVlanToMulticastGroup(key(10, kG1))->smet());
  EXPECT_FALSE(sm->vornVlanToMulticastGroup(key(10, kG2))->smet());
  EXPECT_EQ(current(), freshJoins());
}

// ---- SMET turning false leaves no handle behind ----------------------------------------------

class L3InjectSmSmetOff : public L3Fixture {};

TEST_F(L3InjectSmSmetOff, SmetTurningFalseReleasesRoutesNoLongerListed) {
  join(*local, 10, kG1);
  auto m = map(*tunnel, 10, kG1, {r1(), r2()});
  auto sm = start();
  ASSERT_EQ(current().size(), 2u);
  // While the path is switched off it misses the removal of r1 ...
  sm->hasNotificationActiveIs(false);
  m->multicastGroupDel(r1());
  sm->hasNotificationActiveIs(true);
  EXPECT_EQ(current().size(), 2u);
  // ... which its last local member leaving must not leave behind.
  leave(*local, 10, kG1);
  EXPECT_TRUE(current().empty());
  EXPECT_TRUE(sm->vornVlanToMulticastGroup(key(10, kG1))->underlayRoute().empty());
  EXPECT_EQ(current(), freshJoins());
}

// ---- re-pointing to another object: exactly the difference --------------------------------------

class L3InjectSmRebind : public L3Fixture {};

TEST_F(L3InjectSmRebind, RepointingMappingToOtherRoutesMovesExactlyTheDifference) {
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1(), r2()});
  auto sm = start();
  auto const isBefore = gmp->membershipIsCalls();
  auto const delBefore = gmp->membershipDelCalls();
  auto replacement = mapping(10, kG1, {r2(), r3()});
  tunnel->vlanToMulticastGroupIs(replacement);
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.2", 10), starG("225.1.1.3", 10)}));
  EXPECT_EQ(gmp->membershipIsCalls() - isBefore, 1u);   // r3 only
  EXPECT_EQ(gmp->membershipDelCalls() - delBefore, 1u);  // r1 only
  EXPECT_EQ(sm->vlanToMulticastGroup(key(10, kG1)), replacement);
  EXPECT_EQ(current(), freshJoins());
}

TEST_F(L3InjectSmRebind, RepointingMappingToEqualContentRunsNothing) {
  join(*local, 10, kG1);
  auto old = map(*tunnel, 10, kG1, {r1(), r2()});
  auto sm = start();
  auto const calls = gmp->membershipIsCalls() + gmp->membershipDelCalls();
  auto replacement = mapping(10, kG1, {r1(), r2()});
  {
    TraceCapture trace("Pim::L3InjectSm=0-9");
    tunnel->vlanToMulticastGroupIs(replacement);
    EXPECT_TRUE(trace.lines().empty());
  }
  EXPECT_EQ(gmp->membershipIsCalls() + gmp->membershipDelCalls(), calls);
  // The reactor follows the new object, no longer the old one.
  old->multicastGroupIs(r3());
  EXPECT_EQ(current().size(), 2u);
  replacement->multicastGroupIs(r3());
  EXPECT_EQ(current().size(), 3u);
}

TEST_F(L3InjectSmRebind, RepointingVlanEntryToEqualContentRunsNothing) {
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  auto sm = start();
  auto replacement = vlanEntry(10, {kG1});
  TraceCapture trace("Pim::L3InjectSm=0-9");
  local->vlanIs(replacement);
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_EQ(sm->vlanMembership(10), replacement);
  replacement->groupDel(addr(kG1));  // followed from now on
  EXPECT_TRUE(current().empty());
}

TEST_F(L3InjectSmRebind, ReplacingMembershipStatusResyncsToTheDifference) {
  join(*local, 10, kG1);
  join(*local, 20);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 10, kG2, {r2()});
  map(*tunnel, 20, "", {r3()});
  map(*tunnel, 30, "", {r3()});
  auto sm = start();
  auto other = MembershipJoinStatus::membershipJoinStatusIs("local");
  other->vlanIs(vlanEntry(10, {kG2}));
  other->vlanIs(vlanEntry(30, {}));
  TraceCapture trace("Pim::L3InjectSm=8");
  sm->membershipJoinStatusIs(other);
  local = other;
  // VLAN 10's reactor was re-pointed, not built again.
  EXPECT_EQ(trace.countContaining("smet Vlan10::handleVlanMembership"), 0u);
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.2", 10), starG("225.1.1.3", 30)}));
  EXPECT_EQ(current(), freshJoins());
  EXPECT_FALSE(sm->vornVlanMembership(20));
  // And the new status is the one followed.
  join(*other, 10, kG1);
  EXPECT_EQ(current(), freshJoins());
  EXPECT_EQ(current().size(), 3u);
}

TEST_F(L3InjectSmRebind, ReplacingMembershipStatusWithEqualContentRunsNothing) {
  join(*local, 10, kG1);
  join(*local, 20);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 20, "", {r2()});
  auto sm = start();
  auto other = MembershipJoinStatus::membershipJoinStatusIs("local");
  other->vlanIs(vlanEntry(10, {kG1}));
  other->vlanIs(vlanEntry(20, {}));
  auto const calls = gmp->membershipIsCalls() + gmp->membershipDelCalls();
  TraceCapture trace("Pim::L3InjectSm=0-9");
  sm->membershipJoinStatusIs(other);
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_EQ(gmp->membershipIsCalls() + gmp->membershipDelCalls(), calls);
  EXPECT_EQ(sm->membershipJoinStatus(), other);
}

TEST_F(L3InjectSmRebind, ReplacingTunnelStatusResyncsToTheDifference) {
  join(*local, 10, kG1);
  join(*local, 10, kG2);
  map(*tunnel, 10, kG1, {r1(), r2()});
  map(*tunnel, 10, kG2, {r3()});
  auto sm = start();
  auto other = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  other->vlanToMulticastGroupIs(mapping(10, kG1, {r2()}));
  sm->tunnelVlanGroupStatusIs(other);
  tunnel = other;
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.2", 10)});
  EXPECT_EQ(current(), freshJoins());
  EXPECT_EQ(sm->vornVlanToMulticastGroup().size(), 1u);
}

// ---- no membership status ---------------------------------------------------------------------------

class L3InjectSmNoStatus : public L3Fixture {};

TEST_F(L3InjectSmNoStatus, LookupWithoutMembershipStatusAnswersFalse) {
  join(*local, 10, kG1);
  auto sm = start();
  EXPECT_EQ(sm->membershipJoinStatusDel(), local);
  EXPECT_FALSE(sm->membershipJoinStatusDel());
  TraceCapture trace("Pim::L3InjectSm=8");
  tunnel->vlanToMulticastGroupIs(mapping(10, kG1, {r1()}));
  EXPECT_TRUE(current().empty());
  std::vector<std::string> const expected{
      "()::tunnel Vlan10 239.1.1.1::handleInit",
      "()::membershipJoinStatusLookup vlan10, 239.1.1.1",
      "()::membershipJoinStatusLookup no smet for vlan 10",
  };
  EXPECT_EQ(trace.texts("Pim::L3InjectSm", 8), expected);
  EXPECT_FALSE(sm->membershipJoinStatusLookup(10, addr("")));
}

TEST_F(L3InjectSmNoStatus, VlanReactorsStayAfterMembershipStatusDel) {
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 10, kG2, {r2()});
  auto sm = start();
  sm->membershipJoinStatusDel();
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.1", 10)});
  join(*local, 10, kG2);  // the VLAN entry is still followed
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.1", 10), starG("225.1.1.2", 10)}));
}

TEST_F(L3InjectSmNoStatus, ConstructionSkipsNullStatusesAndStillCleansUp) {
  gmp->membershipIs(Membership{starG("225.9.9.9", 10), 1});
  auto sm = l3InjectSmFactory(nullptr, nullptr, gmp);
  EXPECT_TRUE(sm->initialized());
  EXPECT_TRUE(gmp->entries().empty());
  EXPECT_FALSE(sm->membershipJoinStatus());
  // Statuses handed over later are taken up as a start would.
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  sm->tunnelVlanGroupStatusIs(tunnel);
  sm->membershipJoinStatusIs(local);
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.1", 10)});
  EXPECT_EQ(current(), freshJoins());
  leave(*local, 10, kG1);
  EXPECT_TRUE(current().empty());
}

}  // namespace
