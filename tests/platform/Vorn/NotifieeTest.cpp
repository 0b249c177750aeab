// Delivery of entity changes to reactors, attacked from inside the handlers:
// reactors that detach themselves or others, register new reactors, release
// the entity or themselves, or change the entity again mid-delivery.
#include "Vorn/Notifiee.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Vorn/Collection.h"
#include "Vorn/Entity.h"

namespace {

// A small entity shaped like the real ones: keyed collections changed through
// the Entity helpers (notify after each effective change) plus a scalar
// notified by hand, as the last step of its mutator (the notification may
// release the entity).
class Box : public Vorn::Entity {
 public:
  static constexpr Vorn::AttributeId attrItem = 1;
  static constexpr Vorn::AttributeId attrLabel = 2;
  static constexpr Vorn::AttributeId attrTag = 3;
  static inline int live = 0;

  static Vorn::Ptr<Box> boxIs() {
    Vorn::Ptr<Box> b = Vorn::make<Box>();
    b->hasNotificationActiveIs(true);
    return b;
  }
  Box() { ++live; }
  ~Box() override { --live; }

  int const* item(int k) const { return items_.find(k); }
  int const* firstItemKey() const { return items_.firstKey(); }
  std::size_t itemCount() const { return items_.size(); }
  void itemIs(int const& k, int v) { setIn(items_, attrItem, k, v); }
  int itemDel(int const& k) { return takeFrom(items_, attrItem, k); }
  void itemDelAll() { takeAllFrom(items_, attrItem); }

  bool tag(int k) const { return tags_.contains(k); }
  int const* firstTag() const { return tags_.firstKey(); }
  void tagIs(int k) { insertIn(tags_, attrTag, k); }
  void tagDel(int const& k) { eraseFrom(tags_, attrTag, k); }
  void tagDelAll() { eraseAllFrom(tags_, attrTag); }

  std::string const& label() const { return label_; }
  void labelIs(std::string const& l) {
    if (l == label_) return;
    label_ = l;
    notify(attrLabel, Vorn::Key());
  }

 private:
  Vorn::KeyedMap<int, int> items_;
  Vorn::KeyedSet<int> tags_;
  std::string label_;
};

using Log = std::vector<std::string>;

// Records "<name>:<key>" (or "<name>:label") for every delivery, then runs an
// optional action that attacks the delivery.
class Recorder : public Vorn::NotifieeConstOf<Box> {
 public:
  using Action = std::function<void(Recorder&, Vorn::AttributeId, Vorn::Key const&)>;
  static inline int live = 0;

  Recorder(std::string name, Log* log) : name_(std::move(name)), log_(log) { ++live; }
  ~Recorder() override { --live; }

  void onAttribute(Vorn::AttributeId a, Vorn::Key const& key) override {
    std::string const what = a == Box::attrLabel ? std::string("label")
                             : a == Box::attrTag ? "tag" + std::to_string(*key.get<int>())
                                                 : std::to_string(*key.get<int>());
    log_->push_back(name_ + ":" + what);
    if (action) action(*this, a, key);
  }

  std::string const& name() const { return name_; }
  Action action;

 private:
  std::string name_;
  Log* log_;
};

class NotifieeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Box::live = 0;
    Recorder::live = 0;
    box = Box::boxIs();
  }
  void TearDown() override {
    reactors.clear();
    box = nullptr;
    EXPECT_EQ(Recorder::live, 0) << "a reactor leaked";
    EXPECT_EQ(Box::live, 0) << "an entity leaked";
  }

  // A registered, active reactor on `on` (the fixture's box by default),
  // owned by the fixture.
  Vorn::Ptr<Recorder> watch(std::string name, Vorn::Ptr<Box> const& on = nullptr) {
    Vorn::Ptr<Recorder> r = Vorn::make<Recorder>(std::move(name), &log);
    r->notifierIs(on ? on : box);
    r->isRegisteredNotifieeIs(true);
    r->hasNotificationActiveIs(true);
    reactors.push_back(r);
    return r;
  }
  Log take() { return std::exchange(log, {}); }

  Log log;
  Vorn::Ptr<Box> box;
  std::vector<Vorn::Ptr<Recorder>> reactors;
};

