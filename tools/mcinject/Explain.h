// Explain — why a Join is in the underlay GMP status table or not, in words
// an operator reads, from the running path's own answer (JoinProvenance).
//
// OVERVIEW
//   A path's answer for a key lists the mappings that want it (reasons, each
//   with the membership entries that make it so) and those that give the key
//   but do not want it (candidates, each with what it lacks). The lines read
//     wanted by mapping Vlan4000 239.1.1.1 -> (10.0.0.1, 225.4.4.1, vxlan): peer leaf2 has
//       239.1.1.1 source * on Ethernet3 in Vlan11, served by SBD Vlan4000
//     not wanted by mapping Vlan10 (whole VLAN) -> (10.0.0.1, 225.0.0.10, vxlan): local local has no entry for Vlan10
//   (each one line), one line per piece of evidence, so that each line
//   stands on its own.
//   `joinRows` pairs the entries of the status table with the path's answers
//   and applies the filters of `show joins`.
//
// GUARANTEES
//   Pure formatting over what it is given: reads the World, changes nothing.
//
// TYPICAL USAGE
//   ExplainContext ctx = explainContext(world);   // a path runs
//   explainJoin(std::cout, world.path()->joinProvenance(key), ctx, inTable);
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Brim/Status.h"
#include "Command.h"
#include "Pim/join/JoinProvenance.h"

namespace Mcinject {

class World;

// What the lines need besides the answer: which path gave it, the local
// status the L3 path reads, the VLANs each SBD VLAN serves (VPN path).
struct ExplainContext {
  PathKind kind = PathKind::l3;
  std::string localName;
  std::map<Bridging::VlanId, std::vector<Bridging::VlanId>> served;
};
// Precondition: a path runs.
ExplainContext explainContext(World const& world);

// "the L3 path", "the VPN path".
std::string pathText(PathKind kind);
// "Vlan10 239.1.1.1", "Vlan10 (whole VLAN)", "Vlan10 0.0.0.0 (every group)".
std::string mappingText(Routing::Multicast::OverlayVlanGroup const& key);
// "peer leaf2 has 239.1.1.1 source * on Ethernet3 in Vlan11, served by SBD Vlan4000".
std::string evidenceText(Irb::Multicast::Egress::MembershipEvidence const& e,
                         Routing::Multicast::OverlayVlanGroup const& mapping);
// The answer as lines (no indentation): adopted, reasons, candidates, or
// that nothing gives the key.
std::vector<std::string> provenanceLines(Irb::Multicast::Egress::JoinProvenance const& why,
                                         ExplainContext const& ctx);
// `explain join` / `explain no join`: a first line saying whether the path
// holds the Join (and whether the table holds the entry), then the lines.
void explainJoin(std::ostream& out, Irb::Multicast::Egress::JoinProvenance const& why, ExplainContext const& ctx,
                 bool inTable);

// An entry of the status table with the running path's answer for it.
struct JoinRow {
  Routing::Gmp::Brim::Membership entry;
  std::optional<Irb::Multicast::Egress::JoinProvenance> why;  // set when a path runs
};
// The entries in display order that match `filter`: a filter matches when
// the entry's key, or one of the path's reasons for it (mapping, evidence),
// names that VLAN, group or interface.
std::vector<JoinRow> joinRows(World const& world, JoinFilter const& filter);
// "vlan 10 group 239.1.1.1", as the filter was written.
std::string filterText(JoinFilter const& filter);

}  // namespace Mcinject
