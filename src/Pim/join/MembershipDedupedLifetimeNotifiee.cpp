#include "Pim/join/MembershipDedupedLifetimeNotifiee.h"

#include <array>
#include <cassert>
#include <string>
#include <utility>

#include "Dyad/Dyad.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"

namespace Irb::Multicast::Egress {

namespace {

using Routing::Gmp::Brim::RouteIntfKey;

std::string joinFormat(char const* signature, char const* text) {
  return std::string(signature) + ": " + "%s" + text + "%s" + ", " + "%s" + ", " + "%s";
}

Flit::Statement& insertStatement() {
  static Flit::Statement st(joinFormat(
      "virtual void Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee::handleInsert(const Ptr&) const",
      " Injecting Join for underlayRoute "));
  return st;
}

Flit::Statement& removeStatement() {
  static Flit::Statement st(joinFormat(
      "virtual void Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee::handleRemove("
      "Keel::DedupHandle::RawPtr) const",
      " Deleting Join for underlayRoute "));
  return st;
}

void traceJoin(Flit::Statement& st, void const* self, RouteIntfKey const& key, int line, char const* function) {
  if (!Dyad::active(l3InjectSmTrace(), 7)) return;  // off: build nothing
  std::array<Flit::Arg, 4> const args{Flit::Arg::pointer(self), Dyad::addressArg(key.source()),
                                      Dyad::addressArg(key.group()), Flit::Arg::string(key.intf().stringValue())};
  Dyad::statement(st, l3InjectSmTrace(), 7, kL3InjectSmFile, line, function, args);
}

RouteIntfKey keyOf(Keel::DedupHandle const* handle) {
  return static_cast<Routing::Gmp::MembershipDeduped const*>(handle)->key();
}

}  // namespace

MembershipDedupedLifetimeNotifiee::MembershipDedupedLifetimeNotifiee(
    Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus)
    : gmpStatus_(gmpStatus) {
  assert(gmpStatus_ && "the Join writer needs a status table");
  lastOwnEpoch_ = ownSince_ = gmpStatus_->epoch();
}

bool MembershipDedupedLifetimeNotifiee::onlyOwnChangesSince(std::uint64_t epoch) const noexcept {
  std::uint64_t const now = gmpStatus_->epoch();
  if (now == epoch) return true;  // no change at all
  return mirroring_ && now == lastOwnEpoch_ && ownSince_ <= epoch;
}

std::uint64_t MembershipDedupedLifetimeNotifiee::ownChangeStarts(Routing::Gmp::Brim::Status const& status) const {
  std::uint64_t const now = status.epoch();
  if (now != lastOwnEpoch_) ownSince_ = now;  // someone else changed it meanwhile
  return now;
}

void MembershipDedupedLifetimeNotifiee::ownChangeEnds(Routing::Gmp::Brim::Status const& status,
                                                      std::uint64_t before) const {
  // Our change moves the epoch by one at most: more is the table's observers
  // changing it in reaction, which no longer is ours.
  std::uint64_t const now = status.epoch();
  if (now - before > 1) ownSince_ = now;
  lastOwnEpoch_ = now;
}

void MembershipDedupedLifetimeNotifiee::handleInsert(Vorn::Ptr<Keel::DedupHandle> const& routeIntf) const {
  RouteIntfKey const key = keyOf(routeIntf.ptr());
  traceJoin(insertStatement(), this, key, 49, "handleInsert");
  Routing::Gmp::Brim::Membership const membership{key, 1};
  Vorn::Ptr<Routing::Gmp::Brim::Status> const status = gmpStatus_;
  ++isCalls_;
  std::uint64_t const before = ownChangeStarts(*status);
  if (!status->membershipIs(membership)) {
    ++rewrites_;
    static_cast<Routing::Gmp::MembershipDeduped const*>(routeIntf.ptr())->adoptedIs(true);
  }
  ownChangeEnds(*status, before);
}

void MembershipDedupedLifetimeNotifiee::handleRemove(Keel::DedupHandle* routeIntf) const {
  RouteIntfKey const key = keyOf(routeIntf);
  traceJoin(removeStatement(), this, key, 62, "handleRemove");
  Vorn::Ptr<Routing::Gmp::Brim::Status> const status = gmpStatus_;
  ++delCalls_;
  std::uint64_t const before = ownChangeStarts(*status);
  status->membershipDel(key);
  ownChangeEnds(*status, before);
}

void MembershipDedupedLifetimeNotifiee::handleNotificationStop(Vorn::Ptr<Keel::DedupHashTable const> const&) const {
  ++breaks_;  // Joins may now come and go without being written
  mirroring_ = false;
}

Vorn::Ptr<MembershipDedupedLifetimeNotifiee> underlayInjectNotifieeIs(
    Vorn::Ptr<MembershipDedupedLifetimeNotifiee>& slot, Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus,
    char const* ownerType) {
  if (!gmpStatus) throw Vorn::MutatorNullArgumentException(ownerType, "underlayInjectNotifiee");
  if (slot) {
    if (slot->gmpStatus() != gmpStatus) slot->gmpStatusIs(gmpStatus);
    return slot;
  }
  slot = Vorn::make<MembershipDedupedLifetimeNotifiee>(gmpStatus);
  slot->hasNotificationActiveIs(true);
  return slot;
}

Vorn::Ptr<Routing::Gmp::MembershipDedupTable> underlayInjectDedupTableIs(
    Vorn::Ptr<Routing::Gmp::MembershipDedupTable>& slot,
    Vorn::Ptr<Keel::DedupHashTableLifeTimeNotifiee> const& lifetimeNotifiee, char const* ownerType) {
  if (!lifetimeNotifiee) throw Vorn::MutatorNullArgumentException(ownerType, "underlayInjectDedupTable");
  if (slot && slot->lifetimeNotifiee() == lifetimeNotifiee) return slot;
  auto fresh = Vorn::make<Routing::Gmp::MembershipDedupTable>(lifetimeNotifiee);
  fresh->hasNotificationActiveIs(true);
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const old = std::exchange(slot, fresh);
  return fresh;
}

}  // namespace Irb::Multicast::Egress