TEST_F(NotifieeTest, DeliversInRegistrationOrderAndOnlyForEffectiveChanges) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  box->itemIs(1, 10);
  EXPECT_EQ(take(), (Log{"A:1", "B:1", "C:1"}));
  box->itemIs(1, 10);
  box->itemDel(7);
  box->labelIs("");
  EXPECT_TRUE(take().empty()) << "a change that changes nothing is not delivered";

  // Registering again puts the reactor at the end.
  b->isRegisteredNotifieeIs(false);
  b->isRegisteredNotifieeIs(true);
  box->labelIs("x");
  EXPECT_EQ(take(), (Log{"A:label", "C:label", "B:label"}));
}

TEST_F(NotifieeTest, HandlerRunsBeforeTheMutatorReturnsAndSeesTheNewState) {
  auto a = watch("A");
  int seen = -1;
  a->action = [&](Recorder& self, Vorn::AttributeId, Vorn::Key const& key) {
    int const* v = self.notifierRaw()->item(*key.get<int>());
    seen = v ? *v : 0;
  };
  box->itemIs(4, 40);
  EXPECT_EQ(seen, 40);
  box->itemDel(4);
  EXPECT_EQ(seen, 0) << "a removal is delivered after the element is gone";
}

TEST_F(NotifieeTest, KeyIsTypedAndAbsentForScalars) {
  auto a = watch("A");
  std::vector<std::string> seen;
  a->action = [&](Recorder&, Vorn::AttributeId attr, Vorn::Key const& key) {
    if (attr == Box::attrItem) {
      EXPECT_TRUE(key.present());
      EXPECT_TRUE(key.is<int>());
      EXPECT_FALSE(key.is<long>());
      EXPECT_FALSE(key.is<unsigned>());
      ASSERT_NE(key.get<int>(), nullptr);
      seen.push_back("item " + std::to_string(*key.get<int>()));
    } else {
      EXPECT_FALSE(key);
      EXPECT_EQ(key.get<int>(), nullptr);
      seen.push_back("scalar");
    }
  };
  box->itemIs(42, 1);
  box->labelIs("l");
  EXPECT_EQ(seen, (std::vector<std::string>{"item 42", "scalar"}));
}

TEST_F(NotifieeTest, ReactorUnregisteringItselfMidDeliveryStopsOnlyItself) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  b->action = [](Recorder& self, Vorn::AttributeId, Vorn::Key const&) { self.isRegisteredNotifieeIs(false); };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1", "C:1"}));
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2", "C:2"}));
  EXPECT_EQ(box->notifieeList()->size(), 2u);
}

TEST_F(NotifieeTest, ReactorRepointingItselfToNullMidDeliveryStopsOnlyItself) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  a->action = [](Recorder& self, Vorn::AttributeId, Vorn::Key const&) { self.notifierIs(nullptr); };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1", "C:1"}));
  EXPECT_EQ(a->notifier(), nullptr);
  EXPECT_TRUE(a->isRegisteredNotifiee()) << "registration survives a re-point";
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"B:2", "C:2"}));
}

TEST_F(NotifieeTest, ReactorRepointedMidDeliveryFollowsItsNewEntity) {
  auto other = Box::boxIs();
  auto a = watch("A");
  auto b = watch("B");
  a->action = [&](Recorder& self, Vorn::AttributeId, Vorn::Key const&) { self.notifierIs(other); };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1"}));
  a->action = nullptr;
  box->itemIs(2, 2);
  other->itemIs(3, 3);
  EXPECT_EQ(take(), (Log{"B:2", "A:3"}));
}

