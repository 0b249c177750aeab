#include "Runner.h"

#include <algorithm>
#include <sstream>

#include "Explain.h"
#include "Help.h"
#include "Json.h"
#include "OutputPath.h"
#include "Show.h"
#include "Text.h"
#include "Vorn/Trace.h"

namespace Mcinject {

namespace {

// At most `limit` items of a list, comma separated, "..." when cut.
template <class Items, class Text>
std::string listText(Items const& items, Text text, std::size_t limit = 8) {
  std::string out;
  std::size_t n = 0;
  for (auto const& item : items) {
    if (n == limit) return out + ", ...";
    if (n++) out += ", ";
    out += text(item);
  }
  return out;
}

std::string membershipCommand(MembershipPath const& p, bool removal) {
  return std::string(removal ? "no " : "") + sideName(p.side);
}

}  // namespace

Outcome Runner::run(Command const& command) {
  Outcome outcome = std::visit([this](auto const& c) { return apply(c); }, command);
  if (outcome.kind == Outcome::Kind::failed) return outcome;
  if (!world_.settle()) {
    throw InternalError("the task scheduler is still busy after " + std::to_string(World::kSettleSliceLimit) +
                        " slices");
  }
  return outcome;
}

// ---- inputs --------------------------------------------------------------------

Outcome Runner::apply(MembershipIs const& c) {
  world_.membershipIs(c.path);
  return Outcome::done();
}

Outcome Runner::apply(MembershipDel const& c) {
  if (auto problem = world_.membershipDelProblem(c.path)) {
    return Outcome::failed(membershipCommand(c.path, true) + ": " + *problem);
  }
  world_.membershipDel(c.path);
  return Outcome::done();
}

Outcome Runner::apply(MapIs const& c) {
  world_.mapIs(c);
  return Outcome::done();
}

Outcome Runner::apply(MapDel const& c) {
  if (auto problem = world_.mapDelProblem(c)) return Outcome::failed("no map: " + *problem);
  world_.mapDel(c);
  return Outcome::done();
}

Outcome Runner::apply(SbdIs const& c) {
  world_.sbdIs(c);
  return Outcome::done();
}

Outcome Runner::apply(SbdDel const& c) {
  if (auto problem = world_.sbdDelProblem(c)) return Outcome::failed("no sbd: " + *problem);
  world_.sbdDel(c);
  return Outcome::done();
}

Outcome Runner::apply(GmpIs const& c) {
  world_.gmpIs(c);
  return Outcome::done();
}

Outcome Runner::apply(ToggleIs const& c) {
  if (process_.pathStarted) {
    return Outcome::failed(
        "toggle: toggles are read once per process, when the first path starts; 'toggle' must come before the "
        "first 'start'");
  }
  if (auto problem = process_.toggles.toggleIs(c.name, c.on)) return Outcome::failed("toggle: " + *problem);
  return Outcome::done();
}

Outcome Runner::apply(CorruptIs const& c) {
  world_.corruptIs(c.table);
  return Outcome::done();
}

// ---- paths and scheduling -----------------------------------------------------

Outcome Runner::apply(Start const& c) {
  if (auto problem = world_.pathProblem(c)) {
    return Outcome::failed(std::string("start ") + pathName(c.kind) + ": " + *problem);
  }
  process_.pathStarted = true;
  bool const created = c.kind == PathKind::l3 && c.named && !world_.statuses(Side::local).contains(c.localName);
  world_.pathIs(c);
  Outcome outcome;
  if (created) outcome.note = "local status " + quoted(c.localName) + " did not exist; it was created empty";
  return outcome;
}

Outcome Runner::apply(Stop const&) {
  if (!world_.path()) return Outcome::failed("stop: no inject path is running");
  world_.pathDel();
  return Outcome::done();
}

Outcome Runner::apply(Hold const&) {
  world_.heldIs(true);
  return Outcome::done();
}

Outcome Runner::apply(Release const&) {
  world_.heldIs(false);  // run() settles right after
  return Outcome::done();
}

Outcome Runner::apply(Step const& c) {
  world_.step(c.slices);
  return Outcome::done();
}

Outcome Runner::apply(Budget const& c) {
  world_.budgetIs(c.items);
  return Outcome::done();
}

Outcome Runner::apply(TraceIs const& c) {
  std::string error;
  if (!Vorn::traceSettingsIs(c.settings, &error)) return Outcome::failed("trace: " + error);
  return Outcome::done();
}

Outcome Runner::apply(TraceFileIs const& c) {
  if (auto problem = traceFileIs(c.path, process_.inputs)) return Outcome::failed("trace file: " + *problem);
  return Outcome::done();
}

// ---- looking and checking -------------------------------------------------------

std::optional<std::string> Runner::changeSetProblem(char const* command) const {
  InjectPath const* path = world_.path();
  if (path && path->kind() == PathKind::vpn) return std::nullopt;
  return std::string(command) + ": the VPN path is not running";
}

std::optional<std::string> Runner::runningPathProblem(char const* command) const {
  if (world_.path()) return std::nullopt;
  return std::string(command) + ": no inject path is running (start l3 or start vpn first)";
}

Outcome Runner::apply(Show const& c) {
  InjectPath const* path = world_.path();
  switch (c.what) {
    case ShowWhat::joins: {
      std::vector<JoinRow> const rows = joinRows(world_, c.filter);
      std::size_t const entries = world_.gmpStatus().membershipCount();
      if (c.json) {
        printJoinsJson(out_, rows, entries, path, c.filter, c.detail);
      } else {
        std::optional<ExplainContext> ctx;
        if (path) ctx = explainContext(world_);
        showJoins(out_, rows, entries, c.filter, ctx ? &*ctx : nullptr, c.detail);
      }
      break;
    }
    case ShowWhat::changeset:
      if (auto problem = changeSetProblem(c.json ? "show changeset json" : "show changeset")) {
        return Outcome::failed(*problem);
      }
      if (c.json) {
        printChangeSetJson(out_, *path->changeSet(), world_.scheduler(), world_.held());
      } else {
        showChangeSet(out_, *path->changeSet(), world_.scheduler(), world_.held());
      }
      break;
    case ShowWhat::counters:
      if (c.json) {
        printCountersJson(out_, path);
      } else {
        showCounters(out_, path);
      }
      break;
    case ShowWhat::inputs:
      showInputs(out_, world_);
      break;
  }
  out_.flush();
  return Outcome::done();
}

Outcome Runner::apply(Explain const& c) {
  if (auto problem = runningPathProblem(c.present ? "explain join" : "explain no join")) {
    return Outcome::failed(*problem);
  }
  bool const inTable = world_.gmpStatus().membership(c.key).has_value();
  explainJoin(out_, world_.path()->joinProvenance(c.key), explainContext(world_), inTable);
  out_.flush();
  return Outcome::done();
}

Outcome Runner::apply(ExpectJoin const& c) {
  auto const& status = world_.gmpStatus();
  auto const entry = status.membership(c.key);
  if (c.present) {
    if (entry && entry->value == 1) return Outcome::done();
    if (entry) {
      return Outcome::expectationFailed("expected join " + joinText(c.key) + " with value 1, found value " +
                                        std::to_string(entry->value));
    }
    std::vector<Routing::Gmp::Brim::Membership> sameGroup;
    for (auto const& m : sortedEntries(status)) {
      if (m.key.group() == c.key.group()) sameGroup.push_back(m);
    }
    std::string found = sameGroup.empty()
                            ? "no entry of group " + c.key.group().stringValue()
                            : "only " + listText(sameGroup, [](auto const& m) { return joinText(m.key); });
    return Outcome::expectationFailed("expected join " + joinText(c.key) + ", found " + found);
  }
  if (!entry) return Outcome::done();
  return Outcome::expectationFailed("expected no join " + joinText(c.key) + ", found it with value " +
                                    std::to_string(entry->value));
}

Outcome Runner::apply(ExpectJoins const& c) {
  auto const& status = world_.gmpStatus();
  std::uint64_t const n = status.membershipCount();
  if (n == c.count) return Outcome::done();
  std::string found = "found " + std::to_string(n);
  if (n > 0) found += ": " + listText(sortedEntries(status), [](auto const& m) { return joinText(m.key); });
  return Outcome::expectationFailed("expected " + plural(c.count, "join", "joins") + ", " + found);
}

Outcome Runner::apply(ExpectChangeSet const& c) {
  if (auto problem = changeSetProblem("expect changeset")) return Outcome::failed(*problem);
  auto const changeSet = world_.path()->changeSet();
  std::uint64_t const n = changeSet->vlanGroup().size();
  if (n == c.count) return Outcome::done();
  std::string found = "found " + std::to_string(n);
  if (n > 0) found += ": " + listText(changeSet->vlanGroup(), [](auto const& k) { return overlayText(k); });
  return Outcome::expectationFailed("expected " +
                                    plural(c.count, "overlay VLAN group", "overlay VLAN groups") +
                                    " waiting for review, " + found);
}

Outcome Runner::apply(ExpectReason const& c) {
  if (auto problem = runningPathProblem("expect reason")) return Outcome::failed(*problem);
  Irb::Multicast::Egress::JoinProvenance const why = world_.path()->joinProvenance(c.key);
  std::string const wanted =
      c.status ? "status " + quoted(*c.status) : "mapping " + mappingText(*c.mapping);
  std::vector<std::string> named;  // what the reasons name instead
  for (auto const& r : why.reasons) {
    if (c.mapping) {
      if (r.mapping == *c.mapping) return Outcome::done();
      named.push_back("mapping " + mappingText(r.mapping));
      continue;
    }
    for (auto const& e : r.evidence) {
      if (e.status.stdString() == *c.status) return Outcome::done();
      named.push_back(std::string(e.peer ? "peer " : "local ") + e.status.stdString());
    }
  }
  std::string const head = "expected a reason of " + joinText(c.key) + " naming " + wanted;
  if (!why.held) {
    return Outcome::expectationFailed(head + ", but " + pathText(world_.path()->kind()) + " does not hold that Join");
  }
  std::sort(named.begin(), named.end());
  named.erase(std::unique(named.begin(), named.end()), named.end());
  if (named.empty()) return Outcome::expectationFailed(head + ", found reasons without evidence");
  return Outcome::expectationFailed(head + ", found only " + listText(named, [](auto const& n) { return n; }));
}

Outcome Runner::apply(ExpectCorruptions const& c) {
  std::uint64_t const n = world_.corruptions(c.table);
  if (n == c.count) return Outcome::done();
  char const* table = c.table == Table::gmp ? "the GMP status table" : "the vlanToSbd table";
  return Outcome::expectationFailed("expected " + plural(c.count, "corruption", "corruptions") + " reported by " +
                                    table + ", found " + std::to_string(n));
}

Outcome Runner::apply(Help const& c) {
  if (!printHelp(out_, c.topic)) return Outcome::failed("help: no command " + quoted(c.topic));
  out_.flush();
  return Outcome::done();
}

Outcome Runner::apply(Quit const&) { return Outcome::quit(); }

}  // namespace Mcinject
