// Delivery of entity changes to reactors, attacked from inside the handlers:
// reactors that detach themselves or others, register new reactors, release
// the entity or themselves, or change the entity again mid-delivery.
#include "Vorn/Notifiee.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "Vorn/Collection.h"
#include "Vorn/Entity.h"

namespace {

using Attr = Vorn::AttributeId;
using Key = Vorn::Key;

int keyOf(Key const& k) { return *k.get<int>(); }

// A small entity shaped like the real ones: keyed collections changed through
// the Entity helpers (notify after each effective change) plus a scalar
// notified by hand, as the last step of its mutator (the notification may
// release the entity).
class Box : public Vorn::Entity {
 public:
  static constexpr Attr attrItem = 1;
  static constexpr Attr attrLabel = 2;
  static constexpr Attr attrTag = 3;
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
    notify(attrLabel, Key());
  }

 private:
  Vorn::KeyedMap<int, int> items_;
  Vorn::KeyedSet<int> tags_;
  std::string label_;
};

using Log = std::vector<std::string>;

// Records "<name>:<key>" (or "<name>:label", "<name>:tag<key>") for every
// delivery, then runs an optional action that attacks the delivery.
class Recorder : public Vorn::NotifieeConstOf<Box> {
 public:
  using Action = std::function<void(Recorder&, Attr, Key const&)>;
  static inline int live = 0;

  Recorder(std::string name, Log* log) : name_(std::move(name)), log_(log) { ++live; }
  ~Recorder() override { --live; }

  void onAttribute(Attr a, Key const& key) override {
    std::string const what = a == Box::attrLabel ? std::string("label")
                             : a == Box::attrTag ? "tag" + std::to_string(keyOf(key))
                                                 : std::to_string(keyOf(key));
    log_->push_back(name_ + ":" + what);
    if (action) action(*this, a, key);
  }
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
  std::array<Vorn::Ptr<Recorder>, 3> abc() { return {watch("A"), watch("B"), watch("C")}; }
  Log take() { return std::exchange(log, {}); }

  Log log;
  Vorn::Ptr<Box> box;
  std::vector<Vorn::Ptr<Recorder>> reactors;
};

TEST_F(NotifieeTest, DeliversInRegistrationOrderAndOnlyForEffectiveChanges) {
  auto [a, b, c] = abc();
  box->itemIs(1, 10);
  box->tagIs(2);
  EXPECT_EQ(take(), (Log{"A:1", "B:1", "C:1", "A:tag2", "B:tag2", "C:tag2"}));
  box->itemIs(1, 10);
  box->itemDel(7);
  box->tagIs(2);
  box->tagDel(9);
  box->labelIs("");
  EXPECT_TRUE(take().empty()) << "a change that changes nothing is not delivered";
  // Registering again puts the reactor at the end.
  b->isRegisteredNotifieeIs(false);
  b->isRegisteredNotifieeIs(true);
  box->labelIs("x");
  EXPECT_EQ(take(), (Log{"A:label", "C:label", "B:label"}));
}

TEST_F(NotifieeTest, HandlerRunsBeforeTheMutatorReturnsAndSeesTheNewStateUnderATypedKey) {
  auto a = watch("A");
  std::vector<int> seen;  // the value under the delivered key, 0 once gone
  a->action = [&](Recorder& self, Attr attr, Key const& key) {
    if (attr == Box::attrLabel) {  // a scalar has no key
      EXPECT_FALSE(key);
      EXPECT_EQ(key.get<int>(), nullptr);
      return;
    }
    EXPECT_TRUE(key.present() && key.is<int>());
    EXPECT_FALSE(key.is<long>() || key.is<unsigned>());
    int const* v = self.notifierRaw()->item(keyOf(key));
    seen.push_back(v ? *v : 0);
  };
  box->itemIs(4, 40);
  box->itemDel(4);
  for (int k : {3, 1, 2}) box->itemIs(k, k);
  box->itemDelAll();
  box->labelIs("l");
  EXPECT_EQ(take(), (Log{"A:4", "A:4", "A:3", "A:1", "A:2", "A:1", "A:2", "A:3", "A:label"}));
  EXPECT_EQ(seen, (std::vector<int>{40, 0, 3, 1, 2, 0, 0, 0})) << "a removal is delivered after the element is gone";
  EXPECT_EQ(box->itemCount(), 0u);
}