TEST_F(NotifieeTest, DetachingALaterReactorMidDeliverySkipsIt) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) { c->isRegisteredNotifieeIs(false); };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1"}));
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2", "B:2"}));
}

TEST_F(NotifieeTest, DetachingAnEarlierReactorMidDeliveryKeepsTheRest) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  c->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) { a->notifierIs(nullptr); };
  b->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) { a->isRegisteredNotifieeIs(false); };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1", "C:1"}));
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"B:2", "C:2"}));
}

TEST_F(NotifieeTest, ReregisteringMidDeliveryIsNotCalledTwiceForOneChange) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  b->action = [](Recorder& self, Vorn::AttributeId, Vorn::Key const&) {
    self.isRegisteredNotifieeIs(false);
    self.isRegisteredNotifieeIs(true);
  };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1", "C:1"}));
  b->action = nullptr;
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2", "C:2", "B:2"}));
  EXPECT_EQ(box->notifieeList()->size(), 3u);
}

TEST_F(NotifieeTest, ReactorRegisteredMidDeliverySeesOnlyLaterChanges) {
  auto a = watch("A");
  auto b = watch("B");
  bool added = false;
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) {
    if (added) return;
    added = true;
    watch("D");
  };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1"}));
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2", "B:2", "D:2"}));
}

TEST_F(NotifieeTest, ReactorDroppingTheLastReferenceToTheEntityMidDelivery) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  Box* raw = box.ptr();
  box = nullptr;  // only the reactors hold it now
  int aliveInHandler = -1;
  int valueInHandler = -1;
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) {
    a->notifierIs(nullptr);
    b->notifierIs(nullptr);
    c->notifierIs(nullptr);
    // The entity must survive until its delivery is over.
    aliveInHandler = Box::live;
    valueInHandler = *raw->item(1);
  };
  raw->itemIs(1, 11);
  EXPECT_EQ(take(), (Log{"A:1"})) << "reactors detached mid-delivery are not called";
  EXPECT_EQ(aliveInHandler, 1);
  EXPECT_EQ(valueInHandler, 11);
  EXPECT_EQ(Box::live, 0) << "the entity goes once its delivery is over";
}

TEST_F(NotifieeTest, ReactorDroppingItsEntityStillLetsLaterReactorsReadIt) {
  auto a = watch("A");
  auto b = watch("B");
  Box* raw = box.ptr();
  box = nullptr;
  a->action = [](Recorder& self, Vorn::AttributeId, Vorn::Key const&) { self.notifierIs(nullptr); };
  int seen = -1;
  b->action = [&](Recorder& self, Vorn::AttributeId, Vorn::Key const& key) {
    seen = *self.notifierRaw()->item(*key.get<int>());
  };
  raw->itemIs(5, 55);
  EXPECT_EQ(seen, 55);
  EXPECT_EQ(Box::live, 1) << "B still holds it";
}

TEST_F(NotifieeTest, ReactorDroppingTheLastReferenceToItselfMidDelivery) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  int aliveInHandler = -1;
  b->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) {
    b = nullptr;
    reactors.erase(reactors.begin() + 1);  // the last reference to B
    aliveInHandler = Recorder::live;
  };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1", "C:1"}));
  EXPECT_EQ(aliveInHandler, 3) << "a reactor outlives its own handler";
  EXPECT_EQ(Recorder::live, 2);
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2", "C:2"}));
}

TEST_F(NotifieeTest, LastReactorDroppingItselfAndTheEntityTogether) {
  Log local;
  Box* rawBox = box.ptr();
  Vorn::Ptr<Recorder> only = Vorn::make<Recorder>("A", &local);
  only->notifierIs(box);
  only->isRegisteredNotifieeIs(true);
  only->hasNotificationActiveIs(true);
  box = nullptr;  // the reactor holds the entity, `only` holds the reactor
  only->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) { only = nullptr; };
  rawBox->itemIs(1, 1);
  EXPECT_EQ(local, (Log{"A:1"}));
  EXPECT_EQ(Recorder::live, 0);
  EXPECT_EQ(Box::live, 0);
}

