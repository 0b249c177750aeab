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
using Event = WalkSmBase::TraceEvent;
using Log = std::vector<std::string>;

// A walk over `items` that records every trace event and notification, and
// counts how often each item was visited.
class ItemWalk : public WalkSmBase {
 public:
  ItemWalk(Vorn::Ptr<TaskScheduler> const& s, std::size_t items, Log* log,
           bool* destroyed = nullptr)
      : WalkSmBase(s, 10, "itemWalk"), visits(items, 0), log_(log), destroyed_(destroyed) {}
  ~ItemWalk() override {
    if (destroyed_) *destroyed_ = true;
  }

  std::vector<int> visits;
  bool refuse = false;
  bool restarts = false;
  bool continues = true;
  std::uint32_t delay = 0;
  std::function<void(std::size_t)> onItem;  // runs after visiting an item

 protected:
  std::uint32_t initialScheduleDelay() const override { return delay; }
  bool untilNoMoreWork() const override { return continues; }
  bool allowWalkRestarts() const override { return restarts; }
  void walkScheduledNotification() override { log_->push_back("N:scheduled"); }
  void walkAbortedNotification() override { log_->push_back("N:aborted"); }
  bool walkStartedNotification() override {
    log_->push_back("N:started");
    if (refuse) return false;
    next_ = 0;
    return true;
  }
  void walkFinishedNotification() override { log_->push_back("N:finished"); }
  void traceEvent(Event e) const override { log_->push_back(traceEventName(e)); }

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
  std::size_t next_ = 0;
  Log* log_;
  bool* destroyed_;
};

class WalkSmBaseTest : public ::testing::Test {
 protected:
  Vorn::Ptr<TaskScheduler> sched_ = Vorn::make<TaskScheduler>();
  Log log_;
};

// ---- slicing ----------------------------------------------------------------------------

TEST_F(WalkSmBaseTest, BudgetOfOneYieldsAfterEveryItemAndVisitsEachItemOnce) {
  sched_->itemBudgetIs(1);
  auto w = Vorn::make<ItemWalk>(sched_, 4, &log_);
  w->scheduleWalk();
  w->scheduleWalk();  // already queued: nothing more
  EXPECT_EQ(sched_->queuedTasks(), 1u);

  EXPECT_TRUE(sched_->runSlice());
  EXPECT_TRUE(w->walkInProgress());
  EXPECT_TRUE(w->walkScheduled());  // queued again to resume
  EXPECT_EQ(w->visits, (std::vector<int>{1, 0, 0, 0}));

  EXPECT_EQ(sched_->runUntilIdle(), 3u);
  EXPECT_EQ(w->visits, (std::vector<int>{1, 1, 1, 1}));
  EXPECT_FALSE(w->walkInProgress());
  EXPECT_FALSE(w->walkScheduled());
  EXPECT_EQ(w->walkCount(), 4u);
  EXPECT_EQ(log_, (Log{"walkScheduled", "N:scheduled", "walkStarted", "N:started", "walkYielded",
                       "walkYielded", "walkYielded", "walkFinished", "N:finished"}));
}

TEST_F(WalkSmBaseTest, WalkThatIsNotUntilNoMoreWorkEndsAfterOneCall) {
  sched_->itemBudgetIs(2);
  auto w = Vorn::make<ItemWalk>(sched_, 5, &log_);
  w->continues = false;
  w->scheduleWalk();
  EXPECT_EQ(sched_->runUntilIdle(), 1u);
  EXPECT_EQ(w->visits, (std::vector<int>{1, 1, 0, 0, 0}));
  EXPECT_FALSE(w->walkInProgress());
  EXPECT_EQ(log_.back(), "N:finished");
}

TEST_F(WalkSmBaseTest, InitialDelayGivesUpTurnsBeforeTheWalkStarts) {
  Log other;
  struct Other : Keel::Task {
    Other(Log* l) : Task(10, "other"), log(l) {}
    void run() override { log->push_back("other"); }
    Log* log;
  } o1(&other), o2(&other);
  auto w = Vorn::make<ItemWalk>(sched_, 1, &log_);
  w->delay = 2;
  w->onItem = [&](std::size_t) { other.push_back("walk"); };
  w->scheduleWalk();
  sched_->taskIs(&o1);
  sched_->runSlice();  // the walk's first turn, given up
  sched_->taskIs(&o2);
  sched_->runUntilIdle();
  EXPECT_EQ(other, (Log{"other", "other", "walk"}));
  EXPECT_EQ(log_, (Log{"walkScheduled", "N:scheduled", "walkStarted", "N:started", "walkFinished",
                       "N:finished"}));
}

TEST_F(WalkSmBaseTest, ThrowingWalkIsAbandonedAndCanBeScheduledAgain) {
  auto w = Vorn::make<ItemWalk>(sched_, 3, &log_);
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
  EXPECT_EQ(w->visits, (std::vector<int>{2, 1, 1}));  // a fresh walk from the first item
}

