// Fuzz target: the scenario parser, one line at a time.
//
// Each line of the input goes to Mcinject::parseLine, which holds no state.
// Beyond not crashing (the sanitizers watch memory and undefined behaviour),
// the parser must keep its word:
//   - a line gives exactly one of nothing (blank or comment), an error, or a
//     command; the same line parsed again gives the same outcome;
//   - an error is one line of text that names the command it is about;
//   - a command holds only valid values: VLANs 1..4094, groups multicast (or
//     a wildcard where one is allowed), sources unicast and of their group's
//     family, valid interface names, levels of a membership path set only
//     below a set level, trace settings that check out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "Parser.h"

namespace {

using Wirl::AddressFamily;
using Wirl::IpGenAddr;

[[noreturn]] void broken(std::string_view line, std::string const& why) {
  std::fprintf(stderr, "parser broke its contract on line \"%.*s\": %s\n", static_cast<int>(line.size()),
               line.data(), why.c_str());
  std::abort();
}

bool vlanOk(Bridging::VlanId v) { return v.value() >= 1 && v.value() <= 4094; }
bool intfOk(Wirl::IntfId i) { return !i.isEmpty() && Wirl::IntfId::validName(i.stringValue()); }
bool sourceOk(IpGenAddr const& s, IpGenAddr const& g) { return s.af() == g.af() && !s.isMulticast(); }
bool routeOk(Routing::Multicast::UnderlayRoute const& r) {
  return r.groupAddr().isMulticast() && sourceOk(r.source(), r.groupAddr());
}
bool routeIntfKeyOk(Routing::Gmp::Brim::RouteIntfKey const& k) {
  return k.group().isMulticast() && sourceOk(k.source(), k.group()) && intfOk(k.intf());
}
bool mapKeyOk(Routing::Multicast::OverlayVlanGroup const& k) {
  IpGenAddr const& g = k.groupAddr();
  return vlanOk(k.vlanId()) && (g.af() == AddressFamily::none || g.isMulticast() || g.isWildcard());
}

// What is wrong with a command, or "".
std::string problem(Mcinject::Command const& command) {
  using namespace Mcinject;
  return std::visit(
      [](auto const& c) -> std::string {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, MembershipIs> || std::is_same_v<T, MembershipDel>) {
          MembershipPath const& p = c.path;
          if (p.name.empty()) return "membership path without a status name";
          if constexpr (std::is_same_v<T, MembershipIs>) {
            if (!p.vlan) return "membership join without a VLAN";
          }
          if (p.vlan && !vlanOk(*p.vlan)) return "VLAN out of range";
          if (p.group && !p.vlan) return "group without a VLAN";
          if (p.source && !p.group) return "source without a group";
          if (!p.intfs.empty() && !p.source) return "interfaces without a source";
          if (p.group && !p.group->isMulticast() && !p.group->isWildcard()) return "group neither multicast nor wildcard";
          if (p.source && !sourceOk(*p.source, *p.group)) return "source multicast or of another family";
          for (auto i : p.intfs)
            if (!intfOk(i)) return "invalid interface";
          return {};
        } else if constexpr (std::is_same_v<T, MapIs> || std::is_same_v<T, MapDel>) {
          if (!mapKeyOk(c.key)) return "bad mapping key";
          if (c.route && !routeOk(*c.route)) return "bad underlay route";
          return {};
        } else if constexpr (std::is_same_v<T, SbdIs>) {
          if (!vlanOk(c.vlan) || !vlanOk(c.sbdVlan)) return "SBD VLAN out of range";
          if (c.vlan == c.sbdVlan) return "a VLAN as its own SBD VLAN";
          return {};
        } else if constexpr (std::is_same_v<T, SbdDel>) {
          return vlanOk(c.vlan) ? "" : "VLAN out of range";
        } else if constexpr (std::is_same_v<T, GmpIs>) {
          return routeIntfKeyOk(c.key) ? "" : "bad gmp key";
        } else if constexpr (std::is_same_v<T, ExpectJoin>) {
          return routeIntfKeyOk(c.key) ? "" : "bad expected Join key";
        } else if constexpr (std::is_same_v<T, Explain>) {
          return routeIntfKeyOk(c.key) ? "" : "bad explained Join key";
        } else if constexpr (std::is_same_v<T, ExpectReason>) {
          if (!routeIntfKeyOk(c.key)) return "bad key of expect reason";
          if (c.status.has_value() == c.mapping.has_value()) return "expect reason without one status or mapping";
          if (c.mapping && !mapKeyOk(*c.mapping)) return "bad mapping of expect reason";
          return {};
        } else if constexpr (std::is_same_v<T, Show>) {
          if (c.filter.vlan && !vlanOk(*c.filter.vlan)) return "filter VLAN out of range";
          if (c.what != ShowWhat::joins && (!c.filter.empty() || c.detail)) return "filter or detail on another show";
          return {};
        } else if constexpr (std::is_same_v<T, ToggleIs>) {
          return c.name.empty() ? "empty toggle name" : "";
        } else if constexpr (std::is_same_v<T, Step>) {
          return c.slices >= 1 && c.slices <= 1000000 ? "" : "step count out of range";
        } else if constexpr (std::is_same_v<T, TraceIs>) {
          return checkTraceSettings(c.settings) ? "trace settings that do not check out" : "";
        } else if constexpr (std::is_same_v<T, Start>) {
          if (c.kind == PathKind::l3 && c.localName.empty()) return "L3 start without a status name";
          if (c.kind == PathKind::vpn && !c.localName.empty()) return "VPN start with a status name";
          return {};
        } else {
          return {};
        }
      },
      command);
}

void checkLine(std::string_view line) {
  Mcinject::ParseResult const r = Mcinject::parseLine(line);
  Mcinject::ParseResult const again = Mcinject::parseLine(line);
  if (r.isEmpty() && r.isError()) broken(line, "both empty and an error");
  if (r.isEmpty() != again.isEmpty() || r.isError() != again.isError() || r.error() != again.error()) {
    broken(line, "a second parse gave another outcome");
  }
  if (r.isError()) {
    std::string const& e = r.error();
    for (char c : e) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) broken(line, "a message with a control byte");
    }
    if (e.size() > 600) broken(line, "a message that echoes too much: " + e.substr(0, 200));
    if (e.find(": ") == std::string::npos && e.rfind("unknown command '", 0) != 0) {
      broken(line, "a message that names no command: " + e);
    }
    return;
  }
  if (r.isEmpty()) return;
  if (r.command().index() != again.command().index()) broken(line, "a second parse gave another command");
  // What a scenario file takes, the prompt takes the same way.
  Mcinject::ParseResult const prompt = Mcinject::parseLine(line, Mcinject::Dialect::prompt);
  if (prompt.isError() || prompt.command().index() != r.command().index()) {
    broken(line, "the prompt reads the line otherwise");
  }
  if (std::string const why = problem(r.command()); !why.empty()) broken(line, why);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<char const*>(data), size);
  while (true) {
    std::size_t const nl = rest.find('\n');
    checkLine(rest.substr(0, nl));
    if (nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
  return 0;
}
