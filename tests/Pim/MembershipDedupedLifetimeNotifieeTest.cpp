#include "Pim/MembershipDedupedLifetimeNotifiee.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Brim/MembershipDedupTable.h"
#include "Brim/Status.h"
#include "Flit/Flit.h"
#include "Flit/FlitReader.h"
#include "Vorn/Notifiee.h"
#include "support/Inputs.h"
#include "support/TraceCapture.h"

namespace {

using Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee;
using Routing::Gmp::MembershipDedupTable;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Gmp::Brim::Status;
using TestSupport::joinKey;
using TestSupport::TraceCapture;

constexpr char const* kInsertSignature =
    "virtual void Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee::handleInsert(const Ptr&) const";
constexpr char const* kRemoveSignature =
    "virtual void Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee::handleRemove("
    "Keel::DedupHandle::RawPtr) const";

// Writes down, per change of the status table, whether the entry came or went.
class StatusWatcher : public Vorn::NotifieeConstOf<Status> {
 public:
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override {
    if (attribute != Status::attrMembership || !key) return;
    RouteIntfKey const* k = key.get<RouteIntfKey>();
    auto entry = notifier()->membership(*k);
    std::ostringstream os;
    os << (entry ? "write " : "delete ") << *k;
    if (entry) os << " = " << entry->value;
    events.push_back(os.str());
  }
  std::vector<std::string> events;
};

class JoinWriter : public ::testing::Test {
 protected:
  std::string address(void const* p) const {
    std::ostringstream os;
    os << "0x" << std::hex << reinterpret_cast<std::uintptr_t>(p);
    return os.str();
  }
  std::string insertText(RouteIntfKey const& k) const {
    return std::string(kInsertSignature) + ": " + address(writer.ptr()) + " Injecting Join for underlayRoute " +
           k.source().stringValue() + ", " + k.group().stringValue() + ", " + k.intf().stringValue();
  }
  std::string removeText(RouteIntfKey const& k) const {
    return std::string(kRemoveSignature) + ": " + address(writer.ptr()) + " Deleting Join for underlayRoute " +
           k.source().stringValue() + ", " + k.group().stringValue() + ", " + k.intf().stringValue();
  }

  Vorn::Ptr<Status> gmp = Status::statusIs();
  Vorn::Ptr<MembershipDedupedLifetimeNotifiee> writer = Vorn::make<MembershipDedupedLifetimeNotifiee>(gmp);
  Vorn::Ptr<MembershipDedupTable> table = Vorn::make<MembershipDedupTable>(writer);
  RouteIntfKey const key = joinKey("0.0.0.0", "225.1.1.1", 10);
};

TEST_F(JoinWriter, TwoHoldersOfOneKeyWriteOneEntryKeptUntilBothLetGo) {
  auto first = table->dedup(key);
  auto second = table->dedup(key);
  EXPECT_EQ(gmp->membershipIsCalls(), 1u);
  ASSERT_TRUE(gmp->membership(key));
  EXPECT_EQ(gmp->membership(key)->value, 1u);
  first = nullptr;
  EXPECT_TRUE(gmp->membership(key));
  EXPECT_EQ(gmp->membershipDelCalls(), 0u);
  second = nullptr;
  EXPECT_FALSE(gmp->membership(key));
  EXPECT_EQ(gmp->membershipDelCalls(), 1u);
}

TEST_F(JoinWriter, ReleaseThenTakeAgainDeletesThenWritesAfresh) {
  Vorn::Ptr<StatusWatcher> watcher(new StatusWatcher);
  watcher->notifierIs(gmp);
  watcher->isRegisteredNotifieeIs(true);
  watcher->hasNotificationActiveIs(true);
  auto handle = table->dedup(key);
  handle = nullptr;
  handle = table->dedup(key);
  std::vector<std::string> const expected{"write (0.0.0.0, 225.1.1.1, Vlan10) = 1",
                                          "delete (0.0.0.0, 225.1.1.1, Vlan10)",
                                          "write (0.0.0.0, 225.1.1.1, Vlan10) = 1"};
  EXPECT_EQ(watcher->events, expected);
}

TEST_F(JoinWriter, KeysAreWrittenUnchangedWhateverTheirSource) {
  RouteIntfKey const starG4 = joinKey("0.0.0.0", "225.1.1.1", 10);
  RouteIntfKey const starG6 = joinKey("::", "ff3e::225", 20);
  RouteIntfKey const sourceG = joinKey("10.0.0.1", "225.1.1.1", 10);
  auto a = table->dedup(starG4);
  auto b = table->dedup(starG6);
  auto c = table->dedup(sourceG);
  Routing::Gmp::Brim::StatusEntries const expected{{starG4, 1}, {starG6, 1}, {sourceG, 1}};
  EXPECT_EQ(gmp->entries(), expected);
  // Byte for byte: the wildcard source keeps its family.
  EXPECT_EQ(gmp->entries().begin()->first.source().af(), Wirl::AddressFamily::ipv4);
}

TEST_F(JoinWriter, StatementsReadToTheLetterAtLevel7) {
  TraceCapture trace("Pim::L3InjectSm=7");
  auto handle = table->dedup(key);
  handle = nullptr;
  ASSERT_EQ(trace.lines().size(), 2u);
  auto const& insert = trace.lines()[0];
  auto const& remove = trace.lines()[1];
  EXPECT_EQ(insert.text, insertText(key));
  EXPECT_EQ(remove.text, removeText(key));
  EXPECT_EQ(insert.handle, "Pim::L3InjectSm");
  EXPECT_EQ(insert.level, 7);
  EXPECT_EQ(insert.line, 49);
  EXPECT_EQ(insert.function, "handleInsert");
  EXPECT_EQ(remove.level, 7);
  EXPECT_EQ(remove.line, 62);
  EXPECT_EQ(remove.function, "handleRemove");
}

TEST_F(JoinWriter, WithLevel7OffAndNoFlitFileOnlyTheTableChanges) {
  ASSERT_EQ(Flit::defaultFile(), nullptr);
  TraceCapture trace("*=0-6,8-9");
  auto handle = table->dedup(key);
  EXPECT_TRUE(gmp->membership(key));
  handle = nullptr;
  EXPECT_FALSE(gmp->membership(key));
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_EQ(Flit::defaultFile(), nullptr);
}

TEST_F(JoinWriter, FlitFileGetsOneRecordPerStatement) {
  auto const path = std::filesystem::temp_directory_path() /
                    ("mcinject-joinwriter-" + std::to_string(::getpid()) + ".flit");
  std::string error;
  auto file = Flit::File::create(path.string(), 1u << 16, &error);
  ASSERT_TRUE(file) << error;
  Flit::defaultFileIs(std::move(file));
  {
    TraceCapture trace("off");  // the text trace is off: Flit records all the same
    auto handle = table->dedup(key);
    handle = nullptr;
    EXPECT_TRUE(trace.lines().empty());
  }
  Flit::defaultFileIs(nullptr);  // flushes and closes
  std::ostringstream out;
  bool const ok = Flit::printFile(path.string(), out, error);
  std::filesystem::remove(path);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(out.str(), "[0] " + insertText(key) + "\n[1] " + removeText(key) + "\n");
}

}  // namespace