// ---- the reactor list changed by a handler of the delivery running over it --------

enum class Act { unregister, nullNotifier, deactivate, zombie, destroy, reregister, registerNew };

struct ActCase {
  char const* name;
  int actor;   // index of the reactor (A, B, C) whose handler acts
  int target;  // index of the reactor it acts on
  Act how;
  Log first;   // the delivery in which the actor acts
  Log second;  // the next one
  std::size_t listed;        // reactors on the entity's list afterwards
  int liveInHandler;         // reactors alive right after the act
  int liveAfter;             // reactors alive after the delivery
};

void PrintTo(ActCase const& c, std::ostream* os) { *os << c.name; }

class NotifieeMidDeliveryTest : public NotifieeTest, public ::testing::WithParamInterface<ActCase> {};

TEST_P(NotifieeMidDeliveryTest, ChangeToTheReactorListTakesEffectFromTheNextReactorOn) {
  ActCase const& c = GetParam();
  abc();  // held by `reactors` only
  bool done = false;
  int liveInHandler = -1;
  reactors[c.actor]->action = [&](Recorder&, Attr, Key const&) {
    if (std::exchange(done, true)) return;
    Recorder& t = *reactors[c.target];
    switch (c.how) {
      case Act::unregister: t.isRegisteredNotifieeIs(false); break;
      case Act::nullNotifier: t.notifierIs(nullptr); break;
      case Act::deactivate: t.hasNotificationActiveIs(false); break;
      case Act::zombie: t.vornDoZombieReactors(true); break;
      case Act::destroy: reactors[c.target] = nullptr; break;  // the last reference
      case Act::reregister:  // off and on again: goes to the end, not called twice
        t.isRegisteredNotifieeIs(false);
        t.isRegisteredNotifieeIs(true);
        break;
      case Act::registerNew: watch("D"); break;  // sees only later changes
    }
    liveInHandler = Recorder::live;
  };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), c.first);
  EXPECT_EQ(liveInHandler, c.liveInHandler) << "a reactor outlives its own handler";
  EXPECT_EQ(Recorder::live, c.liveAfter);
  box->itemIs(2, 2);
  EXPECT_EQ(take(), c.second);
  EXPECT_EQ(box->notifieeCount(), c.listed);
}

Log const abc1{"A:1", "B:1", "C:1"};

INSTANTIATE_TEST_SUITE_P(
    Acts, NotifieeMidDeliveryTest,
    ::testing::Values(
        ActCase{"SelfUnregisters", 1, 1, Act::unregister, abc1, {"A:2", "C:2"}, 2, 3, 3},
        ActCase{"SelfRepointsToNull", 0, 0, Act::nullNotifier, abc1, {"B:2", "C:2"}, 2, 3, 3},
        ActCase{"SelfDropsLastReference", 1, 1, Act::destroy, abc1, {"A:2", "C:2"}, 2, 3, 2},
        ActCase{"SelfReregisters", 1, 1, Act::reregister, abc1, {"A:2", "C:2", "B:2"}, 3, 3, 3},
        ActCase{"NewReactorRegistered", 0, 0, Act::registerNew, abc1, {"A:2", "B:2", "C:2", "D:2"}, 4, 4, 4},
        ActCase{"LaterUnregistered", 0, 2, Act::unregister, {"A:1", "B:1"}, {"A:2", "B:2"}, 2, 3, 3},
        ActCase{"LaterDestroyed", 0, 2, Act::destroy, {"A:1", "B:1"}, {"A:2", "B:2"}, 2, 2, 2},
        ActCase{"LaterDeactivated", 0, 2, Act::deactivate, {"A:1", "B:1"}, {"A:2", "B:2"}, 3, 3, 3},
        ActCase{"LaterMarkedZombie", 0, 1, Act::zombie, {"A:1", "C:1"}, {"A:2", "C:2"}, 3, 3, 3},
        ActCase{"EarlierUnregistered", 1, 0, Act::unregister, abc1, {"B:2", "C:2"}, 2, 3, 3},
        ActCase{"EarlierRepointedToNull", 2, 0, Act::nullNotifier, abc1, {"B:2", "C:2"}, 2, 3, 3},
        ActCase{"EarlierDestroyed", 2, 0, Act::destroy, abc1, {"B:2", "C:2"}, 2, 2, 2}),
    [](::testing::TestParamInfo<ActCase> const& i) { return std::string(i.param.name); });

