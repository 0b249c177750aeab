// Intrusive counting under abuse: every case counts live instances and
// destructor runs, so a leak or a second delete shows as a wrong count (and,
// under the sanitizers, as a report).
#include "Vorn/Ptr.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Vorn/Notifiee.h"

namespace {

struct Counted : Vorn::PtrInterface {
  static inline int live = 0;
  static inline int destructions = 0;

  Counted() { ++live; }
  explicit Counted(int v) : value(v) { ++live; }
  Counted(Counted const& o) : Vorn::PtrInterface(o), value(o.value) { ++live; }
  ~Counted() override {
    --live;
    ++destructions;
  }
  int value = 0;
};

struct Derived : Counted {
  using Counted::Counted;
  int extra = 7;
};

// A node that owns the next one: releasing the head releases the chain.
struct Node : Counted {
  Vorn::Ptr<Node> next;
};

class PtrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Counted::live = 0;
    Counted::destructions = 0;
  }
  void TearDown() override { EXPECT_EQ(Counted::live, 0) << "an object leaked or was never released"; }
};

TEST_F(PtrTest, LastReleaseDeletesExactlyOnce) {
  Vorn::Ptr<Counted> a = Vorn::make<Counted>(3);
  EXPECT_EQ(a->references(), 1u);
  {
    Vorn::Ptr<Counted> b = a;
    Vorn::Ptr<Counted> c;
    c = b;
    EXPECT_EQ(a->references(), 3u);
    Vorn::Ptr<Counted> d = std::move(c);
    EXPECT_FALSE(c);
    EXPECT_EQ(a->references(), 3u) << "a move must not add a reference";
  }
  Vorn::Ptr<Counted>& alias = a;
  a = alias;
  a = std::move(alias);
  ASSERT_TRUE(a) << "self-assignment keeps the object";
  EXPECT_EQ(a->references(), 1u);
  Vorn::Ptr<Counted> n;
  EXPECT_TRUE(n == nullptr);
  EXPECT_FALSE(a == n);
  a = nullptr;
  EXPECT_FALSE(a);
  EXPECT_EQ(Counted::live, 0);
  EXPECT_EQ(Counted::destructions, 1);
  // Assigning one object over another releases the old one.
  a = Vorn::make<Counted>(1);
  Vorn::Ptr<Counted> b = Vorn::make<Counted>(2);
  a = b;
  EXPECT_EQ(Counted::live, 1);
  EXPECT_EQ(a->value, 2);
  b = Vorn::make<Counted>(3);  // move-assign a temporary
  EXPECT_EQ(Counted::live, 2);
  EXPECT_EQ(a->references(), 1u);
  EXPECT_EQ(b->references(), 1u);
}

// The classic intrusive-pointer trap: the source of the assignment is owned by
// the object the assignment releases.
TEST_F(PtrTest, AssigningFromAMemberOfTheReleasedObjectIsSafe) {
  Vorn::Ptr<Node> head = Vorn::make<Node>();
  head->next = Vorn::make<Node>();
  head->next->next = Vorn::make<Node>();
  head->next->next->value = 3;
  head = head->next;
  EXPECT_EQ(Counted::live, 2);
  head = std::move(head->next);
  EXPECT_EQ(Counted::live, 1);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->value, 3);
  EXPECT_EQ(head->references(), 1u);
}

TEST_F(PtrTest, CopyingAnObjectCopiesNeitherItsCountNorItsObservers) {
  struct Observed : Vorn::NotifierBase {};
  struct Watcher : Vorn::NotifieeConstOf<Observed> {};
  Vorn::Ptr<Observed> a = Vorn::make<Observed>();
  Vorn::Ptr<Observed> keep = a;
  Vorn::Ptr<Watcher> w = Vorn::make<Watcher>();
  w->notifierIs(a);
  w->isRegisteredNotifieeIs(true);
  ASSERT_EQ(a->references(), 3u);
  Vorn::Ptr<Observed> b(new Observed(*a));
  EXPECT_EQ(b->references(), 1u) << "the copy starts its own count";
  EXPECT_EQ(b->notifieeCount(), 0u);
  b = nullptr;  // must not touch the original's count or free its list
  EXPECT_EQ(a->references(), 3u);
  EXPECT_EQ(a->notifieeCount(), 1u);
}

