// The scenario language's parser: values, whole lines, and the messages of
// lines that cannot be parsed.
#include <gtest/gtest.h>

#include "Lexer.h"
#include "Parser.h"

namespace Mcinject {
namespace {

using Wirl::AddressFamily;
using Wirl::IpGenAddr;

IpGenAddr addr(char const* text) { return *IpGenAddr::fromString(text); }

template <class T>
T parsed(std::string_view line) {
  ParseResult r = parseLine(line);
  EXPECT_FALSE(r.isError()) << line << ": " << r.error();
  EXPECT_FALSE(r.isEmpty()) << line;
  if (r.isError() || r.isEmpty()) return T{};
  T const* c = std::get_if<T>(&r.command());
  EXPECT_NE(c, nullptr) << line << " parsed as another command";
  return c ? *c : T{};
}

std::string errorOf(std::string_view line) {
  ParseResult r = parseLine(line);
  EXPECT_TRUE(r.isError()) << line << " parsed";
  return r.error();
}

TEST(LexerTest, CommentsEndTheLineWhereverTheyStart) {
  EXPECT_EQ(splitWords("map vlan 10# group"), (std::vector<std::string>{"map", "vlan", "10"}));
  EXPECT_EQ(splitWords("  \t# only a comment"), std::vector<std::string>{});
  EXPECT_EQ(splitWords("stop\r"), std::vector<std::string>{"stop"});
  EXPECT_EQ(splitWords("a\t\tb  c"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(ParserTest, BlankAndCommentLinesAreEmpty) {
  EXPECT_TRUE(parseLine("").isEmpty());
  EXPECT_TRUE(parseLine("   # nothing here").isEmpty());
}

TEST(ParserTest, VlanRangeIsOneTo4094) {
  EXPECT_EQ(parsed<MembershipIs>("local A vlan 1").path.vlan, Bridging::VlanId(1));
  EXPECT_EQ(parsed<MembershipIs>("local A vlan 4094").path.vlan, Bridging::VlanId(4094));
  EXPECT_EQ(errorOf("local A vlan 0"), "local: VLAN 0 is out of range 1..4094");
  EXPECT_EQ(errorOf("local A vlan 4095"), "local: VLAN 4095 is out of range 1..4094");
  EXPECT_EQ(errorOf("map vlan 99999999999999999999"), "map: '99999999999999999999' is not a VLAN number (1..4094)");
  EXPECT_EQ(errorOf("map vlan -1"), "map: '-1' is not a VLAN number (1..4094)");
  EXPECT_EQ(errorOf("sbd vlan 10 0"), "sbd: VLAN 0 is out of range 1..4094");
}

TEST(ParserTest, MembershipLevelsAreEachOptionalBelowTheVlan) {
  MembershipPath p = parsed<MembershipIs>("peer leaf2 vlan 10 group ff3e::1 source 2001:db8::5 intf Ethernet1 Vxlan1").path;
  EXPECT_EQ(p.side, Side::peer);
  EXPECT_EQ(p.name, "leaf2");
  EXPECT_EQ(p.group, addr("ff3e::1"));
  EXPECT_EQ(p.source, addr("2001:db8::5"));
  ASSERT_EQ(p.intfs.size(), 2u);
  EXPECT_FALSE(p.intfs[0].isMcastTunnel());
  EXPECT_TRUE(p.intfs[1].isMcastTunnel());

  MembershipPath g = parsed<MembershipIs>("local A vlan 10 group 239.1.1.1").path;
  EXPECT_TRUE(g.group && !g.source && g.intfs.empty());

  MembershipPath all = parsed<MembershipDel>("no local A").path;
  EXPECT_FALSE(all.vlan);
}

TEST(ParserTest, StarSourceIsTheZeroAddressOfTheGroupsFamily) {
  EXPECT_EQ(parsed<MembershipIs>("local A vlan 10 group 239.1.1.1 source *").path.source, IpGenAddr(AddressFamily::ipv4));
  EXPECT_EQ(parsed<GmpIs>("gmp * ff3e::1 Vlan10").key.source(), IpGenAddr(AddressFamily::ipv6));
  EXPECT_EQ(parsed<ExpectJoin>("expect join 0.0.0.0 225.1.1.1 Vlan10").key.source(), IpGenAddr(AddressFamily::ipv4));
}

TEST(ParserTest, WildcardGroupsOnlyWhereTheyStandForEveryGroup) {
  EXPECT_TRUE(parsed<MembershipIs>("local A vlan 10 group 0.0.0.0").path.group->isWildcard());
  EXPECT_TRUE(parsed<MapIs>("map vlan 10 group ::").key.groupAddr().isWildcard());
  EXPECT_EQ(errorOf("gmp * 0.0.0.0 Vlan10"), "gmp: group 0.0.0.0 is not a multicast address");
  EXPECT_EQ(errorOf("map vlan 10 route 10.0.0.1 0.0.0.0"), "map: group 0.0.0.0 is not a multicast address");
  EXPECT_EQ(errorOf("local A vlan 10 group 10.1.1.1"),
            "local: group 10.1.1.1 is not a multicast address (nor 0.0.0.0 or ::, which stand for every group)");
}

TEST(ParserTest, MixedFamiliesAreRejected) {
  EXPECT_EQ(errorOf("local A vlan 10 group ff3e::1 source 10.0.0.1"),
            "local: source 10.0.0.1 is IPv4 but group ff3e::1 is IPv6");
  EXPECT_EQ(errorOf("map vlan 10 route 2001:db8::1 225.1.1.1"),
            "map: source 2001:db8::1 is IPv6 but group 225.1.1.1 is IPv4");
  EXPECT_EQ(errorOf("gmp 10.0.0.1 ff3e::1 Vlan10"), "gmp: source 10.0.0.1 is IPv4 but group ff3e::1 is IPv6");
  EXPECT_EQ(errorOf("expect join 10.0.0.1 ff3e::1 Vlan10"),
            "expect join: source 10.0.0.1 is IPv4 but group ff3e::1 is IPv6");
  // An IPv6 overlay group may ride an IPv4 underlay route.
  MapIs m = parsed<MapIs>("map vlan 10 group ff3e::1 route 10.0.0.1 225.1.1.1");
  EXPECT_EQ(m.route->groupAddr(), addr("225.1.1.1"));
}

TEST(ParserTest, MalformedAddressesAreNamed) {
  EXPECT_EQ(errorOf("local A vlan 10 group 239.1.1"), "local: '239.1.1' is not an IPv4 or IPv6 address");
  EXPECT_EQ(errorOf("gmp * 225.1.1.1.1 Vlan10"), "gmp: '225.1.1.1.1' is not an IPv4 or IPv6 address");
  EXPECT_EQ(errorOf("gmp nowhere 225.1.1.1 Vlan10"), "gmp: 'nowhere' is not an IPv4 or IPv6 address (or '*')");
}

TEST(ParserTest, VlanInterfaceNamesAreTheVlansOwnInterfaces) {
  EXPECT_EQ(parsed<GmpIs>("gmp * 225.1.1.1 Vlan10").key.intf(), Wirl::VlanIntfId::vlanIdToIntfId(10));
  EXPECT_EQ(errorOf("gmp * 225.1.1.1 Vlan010"), "gmp: interface 'Vlan010' does not name a VLAN 1..4094");
  EXPECT_EQ(errorOf("gmp * 225.1.1.1 Vlan4095"), "gmp: interface 'Vlan4095' does not name a VLAN 1..4094");
  EXPECT_EQ(parsed<GmpIs>("gmp * 225.1.1.1 Vlanx").key.intf().stringValue(), "Vlanx");
}

TEST(ParserTest, MappingsDefaultToTheWholeVlanAndVxlan) {
  MapIs m = parsed<MapIs>("map vlan 10 route 10.0.0.1 225.1.1.1");
  EXPECT_EQ(m.key.groupAddr().af(), AddressFamily::none);
  EXPECT_EQ(m.route->tunnelType(), Routing::Multicast::TunnelType::vxlan);
  EXPECT_EQ(parsed<MapDel>("no map vlan 10 group 239.1.1.1 route * 225.1.1.1 tunnel gre").route->tunnelType(),
            Routing::Multicast::TunnelType::gre);
  EXPECT_FALSE(parsed<MapIs>("map vlan 10 group 239.1.1.1").route);
}

TEST(ParserTest, TruncatedLinesSayWhatIsMissing) {
  EXPECT_EQ(errorOf("local"), "local: missing status NAME");
  EXPECT_EQ(errorOf("local A"), "local: missing 'vlan' after the status name");
  EXPECT_EQ(errorOf("local A vlan"), "local: missing VLAN after 'vlan'");
  EXPECT_EQ(errorOf("local A vlan 10 group"), "local: missing group address after 'group'");
  EXPECT_EQ(errorOf("local A vlan 10 group 239.1.1.1 source * intf"), "local: missing interface name after 'intf'");
  EXPECT_EQ(errorOf("map vlan 10 route 10.0.0.1"), "map: missing route group");
  EXPECT_EQ(errorOf("sbd vlan 10"), "sbd: missing SBD VLAN after the VLAN");
  EXPECT_EQ(errorOf("toggle PimL3TunnelInject"), "toggle: missing 'on' or 'off' after the toggle name");
  EXPECT_EQ(errorOf("expect no"), "expect no: expected 'join' after 'expect no'");
  EXPECT_EQ(errorOf("expect joins"), "expect joins: missing number of joins");
}

TEST(ParserTest, ExtraWordsAndUnknownWordsAreErrors) {
  EXPECT_EQ(errorOf("mapp vlan 10"), "unknown command 'mapp'");
  EXPECT_EQ(errorOf("Map vlan 10"), "unknown command 'Map'");
  EXPECT_EQ(errorOf("stop now"), "stop: unexpected 'now'");
  EXPECT_EQ(errorOf("start l3 A B"), "start l3: unexpected 'B'");
  EXPECT_EQ(errorOf("start vpn A"), "start vpn: unexpected 'A'");
  EXPECT_EQ(errorOf("start l2"), "start: unknown path 'l2' (l3 or vpn)");
  EXPECT_EQ(errorOf("local A vlan 10 source 10.0.0.1"), "local: unexpected 'source'");
  EXPECT_EQ(errorOf("show everything"), "show: cannot show 'everything' (joins, changeset or inputs)");
  EXPECT_EQ(errorOf("no vlan 10"), "no: cannot remove 'vlan' (local, peer, map or sbd)");
}

TEST(ParserTest, ControlCommandsTakeTheirNumbers) {
  EXPECT_EQ(parsed<Start>("start l3").localName, "local");
  EXPECT_EQ(parsed<Start>("start l3 leaf1").localName, "leaf1");
  EXPECT_EQ(parsed<Step>("step").slices, 1u);
  EXPECT_EQ(parsed<Step>("step 5").slices, 5u);
  EXPECT_EQ(errorOf("step 0"), "step: 0 is out of range 1..1000000");
  EXPECT_EQ(parsed<Budget>("budget 0").items, 0u);
  EXPECT_EQ(parsed<ExpectJoins>("expect joins 12").count, 12u);
  EXPECT_EQ(parsed<ExpectCorruptions>("expect corruptions sbd 2").table, Table::sbd);
  EXPECT_FALSE(parsed<ToggleIs>("toggle PimL3TunnelInject off").on);
  EXPECT_EQ(errorOf("toggle Pim\"x on"), "toggle: 'Pim\"x' is not a toggle name (letters, digits, '_', '-', '.')");
  EXPECT_EQ(parsed<TraceFileIs>("trace file -").path, "");
}

TEST(ParserTest, TraceSettingsAreCheckedBeforeUse) {
  EXPECT_EQ(checkTraceSettings("Pim::L3InjectSm=7-9,8"), std::nullopt);
  EXPECT_EQ(checkTraceSettings("*=7,VpnInjectSm=8,9"), std::nullopt);
  EXPECT_EQ(checkTraceSettings("off"), std::nullopt);
  EXPECT_NE(checkTraceSettings("L3InjectSm=7"), std::nullopt);
  EXPECT_NE(checkTraceSettings("*=12"), std::nullopt);
  EXPECT_NE(checkTraceSettings("7,*=8"), std::nullopt);
  EXPECT_NE(checkTraceSettings("*=7,"), std::nullopt);
  EXPECT_EQ(errorOf("trace VpnInjectSm=x"), "trace: malformed trace levels 'x' (like 7, 7-9 or 8,9; levels 0-9)");
}

}  // namespace
}  // namespace Mcinject