// ---- one observer kept inline, a list from the second on ---------------------------
//
// An entity keeps its only observer in place and moves to a heap list when a
// second registers; the list goes again once fewer than two are left and no
// delivery runs. Every step below is taken by A's handler during the first
// change (key 1), so each crosses between the two forms mid-delivery.

enum class Step { registerD, registerE, dropSelf, addSelf, destroySelf, dropB, dropD, nestedChange };

struct ShapeCase {
  char const* name;
  int initial;               // 1: A alone; 2: A then B
  std::vector<Step> steps;   // run by A's handler, once
  Log first;                 // the delivery of key 1
  Log second;                // the delivery of key 2
  std::size_t countAfter;    // observers registered afterwards
  bool listAfter;            // whether a heap list is left afterwards
};

void PrintTo(ShapeCase const& c, std::ostream* os) { *os << c.name; }

class NotifieeShapeTest : public NotifieeTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(NotifieeShapeTest, MovingBetweenOneObserverAndAListMidDeliveryKeepsTheDeliveryRules) {
  ShapeCase const& c = GetParam();
  Vorn::Ptr<Recorder> a = watch("A");
  Vorn::Ptr<Recorder> b = c.initial > 1 ? watch("B") : nullptr;
  EXPECT_EQ(box->notifieeList() != nullptr, c.initial > 1);
  Vorn::Ptr<Recorder> d;
  Recorder* rawA = a.ptr();
  a = nullptr;  // reactors[0] is A's only holder
  bool done = false;
  rawA->action = [&](Recorder&, Attr, Key const&) {
    if (std::exchange(done, true)) return;
    for (Step s : c.steps) {
      switch (s) {
        case Step::registerD: d = watch("D"); break;
        case Step::registerE: watch("E"); break;
        case Step::dropSelf: rawA->isRegisteredNotifieeIs(false); break;
        case Step::addSelf: rawA->isRegisteredNotifieeIs(true); break;
        case Step::destroySelf: reactors[0] = nullptr; break;  // alive until its handler returns
        case Step::dropB: b->isRegisteredNotifieeIs(false); break;
        case Step::dropD: d->isRegisteredNotifieeIs(false); break;
        case Step::nestedChange: box->itemIs(9, 9); break;
      }
    }
  };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), c.first);
  box->itemIs(2, 2);
  EXPECT_EQ(take(), c.second);
  EXPECT_EQ(box->notifieeCount(), c.countAfter);
  EXPECT_EQ(box->notifieeList() != nullptr, c.listAfter) << "the list is kept only for two or more";
  // Whatever form is left is whole: a reactor registered now is told last.
  watch("Z");
  box->labelIs("z");
  Log after = take();
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.back(), "Z:label");
  EXPECT_EQ(after.size(), c.countAfter + 1);
}

using S = Step;