// ---- scheduling during a walk ---------------------------------------------------------------

TEST_F(WalkSmBaseTest, RefusedWalkIsDroppedAndALaterScheduleRunsIt) {
  auto w = Vorn::make<ItemWalk>(sched_, 2, &log_);
  w->refuse = true;
  w->scheduleWalk();
  EXPECT_EQ(sched_->runUntilIdle(), 1u);
  EXPECT_FALSE(w->walkScheduled());
  EXPECT_FALSE(w->walkInProgress());
  EXPECT_EQ(w->visits, (std::vector<int>{0, 0}));
  EXPECT_EQ(log_, (Log{"walkScheduled", "N:scheduled", "walkStarted", "N:started", "walkRefused",
                       "N:aborted"}));

  log_.clear();
  w->refuse = false;
  w->scheduleWalk();
  sched_->runUntilIdle();
  EXPECT_EQ(w->visits, (std::vector<int>{1, 1}));
  EXPECT_EQ(log_, (Log{"walkScheduled", "N:scheduled", "walkStarted", "N:started", "walkFinished",
                       "N:finished"}));
}

TEST_F(WalkSmBaseTest, RestartRequestedDuringAWalkRunsAFreshWalkAfterIt) {
  sched_->itemBudgetIs(1);
  auto w = Vorn::make<ItemWalk>(sched_, 3, &log_);
  w->restarts = true;
  bool asked = false;
  w->onItem = [&](std::size_t item) {
    if (item == 1 && !asked) {
      asked = true;
      w->scheduleWalk();
    }
  };
  w->scheduleWalk();
  sched_->runSlice();  // item 0; yields and is queued
  EXPECT_EQ(sched_->queuedTasks(), 1u);
  sched_->runSlice();  // item 1 asks for a restart
  EXPECT_TRUE(w->walkRestartPending());
  EXPECT_EQ(sched_->queuedTasks(), 1u);  // still one task: the walk continues
  sched_->runSlice();  // item 2: walk ends, fresh walk queued
  EXPECT_TRUE(w->walkScheduled());
  EXPECT_FALSE(w->walkInProgress());
  EXPECT_EQ(w->visits, (std::vector<int>{1, 1, 1}));
  sched_->runUntilIdle();
  EXPECT_EQ(w->visits, (std::vector<int>{2, 2, 2}));
  EXPECT_EQ(log_, (Log{"walkScheduled", "N:scheduled", "walkStarted", "N:started", "walkYielded",
                       "walkYielded", "walkFinished", "N:finished", "walkRestarted", "walkStarted",
                       "N:started", "walkYielded", "walkYielded", "walkFinished", "N:finished"}));
}

TEST_F(WalkSmBaseTest, ScheduleDuringAWalkWithoutRestartsIsIgnored) {
  sched_->itemBudgetIs(1);
  auto w = Vorn::make<ItemWalk>(sched_, 2, &log_);
  w->onItem = [&](std::size_t) { w->scheduleWalk(); };
  w->scheduleWalk();
  sched_->runUntilIdle();
  EXPECT_EQ(w->visits, (std::vector<int>{1, 1}));
  EXPECT_FALSE(w->walkScheduled());
  EXPECT_FALSE(w->walkRestartPending());
}

// ---- lifetime -------------------------------------------------------------------------------

// Schedules its walk from its constructor, while its count is still zero.
class EagerWalk : public ItemWalk {
 public:
  EagerWalk(Vorn::Ptr<TaskScheduler> const& s, Log* log, bool* destroyed)
      : ItemWalk(s, 2, log, destroyed) {
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
  EagerWalk* raw = w.ptr();
  bool aliveAfterRelease = false;
  raw->onItem = [&](std::size_t) {
    w = nullptr;
    aliveAfterRelease = !destroyed;
  };
  EXPECT_TRUE(sched_->runSlice());
  EXPECT_TRUE(aliveAfterRelease);
  EXPECT_TRUE(destroyed);     // after the slice, with its walk queued to resume...
  EXPECT_TRUE(sched_->idle());  // ...which its destructor cancelled
}

TEST_F(WalkSmBaseTest, UncountedWalkOnTheStackIsNotDeletedByItsSlices) {
  bool destroyed = false;
  {
    sched_->itemBudgetIs(1);
    ItemWalk w(sched_, 3, &log_, &destroyed);
    w.scheduleWalk();
    EXPECT_EQ(sched_->runUntilIdle(), 3u);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(w.visits, (std::vector<int>{1, 1, 1}));
    w.scheduleWalk();  // left queued: the destructor must cancel it
  }
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(sched_->runUntilIdle(), 0u);
}

}  // namespace
