#include "Show.h"

#include <algorithm>
#include <sstream>

#include "Text.h"
#include "World.h"

namespace Mcinject {

using Routing::Gmp::Brim::Membership;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Multicast::OverlayVlanGroup;

void TextTable::print(std::ostream& out) const {
  std::vector<std::size_t> widths(headers_.size(), 0);
  auto widen = [&](std::vector<std::string> const& row) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  };
  widen(headers_);
  for (auto const& row : rows_) widen(row);
  auto line = [&](std::vector<std::string> const& row) {
    std::string text;
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      text += row[i];
      if (i + 1 < row.size()) text += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    out << text << '\n';
  };
  line(headers_);
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    line(rows_[r]);
    for (auto const& note : notes_[r]) out << "  " << note << '\n';
  }
}

std::string sourceText(Wirl::IpGenAddr const& source) { return source.isWildcard() ? "*" : source.stringValue(); }

std::string joinText(RouteIntfKey const& key) {
  return "(" + sourceText(key.source()) + ", " + key.group().stringValue() + ", " + key.intf().stringValue() + ")";
}

std::string overlayText(OverlayVlanGroup const& key) {
  std::string text = "VLAN " + std::to_string(key.vlanId().value());
  if (key.groupAddr().af() == Wirl::AddressFamily::none) return text + " (whole VLAN)";
  return text + " group " + key.groupAddr().stringValue();
}

std::string routeText(Routing::Multicast::UnderlayRoute const& route) {
  std::ostringstream os;
  os << "(" << sourceText(route.source()) << ", " << route.groupAddr() << ", " << route.tunnelType() << ")";
  return os.str();
}

bool intfNameLess(std::string_view a, std::string_view b) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t ie = i;
      std::size_t je = j;
      while (ie < a.size() && isDigit(a[ie])) ++ie;
      while (je < b.size() && isDigit(b[je])) ++je;
      // Compare the runs as numbers: leading zeros aside, the longer is larger.
      std::string_view x = a.substr(i, ie - i);
      std::string_view y = b.substr(j, je - j);
      while (x.size() > 1 && x.front() == '0') x.remove_prefix(1);
      while (y.size() > 1 && y.front() == '0') y.remove_prefix(1);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      // Same number: the shorter spelling ("1" before "01") first.
      if (ie - i != je - j) return ie - i < je - j;
      i = ie;
      j = je;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::vector<Membership> sortedEntries(Routing::Gmp::Brim::Status const& status) {
  std::vector<Membership> entries;
  for (auto const& [key, value] : status.entries()) entries.push_back(Membership{key, value});
  std::sort(entries.begin(), entries.end(), [](Membership const& x, Membership const& y) {
    std::string const& xi = x.key.intf().stringValue();
    std::string const& yi = y.key.intf().stringValue();
    if (xi != yi) return intfNameLess(xi, yi);
    if (x.key.group() != y.key.group()) return x.key.group() < y.key.group();
    return x.key.source() < y.key.source();
  });
  return entries;
}

namespace {

std::string overlayGroupCell(Wirl::IpGenAddr const& group) {
  if (group.af() == Wirl::AddressFamily::none) return "* (whole VLAN)";
  if (group.isWildcard()) return group.stringValue() + " (every group)";
  return group.stringValue();
}

}  // namespace

void showJoins(std::ostream& out, Routing::Gmp::Brim::Status const& status) {
  std::vector<JoinRow> rows;
  for (auto const& m : sortedEntries(status)) rows.push_back(JoinRow{m, std::nullopt});
  showJoins(out, rows, rows.size(), JoinFilter{}, nullptr, false);
}

void showJoins(std::ostream& out, std::vector<JoinRow> const& rows, std::size_t tableEntries,
               JoinFilter const& filter, ExplainContext const* ctx, bool detail) {
  std::string const matching =
      filter.empty() ? std::string() : " " + filterText(filter) + " (the table holds " +
                                           plural(tableEntries, "entry", "entries") + ")";
  if (rows.empty()) {
    out << (filter.empty() ? "no joins" : "no joins match" + matching) << '\n';
    return;
  }
  TextTable table({"Interface", "Group", "Source", "Type"});
  std::size_t joins = 0;
  for (JoinRow const& row : rows) {
    Membership const& m = row.entry;
    std::string type = m.key.source().isWildcard() ? "(*,G)" : "(S,G)";
    if (m.value == 1) {
      ++joins;
    } else {
      type += " value " + std::to_string(m.value);
    }
    table.rowIs({m.key.intf().stringValue(), m.key.group().stringValue(), sourceText(m.key.source()), type});
    if (!detail || !row.why || !ctx) continue;
    if (!row.why->held) table.noteIs("not held by " + pathText(ctx->kind));
    for (std::string& line : provenanceLines(*row.why, *ctx)) table.noteIs(std::move(line));
  }
  table.print(out);
  out << plural(joins, "join", "joins");
  if (joins != rows.size()) out << ", " << plural(rows.size() - joins, "other entry", "other entries");
  if (!filter.empty()) out << (rows.size() == 1 ? " matches" : " match") << matching;
  out << '\n';
  if (detail && !ctx) out << "no inject path is running: no reasons to show\n";
}