INSTANTIATE_TEST_SUITE_P(
    Shapes, NotifieeShapeTest,
    ::testing::Values(
        ShapeCase{"OneGainsASecondWhileBeingDelivered", 1, {S::registerD}, {"A:1"}, {"A:2", "D:2"}, 2, true},
        ShapeCase{"OneLeavesThenANewcomerRegisters", 1, {S::dropSelf, S::registerD}, {"A:1"}, {"D:2"}, 1, false},
        ShapeCase{"OneLeavesAndComesBack", 1, {S::dropSelf, S::addSelf}, {"A:1"}, {"A:2"}, 1, false},
        ShapeCase{"OneHandsOverToANewcomer", 1, {S::registerD, S::dropSelf}, {"A:1"}, {"D:2"}, 1, false},
        ShapeCase{"OneDropsItselfThenANewcomerRegisters", 1, {S::destroySelf, S::registerD}, {"A:1"}, {"D:2"}, 1,
                  false},
        ShapeCase{"OneGainsTwoAndLosesOne", 1, {S::registerD, S::registerE, S::dropD}, {"A:1"}, {"A:2", "E:2"}, 2,
                  true},
        ShapeCase{"OneGainsANewcomerThatANestedChangeReaches", 1, {S::registerD, S::nestedChange},
                  {"A:1", "A:9", "D:9"}, {"A:2", "D:2"}, 2, true},
        ShapeCase{"OneLeavesAndANestedChangeReachesNobody", 1, {S::dropSelf, S::nestedChange}, {"A:1"}, {}, 0, false},
        ShapeCase{"TwoShrinkToOne", 2, {S::dropB}, {"A:1"}, {"A:2"}, 1, false},
        ShapeCase{"TwoShrinkToNone", 2, {S::dropB, S::dropSelf}, {"A:1"}, {}, 0, false},
        ShapeCase{"TwoShrinkToNoneThenGainANewcomer", 2, {S::dropSelf, S::dropB, S::registerD}, {"A:1"}, {"D:2"}, 1,
                  false},
        ShapeCase{"TwoShrinkToOneBeforeANestedChange", 2, {S::dropB, S::nestedChange}, {"A:1", "A:9"}, {"A:2"}, 1,
                  false},
        ShapeCase{"TwoLoseTheOneBeingDeliveredBeforeANestedChange", 2, {S::dropSelf, S::nestedChange},
                  {"A:1", "B:9", "B:1"}, {"B:2"}, 1, false},
        ShapeCase{"TwoLoseOneAndGainOne", 2, {S::dropB, S::registerD}, {"A:1"}, {"A:2", "D:2"}, 2, true}),
    [](::testing::TestParamInfo<ShapeCase> const& i) { return std::string(i.param.name); });

TEST_F(NotifieeTest, EntityReleasedByItsLoneObserverMidDeliveryLivesUntilTheDeliveryEnds) {
  auto a = watch("A");
  Box* raw = box.ptr();
  box = nullptr;
  int liveInHandler = -1;
  a->action = [&](Recorder& self, Attr, Key const& key) {
    self.notifierIs(nullptr);  // the last reference to the entity
    liveInHandler = Box::live;
    EXPECT_EQ(*raw->item(keyOf(key)), 5);
  };
  raw->itemIs(1, 5);
  EXPECT_EQ(take(), (Log{"A:1"}));
  EXPECT_EQ(liveInHandler, 1);
  EXPECT_EQ(Box::live, 0);
}

TEST_F(NotifieeTest, RepointingMovesTheRegistrationEvenMidDelivery) {
  auto other = Box::boxIs();
  auto a = watch("A");
  auto b = watch("B");
  a->action = [&](Recorder& self, Attr, Key const&) { self.notifierIs(other); };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "B:1"}));
  EXPECT_EQ(box->notifieeCount(), 1u);
  a->action = nullptr;
  a->notifierIs(other);  // same notifier: no second registration
  box->itemIs(2, 2);
  other->itemIs(3, 3);
  EXPECT_EQ(take(), (Log{"B:2", "A:3"}));
  a->notifierIs(nullptr);
  a->notifierIs(box);  // the registration survives a re-point through null
  box->itemIs(4, 4);
  EXPECT_EQ(take(), (Log{"B:4", "A:4"}));
}

