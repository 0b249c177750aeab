#include "Parser.h"

#include <charconv>
#include <limits>

#include "Lexer.h"
#include "Pim/join/Trace.h"
#include "Vorn/Trace.h"

namespace Mcinject {

char const* sideName(Side side) { return side == Side::local ? "local" : "peer"; }
char const* pathName(PathKind kind) { return kind == PathKind::l3 ? "l3" : "vpn"; }
char const* tableName(Table table) { return table == Table::gmp ? "gmp" : "sbd"; }

namespace {

using Wirl::AddressFamily;
using Wirl::IpGenAddr;

constexpr unsigned kMaxVlan = 4094;
constexpr std::uint32_t kMaxStep = 1000000;

// Thrown inside the parser only; parseLine turns it into an error value.
struct Failure {
  std::string message;
};

char const* familyName(AddressFamily af) {
  switch (af) {
    case AddressFamily::ipv4: return "IPv4";
    case AddressFamily::ipv6: return "IPv6";
    case AddressFamily::none: break;
  }
  return "of no family";
}

std::optional<std::uint64_t> parseNumber(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The words of a line with a read position; every failure names the command.
class Cursor {
 public:
  Cursor(std::vector<std::string> const& words, std::size_t start, std::string command)
      : words_(words), pos_(start), command_(std::move(command)) {}

  [[noreturn]] void fail(std::string const& what) const { throw Failure{command_ + ": " + what}; }

  bool atEnd() const { return pos_ >= words_.size(); }
  std::string const& peek() const { return words_[pos_]; }

  // The next word, which must be there: `what` says what was expected.
  std::string const& take(std::string const& what) {
    if (atEnd()) fail("missing " + what);
    return words_[pos_++];
  }
  bool takeIf(std::string_view keyword) {
    if (atEnd() || peek() != keyword) return false;
    ++pos_;
    return true;
  }
  void keyword(std::string_view keyword, std::string const& where) {
    if (atEnd()) fail("missing '" + std::string(keyword) + "' " + where);
    if (peek() != keyword) fail("expected '" + std::string(keyword) + "' " + where + ", found '" + peek() + "'");
    ++pos_;
  }
  void end() const {
    if (!atEnd()) fail("unexpected '" + peek() + "'");
  }

  Bridging::VlanId vlan(std::string const& what) {
    std::string const& word = take(what);
    auto n = parseNumber(word);
    if (!n) fail("'" + word + "' is not a VLAN number (1.." + std::to_string(kMaxVlan) + ")");
    if (*n < 1 || *n > kMaxVlan) {
      fail("VLAN " + word + " is out of range 1.." + std::to_string(kMaxVlan));
    }
    return Bridging::VlanId(static_cast<std::uint16_t>(*n));
  }

  std::uint64_t number(std::string const& what, std::uint64_t min, std::uint64_t max) {
    std::string const& word = take(what);
    auto n = parseNumber(word);
    if (!n) fail("'" + word + "' is not a number");
    if (*n < min || *n > max) {
      fail(word + " is out of range " + std::to_string(min) + ".." + std::to_string(max));
    }
    return *n;
  }

  IpGenAddr address(std::string const& what) {
    std::string const& word = take(what);
    auto a = IpGenAddr::fromString(word);
    if (!a) fail("'" + word + "' is not an IPv4 or IPv6 address");
    return *a;
  }

  // A group: a multicast address, or a wildcard (0.0.0.0 / ::) when allowed.
  IpGenAddr group(std::string const& what, bool wildcardAllowed) {
    IpGenAddr g = address(what);
    if (g.isMulticast()) return g;
    if (wildcardAllowed && g.isWildcard()) return g;
    if (wildcardAllowed) {
      fail("group " + g.stringValue() + " is not a multicast address (nor 0.0.0.0 or ::, which stand for every group)");
    }
    fail("group " + g.stringValue() + " is not a multicast address");
  }

  // A source of `group`'s family: a unicast address, or `*` / the all-zero
  // address for any source.
  IpGenAddr source(std::string const& what, IpGenAddr const& group) { return sourceOf(take(what), group); }

  IpGenAddr sourceOf(std::string const& word, IpGenAddr const& group) const {
    if (word == "*") return IpGenAddr(group.af());
    auto s = IpGenAddr::fromString(word);
    if (!s) fail("'" + word + "' is not an IPv4 or IPv6 address (or '*')");
    if (s->af() != group.af()) {
      fail(std::string("source ") + s->stringValue() + " is " + familyName(s->af()) + " but group " +
           group.stringValue() + " is " + familyName(group.af()));
    }
    if (s->isMulticast()) fail("source " + s->stringValue() + " is a multicast address");
    return *s;
  }

  Wirl::IntfId intf(std::string const& what) {
    std::string const& word = take(what);
    if (!Wirl::IntfId::validName(word)) {
      fail("'" + word + "' is not a valid interface name (at most 64 printable characters)");
    }
    // "Vlan<N>" is the interface of VLAN N: N must be a VLAN, written plainly,
    // so that the name is the one the VLAN's interface has.
    std::string_view const prefix = "Vlan";
    if (word.size() > prefix.size() && word.compare(0, prefix.size(), prefix) == 0) {
      std::string_view digits = std::string_view(word).substr(prefix.size());
      if (auto n = parseNumber(digits)) {
        if (*n < 1 || *n > kMaxVlan || digits.front() == '0') {
          fail("interface '" + word + "' does not name a VLAN 1.." + std::to_string(kMaxVlan));
        }
        return Wirl::VlanIntfId::vlanIdToIntfId(static_cast<unsigned short>(*n));
      }
    }
    return Wirl::IntfId::fromName(word);
  }

  // The rest of the line as interfaces (at least one).
  std::vector<Wirl::IntfId> intfs() {
    std::vector<Wirl::IntfId> out;
    out.push_back(intf("interface name after 'intf'"));
    while (!atEnd()) out.push_back(intf("interface name"));
    return out;
  }

  // `S G2 [tunnel T]` after 'route'. The source is checked against the
  // group's family, so the group is read first.
  Routing::Multicast::UnderlayRoute route() {
    std::string const& sourceWord = take("route source");
    IpGenAddr const g = group("route group", false);
    IpGenAddr const s = sourceOf(sourceWord, g);
    Routing::Multicast::TunnelType tunnel = Routing::Multicast::TunnelType::vxlan;
    if (takeIf("tunnel")) {
      std::string const& word = take("tunnel type after 'tunnel'");
      auto t = Routing::Multicast::tunnelTypeFromString(word);
      if (!t) fail("unknown tunnel type '" + word + "' (vxlan or gre)");
      tunnel = *t;
    }
    return Routing::Multicast::UnderlayRoute(s, g, tunnel);
  }

  // `S G I` of `gmp` and `expect join`.
  Routing::Gmp::Brim::RouteIntfKey routeIntfKey() {
    std::string const& sourceWord = take("source (an address or '*')");
    IpGenAddr const g = group("group", false);
    IpGenAddr const s = sourceOf(sourceWord, g);
    Wirl::IntfId const i = intf("interface");
    return Routing::Gmp::Brim::RouteIntfKey(s, g, i);
  }

 private:
  std::vector<std::string> const& words_;
  std::size_t pos_;
  std::string command_;
};

MembershipPath membershipPath(Cursor& c, Side side, bool removal) {
  MembershipPath p;
  p.side = side;
  p.name = c.take("status NAME");
  if (removal && c.atEnd()) return p;
  c.keyword("vlan", "after the status name");
  p.vlan = c.vlan("VLAN after 'vlan'");
  if (!c.takeIf("group")) {
    c.end();
    return p;
  }
  p.group = c.group("group address after 'group'", true);
  if (!c.takeIf("source")) {
    c.end();
    return p;
  }
  p.source = c.source("source address after 'source'", *p.group);
  if (!c.takeIf("intf")) {
    c.end();
    return p;
  }
  p.intfs = c.intfs();
  return p;
}

template <class MapCommand>
MapCommand mapCommand(Cursor& c) {
  MapCommand m;
  c.keyword("vlan", "after 'map'");
  Bridging::VlanId const vlan = c.vlan("VLAN after 'vlan'");
  IpGenAddr group;  // family none: the whole-VLAN mapping
  if (c.takeIf("group")) group = c.group("group address after 'group'", true);
  m.key = Routing::Multicast::OverlayVlanGroup(vlan, group);
  if (c.takeIf("route")) m.route = c.route();
  c.end();
  return m;
}

bool validToggleName(std::string_view name) {
  if (name.empty() || name.size() > 128) return false;
  for (char ch : name) {
    bool const ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_' ||
                    ch == '-' || ch == '.';
    if (!ok) return false;
  }
  return true;
}

Command parseNo(std::vector<std::string> const& words) {
  if (words.size() < 2) throw Failure{"no: missing what to remove (local, peer, map or sbd)"};
  std::string const& what = words[1];
  Cursor c(words, 2, "no " + what);
  if (what == "local" || what == "peer") {
    return MembershipDel{membershipPath(c, what == "local" ? Side::local : Side::peer, true)};
  }
  if (what == "map") return mapCommand<MapDel>(c);
  if (what == "sbd") {
    c.keyword("vlan", "after 'sbd'");
    SbdDel d{c.vlan("VLAN after 'vlan'")};
    c.end();
    return d;
  }
  throw Failure{"no: cannot remove '" + what + "' (local, peer, map or sbd)"};
}

Command parseExpect(std::vector<std::string> const& words) {
  if (words.size() < 2) throw Failure{"expect: missing what to expect (join, no join, joins, changeset, corruptions)"};
  std::string const& what = words[1];
  if (what == "join") {
    Cursor c(words, 2, "expect join");
    ExpectJoin e{c.routeIntfKey(), true};
    c.end();
    return e;
  }
  if (what == "no") {
    if (words.size() < 3 || words[2] != "join") {
      throw Failure{"expect no: expected 'join' after 'expect no'" +
                    (words.size() < 3 ? std::string() : ", found '" + words[2] + "'")};
    }
    Cursor c(words, 3, "expect no join");
    ExpectJoin e{c.routeIntfKey(), false};
    c.end();
    return e;
  }
  if (what == "joins") {
    Cursor c(words, 2, "expect joins");
    ExpectJoins e{c.number("number of joins", 0, std::numeric_limits<std::uint32_t>::max())};
    c.end();
    return e;
  }
  if (what == "changeset") {
    Cursor c(words, 2, "expect changeset");
    ExpectChangeSet e{c.number("number of overlay VLAN groups", 0, std::numeric_limits<std::uint32_t>::max())};
    c.end();
    return e;
  }
  if (what == "corruptions") {
    Cursor c(words, 2, "expect corruptions");
    std::string const& table = c.take("table (gmp or sbd)");
    if (table != "gmp" && table != "sbd") c.fail("unknown table '" + table + "' (gmp or sbd)");
    ExpectCorruptions e{table == "gmp" ? Table::gmp : Table::sbd,
                        c.number("number of corruptions", 0, std::numeric_limits<std::uint32_t>::max())};
    c.end();
    return e;
  }
  throw Failure{"expect: unknown expectation '" + what + "' (join, no join, joins, changeset, corruptions)"};
}

Command parseCommand(std::vector<std::string> const& words) {
  std::string const& name = words[0];
  Cursor c(words, 1, name);
  if (name == "local" || name == "peer") {
    return MembershipIs{membershipPath(c, name == "local" ? Side::local : Side::peer, false)};
  }
  if (name == "no") return parseNo(words);
  if (name == "map") return mapCommand<MapIs>(c);
  if (name == "sbd") {
    c.keyword("vlan", "after 'sbd'");
    SbdIs s;
    s.vlan = c.vlan("VLAN after 'vlan'");
    s.sbdVlan = c.vlan("SBD VLAN after the VLAN");
    c.end();
    if (s.vlan == s.sbdVlan) c.fail("VLAN " + std::to_string(s.vlan.value()) + " cannot be its own SBD VLAN");
    return s;
  }
  if (name == "gmp") {
    GmpIs g{c.routeIntfKey()};
    c.end();
    return g;
  }
  if (name == "toggle") {
    ToggleIs t;
    t.name = c.take("toggle NAME");
    if (!validToggleName(t.name)) c.fail("'" + t.name + "' is not a toggle name (letters, digits, '_', '-', '.')");
    std::string const& state = c.take("'on' or 'off' after the toggle name");
    if (state != "on" && state != "off") c.fail("expected 'on' or 'off', found '" + state + "'");
    t.on = state == "on";
    c.end();
    return t;
  }
  if (name == "corrupt") {
    std::string const& table = c.take("table (gmp or sbd)");
    if (table != "gmp" && table != "sbd") c.fail("unknown table '" + table + "' (gmp or sbd)");
    c.end();
    return CorruptIs{table == "gmp" ? Table::gmp : Table::sbd};
  }
  if (name == "start") {
    std::string const& kind = c.take("path (l3 or vpn)");
    if (kind != "l3" && kind != "vpn") c.fail("unknown path '" + kind + "' (l3 or vpn)");
    Cursor rest(words, 2, "start " + kind);
    Start s{kind == "l3" ? PathKind::l3 : PathKind::vpn, {}};
    if (s.kind == PathKind::l3) s.localName = rest.atEnd() ? std::string("local") : rest.take("status NAME");
    rest.end();
    return s;
  }
  if (name == "stop" || name == "hold" || name == "release" || name == "quit" || name == "exit") {
    c.end();
    if (name == "stop") return Stop{};
    if (name == "hold") return Hold{};
    if (name == "release") return Release{};
    return Quit{};
  }
  if (name == "step") {
    Step s;
    if (!c.atEnd()) s.slices = static_cast<std::uint32_t>(c.number("number of slices", 1, kMaxStep));
    c.end();
    return s;
  }
  if (name == "budget") {
    Budget b{static_cast<std::uint32_t>(
        c.number("number of items per slice", 0, std::numeric_limits<std::uint32_t>::max()))};
    c.end();
    return b;
  }
  if (name == "trace") {
    if (c.takeIf("file")) {
      std::string const& path = c.take("PATH after 'file' (or '-' for standard error)");
      c.end();
      return TraceFileIs{path == "-" ? std::string() : path};
    }
    std::string const& settings = c.take("SETTINGS (HANDLE=LEVELS[,...], or off)");
    c.end();
    if (auto problem = checkTraceSettings(settings)) c.fail(*problem);
    return TraceIs{settings};
  }
  if (name == "show") {
    std::string const& what = c.take("what to show (joins, changeset or inputs)");
    c.end();
    if (what == "joins") return Show{ShowWhat::joins};
    if (what == "changeset") return Show{ShowWhat::changeset};
    if (what == "inputs") return Show{ShowWhat::inputs};
    c.fail("cannot show '" + what + "' (joins, changeset or inputs)");
  }
  if (name == "expect") return parseExpect(words);
  if (name == "help") {
    Help h;
    if (!c.atEnd()) h.topic = c.take("topic");
    c.end();
    return h;
  }
  throw Failure{"unknown command '" + name + "'"};
}

}  // namespace

ParseResult parseLine(std::string_view line) {
  std::vector<std::string> const words = splitWords(line);
  if (words.empty()) return ParseResult::emptyLine();
  try {
    return ParseResult::of(parseCommand(words));
  } catch (Failure const& f) {
    return ParseResult::failure(f.message);
  }
}

std::vector<std::string> const& traceHandleNames() {
  static std::vector<std::string> const names = {
      Irb::Multicast::Egress::l3InjectSmTrace().name(),
      Irb::Multicast::Egress::vpnInjectSmTrace().name(),
      Irb::Multicast::Egress::overlayMembershipTrace().name(),
  };
  return names;
}

std::optional<std::string> checkTraceSettings(std::string_view settings) {
  if (settings == "off") return std::nullopt;
  if (settings.empty()) return "empty trace settings";
  bool haveHandle = false;
  std::string_view rest = settings;
  while (true) {
    std::size_t const comma = rest.find(',');
    std::string_view token = rest.substr(0, comma);
    std::size_t const eq = token.find('=');
    std::string_view levels = token;
    if (eq != std::string_view::npos) {
      std::string_view const handle = token.substr(0, eq);
      levels = token.substr(eq + 1);
      bool known = handle == "*";
      for (auto const& n : traceHandleNames()) known = known || handle == n;
      if (!known) {
        std::string list;
        for (auto const& n : traceHandleNames()) list += n + ", ";
        return "unknown trace handle '" + std::string(handle) + "' (" + list + "or *)";
      }
      haveHandle = true;
    } else if (!haveHandle) {
      return "malformed trace setting '" + std::string(token) + "' (expected HANDLE=LEVELS)";
    }
    if (Vorn::parseTraceLevels(levels) == 0) {
      return "malformed trace levels '" + std::string(levels) + "' (like 7, 7-9 or 8,9; levels 0-9)";
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return std::nullopt;
}

}  // namespace Mcinject