TEST_F(NotifieeTest, DestroyingALaterReactorMidDeliverySkipsIt) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) {
    c = nullptr;
    reactors.pop_back();
  };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1"}));
  EXPECT_EQ(Recorder::live, 2);
}

TEST_F(NotifieeTest, HandlerChangingTheEntityAgainNestsADelivery) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const& key) {
    if (*key.get<int>() == 1) box->itemIs(2, 2);
  };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "A:2", "B:2", "C:2", "B:1", "C:1"}));
  EXPECT_EQ(box->itemCount(), 2u);
}

TEST_F(NotifieeTest, DetachInANestedDeliveryHoldsForTheOuterOne) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const& key) {
    if (*key.get<int>() == 1) box->itemIs(2, 2);
  };
  b->action = [&](Recorder& self, Vorn::AttributeId, Vorn::Key const& key) {
    if (*key.get<int>() == 2) self.isRegisteredNotifieeIs(false);
  };
  c->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const& key) {
    if (*key.get<int>() == 2) watch("D");  // registered in the inner delivery
  };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "A:2", "B:2", "C:2", "C:1"}));
  a->action = nullptr;
  c->action = nullptr;
  box->itemIs(3, 3);
  EXPECT_EQ(take(), (Log{"A:3", "C:3", "D:3"}));
  EXPECT_EQ(box->notifieeList()->size(), 3u);
}

TEST_F(NotifieeTest, HandlerRemovingTheElementItWasToldAbout) {
  auto a = watch("A");
  auto b = watch("B");
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const& key) {
    int const k = *key.get<int>();
    if (box->item(k)) box->itemDel(k);
  };
  box->itemIs(8, 1);
  EXPECT_EQ(take(), (Log{"A:8", "A:8", "B:8", "B:8"}));
  EXPECT_EQ(box->itemCount(), 0u);
}

TEST_F(NotifieeTest, RemovingEverythingNotifiesEachElementAfterItGoes) {
  auto a = watch("A");
  for (int k : {3, 1, 2}) box->itemIs(k, k);
  take();
  std::vector<bool> presentWhenTold;
  a->action = [&](Recorder& self, Vorn::AttributeId, Vorn::Key const& key) {
    presentWhenTold.push_back(self.notifierRaw()->item(*key.get<int>()) != nullptr);
  };
  box->itemDelAll();
  EXPECT_EQ(take(), (Log{"A:1", "A:2", "A:3"}));
  EXPECT_EQ(presentWhenTold, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(box->itemCount(), 0u);
}

TEST_F(NotifieeTest, RemovingEverythingWhileHandlersAddAndRemoveEndsEmpty) {
  auto a = watch("A");
  for (int k : {1, 2, 3}) box->itemIs(k, k);
  take();
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const& key) {
    if (*key.get<int>() != 1) return;
    box->itemDel(3);     // a later element goes from under the loop
    box->itemIs(5, 5);  // and a new one appears
  };
  box->itemDelAll();
  EXPECT_EQ(take(), (Log{"A:1", "A:3", "A:5", "A:2", "A:5"}));
  EXPECT_EQ(box->itemCount(), 0u);
}

TEST_F(NotifieeTest, RemovingByAReferenceIntoTheRemovedElement) {
  auto a = watch("A");
  box->itemIs(4, 40);
  box->tagIs(6);
  take();
  std::vector<int> keys;
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const& key) { keys.push_back(*key.get<int>()); };
  // The key argument lives in the element being removed.
  EXPECT_EQ(box->itemDel(*box->firstItemKey()), 40);
  box->tagDel(*box->firstTag());
  EXPECT_EQ(keys, (std::vector<int>{4, 6}));
  EXPECT_EQ(box->itemDel(4), 0) << "removing an absent key gives the default value";
  EXPECT_EQ(take(), (Log{"A:4", "A:tag6"}));
}

