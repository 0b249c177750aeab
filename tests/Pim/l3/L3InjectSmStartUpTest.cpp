// Start-up of the L3 path: the stale cleanup looks only at what the table held
// before the first Join while nobody else touches the table, and must remove
// exactly what a walk of the whole table removes, in the same order, with the
// same statements, whatever others do to the table meanwhile. Likewise the
// reactors' first passes, whatever others do to their inputs meanwhile.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Brim/BrimMapBase.h"
#include "Pim/l3/L3InjectSm.h"
#include "Pim/join/MembershipDedupedLifetimeNotifiee.h"
#include "support/Inputs.h"
#include "support/L3Fixture.h"
#include "support/TraceCapture.h"

namespace {

using namespace TestSupport;
using Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee;
using Routing::Gmp::Brim::Membership;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Gmp::Brim::Status;
using Keys = std::vector<RouteIntfKey>;

// Watches a status table: records every entry removed, in order, and runs
// `onChange(key, present)` after every change.
class TableWatch : public Vorn::NotifieeConstOf<Status> {
 public:
  explicit TableWatch(Vorn::Ptr<Status> const& table) {
    notifierIs(table);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
  }
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override {
    if (attribute != Status::attrMembership || !key) return;
    RouteIntfKey const k = *key.get<RouteIntfKey>();
    bool const present = notifierRaw()->membership(k).has_value();
    if (!present) removed.push_back(k);
    if (onChange) onChange(k, present);
  }
  std::function<void(RouteIntfKey const&, bool)> onChange;
  Keys removed;
};

std::vector<std::string> staleStatements(TraceCapture const& trace) {
  std::vector<std::string> out;
  for (auto const& t : trace.texts("Pim::L3InjectSm", 7))
    if (t.find("Cleaning up stale") != std::string::npos) out.push_back(t);
  return out;
}

RouteIntfKey stale(int n) { return starG(("225.9.9." + std::to_string(n)).c_str(), 10); }

// Each case: what the table holds before the start, and what someone else
// does to it when it changes during the start (key, whether it is present).
struct CleanupCase {
  char const* name;
  std::vector<Membership> before;
  std::function<void(Status&, RouteIntfKey const&, bool)> meanwhile;
  Keys removed;                       // by anyone, in order
  std::size_t statements;             // stale statements
  std::size_t dels;                   // deletions asked of the table
  std::set<RouteIntfKey> left;        // entries left afterwards, all of value 1
  std::size_t reports;                // corruption reports
};

class L3StartUpCleanup : public L3Fixture {};

TEST_F(L3StartUpCleanup, StartUpCleanupRemovesExactlyWhatIsStaleWhateverOthersDoMeanwhile) {
  auto const wanted = starG("225.1.1.1", 10);
  auto const other = joinKey("10.1.1.1", "225.1.1.1", 20);  // someone else's, sorts after the (*,G) ones
  auto const when = [](RouteIntfKey const& key, bool present, std::function<void(Status&)> act) {
    return [=](Status& t, RouteIntfKey const& k, bool p) {
      if (k == key && p == present) act(t);
    };
  };
  auto const write = [](RouteIntfKey const& k) { return [=](Status& t) { t.membershipIs(Membership{k, 1}); }; };
  auto const m = [](RouteIntfKey const& k, std::uint32_t v = 1) { return Membership{k, v}; };
  std::vector<CleanupCase> const cases{
      {"EarlierEntriesNobodyWantsGoInKeyOrderWithOneStatementEach",
       {m(stale(7)), m(stale(3)), m(stale(5)), m(other)}, nullptr,
       {stale(3), stale(5), stale(7), other}, 4, 4, {wanted}, 0},
      {"ATableHoldingJustTheWantedJoinsLosesNothing", {m(wanted)}, nullptr, {}, 0, 0, {wanted}, 0},
      {"AWantedEntryOfAnotherValueIsRewrittenNotRemoved", {m(wanted, 2), m(stale(1))}, nullptr,
       {stale(1)}, 1, 1, {wanted}, 0},
      {"AnEntrySomeoneWritesDuringStartUpIsRemovedLikeAnyStaleOne", {m(stale(5))},
       when(wanted, true, write(stale(2))),  // right when the first Join appears
       {stale(2), stale(5)}, 2, 2, {wanted}, 0},
      {"AnEntryWrittenAheadDuringCleanupIsRemovedToo", {m(stale(3))}, when(stale(3), false, write(stale(8))),
       {stale(3), stale(8)}, 2, 2, {wanted}, 0},
      {"AnEntryWrittenBehindDuringCleanupStaysAsAWalkLeavesIt", {m(stale(6)), m(stale(8))},
       when(stale(6), false, write(stale(2))), {stale(6), stale(8)}, 2, 2, {wanted, stale(2)}, 0},
      {"AnEntrySomeoneElseRemovesDuringCleanupIsNotRemovedAgain", {m(stale(1)), m(stale(2)), m(stale(3))},
       when(stale(1), false, [](Status& t) { t.membershipDel(stale(3)); }),
       {stale(1), stale(3), stale(2)}, 2, 3, {wanted}, 0},
      // The count of entries is as the start-up expects; the earlier entry went
      // all the same: only a walk finds the new one.
      {"AnEntrySwappedByAnotherWriterInsideAJoinWriteIsRemoved", {m(stale(5))},
       when(wanted, true, [](Status& t) { t.membershipDel(stale(5)), t.membershipIs(Membership{stale(2), 1}); }),
       {stale(5), stale(2)}, 1, 2, {wanted}, 0},
      {"ATableArmedDuringStartUpReportsAtTheCleanupWhichEndsThere", {m(stale(1))},
       when(wanted, true, [](Status& t) { t.corruptNextReadIs(true); }), {}, 0, 0, {wanted, stale(1)}, 1},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    local = Irb::Multicast::Gmp::MembershipJoinStatus::membershipJoinStatusIs("local");
    tunnel = Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
    gmp = Status::statusIs();
    join(*local, 10, "239.1.1.1");
    map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
    map(*tunnel, 10, "239.1.1.2", {route("10.0.0.1", "225.1.1.2")});  // no members
    std::size_t reports = 0;
    Brim::BrimMapBase::reporterIs([&](std::string const&, std::string const&) { ++reports; });
    for (auto const& e : c.before) gmp->membershipIs(e);
    auto watch = Vorn::Ptr<TableWatch>(new TableWatch(gmp));
    if (c.meanwhile) watch->onChange = [&](RouteIntfKey const& k, bool present) { c.meanwhile(*gmp, k, present); };
    auto const dels = gmp->membershipDelCalls();
    TraceCapture trace("Pim::L3InjectSm=7");
    auto sm = start();
    Brim::BrimMapBase::reporterIs(nullptr);
    EXPECT_TRUE(sm->initialized());
    EXPECT_EQ(watch->removed, c.removed);
    EXPECT_EQ(staleStatements(trace).size(), c.statements);
    EXPECT_EQ(gmp->membershipDelCalls() - dels, c.dels);
    EXPECT_EQ(current(), c.left);
    EXPECT_EQ(gmp->membershipCount(), c.left.size());
    EXPECT_EQ(reports, c.reports);
  }
}

// ---- first passes that take their input as read -------------------------------------------------

// A reactor's first pass (a VLAN entry's groups, a mapping's routes) trusts
// what it read only until a handler runs: here the first Join it writes makes
// someone change that input, and the pass must go on from the input as it is.
class L3FirstPass : public L3Fixture {};

TEST_F(L3FirstPass, APassWhoseFirstJoinChangesItsInputReadsTheRestAsItIs) {
  using namespace Irb::Multicast::Gmp;
  using Routing::Multicast::VlanToMulticastGroup;
  struct Case {
    char const* name;
    std::function<void()> reaction;  // when the Join of r1 appears
    std::function<void()> trigger;
  };
  auto const r1 = route("10.0.0.1", "225.1.1.1");
  auto const r2 = route("10.0.0.1", "225.1.1.2");
  Vorn::Ptr<VlanMembershipJoin> entry;
  std::vector<Case> const cases{
      {"AVlanEntryArrivingWithTwoGroupsLosesTheSecond",
       [&] { entry->groupDel(addr("239.1.1.2")); },
       [&] {
         map(*tunnel, 10, "239.1.1.1", {r1});
         map(*tunnel, 10, "239.1.1.2", {r2});
         entry = VlanMembershipJoin::vlanMembershipJoinIs(Bridging::VlanId(10));
         for (char const* g : {"239.1.1.1", "239.1.1.2"})
           entry->groupIs(GroupMembershipJoin::groupMembershipJoinIs(addr(g)));
         local->vlanIs(entry);
       }},
      {"AMappingIsReplacedByOneWithoutItsSecondRoute",
       [&] {
         auto m = VlanToMulticastGroup::vlanToMulticastGroupIs(key(10, "239.1.1.1"));
         m->multicastGroupIs(r1);
         tunnel->vlanToMulticastGroupIs(m);
       },
       [&] {
         map(*tunnel, 10, "239.1.1.1", {r1, r2});
         join(*local, 10, "239.1.1.1");
       }},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    local = MembershipJoinStatus::membershipJoinStatusIs("local");
    tunnel = Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
    gmp = Status::statusIs();
    auto sm = start();
    auto watch = Vorn::Ptr<TableWatch>(new TableWatch(gmp));
    watch->onChange = [&](RouteIntfKey const& k, bool present) {
      if (k == starG("225.1.1.1", 10) && present) c.reaction();
    };
    c.trigger();
    EXPECT_EQ(current(), std::set<RouteIntfKey>{starG("225.1.1.1", 10)});
    EXPECT_EQ(current(), freshJoins());
  }
}

// ---- the same removals as a walk of the whole table --------------------------------------------

// Random inputs and a random earlier table, started twice: once as it is, and
// once with a harmless call by someone else at the first change of the table
// (a Join written, or a stale entry removed), which sends the cleanup to the
// walk from wherever it is.
struct StartUpRun {
  Keys removed;
  std::vector<std::string> statements;
  Routing::Gmp::Brim::StatusEntries table;
};

StartUpRun startOn(unsigned seed, bool forceWalk) {
  std::mt19937 rng(seed);
  auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
  auto local = Irb::Multicast::Gmp::MembershipJoinStatus::membershipJoinStatusIs("local");
  auto tunnel = Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  auto gmp = Status::statusIs();
  char const* const groups[] = {"", "0.0.0.0", "239.1.1.1", "239.1.1.2", "239.1.1.3", "ff3e::1"};
  char const* const routeGroups[] = {"225.1.1.1", "225.1.1.2", "225.1.1.3", "225.1.1.4", "ff3e::100"};
  for (unsigned short vlan = 10; vlan < 14; ++vlan) {
    for (char const* g : groups) {
      if (pick(3) == 0) join(*local, vlan, g);
      if (pick(2) == 0) {
        char const* rg = routeGroups[pick(5)];
        bool const v6 = std::string(rg).find(':') != std::string::npos;
        map(*tunnel, vlan, g, {route(v6 ? "2001::1" : "10.0.0.1", rg)});
      }
    }
  }
  std::set<RouteIntfKey> wanted;
  {
    auto fresh = Status::statusIs();
    auto sm = Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, fresh);
    wanted = joins(*fresh);
  }
  for (auto const& k : wanted)
    if (pick(2) == 0) gmp->membershipIs(Membership{k, pick(3)});
  for (unsigned n = pick(6); n > 0; --n)
    gmp->membershipIs(Membership{joinKey(pick(2) ? "0.0.0.0" : "10.9.9.9", routeGroups[pick(5)],
                                         static_cast<unsigned short>(9 + pick(6))),
                                 1});
  auto watch = Vorn::Ptr<TableWatch>(new TableWatch(gmp));
  bool poked = false;
  if (forceWalk) {
    watch->onChange = [&](RouteIntfKey const&, bool) {
      if (poked) return;
      poked = true;
      gmp->membershipDel(joinKey("10.255.255.255", "239.255.255.255", 4000));  // nothing there: no change
    };
  }
  StartUpRun run;
  TraceCapture trace("Pim::L3InjectSm=7");
  auto sm = Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, gmp);
  run.statements = staleStatements(trace);
  run.removed = watch->removed;
  run.table = gmp->entries();
  for (auto const& k : run.removed) EXPECT_FALSE(wanted.count(k)) << "seed " << seed << " removed a wanted " << k;
  EXPECT_EQ(joins(*gmp), wanted) << "seed " << seed;
  EXPECT_EQ(gmp->membershipCount(), wanted.size()) << "seed " << seed;
  return run;
}

TEST(L3StartUpCleanupRandomized, RemovesWhatTheWalkRemovesInTheSameOrder) {
  int cleaned = 0;
  for (unsigned seed = 1; seed <= 300; ++seed) {
    StartUpRun const quick = startOn(seed, false);
    StartUpRun const walked = startOn(seed, true);
    ASSERT_EQ(quick.removed, walked.removed) << "seed " << seed;
    ASSERT_EQ(quick.statements, walked.statements) << "seed " << seed;
    ASSERT_EQ(quick.table, walked.table) << "seed " << seed;
    if (!quick.removed.empty()) ++cleaned;
  }
  EXPECT_GT(cleaned, 100) << "too few runs had anything to clean up";
}

}  // namespace
