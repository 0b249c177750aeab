// The model's value types: address text, classification, ordering and
// hashing of the keys the state machines index by.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Brim/RouteIntfKey.h"
#include "model/Bridging.h"
#include "model/RoutingTypes.h"
#include "model/Wirl.h"

namespace {

using Bridging::VlanId;
using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::TunnelType;
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

IpGenAddr ip(char const* text) {
  auto a = IpGenAddr::fromString(text);
  EXPECT_TRUE(a.has_value()) << text;
  return a.value_or(IpGenAddr());
}

template <class T>
std::string printed(T const& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

// Every element sorts strictly before the next.
template <class T>
void expectAscending(std::vector<T> const& sorted) {
  for (std::size_t i = 0; i + 1 < sorted.size(); ++i) {
    EXPECT_LT(sorted[i], sorted[i + 1]) << sorted[i] << " vs " << sorted[i + 1];
    EXPECT_FALSE(sorted[i + 1] < sorted[i]) << sorted[i] << " vs " << sorted[i + 1];
  }
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

TEST(IpGenAddrBuild, FactoriesMatchParsedAddressesAndDropUnusedBytes) {
  EXPECT_EQ(IpGenAddr::v4(0xef010203u), ip("239.1.2.3"));
  EXPECT_EQ(IpGenAddr(ip("ff3e::1").v6Addr()), ip("ff3e::1"));
  // Bytes a family does not use are dropped, so equal addresses compare equal.
  IpGenAddr::Bytes junk{10, 0, 0, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(IpGenAddr(AddressFamily::ipv4, junk), ip("10.0.0.1"));
  EXPECT_EQ(IpGenAddr(AddressFamily::none, junk), IpGenAddr());
  EXPECT_EQ(IpGenAddr(AddressFamily::ipv4, junk).hash(), ip("10.0.0.1").hash());
}

TEST(IpGenAddrClass, WildcardSpecificAndMulticastDependOnFamily) {
  struct Case {
    IpGenAddr a;
    bool wildcard;
    bool specific;
  };
  Case const cases[] = {
      {IpGenAddr(), false, false},  // no address is neither
      {IpGenAddr(AddressFamily::ipv4), true, false},
      {IpGenAddr(AddressFamily::ipv6), true, false},
      {ip("0.0.0.0"), true, false},
      {ip("::"), true, false},
      {ip("10.0.0.1"), false, true},
      {ip("0.0.0.1"), false, true},
      {ip("::1"), false, true},
      {ip("100::"), false, true},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(c.a.isWildcard(), c.wildcard) << c.a << " " << c.a.af();
    EXPECT_EQ(c.a.isSpecific(), c.specific) << c.a << " " << c.a.af();
  }
  for (char const* m : {"224.0.0.0", "224.0.0.1", "239.255.255.255", "ff00::", "ff3e::1", "ff02::1:ff00:1"})
    EXPECT_TRUE(ip(m).isMulticast()) << m;
  for (char const* u : {"223.255.255.255", "240.0.0.1", "0.0.0.0", "10.0.0.1", "fe80::1", "::", "::ffff:224.0.0.1"})
    EXPECT_FALSE(ip(u).isMulticast()) << u;
  EXPECT_FALSE(IpGenAddr().isMulticast());
}

TEST(IpGenAddrOrder, FamilyFirstThenNumeric) {
  std::vector<IpGenAddr> const sorted = {
      IpGenAddr(), ip("0.0.0.0"), ip("9.255.255.255"), ip("10.0.0.2"), ip("10.0.0.10"),
      ip("255.255.255.255"), ip("::"), ip("::1"), ip("ff3e::1"),
  };
  expectAscending(sorted);
  std::set<IpGenAddr> const s(sorted.rbegin(), sorted.rend());
  EXPECT_EQ(std::vector<IpGenAddr>(s.begin(), s.end()), sorted);
}

TEST(IpGenAddrHash, NeighbouringAddressesSpreadOverBuckets) {
  // Addresses differing in one low byte must not pile into a few buckets.
  std::unordered_set<std::size_t> hashes;
  std::vector<int> buckets(64, 0);
  for (std::uint32_t i = 0; i < 1024; ++i) {
    std::size_t const h = IpGenAddr::v4(0xe0000000u + i).hash();
    hashes.insert(h);
    ++buckets[h % buckets.size()];
  }
  EXPECT_EQ(hashes.size(), 1024u);
  for (int n : buckets) EXPECT_GT(n, 0);
}

// --- VLANs and interfaces ---------------------------------------------------------

TEST(IntfIdInterning, SameNameSameIdInOrderOfFirstUse) {
  IntfId const a = IntfId::fromName("TestIntfFirstUseA");
  IntfId const b = IntfId::fromName("TestIntfFirstUseB");
  EXPECT_EQ(IntfId::fromName("TestIntfFirstUseA"), a);
  EXPECT_LT(a, b);
  EXPECT_EQ(printed(b), "TestIntfFirstUseB");
  EXPECT_EQ(IntfId::fromName(""), IntfId());
  EXPECT_TRUE(IntfId().isEmpty());
  EXPECT_FALSE(a.isEmpty());
}

TEST(IntfIdInterning, NamesStayValidWhileTheTableGrows) {
  IntfId const first = IntfId::fromName("TestIntfGrowth0");
  std::string const& name = first.stringValue();
  std::vector<IntfId> ids;
  for (int i = 1; i < 2000; ++i) ids.push_back(IntfId::fromName("TestIntfGrowth" + std::to_string(i)));
  EXPECT_EQ(name, "TestIntfGrowth0");
  EXPECT_EQ(ids[1233].stringValue(), "TestIntfGrowth1234");
  std::unordered_set<IntfId> const unique(ids.begin(), ids.end());
  EXPECT_EQ(unique.size(), ids.size());
}

TEST(IntfIdInterning, OnlyVxlanInterfacesAreMulticastTunnels) {
  std::pair<char const*, bool> const cases[] = {{"Vxlan1", true},  {"Vxlan", true},  {"Vxlan10/2", true},
                                                 {"vxlan1", false}, {"VXLAN1", false}, {"Vlan10", false},
                                                 {"TunnelVxlan1", false}, {"Vxla", false}};
  for (auto const& [name, tunnel] : cases) {
    EXPECT_EQ(IntfId::fromName(name).isMcastTunnel(), tunnel) << name;
    EXPECT_EQ(Multicast::Tunnel::McastTunnelIntfId::isMcastTunnelIntfId(IntfId::fromName(name)), tunnel) << name;
  }
  EXPECT_FALSE(Multicast::Tunnel::McastTunnelIntfId::isMcastTunnelIntfId(IntfId()));
}

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

TEST(VlanIntfIdNaming, MapsVlanToItsVlanInterface) {
  IntfId const v10 = Wirl::VlanIntfId::vlanIdToIntfId(10);
  EXPECT_EQ(v10, IntfId::fromName("Vlan10"));
  EXPECT_EQ(Wirl::VlanIntfId::vlanIdToIntfId(10), v10);  // cached
  EXPECT_NE(Wirl::VlanIntfId::vlanIdToIntfId(11), v10);
  EXPECT_EQ(IntfId::fromName("Vlan4095"), Wirl::VlanIntfId::vlanIdToIntfId(4095));  // interned before cached
  EXPECT_EQ(Wirl::VlanIntfId::vlanIdToIntfId(0).stringValue(), "Vlan0");
  EXPECT_EQ(Wirl::VlanIntfId::vlanIdToIntfId(4096).stringValue(), "Vlan4096");  // beyond the cache
}

// --- overlay, underlay and membership keys -------------------------------------------

TEST(OverlayVlanGroupKey, NullKeyAndTheWildcardsOfEachFamilyAreDistinctKeys) {
  OverlayVlanGroup const null;
  EXPECT_TRUE(null.isNull());
  EXPECT_EQ(null, OverlayVlanGroup(VlanId(), IpGenAddr()));
  EXPECT_EQ(VlanId(), VlanId(1));
  OverlayVlanGroup const v4(10, IpGenAddr(AddressFamily::ipv4));
  OverlayVlanGroup const v6(10, IpGenAddr(AddressFamily::ipv6));
  std::vector<OverlayVlanGroup> const keys{null, OverlayVlanGroup(1, ip("239.1.1.1")),
                                           OverlayVlanGroup(1, IpGenAddr(AddressFamily::ipv4)),
                                           OverlayVlanGroup(10, IpGenAddr()), v4, v6};
  for (std::size_t i = 1; i < keys.size(); ++i) EXPECT_FALSE(keys[i].isNull()) << keys[i];
  EXPECT_EQ(std::unordered_set<OverlayVlanGroup>(keys.begin(), keys.end()).size(), keys.size());
  EXPECT_EQ(std::set<OverlayVlanGroup>(keys.begin(), keys.end()).size(), keys.size());
  std::unordered_map<OverlayVlanGroup, int> hashed{{v4, 4}, {v6, 6}};
  EXPECT_EQ(hashed.at(OverlayVlanGroup(10, ip("::"))), 6);
  EXPECT_EQ(hashed.at(OverlayVlanGroup(10, ip("0.0.0.0"))), 4);
  EXPECT_NE(OverlayVlanGroup(7, ip("239.0.0.3")).hash(), OverlayVlanGroup(8, ip("239.0.0.3")).hash());
  // VLAN-wide unless the group is specific.
  for (char const* g : {"0.0.0.0", "::"}) EXPECT_TRUE(OverlayVlanGroup(10, ip(g)).isVlanWide()) << g;
  EXPECT_TRUE(OverlayVlanGroup(10, IpGenAddr()).isVlanWide());
  for (char const* g : {"239.1.1.1", "ff3e::1"}) EXPECT_FALSE(OverlayVlanGroup(10, ip(g)).isVlanWide()) << g;
}

TEST(OverlayVlanGroupKey, OrdersByVlanThenGroupAndPrints) {
  expectAscending(std::vector<OverlayVlanGroup>{
      OverlayVlanGroup(9, ip("239.9.9.9")), OverlayVlanGroup(10, IpGenAddr()), OverlayVlanGroup(10, ip("0.0.0.0")),
      OverlayVlanGroup(10, ip("239.1.1.1")), OverlayVlanGroup(10, ip("239.1.1.2")), OverlayVlanGroup(10, ip("::"))});
  EXPECT_EQ(printed(OverlayVlanGroup(10, ip("239.1.1.1"))), "(10, 239.1.1.1)");
  EXPECT_EQ(printed(OverlayVlanGroup(10, IpGenAddr())), "(10, *)");
  EXPECT_EQ(printed(OverlayVlanGroup(20, ip("::"))), "(20, ::)");
}

TEST(UnderlayRouteKey, OrdersBySourceGroupThenTypeAndPrints) {
  UnderlayRoute const r(ip("10.0.0.1"), ip("225.1.1.1"), TunnelType::vxlan);
  EXPECT_EQ(printed(r), "(10.0.0.1, 225.1.1.1, vxlan)");
  std::vector<UnderlayRoute> const sorted = {
      r,
      UnderlayRoute(ip("10.0.0.1"), ip("225.1.1.1"), TunnelType::gre),
      UnderlayRoute(ip("10.0.0.1"), ip("225.1.1.2"), TunnelType::vxlan),
      UnderlayRoute(ip("10.0.0.2"), ip("225.0.0.0"), TunnelType::vxlan),
  };
  expectAscending(sorted);
  std::unordered_set<UnderlayRoute> const s(sorted.begin(), sorted.end());
  EXPECT_EQ(s.size(), sorted.size());
  EXPECT_EQ(s.count(UnderlayRoute(IpGenAddr::v4(0x0a000001u), ip("225.1.1.1"), TunnelType::gre)), 1u);
}

TEST(RoutingNames, TunnelTypeAndStatusNamesRoundTrip) {
  for (TunnelType t : {TunnelType::vxlan, TunnelType::gre})
    EXPECT_EQ(Routing::Multicast::tunnelTypeFromString(Routing::Multicast::stringValue(t)), t);
  EXPECT_EQ(printed(TunnelType::gre), "gre");
  for (char const* bad : {"", "VXLAN", "gre ", "ipip"})
    EXPECT_FALSE(Routing::Multicast::tunnelTypeFromString(bad).has_value()) << bad;
  EXPECT_EQ(stringValue(Routing::Multicast::irbRemoteReduced()), "irbRemoteReduced");
  EXPECT_EQ(stringValue(Routing::Multicast::IpTunnelGroupStatusType::invalid), "invalid");
}

TEST(RouteIntfKeyValue, OrdersBySourceGroupThenInterfaceAndPrints) {
  using Routing::Gmp::Brim::Membership;
  using Routing::Gmp::Brim::RouteIntfKey;
  IntfId const vlan10 = Wirl::VlanIntfId::vlanIdToIntfId(10);
  IntfId const vlan20 = Wirl::VlanIntfId::vlanIdToIntfId(20);
  RouteIntfKey const starG(IpGenAddr(AddressFamily::ipv4), ip("225.1.1.1"), vlan10);
  RouteIntfKey const sG(ip("10.0.0.1"), ip("225.1.1.1"), vlan10);
  EXPECT_EQ(printed(starG), "(0.0.0.0, 225.1.1.1, Vlan10)");
  expectAscending(std::vector<RouteIntfKey>{starG, RouteIntfKey(ip("10.0.0.1"), ip("225.1.1.0"), vlan20), sG});
  // Interfaces order by first use, whichever test interned them.
  EXPECT_EQ(sG < RouteIntfKey(ip("10.0.0.1"), ip("225.1.1.1"), vlan20), vlan10 < vlan20);
  std::unordered_map<RouteIntfKey, int> m{{starG, 1}, {sG, 2}};
  EXPECT_EQ(m.at(RouteIntfKey(ip("0.0.0.0"), ip("225.1.1.1"), IntfId::fromName("Vlan10"))), 1);
  // The any-source key of the other family is another key.
  EXPECT_EQ(m.count(RouteIntfKey(ip("::"), ip("225.1.1.1"), vlan10)), 0u);
  EXPECT_NE((Membership{sG, 3}), (Membership{sG, 4}));
  EXPECT_NE((Membership{sG, 3}), (Membership{starG, 3}));
}

}  // namespace