TEST_F(NotifieeTest, SetMembershipNotifiesOnlyEffectiveChanges) {
  auto a = watch("A");
  box->tagIs(2);
  box->tagIs(2);
  box->tagIs(1);
  box->tagDel(9);
  EXPECT_EQ(take(), (Log{"A:tag2", "A:tag1"}));
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const& key) {
    if (*key.get<int>() == 1) box->tagDel(2);
  };
  box->tagDelAll();
  EXPECT_EQ(take(), (Log{"A:tag1", "A:tag2"}));
  EXPECT_FALSE(box->tag(1));
  EXPECT_FALSE(box->tag(2));
}

TEST_F(NotifieeTest, EntityWithNotificationOffDeliversNothing) {
  auto a = watch("A");
  box->hasNotificationActiveIs(false);
  box->itemIs(1, 1);
  box->labelIs("x");
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(box->label(), "x") << "the change itself still happens";
  box->hasNotificationActiveIs(true);
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2"}));
}

TEST_F(NotifieeTest, NewEntityDeliversNothingUntilSwitchedOn) {
  Vorn::Ptr<Box> fresh = Vorn::make<Box>();
  auto a = watch("A", fresh);
  fresh->itemIs(1, 1);
  EXPECT_TRUE(take().empty());
}

TEST_F(NotifieeTest, InactiveReactorIsSkippedOthersStillCalled) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  b->hasNotificationActiveIs(false);
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "C:1"}));
  // Switched off by an earlier reactor in the same delivery.
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) { c->hasNotificationActiveIs(false); };
  b->hasNotificationActiveIs(true);
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2", "B:2"}));
}

TEST_F(NotifieeTest, NewReactorReceivesNothingUntilActive) {
  Vorn::Ptr<Recorder> r = Vorn::make<Recorder>("R", &log);
  r->notifierIs(box);
  r->isRegisteredNotifieeIs(true);
  box->itemIs(1, 1);
  EXPECT_TRUE(take().empty());
  r->hasNotificationActiveIs(true);
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"R:2"}));
}

TEST_F(NotifieeTest, UnregisteredReactorReceivesNothing) {
  Vorn::Ptr<Recorder> r = Vorn::make<Recorder>("R", &log);
  r->hasNotificationActiveIs(true);
  r->notifierIs(box);
  box->itemIs(1, 1);
  EXPECT_TRUE(take().empty());
  // Registering before the notifier is set attaches once it is.
  Vorn::Ptr<Recorder> s = Vorn::make<Recorder>("S", &log);
  s->hasNotificationActiveIs(true);
  s->isRegisteredNotifieeIs(true);
  s->notifierIs(box);
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"S:2"}));
}

TEST_F(NotifieeTest, ZombieMarkStopsAndResumesDelivery) {
  auto a = watch("A");
  auto b = watch("B");
  b->vornDoZombieReactors(true);
  EXPECT_TRUE(b->isZombie());
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1"}));
  b->vornDoZombieReactors(true);
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2"}));
  b->vornDoZombieReactors(false);
  EXPECT_FALSE(b->isZombie());
  box->itemIs(3, 3);
  EXPECT_EQ(take(), (Log{"A:3", "B:3"}));
}

TEST_F(NotifieeTest, UnmarkingAReactorThatIsNotAZombieDoesNotSwitchItOn) {
  auto a = watch("A");
  a->hasNotificationActiveIs(false);
  a->vornDoZombieReactors(false);  // same mark as before: nothing happens
  box->itemIs(1, 1);
  EXPECT_TRUE(take().empty());
  EXPECT_FALSE(a->hasNotificationActive());
}

