// Framework exceptions and VORN_ASSERT: what a failure says, and that the
// test handler can turn a failed assertion into an exception.
#include "Vorn/Exception.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Installs a handler for one scope and puts the previous one back.
class AssertionHandlerScope {
 public:
  explicit AssertionHandlerScope(Vorn::AssertionHandler h) : saved_(Vorn::assertionHandlerIs(h)) {}
  ~AssertionHandlerScope() { Vorn::assertionHandlerIs(saved_); }

 private:
  Vorn::AssertionHandler saved_;
};

bool contains(std::string const& s, std::string const& part) { return s.find(part) != std::string::npos; }

TEST(VornExceptionTest, MessagesNameTypeAttributeAndWhatDiffers) {
  Vorn::MutatorNullArgumentException const n("Irb::Pim::VlanSm", "groupMembership");
  Corvo::Exception const& e = n;  // what() of the base gives the full message
  EXPECT_TRUE(contains(e.msg(), "'Irb::Pim::VlanSm'") && contains(e.msg(), "'groupMembership'")) << e.msg();
  EXPECT_STREQ(e.what(), e.msg().c_str());
  Vorn::ReinstantiationException const r("vlan", "join");
  EXPECT_EQ(r.attribute(), "vlan");
  EXPECT_TRUE(contains(r.msg(), "'vlan'") && contains(r.msg(), "join")) << r.msg();
}

int checks = 0;
bool counted(bool v) {
  ++checks;
  return v;
}

TEST(VornAssertTest, ThrowingHandlerReportsTheConditionOnceAndWhere) {
  AssertionHandlerScope scope(&Vorn::throwingAssertionHandler);
  checks = 0;
  EXPECT_NO_THROW(VORN_ASSERT(counted(true), "passes"));
  EXPECT_EQ(checks, 1);
  try {
    VORN_ASSERT(counted(false), "fwkKey() == KeyFunktor()( _value )");
    ADD_FAILURE() << "a failed assertion must not fall through";
  } catch (Vorn::AssertionFailure const& e) {
    EXPECT_EQ(checks, 2);
    EXPECT_EQ(e.condition(), "fwkKey() == KeyFunktor()( _value )");
    EXPECT_TRUE(contains(e.msg(), "ExceptionTest.cpp:")) << e.msg();
  }
  // Without text the failure names the source condition.
  int const size = 2;
  for (char const* text : {static_cast<char const*>(nullptr), ""}) {
    try {
      VORN_ASSERT(size > 5, text);
      ADD_FAILURE() << "did not fire";
    } catch (Vorn::AssertionFailure const& e) {
      EXPECT_EQ(e.condition(), "size > 5");
    }
  }
}

void quietHandler(char const*, char const*, int) {}

TEST(VornAssertDeathTest, DefaultOrReturningHandlerAbortsNamingTheCondition) {
  {
    AssertionHandlerScope scope(nullptr);
    EXPECT_DEATH(VORN_ASSERT(1 + 1 == 3, "arithmetic holds"), "assertion failed: arithmetic holds");
  }
  AssertionHandlerScope scope(&quietHandler);
  EXPECT_DEATH(VORN_ASSERT(false, "must stop"), "assertion failed: must stop");
}

}  // namespace
