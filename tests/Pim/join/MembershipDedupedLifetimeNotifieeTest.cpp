#include "Pim/join/MembershipDedupedLifetimeNotifiee.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Brim/MembershipDedupTable.h"
#include "Brim/Status.h"
#include "Flit/Flit.h"
#include "Flit/FlitReader.h"
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

class JoinWriter : public ::testing::Test {
 protected:
  // The statement of the writer at `signature` that it is `doing` the Join `k`.
  std::string text(char const* signature, char const* doing, RouteIntfKey const& k) const {
    std::ostringstream os;
    os << signature << ": 0x" << std::hex << reinterpret_cast<std::uintptr_t>(writer.ptr()) << " " << doing
       << " Join for underlayRoute " << k.source().stringValue() << ", " << k.group().stringValue() << ", "
       << k.intf().stringValue();
    return os.str();
  }
  std::string insertText(RouteIntfKey const& k) const { return text(kInsertSignature, "Injecting", k); }
  std::string removeText(RouteIntfKey const& k) const { return text(kRemoveSignature, "Deleting", k); }

  Vorn::Ptr<Status> gmp = Status::statusIs();
  Vorn::Ptr<MembershipDedupedLifetimeNotifiee> writer = Vorn::make<MembershipDedupedLifetimeNotifiee>(gmp);
  Vorn::Ptr<MembershipDedupTable> table = Vorn::make<MembershipDedupTable>(writer);
  RouteIntfKey const key = joinKey("0.0.0.0", "225.1.1.1", 10);
};

// Two holders of one key write one entry, kept until both let go; taking the
// key again afterwards writes it afresh (value 1, checked below).
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
  first = table->dedup(key);
  EXPECT_EQ(gmp->membershipIsCalls(), 2u);

  // Keys are written unchanged whatever their source; byte for byte, the
  // wildcard source keeps its family.
  RouteIntfKey const starG6 = joinKey("::", "ff3e::225", 20);
  RouteIntfKey const sourceG = joinKey("10.0.0.1", "225.1.1.1", 10);
  auto b = table->dedup(starG6);
  auto c = table->dedup(sourceG);
  Routing::Gmp::Brim::StatusEntries const expected{{key, 1}, {starG6, 1}, {sourceG, 1}};
  EXPECT_EQ(gmp->entries(), expected);
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
