#include "Pim/l3/L3InjectSm.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "Corvo/Exception.h"
#include "Dyad/Dyad.h"
#include "Pim/join/JoinKey.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"

namespace Irb::Multicast::Egress {

namespace {

using Routing::Gmp::Brim::RouteIntfKey;

Flit::Statement& staleStatement() {
  static Flit::Statement st(std::string("void Irb::Multicast::Egress::L3InjectSm::handleInitialized()") + ": " +
                            " Cleaning up stale underlayRoute " + "%s" + ", " + "%s" + ", " + "%s");
  return st;
}

// Asks the cache for every line of `*object` (null: nothing) ahead of its
// use: a hint, which never faults.
template <class T>
void prefetch(T const* object) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  if (!object) return;
  auto const* bytes = reinterpret_cast<char const*>(object);
  for (std::size_t at = 0; at < sizeof(T); at += 64) __builtin_prefetch(bytes + at);
  __builtin_prefetch(bytes + sizeof(T) - 1);
#else
  (void)object;
#endif
}

// Calls `create(mapping)` for every mapping of `mappings`, in key order.
// The mappings and their routes were made long before and are mostly out of
// the cache: reading them is most of a reactor's start-up time. So two walks
// run ahead of the one that creates the reactors, the far one asking for the
// mapping objects, the near one for the first route of the mappings the far
// one asked for two steps earlier. All three walk the live collection (a
// mapping removed meanwhile is skipped by each), and the walks ahead read an
// element only right after a step, before any handler runs.
template <class Mappings, class Create>
void eachMappingPrefetched(Mappings const& mappings, Create&& create) {
  constexpr int kNear = 2;  // steps ahead of the reactors
  constexpr int kFar = 4;
  auto near = mappings.begin();
  auto far = mappings.begin();
  for (int i = 1; i < kFar && far != nullptr; ++i) {
    if (i < kNear) ++near;
    ++far;
  }
  for (auto const& entry : mappings) {
    if (far != nullptr && ++far != nullptr) prefetch(far->second.ptr());
    if (near != nullptr && ++near != nullptr) {
      if (auto const* mapping = near->second.ptr()) {
        auto const& routes = mapping->multicastGroup().raw();
        if (!routes.empty()) prefetch(&*routes.begin());
      }
    }
    create(entry.second);
  }
}

}  // namespace

// ---- start-up cleanup ------------------------------------------------------------------------
//
// The cleanup removes, in key order, every entry whose key the dedup table
// does not hold. Walking the whole table costs a step and a dedup lookup per
// entry, wanted or not. But as long as nobody else changes the table during
// start-up, the table holds the Joins of the dedup table (each written by
// this path's writer when its handle came) and the entries it held before the
// first Join: only those earlier entries can be stale. So start-up notes
// their keys and the table's modification epoch, and the cleanup then
//   - has nothing to do when the table holds no more entries than the dedup
//     table;
//   - else looks at the earlier entries alone, in the same key order, with
//     the same removals and statements as the walk; when the table's size is
//     the sum of both (no Join was written over an earlier entry, the one way
//     one becomes wanted), all of them are stale and need no dedup lookup.
// Whenever the epoch shows a change by anyone but the writer (or the table is
// armed to report a corruption), the cleanup goes back to the walk from where
// it stands, which then sees the table as it is.

struct L3InjectSm::StartUpTable {
  explicit StartUpTable(L3InjectSm const& sm);

  Routing::Gmp::Brim::Status const* status = nullptr;
  MembershipDedupedLifetimeNotifiee const* writer = nullptr;
  Routing::Gmp::MembershipDedupTable const* dedup = nullptr;
  std::vector<RouteIntfKey> keys;  // the entries' keys, in key order
  bool complete = false;           // `keys` holds every entry
  std::string corruption;          // what the read ran into, when it did
  std::uint64_t epoch = 0;         // the table's epoch when `keys` was read
};

