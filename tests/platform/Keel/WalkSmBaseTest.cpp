#include "Keel/WalkSmBase.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Keel::TaskScheduler;
using Keel::WalkRet;
using Keel::WalkSmBase;
using Visits = std::vector<int>;

// A walk over `items` that records every trace event and notification, and
// counts how often each item was visited.
class ItemWalk : public WalkSmBase {
 public:
  ItemWalk(Vorn::Ptr<TaskScheduler> const& s, std::size_t items, std::string* log, bool* destroyed = nullptr)
      : WalkSmBase(s, 10, "itemWalk"), visits(items, 0), log_(log), destroyed_(destroyed) {}
  ~ItemWalk() override {
    if (destroyed_) *destroyed_ = true;
  }

  Visits visits;
  bool refuse = false;
  bool restarts = false;
  std::function<void(std::size_t)> onItem;  // runs after visiting an item

 protected:
  bool allowWalkRestarts() const override { return restarts; }
  bool walkStartedNotification() override {
    record("N:started");
    next_ = 0;
    return !refuse;
  }
  void walkFinishedNotification() override { record("N:finished"); }
  void traceEvent(TraceEvent e) const override { record(traceEventName(e)); }

  WalkRet walk() override {
    std::uint32_t done = 0;
    while (next_ < visits.size()) {
      std::size_t item = next_++;
      ++visits[item];
      ++done;
      if (onItem) onItem(item);
      if (mustYield()) break;
    }
    return {next_ < visits.size(), done};
  }

 private:
  void record(std::string const& what) const { *log_ += (log_->empty() ? "" : " ") + what; }
  std::size_t next_ = 0;
  std::string* log_;
  bool* destroyed_;
};

// The events of a walk that starts and finishes in one go.
std::string const wholeWalk = "walkScheduled walkStarted N:started walkFinished N:finished";

class WalkSmBaseTest : public ::testing::Test {
 protected:
  Vorn::Ptr<ItemWalk> walkOf(std::size_t items) { return Vorn::make<ItemWalk>(sched_, items, &log_); }
  std::string trail() { return std::exchange(log_, {}); }

  Vorn::Ptr<TaskScheduler> sched_ = Vorn::make<TaskScheduler>();
  std::string log_;
};

// ---- slicing ----------------------------------------------------------------------------

TEST_F(WalkSmBaseTest, ThrowingWalkIsAbandonedAndCanBeScheduledAgain) {
  auto w = walkOf(3);
  bool fail = true;
  w->onItem = [&](std::size_t) {
    if (fail) throw std::runtime_error("walk failed");
  };
  w->scheduleWalk();
  EXPECT_THROW(sched_->runSlice(), std::runtime_error);
  EXPECT_FALSE(w->walkInProgress());
  EXPECT_FALSE(w->walkScheduled());
  fail = false;
  w->scheduleWalk();
  sched_->runUntilIdle();
  EXPECT_EQ(w->visits, (Visits{2, 1, 1}));  // a fresh walk from the first item
}

// ---- scheduling during a walk ---------------------------------------------------------------

TEST_F(WalkSmBaseTest, RestartRequestedDuringAWalkRunsAFreshWalkAfterIt) {
  sched_->itemBudgetIs(1);
  auto w = walkOf(3);
  w->restarts = true;
  bool asked = false;
  w->onItem = [&](std::size_t item) {
    if (item == 1 && !std::exchange(asked, true)) w->scheduleWalk();
  };
  w->scheduleWalk();
  sched_->runSlice();  // item 0; yields and is queued
  sched_->runSlice();  // item 1 asks for a restart
  EXPECT_TRUE(w->walkRestartPending());
  EXPECT_EQ(sched_->queuedTasks(), 1u);  // still one task: the walk continues
  sched_->runSlice();  // item 2: walk ends, fresh walk queued
  EXPECT_TRUE(w->walkScheduled());
  EXPECT_FALSE(w->walkInProgress());
  EXPECT_EQ(w->visits, (Visits{1, 1, 1}));
  sched_->runUntilIdle();
  EXPECT_EQ(w->visits, (Visits{2, 2, 2}));
  EXPECT_EQ(trail(), "walkScheduled walkStarted N:started walkYielded walkYielded walkFinished "
                     "N:finished walkRestarted walkStarted N:started walkYielded walkYielded walkFinished N:finished");
}

// ---- lifetime -------------------------------------------------------------------------------

// Schedules its walk from its constructor, while its count is still zero.
class EagerWalk : public ItemWalk {
 public:
  EagerWalk(Vorn::Ptr<TaskScheduler> const& s, std::string* log, bool* destroyed) : ItemWalk(s, 2, log, destroyed) {
    scheduleWalk();
  }
};

TEST_F(WalkSmBaseTest, WalkScheduledFromAConstructorIsCancelledWhenTheObjectGoes) {
  bool destroyed = false;
  Vorn::Ptr<EagerWalk> w(new EagerWalk(sched_, &log_, &destroyed));
  EXPECT_EQ(w->references(), 1u);  // queueing took no reference
  EXPECT_TRUE(w->walkScheduled());
  w = nullptr;
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(sched_->idle());
  EXPECT_EQ(sched_->runUntilIdle(), 0u);
}

TEST_F(WalkSmBaseTest, LastReferenceDroppedDuringAWalkDeletesItAfterTheSlice) {
  sched_->itemBudgetIs(1);
  bool destroyed = false;
  Vorn::Ptr<EagerWalk> w(new EagerWalk(sched_, &log_, &destroyed));
  bool aliveAfterRelease = false;
  w->onItem = [&](std::size_t) {
    w = nullptr;
    aliveAfterRelease = !destroyed;
  };
  EXPECT_TRUE(sched_->runSlice());
  EXPECT_TRUE(aliveAfterRelease);
  EXPECT_TRUE(destroyed);       // after the slice, with its walk queued to resume...
  EXPECT_TRUE(sched_->idle());  // ...which its destructor cancelled
}

}  // namespace
