// Show — how the scenario program prints state for people.
//
// Tables are aligned in columns and sorted readably: interfaces by name with
// numbers in names compared as numbers (Vlan9 before Vlan10), then group,
// then source; every table ends with a count. A zero source prints as `*`,
// so a (*,G) Join reads (*, 225.1.1.1, Vlan10).
//
// Pure formatting: reads what it is given, changes nothing.
//
//   showJoins(std::cout, world.gmpStatus());
//   std::string k = joinText(key);   // "(*, 225.1.1.1, Vlan10)"
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "Brim/RouteIntfKey.h"
#include "Brim/Status.h"
#include "Explain.h"
#include "Keel/TaskScheduler.h"
#include "Paths.h"
#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "model/RoutingTypes.h"
#include "model/Wirl.h"

namespace Mcinject {

class World;

// Columns of text, each as wide as its widest cell, two blanks apart.
class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headers) : headers_(std::move(headers)) {}
  void rowIs(std::vector<std::string> row) {
    rows_.push_back(std::move(row));
    notes_.emplace_back();
  }
  // A line printed under the last row, indented by two, outside the columns.
  void noteIs(std::string line) { notes_.back().push_back(std::move(line)); }
  std::size_t rows() const noexcept { return rows_.size(); }
  void print(std::ostream& out) const;

 private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::vector<std::string>> notes_;
};

// "*" for the all-zero address of a family, the address otherwise.
std::string sourceText(Wirl::IpGenAddr const& source);
// "(*, 225.1.1.1, Vlan10)".
std::string joinText(Routing::Gmp::Brim::RouteIntfKey const& key);
// "VLAN 10 group 239.1.1.1", "VLAN 10 (whole VLAN)".
std::string overlayText(Routing::Multicast::OverlayVlanGroup const& key);
// "(10.0.0.1, 225.1.1.1, vxlan)".
std::string routeText(Routing::Multicast::UnderlayRoute const& route);

// Interface names in natural order: digit runs compare as numbers.
bool intfNameLess(std::string_view a, std::string_view b);
// Entries of the status table in display order: interface name, group, source.
std::vector<Routing::Gmp::Brim::Membership> sortedEntries(Routing::Gmp::Brim::Status const& status);

void showJoins(std::ostream& out, Routing::Gmp::Brim::Status const& status);
// `show joins` with filters (rows as joinRows gave them, out of
// `tableEntries`) and, with `detail`, each entry's reasons. `ctx` is null
// when no path runs.
void showJoins(std::ostream& out, std::vector<JoinRow> const& rows, std::size_t tableEntries,
               JoinFilter const& filter, ExplainContext const* ctx, bool detail);
// The running path's counters, a column per path.
void showCounters(std::ostream& out, InjectPath const* path);
void showChangeSet(std::ostream& out, Irb::Multicast::Egress::OverlayChangeSet const& changeSet,
                   Keel::TaskScheduler const& scheduler, bool held);
// The inputs as the lines that would build them again.
void showInputs(std::ostream& out, World const& world);

}  // namespace Mcinject
