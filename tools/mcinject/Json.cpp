#include "Json.h"

#include <nlohmann/json.hpp>
#include <sstream>

namespace Mcinject {

using Irb::Multicast::Egress::GroupKeyKind;
using Irb::Multicast::Egress::InjectCounters;
using Irb::Multicast::Egress::JoinProvenance;
using Irb::Multicast::Egress::JoinReason;
using Irb::Multicast::Egress::MembershipEvidence;
using Irb::Multicast::Egress::Missing;

namespace {

// Objects keep their members in the order written (the documented order).
using Json = nlohmann::ordered_json;

// An address as text; null for an address of no family.
Json addressJson(Wirl::IpGenAddr const& addr) {
  if (addr.af() == Wirl::AddressFamily::none) return nullptr;
  return addr.stringValue();
}

char const* keyKindName(GroupKeyKind kind) {
  switch (kind) {
    case GroupKeyKind::specific:
      return "specific";
    case GroupKeyKind::wholeVlan:
      return "wholeVlan";
    case GroupKeyKind::wildcard:
      return "wildcard";
  }
  return "specific";
}

Json missingJson(Missing missing) {
  switch (missing) {
    case Missing::none:
      break;
    case Missing::membershipStatus:
      return "membershipStatus";
    case Missing::vlanEntry:
      return "vlanEntry";
    case Missing::groupEntry:
      return "groupEntry";
    case Missing::member:
      return "member";
    case Missing::review:
      return "review";
  }
  return nullptr;
}

Json overlayJson(Routing::Multicast::OverlayVlanGroup const& key) {
  return {{"vlan", key.vlanId().value()},
          {"group", addressJson(key.groupAddr())},
          {"kind", keyKindName(Irb::Multicast::Egress::groupKeyKind(key.groupAddr()))}};
}

Json evidenceJson(MembershipEvidence const& e) {
  bool const noIntf = e.intf.stringValue().empty();
  return {{"side", e.peer ? "peer" : "local"},
          {"status", e.status.stdString()},
          {"vlan", e.vlan.value()},
          {"viaSbd", e.viaSbd},
          {"group", addressJson(e.group)},
          {"source", addressJson(e.source)},
          {"intf", noIntf ? Json(nullptr) : Json(e.intf.stringValue())}};
}


// One entry of the status table: source, group, intf, value, type.
Json joinJson(Routing::Gmp::Brim::Membership const& entry) {
  return {{"source", addressJson(entry.key.source())},
          {"group", addressJson(entry.key.group())},
          {"intf", entry.key.intf().stringValue()},
          {"value", entry.value},
          {"type", entry.key.source().isWildcard() ? "(*,G)" : "(S,G)"}};
}

// A reason or candidate: mapping, route, wanted, missing, evidence.
Json reasonJson(JoinReason const& reason) {
  std::ostringstream tunnel;
  tunnel << reason.route.tunnelType();
  Json evidence = Json::array();
  for (MembershipEvidence const& e : reason.evidence) evidence.push_back(evidenceJson(e));
  return {{"mapping", overlayJson(reason.mapping)},
          {"route",
           {{"source", addressJson(reason.route.source())},
            {"group", addressJson(reason.route.groupAddr())},
            {"tunnel", tunnel.str()}}},
          {"wanted", reason.wanted},
          {"missing", missingJson(reason.missing)},
          {"evidence", std::move(evidence)}};
}

Json reasonsJson(std::vector<JoinReason> const& reasons) {
  Json out = Json::array();
  for (JoinReason const& r : reasons) out.push_back(reasonJson(r));
  return out;
}

// {"kind": "l3"|"vpn", "localStatus": NAME|null}, or null for no path.
Json pathJson(InjectPath const* path) {
  if (!path) return nullptr;
  return {{"kind", pathName(path->kind())},
          {"localStatus", path->kind() == PathKind::l3 ? Json(path->localName()) : Json(nullptr)}};
}

// Names are any words: bytes that are not UTF-8 are printed as U+FFFD
// rather than making the document fail.
void print(std::ostream& out, Json const& document) {
  out << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace

void printJoinsJson(std::ostream& out, std::vector<JoinRow> const& rows, std::size_t tableEntries,
                    InjectPath const* path, JoinFilter const& filter, bool detail) {
  Json f = Json::object();
  if (filter.vlan) f["vlan"] = filter.vlan->value();
  if (filter.group) f["group"] = addressJson(*filter.group);
  if (filter.intf) f["intf"] = filter.intf->stringValue();
  Json joins = Json::array();
  for (JoinRow const& row : rows) {
    Json j = joinJson(row.entry);
    if (detail) {
      JoinProvenance const why = row.why.value_or(JoinProvenance{});
      j["held"] = why.held;
      j["adopted"] = why.adopted;
      j["reasons"] = reasonsJson(why.reasons);
      j["candidates"] = reasonsJson(why.candidates);
    }
    joins.push_back(std::move(j));
  }
  print(out, {{"schemaVersion", kJsonSchemaVersion},
              {"path", pathJson(path)},
              {"filter", std::move(f)},
              {"joins", std::move(joins)},
              {"tableEntries", tableEntries}});
}

void printJoinsJson(std::ostream& out, std::vector<Routing::Gmp::Brim::Membership> const& entries) {
  std::vector<JoinRow> rows;
  rows.reserve(entries.size());
  for (auto const& m : entries) rows.push_back(JoinRow{m, std::nullopt});
  printJoinsJson(out, rows, entries.size(), nullptr, JoinFilter{}, false);
}

void printChangeSetJson(std::ostream& out, Irb::Multicast::Egress::OverlayChangeSet const& changeSet,
                        Keel::TaskScheduler const& scheduler, bool held) {
  Json waiting = Json::array();
  for (auto const& key : changeSet.vlanGroup()) waiting.push_back(overlayJson(key));
  print(out, {{"schemaVersion", kJsonSchemaVersion},
              {"waiting", std::move(waiting)},
              {"changed", changeSet.changed()},
              {"scheduler",
               {{"held", held},
                {"queuedTasks", scheduler.queuedTasks()},
                {"itemBudget", scheduler.itemBudget()},
                {"slicesRun", scheduler.slicesRun()}}}});
}

void printCountersJson(std::ostream& out, InjectPath const* path) {
  Json paths = Json::array();
  if (path) {
    InjectCounters const c = path->counters();
    Json p = pathJson(path);
    p["counters"] = {{"joinsWritten", c.joinsWritten},       {"joinsWithdrawn", c.joinsWithdrawn},
                     {"joinsRewritten", c.joinsRewritten},   {"staleRemoved", c.staleRemoved},
                     {"walks", c.walks},                     {"slices", c.slices},
                     {"itemsReviewed", c.itemsReviewed},     {"corruptionsReported", c.corruptionsReported}};
    paths.push_back(std::move(p));
  }
  print(out, {{"schemaVersion", kJsonSchemaVersion}, {"paths", std::move(paths)}});
}

}  // namespace Mcinject
