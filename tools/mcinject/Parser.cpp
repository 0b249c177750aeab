#include "Parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <stdexcept>

#include "AddressText.h"
#include "Keel/TaskScheduler.h"
#include "Lexer.h"
#include "Pim/join/Trace.h"
#include "Text.h"
#include "ToggleFile.h"
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
    case AddressFamily::ipv4:
      return "IPv4";
    case AddressFamily::ipv6:
      return "IPv6";
    case AddressFamily::none:
      break;
  }
  return "of no family";
}

// A decimal number as the language writes them: digits only, no leading zero
// (one rule for every number, VLAN interface names included: `Vlan010` is
// not VLAN 10's interface, so `vlan 010` is not VLAN 10 either).
struct Number {
  enum class Kind { ok, notANumber, leadingZero, tooLarge } kind = Kind::notANumber;
  std::uint64_t value = 0;
};

Number parseNumber(std::string_view text) {
  if (text.empty()) return {};
  std::uint64_t value = 0;  // wraps past 19 digits; from_chars judges those
  for (char const c : text) {
    auto const digit = static_cast<unsigned char>(c - '0');
    if (digit > 9) return {};
    value = value * 10 + digit;
  }
  if (text.size() > 1 && text.front() == '0') return {Number::Kind::leadingZero, 0};
  if (text.size() > 19) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc()) return {Number::Kind::tooLarge, 0};
  }
  return {Number::Kind::ok, value};
}

std::string withoutLeadingZeros(std::string_view digits) {
  std::size_t const first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? std::string("0") : std::string(digits.substr(first));
}

// The pieces, one after the other.
template <class... Pieces>
std::string cat(Pieces const&... pieces) {
  std::string out;
  (out.append(std::string_view(pieces)), ...);
  return out;
}