void showCounters(std::ostream& out, InjectPath const* path) {
  if (!path) {
    out << "no inject path is running\n";
    return;
  }
  Irb::Multicast::Egress::InjectCounters const c = path->counters();
  TextTable table({"Counter", path->kind() == PathKind::l3 ? "L3 path" : "VPN path"});
  auto row = [&](char const* name, std::uint64_t value) { table.rowIs({name, std::to_string(value)}); };
  row("Joins written", c.joinsWritten);
  row("Joins withdrawn", c.joinsWithdrawn);
  row("Joins rewritten", c.joinsRewritten);
  row("stale entries removed", c.staleRemoved);
  row("walks", c.walks);
  row("slices", c.slices);
  row("items reviewed", c.itemsReviewed);
  row("corruptions reported", c.corruptionsReported);
  table.print(out);
}

void showChangeSet(std::ostream& out, Irb::Multicast::Egress::OverlayChangeSet const& changeSet,
                   Keel::TaskScheduler const& scheduler, bool held) {
  std::size_t const n = changeSet.vlanGroup().size();
  if (n == 0) {
    out << "no overlay VLAN groups waiting for review";
  } else {
    TextTable table({"VLAN", "Group"});
    for (OverlayVlanGroup const& key : changeSet.vlanGroup()) {
      table.rowIs({std::to_string(key.vlanId().value()), overlayGroupCell(key.groupAddr())});
    }
    table.print(out);
    out << plural(n, "overlay VLAN group", "overlay VLAN groups") << " waiting for review";
  }
  out << " (changed counter " << changeSet.changed() << ")\n";
  out << "scheduler: " << (held ? "held" : "runs until idle after each command") << ", "
      << plural(scheduler.queuedTasks(), "task", "tasks") << " queued, budget ";
  if (scheduler.itemBudget() == 0) {
    out << "unlimited";
  } else {
    out << plural(scheduler.itemBudget(), "item", "items");
  }
  out << " per slice, " << plural(scheduler.slicesRun(), "slice", "slices") << " run\n";
}

void showInputs(std::ostream& out, World const& world) {
  std::size_t lines = 0;
  auto emit = [&](std::string const& line) {
    out << line << '\n';
    ++lines;
  };
  for (Side side : {Side::local, Side::peer}) {
    for (auto const& [name, status] : world.statuses(side)) {
      std::string const head = std::string(sideName(side)) + " " + name;
      if (status->vlan().empty()) out << "# " << head << " (no VLAN entries)\n";
      for (auto const& [vlanId, vlan] : status->vlan()) {
        std::string const v = head + " vlan " + std::to_string(vlanId.value());
        if (vlan->group().empty()) emit(v);
        for (auto const& [groupAddr, group] : vlan->group()) {
          std::string const g = v + " group " + groupAddr.stringValue();
          if (group->source().empty()) emit(g);
          for (auto const& [sourceAddr, source] : group->source()) {
            std::string s = g + " source " + sourceText(sourceAddr);
            std::vector<std::string> intfs;
            for (Wirl::IntfId intf : source->includeIntf()) intfs.push_back(intf.stringValue());
            std::sort(intfs.begin(), intfs.end(), [](auto const& a, auto const& b) { return intfNameLess(a, b); });
            if (!intfs.empty()) s += " intf";
            for (auto const& i : intfs) s += " " + i;
            emit(s);
          }
        }
      }
    }
  }
  for (auto const& [key, mapping] : world.tunnelVlanGroupStatus().vlanToMulticastGroup()) {
    std::string m = "map vlan " + std::to_string(key.vlanId().value());
    if (key.groupAddr().af() != Wirl::AddressFamily::none) m += " group " + key.groupAddr().stringValue();
    if (mapping->multicastGroup().empty()) emit(m);
    for (auto const& route : mapping->multicastGroup()) {
      std::ostringstream os;
      os << m << " route " << sourceText(route.source()) << " " << route.groupAddr() << " tunnel "
         << route.tunnelType();
      emit(os.str());
    }
  }
  for (auto const& [vlan, entry] : world.mcastIrbStatus().vlanToSbdTable().entries()) {
    emit("sbd vlan " + std::to_string(vlan.value()) + " " + std::to_string(entry.sbdVlan.value()));
  }
  if (lines == 0) out << "# no inputs\n";
  InjectPath const* path = world.path();
  if (!path) {
    out << "# no path running\n";
  } else if (path->kind() == PathKind::l3) {
    out << "# the L3 path runs on local status " << quoted(path->localName()) << "\n";
  } else {
    out << "# the VPN path runs\n";
  }
}

}  // namespace Mcinject