TEST_F(PtrTest, DerivedConvertsToBaseSharingOneCount) {
  Vorn::Ptr<Derived> d = Vorn::make<Derived>(2);
  Vorn::Ptr<Counted> base = d;
  Vorn::Ptr<Vorn::PtrInterface const> root = d;
  EXPECT_EQ(d->references(), 3u);
  EXPECT_TRUE(base == d);
  EXPECT_TRUE(root == base);
  EXPECT_TRUE(d == static_cast<Counted*>(d.ptr()));
  EXPECT_EQ(std::hash<Vorn::Ptr<Counted>>()(base), std::hash<Derived*>()(d.ptr()));
  EXPECT_EQ(std::hash<Vorn::Ptr<Counted>>()(nullptr), std::hash<Counted*>()(nullptr));

  Vorn::Ptr<Counted> moved = std::move(d);
  EXPECT_FALSE(d);
  EXPECT_EQ(moved->references(), 3u) << "a converting move must not add a reference";
  Vorn::Ptr<Derived> back = Vorn::ptr_static_cast<Derived>(moved);
  EXPECT_EQ(back->extra, 7);
  Vorn::Ptr<Counted const> view = moved;
  Vorn::Ptr<Counted> mutableAgain = Vorn::ptr_const_cast<Counted>(view);
  EXPECT_EQ(back->references(), 6u);
  view = nullptr;
  mutableAgain = nullptr;
  back = nullptr;
  moved = nullptr;
  base = nullptr;
  EXPECT_EQ(Counted::live, 1);
  root = nullptr;  // the last reference is typed as the root: the virtual
                   // destructor must still run the derived destructors
  EXPECT_EQ(Counted::live, 0);
  EXPECT_EQ(Counted::destructions, 1);
}

// An object whose destructor builds and drops a Ptr to itself, the way a
// reactor's destructor runs its zombie step on a half-destroyed object.
struct SelfReferencingOnDestroy : Counted {
  static inline int zeroCalls = 0;
  static inline bool sawBeingDestroyed = false;
  static inline std::uint32_t refsSeen = 99;
  ~SelfReferencingOnDestroy() override {
    sawBeingDestroyed = beingDestroyed();
    Vorn::Ptr<SelfReferencingOnDestroy> self(this);
    std::vector<Vorn::Ptr<Vorn::PtrInterface const>> pending{self, self};
    refsSeen = references();
    pending.clear();
    self = nullptr;
  }
  void zeroReferencesIs() const override {
    ++zeroCalls;
    Counted::zeroReferencesIs();
  }
};

TEST_F(PtrTest, PtrTakenInsideTheDestructorDoesNotDeleteAgain) {
  SelfReferencingOnDestroy::zeroCalls = 0;
  SelfReferencingOnDestroy::sawBeingDestroyed = false;
  Vorn::Ptr<SelfReferencingOnDestroy> p = Vorn::make<SelfReferencingOnDestroy>();
  Vorn::Ptr<SelfReferencingOnDestroy> q = p;
  p = nullptr;
  EXPECT_EQ(Counted::live, 1);
  q = nullptr;
  EXPECT_EQ(SelfReferencingOnDestroy::zeroCalls, 1);
  EXPECT_EQ(Counted::destructions, 1);
  EXPECT_TRUE(SelfReferencingOnDestroy::sawBeingDestroyed);
  EXPECT_EQ(SelfReferencingOnDestroy::refsSeen, 0u) << "an object being destroyed reports no references";
}

// Switches the process to atomic counts for one case and back.
class ThreadSafeCounts {
 public:
  ThreadSafeCounts() : saved_(Vorn::PtrInterface::threadSafePtr()) { Vorn::PtrInterface::threadSafePtrIs(true); }
  ~ThreadSafeCounts() { Vorn::PtrInterface::threadSafePtrIs(saved_); }

 private:
  bool saved_;
};

TEST_F(PtrTest, ThreadSafeCountsSurviveConcurrentCopiesAndReleaseOnce) {
  bool const before = Vorn::PtrInterface::threadSafePtr();
  {
    ThreadSafeCounts on;
    EXPECT_TRUE(Vorn::PtrInterface::threadSafePtr());
    Vorn::Ptr<Counted const> shared = Vorn::make<Counted>();
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
      // Each thread owns one reference and hammers the count with its own.
      threads.emplace_back([mine = shared]() mutable {
        for (int i = 0; i < 200000; ++i) {
          Vorn::Ptr<Counted const> copy = mine;
          Vorn::Ptr<Vorn::PtrInterface const> up = copy;
        }
        mine = nullptr;  // the last of these may be the last reference
      });
    }
    shared = nullptr;
    for (auto& th : threads) th.join();
    EXPECT_EQ(Counted::live, 0);
    EXPECT_EQ(Counted::destructions, 1);
  }
  EXPECT_EQ(Vorn::PtrInterface::threadSafePtr(), before) << "the switch must be restored";

  // Objects counted while the switch was on keep working after it is off.
  Vorn::Ptr<Counted> a;
  {
    ThreadSafeCounts on;
    a = Vorn::make<Counted>();
  }
  Vorn::Ptr<Counted> b = a;
  EXPECT_EQ(a->references(), 2u);
}

}  // namespace