// Word equality, inline: the words and keywords compared are a few bytes.
bool same(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

bool hasControlByte(std::string_view word) {
  for (char c : word) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

// The most keywords a command's path has ("expect no join", "no sbd vlan").
constexpr std::size_t kMaxPath = 4;

// The keywords a line starts with, read as far as finding its command needs.
class Head {
 public:
  explicit Head(std::string_view line) : p_(line.data()), end_(line.data() + line.size()) {}

  // Word i of the line, empty when the line has fewer words.
  std::string_view word(std::size_t i) {
    while (count_ <= i && count_ < kMaxPath) {
      while (p_ != end_ && isBlank(*p_)) ++p_;
      char const* const start = p_;
      while (p_ != end_ && isWordByte(*p_)) ++p_;
      words_[count_++] = std::string_view(start, static_cast<std::size_t>(p_ - start));
      after_[count_ - 1] = p_;
    }
    return i < count_ ? words_[i] : std::string_view();
  }
  // Where the line goes on after word i (read before).
  char const* after(std::size_t i) const { return after_[i]; }
  char const* end() const { return end_; }

 private:
  char const* p_;
  char const* end_;
  std::array<std::string_view, kMaxPath> words_{};
  std::array<char const*, kMaxPath> after_{};
  std::size_t count_ = 0;
};

}  // namespace

// A read position in a line, after the command's keywords; every failure
// names the command. Words are read straight from the line, each value
// parsed where it stands: the common forms (a VLAN, a dotted quad) in one
// pass over their bytes, anything else as a whole word by the general rules,
// which also give the messages.
class Cursor {
 public:
  // At the word after the command's `pathWords` keywords; the first
  // `nameWords` of them name the command in messages.
  Cursor(Head& head, std::size_t pathWords, std::size_t nameWords)
      : head_(head), p_(head.after(pathWords - 1)), end_(head.end()), nameWords_(nameWords) {
    skipBlanks();
  }

  [[noreturn]] void fail(std::string_view what) const {
    std::string message;
    for (std::size_t i = 0; i < nameWords_; ++i) {
      if (i) message += ' ';
      message += head_.word(i);
    }
    message += ": ";
    message += what;
    throw Failure{std::move(message)};
  }

  // Keyword i of the command's path, as the line spells it.
  std::string_view pathWord(std::size_t i) const { return head_.word(i); }

  bool atEnd() const { return p_ == end_ || !isWordByte(*p_); }
  std::string_view peek() const {
    char const* q = p_;
    while (q != end_ && isWordByte(*q)) ++q;
    return std::string_view(p_, static_cast<std::size_t>(q - p_));
  }

  // The next word, which must be there: `what` says what was expected.
  std::string_view take(std::string_view what) {
    if (atEnd()) fail(cat("missing ", what));
    std::string_view const word = peek();
    advanceTo(p_ + word.size());
    return word;
  }
  bool takeIf(std::string_view keyword) {
    if (static_cast<std::size_t>(end_ - p_) < keyword.size()) return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
      if (p_[i] != keyword[i]) return false;
    }
    if (!wordEndsAt(p_ + keyword.size())) return false;
    advanceTo(p_ + keyword.size());
    return true;
  }
  void keyword(std::string_view keyword, std::string_view where) {
    if (atEnd()) fail(cat("missing '", keyword, "' ", where));
    if (!takeIf(keyword)) fail(cat("expected '", keyword, "' ", where, ", found ", quoted(peek())));
  }
  void end() const {
    if (!atEnd()) fail("unexpected " + quoted(peek()));
  }

  // A word that is shown again later (a status name): no control bytes.
  std::string_view name(std::string_view what) {
    std::string_view const word = take(what);
    if (hasControlByte(word)) fail(quoted(word) + " holds a control character");
    return word;
  }

  Bridging::VlanId vlan(std::string_view what) {
    // The common case in one pass: 1 to 4 digits, no leading zero, up to
    // 4094, then the end of the word.
    char const* const limit = p_ + std::min<std::ptrdiff_t>(end_ - p_, 5);
    char const* q = p_;
    unsigned value = 0;
    while (q != limit && static_cast<unsigned char>(*q - '0') <= 9)
      value = value * 10 + static_cast<unsigned>(*q++ - '0');
    if (q != p_ && q - p_ < 5 && *p_ != '0' && value <= kMaxVlan && wordEndsAt(q)) {
      advanceTo(q);
      return Bridging::VlanId(static_cast<std::uint16_t>(value));
    }
    std::string_view const word = take(what);
    Number const n = parseNumber(word);
    if (n.kind == Number::Kind::ok && n.value >= 1 && n.value <= kMaxVlan) {
      return Bridging::VlanId(static_cast<std::uint16_t>(n.value));
    }
    std::string const range = "1.." + std::to_string(kMaxVlan);
    switch (n.kind) {
      case Number::Kind::notANumber:
        fail(quoted(word) + " is not a VLAN number (" + range + ")");
      case Number::Kind::leadingZero:
        fail("VLAN " + quoted(word) + " has a leading zero (write " + withoutLeadingZeros(word) + ")");
      case Number::Kind::tooLarge:
        fail("VLAN " + quoted(word) + " is out of range " + range);
      case Number::Kind::ok:
        break;
    }
    fail(cat("VLAN ", word, " is out of range ", range));
  }

  std::uint64_t number(std::string_view what, std::uint64_t min, std::uint64_t max) {
    std::string_view const word = take(what);
    Number const n = parseNumber(word);
    if (n.kind == Number::Kind::ok && n.value >= min && n.value <= max) return n.value;
    std::string const range = std::to_string(min) + ".." + std::to_string(max);
    switch (n.kind) {
      case Number::Kind::notANumber:
        fail(quoted(word) + " is not a number");
      case Number::Kind::leadingZero:
        fail(quoted(word) + " has a leading zero (write " + withoutLeadingZeros(word) + ")");
      case Number::Kind::tooLarge:
        fail(quoted(word) + " is out of range " + range);
      case Number::Kind::ok:
        break;
    }
    fail(cat(word, " is out of range ", range));
  }

  IpGenAddr address(std::string_view what) {
    if (auto a = dottedQuadHere()) return *a;
    std::string_view const word = take(what);
    auto a = addressOf(word);
    if (!a) fail(quoted(word) + " is not an IPv4 or IPv6 address");
    return *a;
  }

  // A group: a multicast address, or a wildcard (0.0.0.0 / ::) when allowed.
  IpGenAddr group(std::string_view what, bool wildcardAllowed) {
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
  IpGenAddr source(std::string_view what, IpGenAddr const& group) { return sourceOf(take(what), group); }

  IpGenAddr sourceOf(std::string_view word, IpGenAddr const& group) const {
    if (same(word, "*")) return IpGenAddr(group.af());
    auto s = addressOf(word);
    if (!s) fail(quoted(word) + " is not an IPv4 or IPv6 address (or '*')");
    return checkedSource(*s, group);
  }

  // An address as a source of `group`: of its family, not multicast.
  IpGenAddr checkedSource(IpGenAddr const& s, IpGenAddr const& group) const {
    if (s.af() != group.af()) {
      fail(std::string("source ") + s.stringValue() + " is " + familyName(s.af()) + " but group " +
           group.stringValue() + " is " + familyName(group.af()));
    }
    if (s.isMulticast()) fail("source " + s.stringValue() + " is a multicast address");
    return s;
  }

  Wirl::IntfId intf(std::string_view what) {
    std::string_view const word = take(what);
    if (!Wirl::IntfId::validName(word)) {
      fail(quoted(word) + " is not a valid interface name (at most 64 printable characters)");
    }
    // "Vlan<N>" is the interface of VLAN N: N must be a VLAN, written as
    // numbers are, so that the name is the one the VLAN's interface has.
    std::string_view const prefix = "Vlan";
    if (word.size() > prefix.size() && word.starts_with(prefix)) {
      std::string_view digits = word.substr(prefix.size());
      Number const n = parseNumber(digits);
      if (n.kind == Number::Kind::leadingZero) {
        fail("interface " + quoted(word) + " has a leading zero (write Vlan" + withoutLeadingZeros(digits) + ")");
      }
      if (n.kind != Number::Kind::notANumber) {
        if (n.kind == Number::Kind::tooLarge || n.value < 1 || n.value > kMaxVlan) {
          fail("interface " + quoted(word) + " does not name a VLAN 1.." + std::to_string(kMaxVlan));
        }
        return Wirl::VlanIntfId::vlanIdToIntfId(static_cast<unsigned short>(n.value));
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
    // A dotted quad source is read in place; anything else as a word.
    std::optional<IpGenAddr> const quad = dottedQuadHere();
    std::string_view const sourceWord = quad ? std::string_view() : take("route source");
    IpGenAddr const g = group("route group", false);
    IpGenAddr const s = quad ? checkedSource(*quad, g) : sourceOf(sourceWord, g);
    Routing::Multicast::TunnelType tunnel = Routing::Multicast::TunnelType::vxlan;
    if (takeIf("tunnel")) {
      std::string_view const word = take("tunnel type after 'tunnel'");
      auto t = Routing::Multicast::tunnelTypeFromString(word);
      if (!t) fail("unknown tunnel type " + quoted(word) + " (vxlan or gre)");
      tunnel = *t;
    }
    return Routing::Multicast::UnderlayRoute(s, g, tunnel);
  }

  // `S G I` of `gmp` and `expect join`.
  Routing::Gmp::Brim::RouteIntfKey routeIntfKey() {
    std::string_view const sourceWord = take("source (an address or '*')");
    IpGenAddr const g = group("group", false);
    IpGenAddr const s = sourceOf(sourceWord, g);
    Wirl::IntfId const i = intf("interface");
    return Routing::Gmp::Brim::RouteIntfKey(s, g, i);
  }

 private:
  // The cursor stands at the next word (or the end of the words): blanks
  // are skipped as soon as a word has been read.
  void skipBlanks() {
    while (p_ != end_ && isBlank(*p_)) ++p_;
  }
  void advanceTo(char const* q) {
    p_ = q;
    skipBlanks();
  }
  bool wordEndsAt(char const* q) const { return q == end_ || !isWordByte(*q); }

  // A dotted quad that is the whole of the next word, read in place.
  std::optional<IpGenAddr> dottedQuadHere() {
    IpGenAddr::Bytes bytes{};
    char const* const q = dottedQuadPrefix(p_, end_, bytes.data());
    if (!q || !wordEndsAt(q)) return std::nullopt;
    advanceTo(q);
    return IpGenAddr(Wirl::AddressFamily::ipv4, bytes);
  }

  Head& head_;
  char const* p_;
  char const* end_;
  std::size_t nameWords_;
};

namespace {

// ---- builders: the words after a command's keyword path -----------------------

Side sideOf(Cursor const& c) { return c.pathWord(c.pathWord(0) == "no" ? 1 : 0) == "local" ? Side::local : Side::peer; }

MembershipPath membershipPath(Cursor& c, bool removal) {
  MembershipPath p;
  p.side = sideOf(c);
  p.name = c.name("status NAME");
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
Command mapCommand(Cursor& c) {
  MapCommand m;
  Bridging::VlanId const vlan = c.vlan("VLAN after 'vlan'");
  IpGenAddr group;  // family none: the whole-VLAN mapping
  if (c.takeIf("group")) group = c.group("group address after 'group'", true);
  m.key = Routing::Multicast::OverlayVlanGroup(vlan, group);
  if (c.takeIf("route")) m.route = c.route();
  c.end();
  return m;
}

template <class Result>
Command plain(Cursor& c) {
  c.end();
  return Result{};
}

template <ShowWhat what>
Command show(Cursor& c) {
  Show s{what, {}, false, false};
  s.json = c.takeIf("json");
  c.end();
  return s;
}

// `show joins [vlan V] [group G] [intf I] [detail] [json]`, in that order.
Command showJoins(Cursor& c) {
  Show s{ShowWhat::joins, {}, false, false};
  if (c.takeIf("vlan")) s.filter.vlan = c.vlan("VLAN after 'vlan'");
  if (c.takeIf("group")) s.filter.group = c.group("group address after 'group'", true);
  if (c.takeIf("intf")) s.filter.intf = c.intf("interface name after 'intf'");
  s.detail = c.takeIf("detail");
  s.json = c.takeIf("json");
  c.end();
  return s;
}

template <bool present>
Command explain(Cursor& c) {
  Explain e{c.routeIntfKey(), present};
  c.end();
  return e;
}

// Both forms of `expect reason S G I ...`: they share the keyword path.
Command expectReason(Cursor& c) {
  ExpectReason e{c.routeIntfKey(), std::nullopt, std::nullopt};
  if (c.takeIf("status")) {
    e.status = std::string(c.name("status NAME after 'status'"));
  } else {
    c.keyword("mapping", "(or 'status') after the interface");
    Bridging::VlanId const vlan = c.vlan("VLAN after 'mapping'");
    IpGenAddr group;  // family none: the whole-VLAN mapping
    if (c.takeIf("group")) group = c.group("group address after 'group'", true);
    e.mapping = Routing::Multicast::OverlayVlanGroup(vlan, group);
  }
  c.end();
  return e;
}

// The table a `gmp|sbd` keyword of the path named.
Table tableAt(Cursor const& c, std::size_t i) { return c.pathWord(i) == "gmp" ? Table::gmp : Table::sbd; }

Command sbdIs(Cursor& c) {
  SbdIs s;
  s.vlan = c.vlan("VLAN after 'vlan'");
  s.sbdVlan = c.vlan("SBD VLAN after the VLAN");
  c.end();
  if (s.vlan == s.sbdVlan) c.fail("VLAN " + std::to_string(s.vlan.value()) + " cannot be its own SBD VLAN");
  return s;
}

Command sbdDel(Cursor& c) {
  SbdDel d{c.vlan("VLAN after 'vlan'"), std::nullopt};
  if (!c.atEnd()) d.sbdVlan = c.vlan("SBD VLAN");
  c.end();
  return d;
}

Command toggle(Cursor& c) {
  ToggleIs t;
  t.name = c.take("toggle NAME");
  std::vector<std::string> const known = knownToggleNames();
  if (std::find(known.begin(), known.end(), t.name) == known.end()) {
    c.fail("unknown toggle " + quoted(t.name) + " (known: " + alternativesText(known, ", ") + ")");
  }
  std::string_view const state = c.take("'on' or 'off' after the toggle name");
  if (state != "on" && state != "off") c.fail("expected 'on' or 'off', found " + quoted(state));
  t.on = state == "on";
  c.end();
  return t;
}

Command startL3(Cursor& c) {
  bool const named = !c.atEnd();
  Start s{PathKind::l3, named ? std::string(c.name("status NAME")) : std::string("local"), named};
  c.end();
  return s;
}

Command step(Cursor& c) {
  Step s;
  if (!c.atEnd()) s.slices = static_cast<std::uint32_t>(c.number("number of slices", 1, kMaxStep));
  c.end();
  return s;
}

Command budget(Cursor& c) {
  Budget b{
      static_cast<std::uint32_t>(c.number("number of items per slice", 0, std::numeric_limits<std::uint32_t>::max()))};
  c.end();
  return b;
}

Command traceIs(Cursor& c) {
  std::string_view const settings = c.take("SETTINGS (HANDLE=LEVELS[,...], or off)");
  c.end();
  if (auto problem = checkTraceSettings(settings)) c.fail(*problem);
  return TraceIs{std::string(settings)};
}

Command traceFileIs(Cursor& c) {
  std::string_view const path = c.take("PATH (or '-' for standard error)");
  c.end();
  return TraceFileIs{path == "-" ? std::string() : std::string(path)};
}

template <bool present>
Command expectJoin(Cursor& c) {
  ExpectJoin e{c.routeIntfKey(), present};
  c.end();
  return e;
}

template <class Expectation>
Command expectCount(Cursor& c) {
  char const* what = std::is_same_v<Expectation, ExpectJoins> ? "number of joins" : "number of overlay VLAN groups";
  Expectation e{c.number(what, 0, std::numeric_limits<std::uint32_t>::max())};
  c.end();
  return e;
}

Command expectCorruptions(Cursor& c) {
  ExpectCorruptions e;
  e.table = tableAt(c, 2);
  e.count = c.number("number of corruptions", 0, std::numeric_limits<std::uint32_t>::max());
  c.end();
  return e;
}

Command help(Cursor& c) {
  Help h;
  if (!c.atEnd()) h.topic = c.take("topic");
  c.end();
  return h;
}

}  // namespace

std::vector<CommandSpec> const& commandTable() {
  static std::vector<CommandSpec> const all = {
      {"Inputs (before or after 'start'; a running path sees each as the change it is)",
       "local|peer NAME vlan V [group G [source S [intf I ...]]]", "add to a local or peer membership status",
       "ensure the local (peer) membership join status NAME holds these entries; a\n"
       "missing level is created with what the line gives and attached in one change",
       [](Cursor& c) -> Command { return MembershipIs{membershipPath(c, false)}; }},
      {nullptr, "no local|peer NAME [vlan V [group G [source S [intf I ...]]]]", "remove from a membership status",
       "remove the status, or the deepest level named with all it holds, or the interfaces\n"
       "listed; 'no local NAME' is refused while the L3 path runs on NAME",
       [](Cursor& c) -> Command { return MembershipDel{membershipPath(c, true)}; }},
      {nullptr, "map vlan V [group G] [route S G2 [tunnel T]]", "add a VLAN-to-underlay-group mapping",
       "ensure the mapping of overlay VLAN group (V, G) exists (no group: the whole-VLAN\n"
       "mapping of V) and lists the underlay route (S, G2, T)",
       mapCommand<MapIs>},
      {nullptr, "no map vlan V [group G] [route S G2 [tunnel T]]", "remove a mapping or one of its routes",
       "remove the route from the mapping, or the mapping", mapCommand<MapDel>},
      {nullptr, "sbd vlan V SBD", "serve VLAN V by an SBD VLAN", "VLAN V is served by SBD VLAN SBD", sbdIs},
      {nullptr, "no sbd vlan V [SBD]", "VLAN V has no SBD VLAN",
       "VLAN V has no SBD VLAN (with SBD: only if SBD is V's SBD VLAN, as 'show inputs' prints it)", sbdDel},
      {nullptr, "gmp S G I", "write an entry into the GMP status table",
       "write the entry (S, G, I) with value 1 into the GMP status table, as an earlier\n"
       "run of the agent would have left it",
       [](Cursor& c) -> Command {
         GmpIs g{c.routeIntfKey()};
         c.end();
         return g;
       }},
      {nullptr, "toggle TOGGLE on|off", "set a feature toggle (before the first start)",
       "set a feature toggle of the toggle file Pim.json; only before the first 'start'\n"
       "of the process (the library reads toggles once)",
       toggle},
      {nullptr, "corrupt gmp|sbd", "make the next read of a table report a corruption",
       "the next read of the GMP status table (the L3 start-up walk) / of the IRB\n"
       "status's vlanToSbd table (the VPN path's change trackers, on a group change)\n"
       "reports a corruption",
       [](Cursor& c) -> Command {
         CorruptIs k{tableAt(c, 1)};
         c.end();
         return k;
       }},

      {"Paths and scheduling", "start l3 [NAME]", "start the L3 inject path",
       "start the L3 inject path on local status NAME (default 'local', created empty\n"
       "if missing, with a note), the IP tunnel VLAN group status and the GMP status table",
       startL3},
      {nullptr, "start vpn", "start the VPN inject path",
       "start the VPN inject path on the scheduler, all membership statuses, the IP\n"
       "tunnel VLAN group status, the IRB status and the GMP status table",
       [](Cursor& c) -> Command {
         c.end();
         return Start{PathKind::vpn, {}, false};
       }},
      {nullptr, "stop", "drop the running path", "drop the running path; its teardown withdraws its Joins",
       plain<Stop>},
      {nullptr, "hold", "leave scheduler work for step and release",
       "from now on leave queued scheduler work for 'step' and 'release' (by default the\n"
       "scheduler runs until idle after every command)",
       plain<Hold>},
      {nullptr, "release", "end hold; run the scheduler until idle", "end 'hold' and run the scheduler until idle now",
       plain<Release>},
      {nullptr, "step [N]", "run N task slices", "run N task slices (default 1)", step},
      {nullptr, "budget N", "items a walk slice reviews before it yields",
       "a walk slice yields after N items (default " + std::to_string(Keel::TaskScheduler::kDefaultItemBudget) +
           ", the scheduler's own\n"
           "default; 0: unlimited)",
       budget},

      {"Looking and checking", "show joins [vlan V] [group G] [intf I] [detail] [json]", "the GMP status table",
       "the GMP status table, sorted by interface, group, source, with a count. Filters\n"
       "(each optional, in this order; all must match): vlan V, the entries on VLAN V's\n"
       "interface or wanted through a membership in VLAN V; group G, the entries of\n"
       "underlay group G or of the mapping of overlay group G; intf I, the entries on\n"
       "interface I. detail: each entry with the running path's reasons; json: one JSON\n"
       "document (docs/json.md)",
       showJoins},
      {nullptr, "show changeset [json]", "the overlay VLAN groups waiting for review",
       "the overlay VLAN groups waiting for the VPN path's review, the changed counter\n"
       "and the scheduler's state",
       show<ShowWhat::changeset>},
      {nullptr, "show counters [json]", "the running path's counters",
       "the running path's counters: Joins written, withdrawn, rewritten, stale entries\n"
       "removed, walks, slices, items reviewed, corruptions reported",
       show<ShowWhat::counters>},
      {nullptr, "show inputs", "the inputs, as lines", "the inputs, as the lines that would build them again",
       [](Cursor& c) -> Command {
         c.end();
         return Show{ShowWhat::inputs, {}, false, false};
       }},
      {nullptr, "explain join S G I", "why the path holds the Join",
       "why the running path holds the Join (S, G, I): each mapping and route that\n"
       "gives it, with the statuses, VLANs, SBD VLAN, groups, sources and interfaces\n"
       "that make the mapping wanted, one per line; 'adopted' when the entry was kept\n"
       "from before the start. A Join the path does not hold is answered as by\n"
       "'explain no join'",
       explain<true>},
      {nullptr, "explain no join S G I", "why the path does not hold the Join",
       "why the running path does not hold the Join (S, G, I): each mapping that\n"
       "gives the key and what it lacks, or that no mapping gives it. A Join the path\n"
       "holds is answered as by 'explain join'",
       explain<false>},
      {nullptr, "trace SETTINGS", "text trace settings",
       "text trace: HANDLE=LEVELS[,HANDLE=LEVELS...], HANDLE one of Pim::L3InjectSm,\n"
       "VpnInjectSm, VpnInjectSm::OverlayMembership or *, LEVELS like 7, 7-9, 8,9\n"
       "(7 Joins and walk events, 8 handler decisions, 9 detail)",
       traceIs},
      {nullptr, "trace off", "stop the text trace", "stop the text trace",
       [](Cursor& c) -> Command {
         c.end();
         return TraceIs{"off"};
       }},
      {nullptr, "trace file PATH", "write the text trace to a file",
       "write the text trace to PATH (appending); 'trace file -': standard error", traceFileIs},
      {nullptr, "expect join S G I", "fail unless the table holds the entry",
       "fail unless the table holds the entry (S, G, I) with value 1", expectJoin<true>},
      {nullptr, "expect no join S G I", "fail if the table holds the entry",
       "fail if the table holds an entry with that key", expectJoin<false>},
      {nullptr, "expect joins N", "fail unless the table holds N entries",
       "fail unless the table holds exactly N entries", expectCount<ExpectJoins>},
      {nullptr, "expect changeset N", "fail unless N groups wait for review",
       "fail unless N overlay VLAN groups wait for review (VPN path)", expectCount<ExpectChangeSet>},
      {nullptr, "expect reason S G I status NAME", "fail unless a reason names the status",
       "fail unless one of the running path's reasons for the Join (S, G, I) names the\n"
       "local or peer status NAME",
       expectReason},
      {nullptr, "expect reason S G I mapping V [group G]", "fail unless a reason is that mapping",
       "fail unless one of the running path's reasons for the Join (S, G, I) is the\n"
       "mapping of (V, G) (no group: the whole-VLAN mapping of V)",
       expectReason},
      {nullptr, "expect corruptions gmp|sbd N", "fail unless a table reported N corruptions",
       "fail unless the table has reported N corruptions so far", expectCorruptions},
      {nullptr, "help [COMMAND]", "the commands", "this list, or the entries of one command", help},
      {nullptr, "quit", "stop reading the current input", "stop reading the current input (Ctrl-D at the prompt)",
       plain<Quit>},
      {nullptr, "exit", "the same as quit", "the same as quit", plain<Quit>},
  };
  return all;
}

Grammar const& commandGrammar() {
  static Grammar const grammar = [] {
    std::vector<std::string> syntaxes;
    for (auto const& e : commandTable()) syntaxes.emplace_back(e.syntax);
    return Grammar(syntaxes);
  }();
  return grammar;
}

std::vector<ValueSpec> const& valueTable() {
  static std::vector<ValueSpec> const all = {
      {"V", "a VLAN, 1..4094"},
      {"SBD", "an SBD VLAN, 1..4094"},
      {"G",
       "a multicast group address, IPv4 or IPv6; in local, peer and map also\n"
       "0.0.0.0 or ::, which stand for every group of the VLAN"},
      {"S", "a source address of the group's family; '*' is any source (a (*,G) entry)"},
      {"G2", "the underlay group of a route, a multicast address"},
      {"I",
       "an interface name; Vlan<N> is the interface of VLAN N, a name starting\n"
       "with Vxlan is a multicast tunnel interface (case matters)"},
      {"NAME", "a membership join status name, any word"},
      {"T", "a tunnel type: vxlan (the default) or gre"},
      {"N", "a number"},
      {"TOGGLE", "a toggle the library reads: PimL3TunnelInject"},
      {"SETTINGS", "HANDLE=LEVELS[,HANDLE=LEVELS...]"},
      {"PATH", "a file name ('-': standard error)"},
      {"COMMAND", "a command word"},
  };
  return all;
}

char const* keywordText(std::string_view keyword) {
  static std::vector<std::pair<std::string_view, char const*>> const texts = {
      {"no", "remove an input"},
      {"start", "start an inject path"},
      {"explain", "why a Join is held or not"},
      {"detail", "with the reasons of each entry"},
      {"json", "as one JSON document"},
      {"status", "then the status NAME"},
      {"mapping", "then the mapping's VLAN [group G]"},
      {"show", "print state"},
      {"trace", "the text trace"},
      {"expect", "check the state (a failure is reported, the run goes on)"},
      {"local", "a local membership status"},
      {"peer", "a peer membership status"},
      {"vlan", "then the VLAN"},
      {"group", "then the group"},
      {"source", "then the source"},
      {"intf", "then the interfaces"},
      {"route", "an underlay route: source, group [tunnel T]"},
      {"tunnel", "then the tunnel type"},
      {"gmp", "the GMP status table"},
      {"sbd", "the IRB status's vlanToSbd table"},
      {"on", "switch the toggle on"},
      {"off", "switch it off"},
  };
  for (auto const& [k, text] : texts) {
    if (k == keyword) return text;
  }
  return nullptr;
}

std::vector<std::string> commandWords() {
  std::vector<std::string> words;
  for (auto const& n : commandGrammar().next({}, false)) {
    if (n.kind == Grammar::Next::Kind::keyword) words.push_back(n.text);
  }
  return words;
}

namespace {

bool pathMatches(std::vector<std::string> const& path, std::vector<std::string_view> const& words, std::size_t n) {
  if (words.size() < n || path.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    std::string_view alts = path[i];
    bool any = false;
    while (!alts.empty()) {
      std::size_t const bar = alts.find('|');
      if (alts.substr(0, bar) == words[i]) any = true;
      alts = bar == std::string_view::npos ? std::string_view() : alts.substr(bar + 1);
    }
    if (!any) return false;
  }
  return true;
}

std::string joined(std::vector<std::string_view> const& words, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out += ' ';
    out += words[i];
  }
  return out;
}

// The keyword paths of the commands, grouped by their first keyword, with
// each `a|b` split: what finding a line's command compares against.
struct KeywordPath {
  Command (*build)(Cursor& words);
  std::vector<std::vector<std::string_view>> words;  // the keywords each word may be

  bool matches(Head& line) const {
    for (std::size_t i = 1; i < words.size(); ++i) {
      std::string_view const word = line.word(i);
      if (std::none_of(words[i].begin(), words[i].end(), [word](std::string_view k) { return same(k, word); })) {
        return false;
      }
    }
    return true;
  }
};
struct FirstKeyword {
  std::string_view word;
  std::vector<KeywordPath> paths;
};

std::vector<std::string_view> alternatives(std::string_view alts) {
  std::vector<std::string_view> out;
  while (!alts.empty()) {
    std::size_t const bar = alts.find('|');
    out.push_back(alts.substr(0, bar));
    alts = bar == std::string_view::npos ? std::string_view() : alts.substr(bar + 1);
  }
  return out;
}

std::vector<FirstKeyword> const& commandsByFirstKeyword() {
  static std::vector<FirstKeyword> const all = [] {
    Grammar const& grammar = commandGrammar();
    std::vector<FirstKeyword> out;
    for (std::size_t i = 0; i < grammar.size(); ++i) {
      if (grammar.path(i).empty()) continue;
      if (grammar.path(i).size() > kMaxPath) throw std::logic_error("a command path longer than kMaxPath");
      KeywordPath p{commandTable()[i].build, {}};
      for (std::string const& word : grammar.path(i)) p.words.push_back(alternatives(word));
      for (std::string_view const first : p.words.front()) {
        auto it = std::find_if(out.begin(), out.end(), [first](auto const& f) { return f.word == first; });
        if (it == out.end()) it = out.insert(out.end(), FirstKeyword{first, {}});
        it->paths.push_back(p);
      }
    }
    return out;
  }();
  return all;
}

// The command of a line whose keywords are spelt out in full.
Command parseWords(std::string_view line, Dialect dialect) {
  // The command whose keyword path the line starts with, the longest one,
  // among those whose first keyword is the line's first word.
  Head head(line);
  std::string_view const first = head.word(0);
  KeywordPath const* best = nullptr;
  for (FirstKeyword const& f : commandsByFirstKeyword()) {
    if (!same(f.word, first)) continue;
    for (KeywordPath const& p : f.paths) {
      if ((!best || p.words.size() > best->words.size()) && p.matches(head)) best = &p;
    }
    break;
  }
  if (best) {
    // Named by its keyword path: "map", "no map", "start l3", "expect no join"
    // ("vlan" introduces the VLAN: not part of the name).
    std::size_t const n = best->words.size();
    Cursor c(head, n, same(head.word(n - 1), "vlan") ? n - 1 : n);
    return best->build(c);
  }
  // None: say where the keywords stopped fitting.
  std::vector<std::string_view> words;
  splitWords(line, words);
  Grammar const& grammar = commandGrammar();
  std::size_t depth = 0;
  for (std::size_t i = 0; i < grammar.size(); ++i) {
    while (depth < grammar.path(i).size() && pathMatches(grammar.path(i), words, depth + 1)) ++depth;
  }
  if (depth == 0) {
    std::string message = "unknown command " + quoted(words[0]);
    if (dialect == Dialect::prompt) {
      if (auto close = closestTo(words[0], commandWords())) message += " (did you mean '" + *close + "'?)";
    }
    throw Failure{message};
  }
  std::vector<std::string> choices;
  for (auto const& n : grammar.next(std::vector<std::string>(words.begin(), words.begin() + depth), false)) {
    if (n.kind == Grammar::Next::Kind::keyword) choices.push_back(n.text);
  }
  std::string const prefix = joined(words, depth);
  if (words.size() == depth) throw Failure{prefix + ": missing " + alternativesText(choices)};
  throw Failure{prefix + ": expected " + alternativesText(choices) + ", found " + quoted(words[depth])};
}

Command parseCommand(std::string_view line, Dialect dialect) {
  // Keywords are abbreviated at the prompt only: a file's words stand as
  // written (resolving them without abbreviations would change nothing).
  if (dialect == Dialect::file) return parseWords(line, dialect);
  Grammar::Resolved const r = commandGrammar().resolve(splitWords(line), true);
  std::vector<std::string_view> const resolved(r.words.begin(), r.words.end());
  if (!r.ambiguous.empty()) {
    std::string const prefix = r.matched ? joined(resolved, r.matched) + ": " : std::string();
    throw Failure{prefix + "ambiguous " + quoted(resolved[r.matched]) + " (" + alternativesText(r.ambiguous) + ")"};
  }
  // The words, keywords spelt out, as a line of their own.
  return parseWords(joined(resolved, resolved.size()), dialect);
}

// A line's words are looked at only once it is known to hold some: a blank
// or comment-only line is no command.
bool holdsWords(std::string_view line) {
  for (char const c : line) {
    if (!isBlank(c)) return isWordByte(c);
  }
  return false;
}

}  // namespace

ParseResult parseLine(std::string_view line, Dialect dialect) {
  if (!holdsWords(line)) return ParseResult::emptyLine();
  try {
    return ParseResult::of(parseCommand(line, dialect));
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
        return "unknown trace handle " + quoted(handle) + " (" + list + "or *)";
      }
      haveHandle = true;
    } else if (!haveHandle) {
      return "malformed trace setting " + quoted(token) + " (expected HANDLE=LEVELS)";
    }
    if (Vorn::parseTraceLevels(levels) == 0) {
      return "malformed trace levels " + quoted(levels) + " (like 7, 7-9 or 8,9; levels 0-9)";
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return std::nullopt;
}

}  // namespace Mcinject