L3InjectSm::StartUpTable::StartUpTable(L3InjectSm const& sm)
    : status(sm.underlayGmpStatus_.ptr()),
      writer(sm.underlayInjectNotifiee_.ptr()),
      dedup(sm.underlayInjectDedupTable_.ptr()) {
  if (!status || !writer || !dedup) return;
  epoch = status->epoch();
  // Handles from before would hold Joins nobody noted; a table armed to
  // report a corruption keeps that read for the cleanup walk.
  if (!dedup->empty() || status->corruptNextRead()) return;
  keys.reserve(status->membershipCount());
  RouteIntfKey key;
  Routing::Gmp::Brim::IterHint hint;
  try {
    while (status->membershipIterNext(key, hint)) keys.push_back(key);
    complete = true;
  } catch (Corvo::CorruptionDetectedException const& e) {
    corruption = e.msg();
    keys.clear();
  }
}

// ---- L3InjectSm ----------------------------------------------------------------------------------

Vorn::Ptr<L3InjectSm> L3InjectSm::L3InjectSmIs(MembershipJoinStatusPtr const& membershipJoinStatus,
                                               TunnelVlanGroupStatusPtr const& tunnelVlanGroupStatus,
                                               GmpStatusPtr const& underlayGmpStatus) {
  Vorn::Ptr<L3InjectSm> sm(new L3InjectSm(membershipJoinStatus, tunnelVlanGroupStatus, underlayGmpStatus));
  sm->hasNotificationActiveIs(true);
  return sm;
}

Vorn::Ptr<L3InjectSm> l3InjectSmFactory(L3InjectSm::MembershipJoinStatusPtr const& membershipJoinStatus,
                                        L3InjectSm::TunnelVlanGroupStatusPtr const& tunnelVlanGroupStatus,
                                        L3InjectSm::GmpStatusPtr const& underlayGmpStatus) {
  return L3InjectSm::L3InjectSmIs(membershipJoinStatus, tunnelVlanGroupStatus, underlayGmpStatus);
}

L3InjectSm::L3InjectSm(MembershipJoinStatusPtr const& membershipJoinStatus,
                       TunnelVlanGroupStatusPtr const& tunnelVlanGroupStatus, GmpStatusPtr const& underlayGmpStatus)
    : underlayGmpStatus_(underlayGmpStatus) {
  if (membershipJoinStatus) {
    vornMembershipJoinStatus_ = Vorn::make<VornMembershipJoinStatus>(membershipJoinStatus, this);
    vornMembershipJoinStatus_->hasNotificationActiveIs(true);
  }
  if (tunnelVlanGroupStatus) {
    vornTunnelVlanGroupStatus_ = Vorn::make<VornTunnelVlanGroupStatus>(tunnelVlanGroupStatus, this);
    vornTunnelVlanGroupStatus_->hasNotificationActiveIs(true);
  }
  underlayInjectNotifieeIs(underlayGmpStatus_);
  underlayInjectDedupTableIs(underlayInjectNotifiee_);
  // About one Join per mapping: the dedup table and the status table grown
  // once instead of doubling all the way.
  if (tunnelVlanGroupStatus) {
    std::size_t const mappings = tunnelVlanGroupStatus->vlanToMulticastGroup().size();
    underlayInjectDedupTable_->reserve(mappings);
    if (underlayGmpStatus_) underlayGmpStatus_->reserve(underlayGmpStatus_->membershipCount() + mappings);
  }
  // What the table holds before the first Join: unless someone else changes
  // the table meanwhile, only these entries can turn out stale.
  StartUpTable const before(*this);
  // Mappings first: each takes its SMET from the membership status directly.
  if (tunnelVlanGroupStatus) {
    eachMappingPrefetched(tunnelVlanGroupStatus->vlanToMulticastGroup(),
                          [this](auto const& mapping) { vlanToMulticastGroupIs(mapping); });
  }
  if (membershipJoinStatus) {
    for (auto const& entry : membershipJoinStatus->vlan()) vlanMembershipIs(entry.second);
  }
  // Every wanted Join is held now: whatever else the table holds is stale.
  handleInitialized(before);
}

