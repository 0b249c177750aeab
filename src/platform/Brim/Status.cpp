#include "Brim/Status.h"

#include "model/ModelSupport.h"

namespace Routing::Gmp::Brim {

Vorn::Ptr<Status> Status::statusIs() { return Model::makeActive<Status>(); }

void Status::membershipIs(Membership const& m) {
  ++isCalls_;
  auto [it, inserted] = entries_.try_emplace(m.key, m.value);
  if (!inserted) {
    if (it->second == m.value) return;
    it->second = m.value;
  }
  notify(attrMembership, Vorn::Key(m.key));
}

bool Status::membershipDel(RouteIntfKey const& key) {
  ++delCalls_;
  RouteIntfKey const copy = key;
  if (entries_.erase(copy) == 0) return false;
  notify(attrMembership, Vorn::Key(copy));
  return true;
}

std::optional<Membership> Status::membership(RouteIntfKey const& key) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return Membership{it->first, it->second};
}

bool Status::membershipIterNext(RouteIntfKey& key, IterHint& hint) const {
  checkRead();
  auto it = hint.started ? entries_.upper_bound(key) : entries_.lower_bound(key);
  hint.started = true;
  if (it == entries_.end()) return false;
  key = it->first;
  return true;
}

}  // namespace Routing::Gmp::Brim
