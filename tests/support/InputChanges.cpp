#include "support/InputChanges.h"

#include <algorithm>
#include <cassert>
#include <sstream>
#include <vector>

#include "support/Inputs.h"

namespace TestSupport {

using Irb::Multicast::McastIrbStatus;
using Irb::Multicast::SbdVlanState;
using Irb::Multicast::VlanToSbd;
using Irb::Multicast::Egress::MembershipJoinStatusColl;
using Irb::Multicast::Gmp::GroupMembershipJoin;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::SourceMembershipJoin;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::TunnelType;
using Routing::Multicast::UnderlayRoute;
using Routing::Multicast::VlanToMulticastGroup;

unsigned SeededChoices::below(unsigned n) {
  assert(n > 0 && "a choice needs at least one option");
  return static_cast<unsigned>(rng_() % n);
}

unsigned ByteChoices::below(unsigned n) {
  assert(n > 0 && n <= 256 && "a byte choice has at most 256 options");
  if (pos_ >= bytes_.size()) return 0;
  return bytes_[pos_++] % n;
}

namespace {

// Small pools, so that changes keep hitting the same keys. VLAN 1 with the
// whole-VLAN group is the null overlay key; VLANs are also SBD VLANs.
constexpr unsigned short kVlans[] = {1, 10, 11, 12, 20};
constexpr char const* kGroups[] = {"239.1.1.1", "239.1.1.2", "0.0.0.0", "::", "ff3e::1", "ff3e::2"};
// Mapping keys add the group of no family (whole VLAN).
constexpr char const* kMapGroups[] = {"", "239.1.1.1", "239.1.1.2", "0.0.0.0", "::", "ff3e::1", "ff3e::2"};
constexpr char const* kSources[] = {"0.0.0.0", "10.1.1.1", "::", "2001:db8::5"};
constexpr char const* kIntfs[] = {"Ethernet1", "Ethernet2", "Vxlan1", "Vxlan2"};
constexpr char const* kLocalNames[] = {"local", "local2"};
constexpr char const* kPeerNames[] = {"peer1", "peer2"};

// Routes share underlay groups, so that (*,G) Joins of different mappings
// and routes collapse in the dedup table.
std::vector<UnderlayRoute> const& routes() {
  static std::vector<UnderlayRoute> const pool = {
      route("10.0.0.1", "225.1.1.1"),          route("10.0.0.2", "225.1.1.1"),
      route("10.0.0.1", "225.1.1.2"),          route("10.0.0.3", "225.1.1.3", TunnelType::gre),
      route("2001:db8::1", "ff3e::100"),       route("2001:db8::2", "ff3e::100")};
  return pool;
}

template <class T, std::size_t N>
T pick(ChoiceSource& c, T const (&from)[N]) {
  return from[c.below(N)];
}

UnderlayRoute pickRoute(ChoiceSource& c) { return routes()[c.below(static_cast<unsigned>(routes().size()))]; }

// A key of a keyed collection (map or set) chosen by `c`, or null when it is
// empty. The pointer is into the collection: copy the key before changing it.
template <class Coll>
auto const* nthKey(Coll const& coll, ChoiceSource& c) {
  using K = std::remove_cvref_t<decltype(*coll.firstKey())>;
  if (coll.empty()) return static_cast<K const*>(nullptr);
  unsigned k = c.below(static_cast<unsigned>(std::min<std::size_t>(coll.size(), 256)));
  auto it = coll.begin();
  while (k-- > 0) ++it;
  if constexpr (requires { it->first; }) {
    return &it->first;
  } else {
    return &*it;
  }
}

std::string text(Wirl::IpGenAddr const& a) { return a.af() == Wirl::AddressFamily::none ? "" : a.stringValue(); }

// Compact content of membership objects: "239.1.1.1{10.1.1.1[Ethernet1 Vxlan1]}".
void print(std::ostream& os, SourceMembershipJoin const& s) {
  os << s.sourceAddr() << '[';
  bool first = true;
  for (auto i : s.includeIntf()) {
    os << (first ? "" : " ") << i;
    first = false;
  }
  os << ']';
}
void print(std::ostream& os, GroupMembershipJoin const& g) {
  os << g.groupAddr() << '{';
  bool first = true;
  for (auto const& [a, s] : g.source()) {
    os << (first ? "" : " ");
    print(os, *s);
    first = false;
  }
  os << '}';
}
void print(std::ostream& os, VlanMembershipJoin const& v) {
  os << "vlan " << v.vlanId() << " {";
  bool first = true;
  for (auto const& [a, g] : v.group()) {
    os << (first ? "" : " ");
    print(os, *g);
    first = false;
  }
  os << '}';
}
void print(std::ostream& os, VlanToMulticastGroup const& m) {
  os << m.overlayVlanGroup() << " {";
  bool first = true;
  for (auto const& r : m.multicastGroup()) {
    os << (first ? "" : " ") << r;
    first = false;
  }
  os << '}';
}

// New objects with the same key as `present` (which may be null): each child
// dropped, shared or copied with changes, maybe one child more.
Vorn::Ptr<SourceMembershipJoin> reshapedSource(ChoiceSource& c, Wirl::IpGenAddr const& addr,
                                               SourceMembershipJoin const* present) {
  auto s = SourceMembershipJoin::sourceMembershipJoinIs(addr);
  if (present) {
    for (auto i : present->includeIntf())
      if (c.percent(75)) s->includeIntfIs(i);
  }
  if (c.percent(50)) s->includeIntfIs(intf(pick(c, kIntfs)));
  return s;
}

Vorn::Ptr<GroupMembershipJoin> reshapedGroup(ChoiceSource& c, Wirl::IpGenAddr const& addr,
                                             GroupMembershipJoin const* present) {
  auto g = GroupMembershipJoin::groupMembershipJoinIs(addr);
  if (present) {
    for (auto const& [a, s] : present->source()) {
      unsigned const how = c.below(5);
      if (how == 0) continue;
      g->sourceIs(how <= 2 ? s : reshapedSource(c, a, s.ptr()));
    }
  }
  if (c.percent(50)) {
    auto const a = TestSupport::addr(pick(c, kSources));
    g->sourceIs(reshapedSource(c, a, g->source(a).ptr()));
  }
  return g;
}

Vorn::Ptr<VlanMembershipJoin> reshapedVlan(ChoiceSource& c, unsigned short vlan, VlanMembershipJoin const* present) {
  auto v = VlanMembershipJoin::vlanMembershipJoinIs(vlan);
  if (present) {
    for (auto const& [a, g] : present->group()) {
      unsigned const how = c.below(5);
      if (how == 0) continue;
      v->groupIs(how <= 2 ? g : reshapedGroup(c, a, g.ptr()));
    }
  }
  if (c.percent(50)) {
    auto const a = TestSupport::addr(pick(c, kGroups));
    v->groupIs(reshapedGroup(c, a, v->group(a).ptr()));
  }
  return v;
}

Vorn::Ptr<VlanToMulticastGroup> reshapedMapping(ChoiceSource& c, Routing::Multicast::OverlayVlanGroup const& k,
                                                VlanToMulticastGroup const* present) {
  auto m = VlanToMulticastGroup::vlanToMulticastGroupIs(k);
  if (present) {
    for (auto const& r : present->multicastGroup())
      if (c.percent(70)) m->multicastGroupIs(r);
  }
  if (c.percent(50)) m->multicastGroupIs(pickRoute(c));
  return m;
}

}  // namespace

InputWorld::InputWorld(PathKind kind)
    : kind_(kind), tunnel_(IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote")) {
  locals_["local"] = MembershipJoinStatus::membershipJoinStatusIs("local");
  if (kind_ == PathKind::vpn) {
    coll_ = Irb::Multicast::Egress::membershipJoinStatusCollFactory();
    irb_ = McastIrbStatus::mcastIrbStatusIs();
    peers_["peer1"] = MembershipJoinStatus::membershipJoinStatusIs("peer1");
    coll_->localMembershipIs(locals_["local"]);
    coll_->peerMembershipIs(peers_["peer1"]);
  }
}

InputWorld::StatusPtr InputWorld::local() const {
  auto it = locals_.find("local");
  return it == locals_.end() ? StatusPtr() : it->second;
}

InputWorld::StatusPtr InputWorld::pickStatus(ChoiceSource& c, std::string* name) {
  std::vector<std::pair<std::string, StatusPtr>> present(locals_.begin(), locals_.end());
  present.insert(present.end(), peers_.begin(), peers_.end());
  if (present.empty()) return nullptr;
  auto const& chosen = present[c.below(static_cast<unsigned>(present.size()))];
  *name = (peers_.count(chosen.first) ? "peer " : "local ") + chosen.first;
  return chosen.second;
}

std::string InputWorld::change(ChoiceSource& c) {
  bool const vpn = kind_ == PathKind::vpn;
  unsigned const kind = c.below(32);
  if (kind < 8) return membershipEdit(c, true);
  if (kind < 13) return membershipEdit(c, false);
  if (kind < 16) return replaceInMembership(c, static_cast<int>(kind - 13));
  if (kind < 17) return replaceStatus(c);
  if (kind < 18) return vpn ? collectionEdit(c) : membershipEdit(c, true);
  if (kind < 26) return mappingEdit(c, static_cast<int>(kind - 18));
  if (kind < 27) return vpn ? mappingEdit(c, 0) : replaceTunnelStatus(c);
  if (!vpn) return membershipEdit(c, kind < 30);
  if (kind < 31) return sbdEdit(c, static_cast<int>(kind - 27));
  return replaceSbdState(c);
}

std::string InputWorld::membershipEdit(ChoiceSource& c, bool adding) {
  std::string name;
  StatusPtr s = pickStatus(c, &name);
  if (!s) return collectionEdit(c);
  unsigned const depth = c.below(4);
  unsigned short vlan = pick(c, kVlans);
  std::string group = pick(c, kGroups);
  std::string source = pick(c, kSources);
  std::string intfName = pick(c, kIntfs);
  if (!adding && c.percent(80)) {
    // Mostly remove what is there.
    if (auto const* v = nthKey(s->vlan(), c)) {
      vlan = v->value();
      auto const entry = s->vlan(*v);
      if (auto const* g = nthKey(entry->group(), c)) {
        group = g->stringValue();
        auto const ge = entry->group(*g);
        if (auto const* src = nthKey(ge->source(), c)) {
          source = src->stringValue();
          if (auto const* i = nthKey(ge->source(*src)->includeIntf(), c)) intfName = i->stringValue();
        }
      }
    }
  }
  std::ostringstream what;
  what << (adding ? "" : "no ") << name << " vlan " << vlan;
  if (depth >= 1) what << " group " << group;
  if (depth >= 2) what << " source " << source;
  if (depth >= 3) what << " intf " << intfName;
  auto const g = depth >= 1 ? std::string_view(group) : std::string_view();
  auto const src = depth >= 2 ? std::string_view(source) : std::string_view();
  auto const i = depth >= 3 ? std::string_view(intfName) : std::string_view();
  if (adding) {
    join(*s, vlan, g, src, i);
  } else {
    leave(*s, vlan, g, src, i);
  }
  return what.str();
}

std::string InputWorld::replaceInMembership(ChoiceSource& c, int level) {
  std::string name;
  StatusPtr s = pickStatus(c, &name);
  if (!s) return collectionEdit(c);
  std::ostringstream what;
  auto const* v = nthKey(s->vlan(), c);
  if (level == 0 || !v) {
    unsigned short const vlan = v && c.percent(80) ? v->value() : pick(c, kVlans);
    auto entry = reshapedVlan(c, vlan, s->vlan(vlan).ptr());
    what << "replace " << name << " VLAN entry by ";
    print(what, *entry);
    s->vlanIs(entry);
    return what.str();
  }
  auto const entry = s->vlanMutable(*v);
  auto const* g = nthKey(entry->group(), c);
  if (level == 1 || !g) {
    auto const a = g && c.percent(80) ? *g : addr(pick(c, kGroups));
    auto group = reshapedGroup(c, a, entry->group(a).ptr());
    what << "replace " << name << " vlan " << *v << " group entry by ";
    print(what, *group);
    entry->groupIs(group);
    return what.str();
  }
  auto const ge = entry->groupMutable(*g);
  auto const* src = nthKey(ge->source(), c);
  auto const a = src && c.percent(80) ? *src : addr(pick(c, kSources));
  auto source = reshapedSource(c, a, ge->source(a).ptr());
  what << "replace " << name << " vlan " << *v << " group " << *g << " source entry by ";
  print(what, *source);
  ge->sourceIs(source);
  return what.str();
}

std::string InputWorld::replaceStatus(ChoiceSource& c) {
  std::string name;
  StatusPtr s = pickStatus(c, &name);
  if (!s) return collectionEdit(c);
  auto other = MembershipJoinStatus::membershipJoinStatusIs(s->name());
  std::ostringstream what;
  what << "replace " << name << " by a new status:";
  for (auto const& [vlan, entry] : s->vlan()) {
    unsigned const how = c.below(5);
    if (how == 0) continue;
    auto const e = how <= 2 ? entry : reshapedVlan(c, vlan.value(), entry.ptr());
    other->vlanIs(e);
    what << ' ' << (how <= 2 ? "same " : "new ");
    print(what, *e);
  }
  std::string const key = s->name().stdString();
  if (peers_.count(key)) {
    peers_[key] = other;
    coll_->peerMembershipIs(other);
  } else {
    locals_[key] = other;
    if (coll_) coll_->localMembershipIs(other);
    if (membershipStatusRepointed) membershipStatusRepointed(other);
  }
  return what.str();
}

std::string InputWorld::collectionEdit(ChoiceSource& c) {
  if (!coll_) return mappingEdit(c, 0);
  bool const peer = c.percent(50);
  std::string const name = peer ? pick(c, kPeerNames) : pick(c, kLocalNames);
  StatusMap& map = peer ? peers_ : locals_;
  std::ostringstream what;
  if (map.count(name)) {
    map.erase(name);
    if (peer) {
      coll_->peerMembershipDel(name);
    } else {
      coll_->localMembershipDel(name);
    }
    what << "remove " << (peer ? "peer " : "local ") << name << " from the collection";
    return what.str();
  }
  // A new status arrives with some content already.
  auto s = MembershipJoinStatus::membershipJoinStatusIs(name);
  for (unsigned n = c.below(4); n > 0; --n) {
    join(*s, pick(c, kVlans), pick(c, kGroups), c.percent(70) ? pick(c, kSources) : "",
         c.percent(70) ? pick(c, kIntfs) : "");
  }
  what << "add " << (peer ? "peer " : "local ") << name << " to the collection:";
  for (auto const& [vlan, entry] : s->vlan()) {
    what << ' ';
    print(what, *entry);
  }
  map[name] = s;
  if (peer) {
    coll_->peerMembershipIs(s);
  } else {
    coll_->localMembershipIs(s);
  }
  return what.str();
}

std::string InputWorld::mappingEdit(ChoiceSource& c, int what) {
  std::ostringstream os;
  unsigned short vlan = pick(c, kVlans);
  std::string group = pick(c, kMapGroups);
  VlanToMulticastGroup* existing = nullptr;
  if (what >= 4 && c.percent(80)) {
    if (auto const* k = nthKey(tunnel_->vlanToMulticastGroup(), c)) {
      vlan = k->vlanId().value();
      group = text(k->groupAddr());
      existing = tunnel_->vlanToMulticastGroupMutable(*k).ptr();
    }
  }
  auto const k = key(vlan, group);
  auto const describeKey = [&] {
    os << "map vlan " << vlan;
    if (!group.empty()) os << " group " << group;
  };
  switch (what) {
    case 0:
    case 1:
    case 2: {
      auto const r = pickRoute(c);
      describeKey();
      os << " route " << r;
      map(*tunnel_, vlan, group, {r});
      break;
    }
    case 3:
      describeKey();
      map(*tunnel_, vlan, group);
      break;
    case 4:
    case 5: {
      UnderlayRoute r = pickRoute(c);
      if (existing && !existing->multicastGroup().empty() && c.percent(70)) r = *nthKey(existing->multicastGroup(), c);
      os << "no ";
      describeKey();
      os << " route " << r;
      if (auto m = tunnel_->vlanToMulticastGroupMutable(k)) m->multicastGroupDel(r);
      break;
    }
    case 6:
      os << "no ";
      describeKey();
      unmap(*tunnel_, vlan, group);
      break;
    default: {
      auto m = reshapedMapping(c, k, tunnel_->vlanToMulticastGroup(k).ptr());
      os << "replace mapping by ";
      print(os, *m);
      tunnel_->vlanToMulticastGroupIs(m);
      break;
    }
  }
  return os.str();
}

std::string InputWorld::replaceTunnelStatus(ChoiceSource& c) {
  auto other = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(tunnel_->name());
  std::ostringstream what;
  what << "replace the tunnel status by a new one:";
  for (auto const& [k, m] : tunnel_->vlanToMulticastGroup()) {
    unsigned const how = c.below(5);
    if (how == 0) continue;
    auto const e = how <= 2 ? m : reshapedMapping(c, k, m.ptr());
    other->vlanToMulticastGroupIs(e);
    what << ' ' << (how <= 2 ? "same " : "new ");
    print(what, *e);
  }
  tunnel_ = other;
  if (tunnelStatusRepointed) tunnelStatusRepointed(other);
  return what.str();
}

std::string InputWorld::sbdEdit(ChoiceSource& c, int what) {
  std::ostringstream os;
  unsigned short const vlan = pick(c, kVlans);
  if (what < 3) {
    unsigned short const sbd = pick(c, kVlans);
    os << "sbd vlan " << vlan << ' ' << sbd;
    irb_->vlanToSbdIs(VlanToSbd{vlan, sbd});
  } else {
    Bridging::VlanId v = vlan;
    if (auto const* k = nthKey(irb_->vlanToSbdTable().entries(), c); k && c.percent(80)) v = *k;
    os << "no sbd vlan " << v;
    irb_->vlanToSbdDel(v);
  }
  return os.str();
}

std::string InputWorld::replaceSbdState(ChoiceSource& c) {
  auto sbdStatus = sbdToVlanStatus ? sbdToVlanStatus() : nullptr;
  Bridging::VlanId const* sbd = sbdStatus ? nthKey(sbdStatus->sbdVlanState(), c) : nullptr;
  if (!sbd) return sbdEdit(c, static_cast<int>(c.below(4)));
  Bridging::VlanId const sbdVlan = *sbd;
  auto const present = sbdStatus->sbdVlanState(sbdVlan);
  // The SBD-to-VLAN machine looks states up by key and changes them in
  // place, so an object of equal content keeps it consistent; one member more
  // or less is followed by the IRB change that makes the table say the same.
  auto fresh = SbdVlanState::sbdVlanStateIs(sbdVlan);
  for (auto v : present->vlanId()) fresh->vlanIdIs(v);
  std::ostringstream os;
  unsigned const how = c.below(3);
  Bridging::VlanId const extra = pick(c, kVlans);
  if (how == 1 && !present->vlanId(extra) && !(VlanToSbd{extra, sbdVlan} == VlanToSbd())) {
    fresh->vlanIdIs(extra);
    os << "replace SBD VLAN state " << sbdVlan << " by one also listing " << extra << ", then sbd vlan " << extra
       << ' ' << sbdVlan;
    sbdStatus->sbdVlanStateIs(fresh);
    irb_->vlanToSbdIs(VlanToSbd{extra, sbdVlan});
  } else if (how == 2) {
    Bridging::VlanId const gone = *nthKey(present->vlanId(), c);
    fresh->vlanIdDel(gone);
    os << "replace SBD VLAN state " << sbdVlan << " by one without " << gone << ", then no sbd vlan " << gone;
    sbdStatus->sbdVlanStateIs(fresh);
    irb_->vlanToSbdDel(gone);
  } else {
    os << "replace SBD VLAN state " << sbdVlan << " by an equal one";
    sbdStatus->sbdVlanStateIs(fresh);
  }
  return os.str();
}

}  // namespace TestSupport