void L3InjectSm::handleInitialized() {
  L3_TRACE8(206, "handleInitialized", this << "handleInitialized");
  staleWalk(RouteIntfKey(), false);
}

void L3InjectSm::staleWalk(RouteIntfKey key, bool started) {
  GmpStatusPtr const status = underlayGmpStatus_;
  Routing::Gmp::Brim::IterHint hint;
  hint.started = started;
  try {
    while (status->membershipIterNext(key, hint)) {
      if (underlayInjectDedupTable_ && underlayInjectDedupTable_->lookup(key)) continue;  // wanted
      traceStale(key);
      status->membershipDel(key);
      ++staleRemoved_;
    }
  } catch (Corvo::CorruptionDetectedException const& e) {
    status->doCorruptionDetected(e.msg());
  }
  initializedIs(true);
}

void L3InjectSm::traceStale(RouteIntfKey const& key) const {
  if (!Dyad::active(l3InjectSmTrace(), 7)) return;
  std::array<Flit::Arg, 3> const args{Dyad::addressArg(key.source()), Dyad::addressArg(key.group()),
                                      Flit::Arg::string(key.intf().stringValue())};
  Dyad::statement(staleStatement(), l3InjectSmTrace(), 7, kL3InjectSmFile, 217, "handleInitialized", args);
}

bool L3InjectSm::onlyOwnChanges(StartUpTable const& before) const {
  auto const* status = underlayGmpStatus_.ptr();
  auto const* writer = underlayInjectNotifiee_.ptr();
  auto const* dedup = underlayInjectDedupTable_.ptr();
  if (!before.complete || status != before.status || writer != before.writer || dedup != before.dedup) return false;
  if (writer->gmpStatus().ptr() != status || dedup->lifetimeNotifiee().ptr() != writer) return false;
  return writer->onlyOwnChangesSince(before.epoch) && !status->corruptNextRead();
}

void L3InjectSm::handleInitialized(StartUpTable const& before) {
  L3_TRACE8(206, "handleInitialized", this << "handleInitialized");
  GmpStatusPtr const status = underlayGmpStatus_;
  if (!before.complete && !before.corruption.empty()) {
    // The read of the table ran into it; the walk would have, first thing.
    status->doCorruptionDetected(before.corruption);
    initializedIs(true);
    return;
  }
  if (!onlyOwnChanges(before)) {
    staleWalk(RouteIntfKey(), false);
    return;
  }
  Routing::Gmp::MembershipDedupTable const& dedup = *underlayInjectDedupTable_;
  std::size_t const count = status->membershipCount();
  if (count > dedup.size()) {
    // The table holds the earlier entries the writer left and the Joins. Its
    // size tells whether it left them all and whether any of them is wanted.
    std::vector<bool> wanted;  // by position in `before.keys`; empty: none is
    if (count != before.keys.size() + dedup.size()) {
      wanted.resize(before.keys.size());
      std::size_t wantedCount = 0;
      for (std::size_t i = 0; i < before.keys.size(); ++i) {
        if (dedup.lookup(before.keys[i])) {
          wanted[i] = true;
          ++wantedCount;
        }
      }
      if (count != before.keys.size() + dedup.size() - wantedCount) {
        // The writer deleted an earlier entry: see the table as it is.
        staleWalk(RouteIntfKey(), false);
        return;
      }
    }
    for (std::size_t i = 0; i < before.keys.size(); ++i) {
      if (!wanted.empty() && wanted[i]) continue;
      RouteIntfKey const& key = before.keys[i];
      traceStale(key);
      std::uint64_t const epoch = status->epoch();
      status->membershipDel(key);
      ++staleRemoved_;
      if (status->epoch() != epoch + 1 || status->corruptNextRead()) {
        // Someone reacted: go on as the walk would, from this key.
        staleWalk(key, true);
        return;
      }
    }
  }
  initializedIs(true);
}

}  // namespace Irb::Multicast::Egress
