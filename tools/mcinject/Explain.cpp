#include "Explain.h"

#include "Show.h"
#include "World.h"

namespace Mcinject {

using Irb::Multicast::Egress::GroupKeyKind;
using Irb::Multicast::Egress::JoinProvenance;
using Irb::Multicast::Egress::JoinReason;
using Irb::Multicast::Egress::MembershipEvidence;
using Irb::Multicast::Egress::Missing;
using Routing::Multicast::OverlayVlanGroup;

namespace {

std::string vlanText(Bridging::VlanId vlan) { return "Vlan" + std::to_string(vlan.value()); }

// A group of a membership or mapping key: "0.0.0.0 (every group)" for a wildcard.
std::string groupText(Wirl::IpGenAddr const& group) {
  if (group.isWildcard()) return group.stringValue() + " (every group)";
  return group.stringValue();
}

std::string reasonHead(JoinReason const& r) {
  return "mapping " + mappingText(r.mapping) + " -> " + routeText(r.route);
}

// "Vlan4000", or "Vlan4000 or the VLANs it serves as SBD VLAN (Vlan10, Vlan11)".
std::string vlanAndServed(Bridging::VlanId vlan, ExplainContext const& ctx) {
  std::string text = vlanText(vlan);
  auto it = ctx.served.find(vlan);
  if (ctx.kind != PathKind::vpn || it == ctx.served.end()) return text;
  text += " or the VLANs it serves as SBD VLAN (";
  for (std::size_t i = 0; i < it->second.size(); ++i) text += (i ? ", " : "") + vlanText(it->second[i]);
  return text + ")";
}

std::string missingText(JoinReason const& r, ExplainContext const& ctx) {
  Bridging::VlanId const vlan = r.mapping.vlanId();
  std::string const local = "local " + ctx.localName;
  switch (r.missing) {
    case Missing::none:
      break;
    case Missing::membershipStatus:
      return "the L3 path has no local status";
    case Missing::vlanEntry:
      return local + " has no entry for " + vlanText(vlan);
    case Missing::groupEntry:
      return local + " has no " + groupText(r.mapping.groupAddr()) + " in " + vlanText(vlan);
    case Missing::member:
      if (r.keyKind != GroupKeyKind::specific) {
        return "no local status has a group, and no peer a receiver on a non-tunnel interface, in " +
               vlanAndServed(vlan, ctx);
      }
      return "no local status has " + r.mapping.groupAddr().stringValue() +
             " (or a wildcard group), and no peer has it on a non-tunnel interface, in " + vlanAndServed(vlan, ctx);
    case Missing::review:
      return "the review has not seen its members yet";
  }
  return "nothing";
}

// A reason of the path names VLAN `vlan`: its mapping's, or a membership's
// (in a VLAN its SBD VLAN serves).
bool reasonNamesVlan(JoinProvenance const& why, Bridging::VlanId vlan) {
  for (JoinReason const& r : why.reasons) {
    if (r.mapping.vlanId() == vlan) return true;
    for (MembershipEvidence const& e : r.evidence) {
      if (e.vlan == vlan) return true;
    }
  }
  return false;
}

// A reason of the path is the mapping of overlay group `group`.
bool reasonNamesGroup(JoinProvenance const& why, Wirl::IpGenAddr const& group) {
  for (JoinReason const& r : why.reasons) {
    if (r.mapping.groupAddr() == group) return true;
  }
  return false;
}

bool matches(JoinRow const& row, JoinFilter const& f) {
  Routing::Gmp::Brim::RouteIntfKey const& key = row.entry.key;
  if (f.intf && !(key.intf() == *f.intf)) return false;
  bool const onVlan = f.vlan && Irb::Multicast::Egress::joinKeyVlan(key) == f.vlan;
  if (f.vlan && !onVlan && !(row.why && reasonNamesVlan(*row.why, *f.vlan))) return false;
  if (f.group && !(key.group() == *f.group) && !(row.why && reasonNamesGroup(*row.why, *f.group))) return false;
  return true;
}

}  // namespace

ExplainContext explainContext(World const& world) {
  InjectPath const* path = world.path();
  ExplainContext ctx;
  ctx.kind = path->kind();
  ctx.localName = path->localName();
  for (auto const& [vlan, entry] : world.mcastIrbStatus().vlanToSbdTable().entries()) {
    ctx.served[entry.sbdVlan].push_back(vlan);
  }
  return ctx;
}

std::string pathText(PathKind kind) { return kind == PathKind::l3 ? "the L3 path" : "the VPN path"; }

std::string mappingText(OverlayVlanGroup const& key) {
  std::string const vlan = vlanText(key.vlanId());
  if (key.groupAddr().af() == Wirl::AddressFamily::none) return vlan + " (whole VLAN)";
  return vlan + " " + groupText(key.groupAddr());
}

std::string evidenceText(MembershipEvidence const& e, OverlayVlanGroup const& mapping) {
  std::string text = std::string(e.peer ? "peer " : "local ") + e.status.stdString();
  if (e.peer) {
    text += " has " + e.group.stringValue() + " source " + sourceText(e.source) + " on " + e.intf.stringValue() +
            " in " + vlanText(e.vlan);
  } else if (e.group.af() == Wirl::AddressFamily::none) {
    text += " has an entry for " + vlanText(e.vlan);  // the VLAN entry as such
  } else {
    text += " has " + groupText(e.group) + " in " + vlanText(e.vlan);
  }
  if (e.viaSbd) text += ", served by SBD " + vlanText(mapping.vlanId());
  return text;
}

std::vector<std::string> provenanceLines(JoinProvenance const& why, ExplainContext const& ctx) {
  std::vector<std::string> lines;
  if (why.adopted) {
    lines.emplace_back("adopted: the entry was in the table before the path started, and the path kept it");
  }
  for (JoinReason const& r : why.reasons) {
    if (r.evidence.empty()) {
      std::string const lack = ctx.kind == PathKind::vpn ? std::string("no member is left (not reviewed yet)")
                                                         : missingText(r, ctx);
      lines.push_back("wanted by " + reasonHead(r) + ", though " + lack);
    }
    for (MembershipEvidence const& e : r.evidence) {
      lines.push_back("wanted by " + reasonHead(r) + ": " + evidenceText(e, r.mapping));
    }
  }
  for (JoinReason const& r : why.candidates) {
    if (r.missing == Missing::review) {
      for (MembershipEvidence const& e : r.evidence) {
        lines.push_back("not wanted yet by " + reasonHead(r) + ": " + evidenceText(e, r.mapping) +
                        ", which the review has not seen yet");
      }
      continue;
    }
    lines.push_back("not wanted by " + reasonHead(r) + ": " + missingText(r, ctx));
  }
  if (why.reasons.empty() && why.candidates.empty()) {
    if (auto vlan = Irb::Multicast::Egress::joinKeyVlan(why.key)) {
      lines.push_back("no mapping of " + vlanText(*vlan) + " has a route that gives it");
    } else {
      lines.push_back("no mapping gives it: " + why.key.intf().stringValue() + " is not a VLAN interface");
    }
  }
  return lines;
}

void explainJoin(std::ostream& out, JoinProvenance const& why, ExplainContext const& ctx, bool inTable) {
  out << joinText(why.key) << (why.held ? " is held by " : " is not held by ") << pathText(ctx.kind);
  if (!why.held && inTable) out << "; the table holds the entry (from before the start, or another writer's)";
  out << ":\n";
  for (std::string const& line : provenanceLines(why, ctx)) out << "  " << line << '\n';
}

std::vector<JoinRow> joinRows(World const& world, JoinFilter const& filter) {
  std::vector<JoinRow> rows;
  InjectPath const* path = world.path();
  for (auto const& m : sortedEntries(world.gmpStatus())) {
    JoinRow row{m, std::nullopt};
    if (path) row.why = path->joinProvenance(m.key);
    if (matches(row, filter)) rows.push_back(std::move(row));
  }
  return rows;
}

std::string filterText(JoinFilter const& filter) {
  std::string text;
  auto add = [&](std::string const& part) { text += (text.empty() ? "" : " ") + part; };
  if (filter.vlan) add("vlan " + std::to_string(filter.vlan->value()));
  if (filter.group) add("group " + filter.group->stringValue());
  if (filter.intf) add("intf " + filter.intf->stringValue());
  return text;
}

}  // namespace Mcinject
