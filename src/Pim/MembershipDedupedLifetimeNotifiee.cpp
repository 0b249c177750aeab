#include "Pim/MembershipDedupedLifetimeNotifiee.h"

#include <array>
#include <cassert>
#include <string>
#include <utility>

#include "Dyad/Dyad.h"
#include "Pim/Trace.h"
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
}

void MembershipDedupedLifetimeNotifiee::handleInsert(Vorn::Ptr<Keel::DedupHandle> const& routeIntf) const {
  RouteIntfKey const key = keyOf(routeIntf.ptr());
  traceJoin(insertStatement(), this, key, 49, "handleInsert");
  Routing::Gmp::Brim::Membership const membership{key, 1};
  Vorn::Ptr<Routing::Gmp::Brim::Status> const status = gmpStatus_;
  ++isCalls_;
  if (!status->membershipIs(membership)) ++rewrites_;
}

void MembershipDedupedLifetimeNotifiee::handleRemove(Keel::DedupHandle* routeIntf) const {
  RouteIntfKey const key = keyOf(routeIntf);
  traceJoin(removeStatement(), this, key, 62, "handleRemove");
  Vorn::Ptr<Routing::Gmp::Brim::Status> const status = gmpStatus_;
  ++delCalls_;
  status->membershipDel(key);
}

void MembershipDedupedLifetimeNotifiee::handleNotificationStop(Vorn::Ptr<Keel::DedupHashTable const> const&) const {
  ++breaks_;  // Joins may now come and go without being written
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
