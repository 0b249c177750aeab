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

}  // namespace