TEST_F(NotifieeTest, EntityReleasedByItsReactorsMidDeliveryLivesUntilTheDeliveryEnds) {
  auto [a, b, c] = abc();
  Box* raw = box.ptr();
  box = nullptr;  // only the reactors hold it now
  a->action = [](Recorder& self, Attr, Key const&) { self.notifierIs(nullptr); };
  int liveInHandler = -1;
  int valueInHandler = -1;
  b->action = [&](Recorder&, Attr, Key const& key) {
    b->notifierIs(nullptr);
    c->notifierIs(nullptr);
    liveInHandler = Box::live;
    valueInHandler = *raw->item(keyOf(key));
  };
  raw->itemIs(1, 11);
  EXPECT_EQ(take(), (Log{"A:1", "B:1"})) << "reactors detached mid-delivery are not called";
  EXPECT_EQ(liveInHandler, 1);
  EXPECT_EQ(valueInHandler, 11);
  EXPECT_EQ(Box::live, 0) << "the entity goes once its delivery is over";
}

TEST_F(NotifieeTest, LastReactorDroppingItselfAndTheEntityTogether) {
  auto only = watch("A");
  reactors.clear();
  Box* raw = box.ptr();
  box = nullptr;  // the reactor holds the entity, `only` holds the reactor
  only->action = [&](Recorder&, Attr, Key const&) { only = nullptr; };
  raw->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1"}));
  EXPECT_EQ(Recorder::live, 0);
  EXPECT_EQ(Box::live, 0);
}

TEST_F(NotifieeTest, DetachInANestedDeliveryHoldsForTheOuterOne) {
  auto [a, b, c] = abc();
  a->action = [&](Recorder&, Attr, Key const& key) {
    if (keyOf(key) == 1) box->itemIs(2, 2);
  };
  b->action = [&](Recorder& self, Attr, Key const& key) {
    if (keyOf(key) == 2) self.isRegisteredNotifieeIs(false);
  };
  c->action = [&](Recorder&, Attr, Key const& key) {
    if (keyOf(key) == 2) watch("D");  // registered in the inner delivery
  };
  box->itemIs(1, 1);
  EXPECT_EQ(take(), (Log{"A:1", "A:2", "B:2", "C:2", "C:1"}));
  a->action = nullptr;
  c->action = nullptr;
  box->itemIs(3, 3);
  EXPECT_EQ(take(), (Log{"A:3", "C:3", "D:3"}));
  EXPECT_EQ(box->notifieeCount(), 3u);
}

TEST_F(NotifieeTest, HandlerRemovingTheElementItWasToldAbout) {
  auto a = watch("A");
  watch("B");
  a->action = [&](Recorder&, Attr, Key const& key) {
    if (box->item(keyOf(key))) box->itemDel(keyOf(key));
  };
  box->itemIs(8, 1);
  EXPECT_EQ(take(), (Log{"A:8", "A:8", "B:8", "B:8"}));
  EXPECT_EQ(box->itemCount(), 0u);
}

TEST_F(NotifieeTest, RemovingEverythingWhileHandlersAddAndRemoveEndsEmpty) {
  auto a = watch("A");
  for (int k : {1, 2, 3}) box->itemIs(k, k);
  box->tagIs(2);
  box->tagIs(1);
  take();
  a->action = [&](Recorder&, Attr attr, Key const& key) {
    if (keyOf(key) != 1) return;
    if (attr == Box::attrTag) {
      box->tagDel(2);
      return;
    }
    box->itemDel(3);    // a later element goes from under the loop
    box->itemIs(5, 5);  // and a new one appears
  };
  box->itemDelAll();
  EXPECT_EQ(take(), (Log{"A:1", "A:3", "A:5", "A:2", "A:5"}));
  EXPECT_EQ(box->itemCount(), 0u);
  box->tagDelAll();
  EXPECT_EQ(take(), (Log{"A:tag1", "A:tag2"}));
  EXPECT_FALSE(box->tag(1) || box->tag(2));
}

