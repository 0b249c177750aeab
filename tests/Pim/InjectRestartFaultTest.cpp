// Restart and fault cases of the L3 start-up: over a table that reports
// corruption in the middle of the stale cleanup, and over the table of a
// running path, which it must neither rewrite nor delete from.
#include "Pim/l3/L3InjectSm.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/Inputs.h"
#include "support/L3Fixture.h"
#include "support/ReferenceModel.h"

namespace {

using namespace TestSupport;
using Routing::Gmp::Brim::Membership;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Gmp::Brim::Status;

// Watches a table key by key: how often each key was written and deleted.
// It can arm the table to report corruption on the read after a deletion.
class TableWatch : public Vorn::NotifieeConstOf<Status> {
 public:
  explicit TableWatch(Vorn::Ptr<Status> const& table) : table_(table.ptr()) {
    notifierIs(table);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
  }
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override {
    if (attribute != Status::attrMembership || !key) return;
    RouteIntfKey const& k = *key.get<RouteIntfKey>();
    if (table_->membership(k)) {
      ++written[k];
      return;
    }
    ++deleted[k];
    if (corruptAfterDeletes > 0 && --corruptAfterDeletes == 0) table_->corruptNextReadIs(true);
  }
  std::map<RouteIntfKey, int> written;
  std::map<RouteIntfKey, int> deleted;
  int corruptAfterDeletes = 0;

 private:
  Status* table_;
};

class L3StartUpOverOldTable : public L3Fixture {
 protected:
  void SetUp() override {
    Brim::BrimMapBase::reporterIs([this](std::string const& table, std::string const& msg) {
      reported.push_back(table + ": " + msg);
    });
    // Five VLANs, each with a local group and a whole-VLAN mapping: ten
    // mappings, fourteen Joins wanted (IPv4 and IPv6 underlay groups).
    for (unsigned short vlan : {10, 20, 30, 40, 50}) {
      join(*local, vlan, "239.1.1.1");
      map(*tunnel, vlan, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.2")});
      map(*tunnel, vlan, "", {route("10.0.0.1", "225.9.0.1")});
    }
    map(*tunnel, 10, "ff3e::1", {route("2001:db8::1", "ff3e::100")});
    join(*local, 10, "ff3e::1");
    // Mapped but without local members: never wanted.
    map(*tunnel, 60, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
    wanted = l3ModelJoins(local.ptr(), *tunnel, modelStarG());
  }
  void TearDown() override { Brim::BrimMapBase::reporterIs(nullptr); }

  // Every wanted Join, then entries no input calls for: other VLANs, other
  // groups, the (S,G) form of wanted (*,G) Joins, a foreign writer's entry.
  void fillWithOldEntries() {
    for (auto const& k : wanted) gmp->membershipIs(Membership{k, 1});
    for (unsigned short vlan : {60, 70})
      for (char const* g : {"225.1.1.1", "225.1.1.2", "225.7.7.7"}) stale.insert(starG(g, vlan));
    stale.insert(joinKey("10.0.0.1", "225.1.1.1", 10));
    stale.insert(joinKey("::", "ff3e::200", 10));
    stale.insert(joinKey("192.0.2.1", "232.1.1.1", 1));
    for (auto const& k : stale) gmp->membershipIs(Membership{k, 1});
  }

  std::set<RouteIntfKey> wanted;
  std::set<RouteIntfKey> stale;
  std::vector<std::string> reported;
};

TEST_F(L3StartUpOverOldTable, CorruptionMidWalkIsReportedOnceAndStartUpCompletesWithItsJoins) {
  fillWithOldEntries();
  auto watch = Vorn::Ptr<TableWatch>(new TableWatch(gmp));
  watch->corruptAfterDeletes = 2;  // the table breaks after two stale entries went

  auto sm = start();

  EXPECT_TRUE(sm->initialized());
  EXPECT_EQ(gmp->corruptionsDetected(), 1u);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].rfind("Routing::Gmp::Brim::Status: ", 0), 0u) << reported[0];
  // The walk ended at the corruption: two stale entries went, the rest stay;
  // no wanted Join was touched.
  EXPECT_EQ(watch->deleted.size(), 2u);
  for (auto const& [k, n] : watch->deleted) EXPECT_TRUE(stale.count(k)) << k;
  for (auto const& k : wanted) EXPECT_TRUE(gmp->membership(k)) << k;
  EXPECT_EQ(gmp->entries().size(), wanted.size() + stale.size() - 2);

  // The path runs on: a new member brings its Joins, a leaving one takes
  // them, and the stale leftovers are not the path's to remove.
  join(*local, 60, "239.1.1.1");
  EXPECT_TRUE(current().count(starG("225.1.1.1", 60)));
  leave(*local, 60, "239.1.1.1");
  EXPECT_FALSE(current().count(starG("225.1.1.1", 60))) << "the leftover Join was held by nobody";
  EXPECT_EQ(gmp->corruptionsDetected(), 1u);
}

TEST_F(L3StartUpOverOldTable, RestartOverARunningPathsTableWritesAndDeletesNothing) {
  auto first = start();
  join(*local, 20, "ff3e::1");
  map(*tunnel, 20, "ff3e::1", {route("2001:db8::1", "ff3e::100")});
  leave(*local, 30, "239.1.1.1");
  auto const running = current();
  ASSERT_EQ(running, l3ModelJoins(local.ptr(), *tunnel, modelStarG()));
  // The agent restarts over the table its previous run kept (a copy: the
  // first instance stays up and keeps the original).
  auto copy = Status::statusIs();
  for (auto const& [k, v] : gmp->entries()) copy->membershipIs(Membership{k, v});
  auto watch = Vorn::Ptr<TableWatch>(new TableWatch(copy));

  auto second = Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, copy);

  EXPECT_TRUE(watch->deleted.empty());
  EXPECT_TRUE(watch->written.empty()) << "every entry already held its value";
  EXPECT_EQ(joins(*copy), running);
}

}  // namespace