TEST_F(NotifieeTest, ZombieMarkedMidDeliveryByAnEarlierReactorIsSkipped) {
  auto a = watch("A");
  auto b = watch("B");
  a->action = [&](Recorder&, Vorn::AttributeId, Vorn::Key const&) { b->vornDoZombieReactors(true); };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1"}));
}

TEST_F(NotifieeTest, ZombieMarkedBeforeItHasANotifierStillReceivesNothing) {
  Vorn::Ptr<Recorder> r = Vorn::make<Recorder>("R", &log);
  r->hasNotificationActiveIs(true);
  r->isRegisteredNotifieeIs(true);
  r->vornDoZombieReactors(true);
  r->notifierIs(box);
  box->itemIs(1, 1);
  EXPECT_TRUE(take().empty()) << "a reactor marked for deletion must not receive";
}

// A reactor whose destructor runs its own zombie step, building a Ptr to the
// half-destroyed reactor on the way, as generated reactors do.
class SelfZombifying : public Vorn::NotifieeConstOf<Box> {
 public:
  static inline int finalPasses = 0;
  ~SelfZombifying() override {
    if (!isZombie()) vornDoZombieReactors(true);
  }
  void vornDoZombieReactors(bool zombie) override {
    if (zombie == isZombie()) return;
    Vorn::Ptr<SelfZombifying> self(this);  // the final pass holds the reactor
    Vorn::NotifieeConst::vornDoZombieReactors(zombie);
    if (zombie) ++finalPasses;
  }
};

TEST_F(NotifieeTest, ReactorZombifyingItselfFromItsDestructorIsDeletedOnce) {
  SelfZombifying::finalPasses = 0;
  {
    Vorn::Ptr<SelfZombifying> r = Vorn::make<SelfZombifying>();
    r->notifierIs(box);
    r->isRegisteredNotifieeIs(true);
    r->hasNotificationActiveIs(true);
  }
  EXPECT_EQ(SelfZombifying::finalPasses, 1);
  EXPECT_EQ(box->notifieeList()->size(), 0u);
  EXPECT_EQ(box->references(), 1u);
  // Marked before it goes: the destructor does not run the step again.
  {
    Vorn::Ptr<SelfZombifying> r = Vorn::make<SelfZombifying>();
    r->notifierIs(box);
    r->vornDoZombieReactors(true);
  }
  EXPECT_EQ(SelfZombifying::finalPasses, 2);
}

TEST_F(NotifieeTest, ReactorDestroyedWhileRegisteredLeavesTheList) {
  auto a = watch("A");
  auto b = watch("B");
  auto c = watch("C");
  b = nullptr;
  reactors.erase(reactors.begin() + 1);
  EXPECT_EQ(Recorder::live, 2);
  EXPECT_EQ(box->notifieeList()->size(), 2u);
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "C:1"}));
}

TEST_F(NotifieeTest, ReactorKeepsItsEntityAlive) {
  Vorn::Ptr<Recorder> r = Vorn::make<Recorder>("R", &log);
  r->notifierIs(box);  // held even when not registered
  Vorn::Ptr<Box const> seen = r->notifier();
  box = nullptr;
  seen = nullptr;
  EXPECT_EQ(Box::live, 1);
  EXPECT_EQ(r->notifierRaw()->itemCount(), 0u);
  r->isRegisteredNotifieeIs(true);
  r = nullptr;
  EXPECT_EQ(Box::live, 0) << "the entity goes with the last reactor holding it";
}

TEST_F(NotifieeTest, RepointingMovesTheRegistration) {
  auto other = Box::boxIs();
  auto a = watch("A");
  a->notifierIs(other);
  EXPECT_TRUE(box->notifieeList()->empty());
  box->itemIs(1, 1);
  other->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2"}));
  a->notifierIs(other);  // same notifier: no second registration
  other->itemIs(3, 3);
  EXPECT_EQ(take(), (Log{"A:3"}));
}

}  // namespace
