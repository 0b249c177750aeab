// The scenario language's parser: values, whole lines, and the messages of
// lines that cannot be parsed. (Messages that a scenario under
// tests/scenarios/bad already checks for the same line are not repeated.)
#include <gtest/gtest.h>

#include "Lexer.h"
#include "Parser.h"
#include "Text.h"

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

TEST(LexerTest, CommentsEndTheLineWhereverTheyStart) {
  EXPECT_EQ(splitWords("map vlan 10# group"), (std::vector<std::string>{"map", "vlan", "10"}));
  EXPECT_EQ(splitWords("  \t# only a comment"), std::vector<std::string>{});
  EXPECT_EQ(splitWords("stop\r"), std::vector<std::string>{"stop"});
  EXPECT_EQ(splitWords("a\t\tb  c"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(parseLine("").isEmpty());
  EXPECT_TRUE(parseLine("   # nothing here").isEmpty());
}

TEST(ParserTest, LinesTakeTheirValuesAndDefaults) {
  EXPECT_EQ(parsed<MembershipIs>("local A vlan 1").path.vlan, Bridging::VlanId(1));
  EXPECT_EQ(parsed<MembershipIs>("local A vlan 4094").path.vlan, Bridging::VlanId(4094));
  // A star source is the zero address of the group's family.
  EXPECT_EQ(parsed<MembershipIs>("local A vlan 10 group 239.1.1.1 source *").path.source, IpGenAddr(AddressFamily::ipv4));
  EXPECT_EQ(parsed<GmpIs>("gmp * ff3e::1 Vlan10").key.source(), IpGenAddr(AddressFamily::ipv6));
  EXPECT_EQ(parsed<ExpectJoin>("expect join 0.0.0.0 225.1.1.1 Vlan10").key.source(), IpGenAddr(AddressFamily::ipv4));
  // Wildcard groups where they stand for every group.
  EXPECT_TRUE(parsed<MembershipIs>("local A vlan 10 group 0.0.0.0").path.group->isWildcard());
  EXPECT_TRUE(parsed<MapIs>("map vlan 10 group ::").key.groupAddr().isWildcard());
  // An IPv6 overlay group may ride an IPv4 underlay route.
  EXPECT_EQ(parsed<MapIs>("map vlan 10 group ff3e::1 route 10.0.0.1 225.1.1.1").route->groupAddr(), addr("225.1.1.1"));
  // VLAN interface names are the VLANs' own interfaces; other names stay names.
  EXPECT_EQ(parsed<GmpIs>("gmp * 225.1.1.1 Vlan10").key.intf(), Wirl::VlanIntfId::vlanIdToIntfId(10));
  EXPECT_EQ(parsed<GmpIs>("gmp * 225.1.1.1 Vlanx").key.intf().stringValue(), "Vlanx");
  // Mappings default to the whole VLAN and VXLAN.
  MapIs m = parsed<MapIs>("map vlan 10 route 10.0.0.1 225.1.1.1");
  EXPECT_EQ(m.key.groupAddr().af(), AddressFamily::none);
  EXPECT_EQ(m.route->tunnelType(), Routing::Multicast::TunnelType::vxlan);
  EXPECT_EQ(parsed<MapDel>("no map vlan 10 group 239.1.1.1 route * 225.1.1.1 tunnel gre").route->tunnelType(),
            Routing::Multicast::TunnelType::gre);
  EXPECT_FALSE(parsed<MapIs>("map vlan 10 group 239.1.1.1").route);
  // Membership levels are each optional below the VLAN.
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
  // Control commands take their numbers.
  EXPECT_EQ(parsed<Start>("start l3").localName, "local");
  EXPECT_EQ(parsed<Start>("start l3 leaf1").localName, "leaf1");
  EXPECT_EQ(parsed<Step>("step").slices, 1u);
  EXPECT_EQ(parsed<Step>("step 5").slices, 5u);
  EXPECT_EQ(parsed<Budget>("budget 0").items, 0u);
  EXPECT_EQ(parsed<ExpectJoins>("expect joins 12").count, 12u);
  EXPECT_EQ(parsed<ExpectCorruptions>("expect corruptions sbd 2").table, Table::sbd);
  EXPECT_FALSE(parsed<ToggleIs>("toggle PimL3TunnelInject off").on);
  EXPECT_EQ(parsed<TraceFileIs>("trace file -").path, "");
}

TEST(ParserTest, BadLinesSayWhatIsWrong) {
  struct Case {
    char const* line;
    char const* message;
  };
  Case const cases[] = {
      // Numbers out of range.
      {"local A vlan 4095", "local: VLAN 4095 is out of range 1..4094"},
      {"map vlan 99999999999999999999", "map: VLAN '99999999999999999999' is out of range 1..4094"},
      {"budget 99999999999999999999", "budget: '99999999999999999999' is out of range 0..4294967295"},
      // One rule for leading zeros: none, in numbers and in VLAN interface names.
      {"map vlan 010", "map: VLAN '010' has a leading zero (write 10)"},
      {"step 01", "step: '01' has a leading zero (write 1)"},
      {"map vlan -1", "map: '-1' is not a VLAN number (1..4094)"},
      {"sbd vlan 10 0", "sbd: VLAN 0 is out of range 1..4094"},
      {"gmp * 225.1.1.1 Vlan010", "gmp: interface 'Vlan010' has a leading zero (write Vlan10)"},
      {"gmp * 225.1.1.1 Vlan4095", "gmp: interface 'Vlan4095' does not name a VLAN 1..4094"},
      // Addresses: wildcards only where they stand for every group, one family per key.
      {"gmp * 0.0.0.0 Vlan10", "gmp: group 0.0.0.0 is not a multicast address"},
      {"map vlan 10 route 10.0.0.1 0.0.0.0", "map: group 0.0.0.0 is not a multicast address"},
      {"local A vlan 10 group 10.1.1.1",
       "local: group 10.1.1.1 is not a multicast address (nor 0.0.0.0 or ::, which stand for every group)"},
      {"local A vlan 10 group ff3e::1 source 10.0.0.1", "local: source 10.0.0.1 is IPv4 but group ff3e::1 is IPv6"},
      {"map vlan 10 route 2001:db8::1 225.1.1.1", "map: source 2001:db8::1 is IPv6 but group 225.1.1.1 is IPv4"},
      {"expect join 10.0.0.1 ff3e::1 Vlan10", "expect join: source 10.0.0.1 is IPv4 but group ff3e::1 is IPv6"},
      {"local A vlan 10 group 239.1.1", "local: '239.1.1' is not an IPv4 or IPv6 address"},
      {"gmp * 225.1.1.1.1 Vlan10", "gmp: '225.1.1.1.1' is not an IPv4 or IPv6 address"},
      {"gmp nowhere 225.1.1.1 Vlan10", "gmp: 'nowhere' is not an IPv4 or IPv6 address (or '*')"},
      // Truncated lines say what is missing.
      {"local", "local: missing status NAME"},
      {"local A", "local: missing 'vlan' after the status name"},
      {"local A vlan 10 group", "local: missing group address after 'group'"},
      {"local A vlan 10 group 239.1.1.1 source * intf", "local: missing interface name after 'intf'"},
      {"map vlan 10 route 10.0.0.1", "map: missing route group"},
      {"sbd vlan 10", "sbd: missing SBD VLAN after the VLAN"},
      {"toggle PimL3TunnelInject", "toggle: missing 'on' or 'off' after the toggle name"},
      {"expect no", "expect no: missing join"},
      {"expect joins", "expect joins: missing number of joins"},
      // Extra and unknown words.
      {"Map vlan 10", "unknown command 'Map'"},
      {"stop now", "stop: unexpected 'now'"},
      {"start l3 A B", "start l3: unexpected 'B'"},
      {"start vpn A", "start vpn: unexpected 'A'"},
      {"start l2", "start: expected l3 or vpn, found 'l2'"},
      {"local A vlan 10 source 10.0.0.1", "local: unexpected 'source'"},
      {"show everything", "show: expected joins, changeset, counters or inputs, found 'everything'"},
      {"no vlan 10", "no: expected local, peer, map or sbd, found 'vlan'"},
      // Toggles the library reads, by their exact names.
      {"toggle pimL3TunnelInject off", "toggle: unknown toggle 'pimL3TunnelInject' (known: PimL3TunnelInject)"},
      // Echoed words: control bytes escaped, long words cut.
      {"map vlan 1\x1b[2J0", "map: '1\\x1b[2J0' is not a VLAN number (1..4094)"},
      {"local A\x07 vlan 10", "local: 'A\\x07' holds a control character"},
      {"trace VpnInjectSm=x", "trace: malformed trace levels 'x' (like 7, 7-9 or 8,9; levels 0-9)"},
  };
  for (Case const& c : cases) {
    ParseResult r = parseLine(c.line);
    EXPECT_TRUE(r.isError()) << c.line << " parsed";
    EXPECT_EQ(r.error(), c.message) << c.line;
  }
}

TEST(ParserTest, ValuesReadWhereTheyStandEndWithTheirWord) {
  // VLANs and dotted quads are read in place in the line: each must be the
  // whole of its word, whatever byte follows, and mean what the general
  // rules (parseNumber's, the library's address reader) make of that word;
  // a message names the whole word.
  std::string const tails[] = {"", "x", ".", "0", ".1", ":1", "\x01", "\xff", "/32"};
  std::string const ends[] = {"", " ", "\t", "\v", "#c", "\n", "\r"};
  for (std::string const& tail : tails) {
    for (std::string const& end : ends) {
      for (std::string const v : {"1", "10", "4094", "4095", "0", "010"}) {
        std::string const word = v + tail;
        bool const valid = word.find_first_not_of("0123456789") == std::string::npos && word[0] != '0' &&
                           word.size() <= 4 && std::stoi(word) <= 4094;
        ParseResult const r = parseLine("map vlan " + word + end);
        ASSERT_EQ(r.isError(), !valid) << testing::PrintToString(word + end);
        EXPECT_TRUE(valid || r.error().find(escaped(word)) != std::string::npos) << r.error();
        if (valid) {
          EXPECT_EQ(std::get<MapIs>(r.command()).key.vlanId().value(), std::stoi(word)) << word;
        }
      }
      for (std::string const a : {"239.1.1.1", "225.255.255.25", "0.0.0.0", "10.0.0.1", "1.2.3.4"}) {
        std::string const word = a + tail;
        auto const addr = IpGenAddr::fromString(word);
        ParseResult const group = parseLine("map vlan 10 group " + word + end);
        bool const groupOk = addr && (addr->isMulticast() || addr->isWildcard());
        ASSERT_EQ(group.isError(), !groupOk) << testing::PrintToString(word + end);
        EXPECT_TRUE(groupOk || group.error().find(escaped(word)) != std::string::npos) << group.error();
        if (groupOk) {
          EXPECT_EQ(std::get<MapIs>(group.command()).key.groupAddr(), *addr) << word;
        }
        ParseResult const route = parseLine("map vlan 10 route " + word + " 225.1.1.1" + end);
        bool const sourceOk = addr && addr->af() == AddressFamily::ipv4 && !addr->isMulticast();
        ASSERT_EQ(route.isError(), !sourceOk) << testing::PrintToString(word);
        EXPECT_TRUE(sourceOk || route.error().find(escaped(word)) != std::string::npos) << route.error();
        if (sourceOk) {
          EXPECT_EQ(std::get<MapIs>(route.command()).route->source(), *addr) << word;
        }
      }
    }
  }
}

TEST(ParserTest, TraceSettingsAreCheckedBeforeUse) {
  for (char const* good : {"Pim::L3InjectSm=7-9,8", "*=7,VpnInjectSm=8,9", "off"})
    EXPECT_EQ(checkTraceSettings(good), std::nullopt) << good;
  for (char const* bad : {"L3InjectSm=7", "*=12", "7,*=8", "*=7,"})
    EXPECT_NE(checkTraceSettings(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace Mcinject
