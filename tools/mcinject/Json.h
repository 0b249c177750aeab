// Json — the JSON documents the program prints: `show joins [..] [detail]
// Json`, `show changeset Json`, `show counters Json`. Their schema is
// docs/Json.md; a change there is a change of `kJsonSchemaVersion`.
//
// Conventions: names in lowerCamelCase; addresses as their text ("0.0.0.0"
// for the zero source of a (*,G) Join, never "*"); a group of no address
// family (a whole-VLAN mapping) as null; VLANs and counters as numbers;
// every document carries "schemaVersion".
//
// Each document is printed indented by two, with one newline at the end.
// Pure: prints what it is given, changes nothing. (The JSON library stays
// inside Json.cpp: its header is heavy, and its std::quoted-friendly
// includes would capture unqualified quoted() calls elsewhere.)
//
//   printJoinsJson(std::cout, sortedEntries(status));
#pragma once

#include <cstddef>
#include <ostream>
#include <vector>

#include "Brim/Status.h"
#include "Explain.h"
#include "Keel/TaskScheduler.h"
#include "Paths.h"
#include "Pim/vpn/OverlayChangeSet.h"

namespace Mcinject {

inline constexpr int kJsonSchemaVersion = 1;

// `show joins ... json`: rows as joinRows gave them (with `detail`, each
// with the path's answer), out of `tableEntries` entries; `path` null when
// none runs.
void printJoinsJson(std::ostream& out, std::vector<JoinRow> const& rows, std::size_t tableEntries,
                    InjectPath const* path, JoinFilter const& filter, bool detail);
// The same document for entries alone: no path, no filter (a table read
// elsewhere, such as a shared-memory segment).
void printJoinsJson(std::ostream& out, std::vector<Routing::Gmp::Brim::Membership> const& entries);
// `show changeset json`.
void printChangeSetJson(std::ostream& out, Irb::Multicast::Egress::OverlayChangeSet const& changeSet,
                        Keel::TaskScheduler const& scheduler, bool held);
// `show counters json`: one element of "paths" per running path (none or one).
void printCountersJson(std::ostream& out, InjectPath const* path);

}  // namespace Mcinject
