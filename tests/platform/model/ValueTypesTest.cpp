// The model's value types: the size of the hot map keys, address text and
// interface names as the program reads them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <type_traits>

#include "Brim/RouteIntfKey.h"
#include "model/Bridging.h"
#include "model/RoutingTypes.h"
#include "model/Wirl.h"

namespace {

using Bridging::VlanId;
using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::UnderlayRoute;
using Wirl::AddressFamily;
using Wirl::IntfId;
using Wirl::IpGenAddr;

// These types are hot map keys: keep them small and memcpy-able.
static_assert(std::is_trivially_copyable_v<VlanId> && sizeof(VlanId) == 2);
static_assert(std::is_trivially_copyable_v<IpGenAddr> && sizeof(IpGenAddr) == 17);
static_assert(std::is_trivially_copyable_v<IntfId> && sizeof(IntfId) == 4);
static_assert(std::is_trivially_copyable_v<OverlayVlanGroup> && sizeof(OverlayVlanGroup) <= 20);
static_assert(std::is_trivially_copyable_v<UnderlayRoute>);
static_assert(std::is_trivially_copyable_v<Routing::Gmp::Brim::RouteIntfKey>);

std::string printed(IpGenAddr const& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

// --- addresses -----------------------------------------------------------------

TEST(IpGenAddrText, AcceptsUsualFormsAndPrintsCanonicalText) {
  struct Case {
    char const* in;
    AddressFamily af;
    char const* out;
  };
  Case const cases[] = {
      {"239.1.1.1", AddressFamily::ipv4, "239.1.1.1"},
      {"0.0.0.0", AddressFamily::ipv4, "0.0.0.0"},
      {"255.255.255.255", AddressFamily::ipv4, "255.255.255.255"},
      {"::", AddressFamily::ipv6, "::"},
      {"ff3e::1", AddressFamily::ipv6, "ff3e::1"},
      {"FF3E:0:0:0:0:0:0:1", AddressFamily::ipv6, "ff3e::1"},
      {"2001:db8:0:0:1:0:0:1", AddressFamily::ipv6, "2001:db8::1:0:0:1"},
      {"2001:0db8:0000:0001:0000:0000:0000:0000", AddressFamily::ipv6, "2001:db8:0:1::"},
      {"::1", AddressFamily::ipv6, "::1"},
      {"::ffff:10.1.2.3", AddressFamily::ipv6, "::ffff:10.1.2.3"},
  };
  for (auto const& c : cases) {
    auto a = IpGenAddr::fromString(c.in);
    ASSERT_TRUE(a.has_value()) << c.in;
    EXPECT_EQ(a->af(), c.af) << c.in;
    EXPECT_EQ(a->stringValue(), c.out) << c.in;
    EXPECT_EQ(printed(*a), c.out) << c.in;
    // The printed form parses back to the same address.
    EXPECT_EQ(IpGenAddr::fromString(a->stringValue()), a) << c.in;
  }
  EXPECT_EQ(printed(IpGenAddr()), "none");
}

TEST(IpGenAddrText, RejectsAnythingButAnAddress) {
  char const* const bad[] = {
      "",          "1.2.3",       "1.2.3.4.5",   "256.1.1.1", "1.2.3.4 ",  " 1.2.3.4", "1.2.3.4x",
      "1.2.3.-4",  "01.2.3.4",    "1..2.3",      "a.b.c.d",   "none",      ":::",      "1::2::3",
      "ff3e::1 ",  "ff3e::1%eth0", "12345::1",   "fe80::g",   "1.2.3.4/32", "::ffff:1.2.3", "*",
  };
  for (char const* text : bad) EXPECT_FALSE(IpGenAddr::fromString(text).has_value()) << '"' << text << '"';
  // An embedded NUL must not be cut off silently.
  EXPECT_FALSE(IpGenAddr::fromString(std::string_view("1.2.3.4\0junk", 12)).has_value());
  // Longer than any address text.
  EXPECT_FALSE(IpGenAddr::fromString(std::string(100, '1')).has_value());
}

// --- VLANs and interfaces ---------------------------------------------------------

TEST(IntfIdInterning, ValidNamesArePrintableWithoutBlanksOrHash) {
  for (std::string const& good : {std::string("Ethernet1/1"), std::string("Port-Channel10.5"), std::string(64, 'x'),
                                  std::string("a"), std::string("~!")}) {
    EXPECT_TRUE(IntfId::validName(good)) << good;
  }
  for (std::string const& bad : {std::string(), std::string(65, 'x'), std::string("Ethernet 1"),
                                 std::string("Eth#1"), std::string("Eth\t1"), std::string("Eth\x7f"),
                                 std::string("Eth\xc3\xa9"), std::string("Eth\n")}) {
    EXPECT_FALSE(IntfId::validName(bad)) << bad;
  }
}

}  // namespace
