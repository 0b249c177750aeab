// Recorder — a test notifiee that writes down every notification of one
// entity as "attribute:key" (key printed with operator<<, empty for scalar
// attributes).
//
//   auto rec = TestSupport::Recorder<OverlayChangeSet, OverlayVlanGroup>::on(changeSet);
//   changeSet->changedInc(1);
//   EXPECT_EQ(rec->events, (std::vector<std::string>{"2:"}));
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "Vorn/Notifiee.h"

namespace TestSupport {

template <class Entity, class KeyType>
class Recorder : public Vorn::NotifieeConstOf<Entity> {
 public:
  static Vorn::Ptr<Recorder> on(Vorn::Ptr<Entity const> const& entity) {
    Vorn::Ptr<Recorder> r(new Recorder);
    r->notifierIs(entity);
    r->isRegisteredNotifieeIs(true);
    r->hasNotificationActiveIs(true);
    return r;
  }

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override {
    std::ostringstream os;
    os << attribute << ':';
    if (KeyType const* k = key.template get<KeyType>()) os << *k;
    events.push_back(os.str());
  }

  std::vector<std::string> events;
};

}  // namespace TestSupport
