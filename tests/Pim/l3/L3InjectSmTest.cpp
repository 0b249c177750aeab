// The L3 inject path where the randomized suite does not reach: the binary
// trace of the start-up cleanup, a path switched off for a while, and a path
// built without statuses.
#include "Pim/l3/L3InjectSm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include <unistd.h>

#include "Flit/Flit.h"
#include "Flit/FlitReader.h"
#include "Pim/join/JoinKey.h"
#include "support/Inputs.h"
#include "support/L3Fixture.h"
#include "support/TraceCapture.h"

namespace {

using namespace TestSupport;
using Irb::Multicast::Egress::l3InjectSmFactory;
using Routing::Gmp::Brim::Membership;
using Routing::Multicast::UnderlayRoute;
using JoinKeys = std::set<Routing::Gmp::Brim::RouteIntfKey>;

constexpr char const* kG1 = "239.1.1.1";

UnderlayRoute r1() { return route("10.0.0.1", "225.1.1.1"); }
UnderlayRoute r2() { return route("10.0.0.2", "225.1.1.2"); }

// ---- start-up ---------------------------------------------------------------------------

class L3InjectSmStartUp : public L3Fixture {};

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

// ---- trace statements ---------------------------------------------------------------------------

class L3InjectSmTrace : public L3Fixture {};

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

// ---- no membership status ---------------------------------------------------------------------------

class L3InjectSmNoStatus : public L3Fixture {};

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
