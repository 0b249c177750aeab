// Command — one parsed, validated scenario line, as a value.
//
// The parser (Parser.h) produces a Command only when the whole line is well
// formed and every value in it is valid: VLANs are in 1..4094, addresses parse
// and have the family and kind their place asks for (a group is multicast or a
// wildcard, a source is never multicast and has its group's family), interface
// names are valid. What a Command still needs to be checked against is the
// state it is applied to (Runner.h): whether the things a `no` line names
// exist, whether a path runs.
//
// Plain values: copy them freely.
//
//   Command c = MembershipIs{Side::local, "A", 10, group, std::nullopt, {}};
//   std::visit([](auto const& cmd) { ... }, c);
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Brim/RouteIntfKey.h"
#include "model/Bridging.h"
#include "model/RoutingTypes.h"
#include "model/Wirl.h"

namespace Mcinject {

enum class Side { local, peer };
enum class PathKind { l3, vpn };
enum class Table { gmp, sbd };

char const* sideName(Side side);
char const* pathName(PathKind kind);
char const* tableName(Table table);

// A place in a membership join status tree: the status, and optionally a VLAN
// entry, a group entry, a source entry and interfaces below it. Each level is
// set only when the level above it is.
struct MembershipPath {
  Side side = Side::local;
  std::string name;
  std::optional<Bridging::VlanId> vlan;
  std::optional<Wirl::IpGenAddr> group;
  std::optional<Wirl::IpGenAddr> source;
  std::vector<Wirl::IntfId> intfs;
};

// `local|peer NAME vlan V [group G [source S [intf I ...]]]`
struct MembershipIs {
  MembershipPath path;
};
// `no local|peer NAME [vlan V [group G [source S [intf I ...]]]]`
struct MembershipDel {
  MembershipPath path;
};

// `map vlan V [group G] [route S G2 [tunnel T]]`; no group: the whole-VLAN key.
struct MapIs {
  Routing::Multicast::OverlayVlanGroup key;
  std::optional<Routing::Multicast::UnderlayRoute> route;
};
// `no map vlan V [group G] [route S G2 [tunnel T]]`
struct MapDel {
  Routing::Multicast::OverlayVlanGroup key;
  std::optional<Routing::Multicast::UnderlayRoute> route;
};

// `sbd vlan V SBD`
struct SbdIs {
  Bridging::VlanId vlan;
  Bridging::VlanId sbdVlan;
};
// `no sbd vlan V [SBD]` (with SBD: only if that is V's SBD VLAN)
struct SbdDel {
  Bridging::VlanId vlan;
  std::optional<Bridging::VlanId> sbdVlan;
};

// `gmp S G I`
struct GmpIs {
  Routing::Gmp::Brim::RouteIntfKey key;
};

// `toggle NAME on|off`
struct ToggleIs {
  std::string name;
  bool on = true;
};

// `corrupt gmp|sbd`
struct CorruptIs {
  Table table = Table::gmp;
};

// `start l3 [NAME]`, `start vpn`
struct Start {
  PathKind kind = PathKind::l3;
  std::string localName;  // L3 only
  bool named = false;     // L3: NAME given, not the default
};
struct Stop {};
struct Hold {};
struct Release {};
// `step [N]`
struct Step {
  std::uint32_t slices = 1;
};
// `budget N` (0: unlimited)
struct Budget {
  std::uint32_t items = 0;
};

// `trace SETTINGS`, `trace off`
struct TraceIs {
  std::string settings;
};
// `trace file PATH`, `trace file -` (standard error)
struct TraceFileIs {
  std::string path;  // empty: standard error
};

// What `show joins` lists. An entry matches `vlan V` when it is on VLAN V's
// interface or a reason of the running path names VLAN V (the mapping's, or
// the VLAN of a membership that wants it through its SBD VLAN); `group G`
// when G is its group or the overlay group of a reason's mapping; `intf I`
// when it is on interface I. The filters given must all match.
struct JoinFilter {
  std::optional<Bridging::VlanId> vlan;
  std::optional<Wirl::IpGenAddr> group;
  std::optional<Wirl::IntfId> intf;

  bool empty() const noexcept { return !vlan && !group && !intf; }
};

enum class ShowWhat { joins, changeset, inputs, counters };
// `show joins [vlan V] [group G] [intf I] [detail] [json]`, `show changeset
// [json]`, `show counters [json]`, `show inputs`
struct Show {
  ShowWhat what = ShowWhat::joins;
  JoinFilter filter;    // joins only
  bool detail = false;  // joins only: with the reasons
  bool json = false;
};

// `explain join S G I`, `explain no join S G I`: both print the whole answer;
// `present` is the question asked.
struct Explain {
  Routing::Gmp::Brim::RouteIntfKey key;
  bool present = true;
};

// `expect join S G I`, `expect no join S G I`
struct ExpectJoin {
  Routing::Gmp::Brim::RouteIntfKey key;
  bool present = true;
};
// `expect joins N`
struct ExpectJoins {
  std::uint64_t count = 0;
};
// `expect changeset N`
struct ExpectChangeSet {
  std::uint64_t count = 0;
};
// `expect reason S G I status NAME`, `expect reason S G I mapping V [group G]`:
// exactly one of `status` and `mapping` is set.
struct ExpectReason {
  Routing::Gmp::Brim::RouteIntfKey key;
  std::optional<std::string> status;
  std::optional<Routing::Multicast::OverlayVlanGroup> mapping;
};
// `expect corruptions gmp|sbd N`
struct ExpectCorruptions {
  Table table = Table::gmp;
  std::uint64_t count = 0;
};

// `help [COMMAND]`
struct Help {
  std::string topic;
};
// `quit`, `exit`: stop reading the current input.
struct Quit {};

using Command = std::variant<MembershipIs, MembershipDel, MapIs, MapDel, SbdIs, SbdDel, GmpIs, ToggleIs, CorruptIs,
                             Start, Stop, Hold, Release, Step, Budget, TraceIs, TraceFileIs, Show, Explain,
                             ExpectJoin, ExpectJoins, ExpectChangeSet, ExpectReason, ExpectCorruptions, Help, Quit>;

}  // namespace Mcinject