TEST_F(NotifieeTest, RemovingByAReferenceIntoTheRemovedElement) {
  auto a = watch("A");
  box->itemIs(4, 40);
  box->tagIs(6);
  take();
  std::vector<int> keys;
  a->action = [&](Recorder&, Attr, Key const& key) { keys.push_back(keyOf(key)); };
  // The key argument lives in the element being removed.
  EXPECT_EQ(box->itemDel(*box->firstItemKey()), 40);
  box->tagDel(*box->firstTag());
  EXPECT_EQ(keys, (std::vector<int>{4, 6}));
  EXPECT_EQ(box->itemDel(4), 0) << "removing an absent key gives the default value";
  EXPECT_EQ(take(), (Log{"A:4", "A:tag6"}));
}

TEST_F(NotifieeTest, DeliveryNeedsEntityOnAndReactorRegisteredActiveAndUnmarked) {
  watch("A");
  box->hasNotificationActiveIs(false);
  box->itemIs(1, 1);
  box->labelIs("x");
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(box->label(), "x") << "the change itself still happens";
  box->hasNotificationActiveIs(true);

  Vorn::Ptr<Box> fresh = Vorn::make<Box>();  // starts switched off
  watch("F", fresh);
  fresh->itemIs(1, 1);
  auto recorder = [&](char const* name, bool active, bool registered) {
    auto r = Vorn::make<Recorder>(name, &log);
    if (active) r->hasNotificationActiveIs(true);  // a new reactor starts inactive
    r->isRegisteredNotifieeIs(registered);         // before the notifier is set: attaches once it is
    return r;
  };
  auto inactive = recorder("I", false, true);
  auto unregistered = recorder("U", true, false);
  auto zombie = recorder("Z", true, true);
  zombie->vornDoZombieReactors(true);  // marked before it had a notifier
  auto early = recorder("E", true, true);
  for (auto const& r : {inactive, unregistered, zombie, early}) r->notifierIs(box);
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:2", "E:2"}));
  inactive->hasNotificationActiveIs(true);
  box->itemIs(3, 3);
  EXPECT_EQ(take(), (Log{"A:3", "I:3", "E:3"}));
}

TEST_F(NotifieeTest, ZombieMarkStopsAndResumesDelivery) {
  auto a = watch("A");
  auto b = watch("B");
  b->vornDoZombieReactors(true);
  EXPECT_TRUE(b->isZombie());
  box->itemIs(1, 1);
  b->vornDoZombieReactors(true);  // a second mark is the same mark
  box->itemIs(2, 2);
  EXPECT_EQ(take(), (Log{"A:1", "A:2"}));
  b->vornDoZombieReactors(false);
  EXPECT_FALSE(b->isZombie());
  box->itemIs(3, 3);
  EXPECT_EQ(take(), (Log{"A:3", "B:3"}));
  // Unmarking a reactor that is not a zombie does not switch it on.
  a->hasNotificationActiveIs(false);
  a->vornDoZombieReactors(false);
  box->itemIs(4, 4);
  EXPECT_EQ(take(), (Log{"B:4"}));
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
  EXPECT_EQ(box->notifieeCount(), 0u);
  EXPECT_EQ(box->references(), 1u);
  // Marked before it goes: the destructor does not run the step again.
  {
    Vorn::Ptr<SelfZombifying> r = Vorn::make<SelfZombifying>();
    r->notifierIs(box);
    r->vornDoZombieReactors(true);
  }
  EXPECT_EQ(SelfZombifying::finalPasses, 2);
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

}  // namespace
