#include "Keel/TaskScheduler.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Keel::Task;
using Keel::TaskPriority;
using Keel::TaskScheduler;

// A task that logs its name and then runs an optional body.
class LogTask : public Task {
 public:
  LogTask(TaskPriority p, std::string name, std::vector<std::string>* log,
          Vorn::PtrInterface* owner = nullptr)
      : Task(p, std::move(name), owner), log_(log) {}
  void run() override {
    log_->push_back(name());
    if (body) body();
  }
  std::function<void()> body;

 private:
  std::vector<std::string>* log_;
};

// A counted owner with a task member, reporting its destruction.
class Owner : public Vorn::PtrInterface {
 public:
  Owner(std::vector<std::string>* log, bool* destroyed)
      : task(5, "owned", log, this), destroyed_(destroyed) {}
  ~Owner() override { *destroyed_ = true; }
  LogTask task;

 private:
  bool* destroyed_;
};

class TaskSchedulerTest : public ::testing::Test {
 protected:
  Vorn::Ptr<TaskScheduler> sched_ = Vorn::make<TaskScheduler>();
  std::vector<std::string> log_;
};

// ---- order ------------------------------------------------------------------------------

TEST_F(TaskSchedulerTest, LowerPriorityRunsFirstAndEqualPrioritiesRunInQueueOrder) {
  LogTask a(20, "a", &log_), b(10, "b", &log_), c(20, "c", &log_), d(10, "d", &log_), e(0, "e", &log_);
  for (Task* t : {static_cast<Task*>(&a), static_cast<Task*>(&b), static_cast<Task*>(&c),
                  static_cast<Task*>(&d), static_cast<Task*>(&e)}) {
    sched_->taskIs(t);
  }
  EXPECT_EQ(sched_->runUntilIdle(), 5u);
  EXPECT_EQ(log_, (std::vector<std::string>{"e", "b", "d", "a", "c"}));
}

TEST_F(TaskSchedulerTest, QueueingAQueuedTaskKeepsItsPlaceAndRunsItOnce) {
  LogTask a(1, "a", &log_), b(1, "b", &log_);
  sched_->taskIs(&a);
  sched_->taskIs(&b);
  sched_->taskIs(&a);
  EXPECT_EQ(sched_->queuedTasks(), 2u);
  sched_->runUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"a", "b"}));
}

TEST_F(TaskSchedulerTest, TaskRequeuedFromItsRunGoesBehindItsPeers) {
  LogTask a(1, "a", &log_), b(1, "b", &log_);
  int runsOfA = 0;
  a.body = [&] {
    if (++runsOfA < 3) sched_->taskIs(&a);
  };
  sched_->taskIs(&a);
  sched_->taskIs(&b);
  EXPECT_EQ(sched_->runUntilIdle(), 4u);
  EXPECT_EQ(log_, (std::vector<std::string>{"a", "b", "a", "a"}));
  EXPECT_FALSE(a.queued());
}

TEST_F(TaskSchedulerTest, HigherPriorityTaskQueuedDuringRunOvertakesWaitingTasks) {
  LogTask low(50, "low", &log_), urgent(1, "urgent", &log_), first(10, "first", &log_);
  first.body = [&] { sched_->taskIs(&urgent); };
  sched_->taskIs(&first);
  sched_->taskIs(&low);
  sched_->runUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"first", "urgent", "low"}));
}

// ---- running ------------------------------------------------------------------------------

TEST_F(TaskSchedulerTest, RunSliceOnIdleSchedulerRunsNothing) {
  EXPECT_FALSE(sched_->runSlice());
  EXPECT_EQ(sched_->slicesRun(), 0u);
  EXPECT_EQ(sched_->runUntilIdle(), 0u);
}

TEST_F(TaskSchedulerTest, RunUntilIdleStopsAfterMaxSlices) {
  LogTask forever(1, "forever", &log_);
  forever.body = [&] { sched_->taskIs(&forever); };
  sched_->taskIs(&forever);
  EXPECT_EQ(sched_->runUntilIdle(7), 7u);
  EXPECT_EQ(log_.size(), 7u);
  EXPECT_EQ(sched_->slicesRun(), 7u);
  EXPECT_FALSE(sched_->idle());
  sched_->taskDel(&forever);
  EXPECT_TRUE(sched_->idle());
}

TEST_F(TaskSchedulerTest, ThrowingTaskLeavesTheQueueConsistent) {
  LogTask bad(1, "bad", &log_), good(2, "good", &log_);
  bad.body = [] { throw std::runtime_error("boom"); };
  sched_->taskIs(&bad);
  sched_->taskIs(&good);
  EXPECT_THROW(sched_->runSlice(), std::runtime_error);
  EXPECT_FALSE(bad.queued());
  EXPECT_EQ(sched_->runUntilIdle(), 1u);
  EXPECT_EQ(log_, (std::vector<std::string>{"bad", "good"}));
}

// ---- cancelling ----------------------------------------------------------------------------

TEST_F(TaskSchedulerTest, CancelledTaskDoesNotRun) {
  LogTask a(1, "a", &log_), b(1, "b", &log_);
  sched_->taskIs(&a);
  sched_->taskIs(&b);
  sched_->taskDel(&a);
  sched_->taskDel(&a);  // not queued any more: no-op
  EXPECT_FALSE(a.queued());
  sched_->runUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"b"}));
}

TEST_F(TaskSchedulerTest, DestroyingAQueuedTaskTakesItOffTheQueue) {
  auto doomed = std::make_unique<LogTask>(1, "doomed", &log_);
  LogTask survivor(1, "survivor", &log_);
  sched_->taskIs(doomed.get());
  sched_->taskIs(&survivor);
  doomed.reset();
  EXPECT_EQ(sched_->queuedTasks(), 1u);
  EXPECT_EQ(sched_->runUntilIdle(), 1u);
  EXPECT_EQ(log_, (std::vector<std::string>{"survivor"}));
}

TEST_F(TaskSchedulerTest, TaskDestroyedByAnEarlierTaskOfTheSameSliceRunDoesNotRun) {
  auto victim = std::make_unique<LogTask>(2, "victim", &log_);
  LogTask killer(1, "killer", &log_);
  killer.body = [&] { victim.reset(); };
  sched_->taskIs(victim.get());
  sched_->taskIs(&killer);
  EXPECT_EQ(sched_->runUntilIdle(), 1u);
  EXPECT_EQ(log_, (std::vector<std::string>{"killer"}));
}

TEST_F(TaskSchedulerTest, DestroyedSchedulerForgetsItsQueuedTasks) {
  LogTask a(1, "a", &log_);
  {
    auto other = Vorn::make<TaskScheduler>();
    other->taskIs(&a);
    EXPECT_TRUE(a.queued());
  }
  EXPECT_FALSE(a.queued());
  sched_->taskIs(&a);  // free to join another scheduler
  sched_->runUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"a"}));
}

// ---- keep-alive -----------------------------------------------------------------------------

TEST_F(TaskSchedulerTest, OwnerReleasedDuringRunLivesUntilRunReturns) {
  bool destroyed = false;
  Vorn::Ptr<Owner> holder(new Owner(&log_, &destroyed));
  bool aliveAtEndOfRun = false;
  Owner* raw = holder.ptr();
  raw->task.body = [&] {
    holder = nullptr;  // the only outside reference
    aliveAtEndOfRun = !destroyed;
  };
  sched_->taskIs(&raw->task);
  EXPECT_TRUE(sched_->runSlice());
  EXPECT_TRUE(aliveAtEndOfRun);
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(sched_->idle());
}

TEST_F(TaskSchedulerTest, OwnerWithZeroCountIsNotDeletedByItsSlice) {
  bool destroyed = false;
  {
    Owner onStack(&log_, &destroyed);
    sched_->taskIs(&onStack.task);
    sched_->runUntilIdle();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(log_, (std::vector<std::string>{"owned"}));
  }
  EXPECT_TRUE(destroyed);
}

TEST_F(TaskSchedulerTest, SchedulerReleasedByItsOwnTaskFinishesTheSlice) {
  LogTask a(1, "a", &log_);
  LogTask b(2, "b", &log_);
  a.body = [&] { sched_ = nullptr; };
  sched_->taskIs(&a);
  sched_->taskIs(&b);
  TaskScheduler* raw = sched_.ptr();
  EXPECT_TRUE(raw->runSlice());  // the slice's own reference keeps it alive
  EXPECT_EQ(log_, (std::vector<std::string>{"a"}));
  EXPECT_FALSE(b.queued());  // the scheduler is gone and forgot b
}

// ---- yield budget -----------------------------------------------------------------------------

// Runs one slice whose task counts items until mustYield(); returns the count.
std::uint32_t itemsInOneSlice(TaskScheduler& sched, std::uint32_t cap = 100000) {
  std::vector<std::string> log;
  std::uint32_t items = 0;
  LogTask t(1, "count", &log);
  t.body = [&] {
    while (items < cap) {
      ++items;
      if (sched.mustYield()) break;
    }
  };
  sched.taskIs(&t);
  sched.runSlice();
  return items;
}

TEST_F(TaskSchedulerTest, DefaultBudgetYieldsAfter1024Items) {
  EXPECT_EQ(itemsInOneSlice(*sched_), 1024u);
  EXPECT_EQ(itemsInOneSlice(*sched_), 1024u);  // the count restarts every slice
}

TEST_F(TaskSchedulerTest, FixedBudgetYieldsAtTheBudgetAndKeepsAnswering) {
  sched_->itemBudgetIs(3);
  LogTask t(1, "t", &log_);
  std::vector<bool> answers;
  t.body = [&] {
    for (int i = 0; i < 5; ++i) answers.push_back(sched_->mustYield());
  };
  sched_->taskIs(&t);
  sched_->runSlice();
  EXPECT_EQ(answers, (std::vector<bool>{false, false, true, true, true}));
}

TEST_F(TaskSchedulerTest, ZeroBudgetNeverYields) {
  sched_->itemBudgetIs(0);
  EXPECT_EQ(itemsInOneSlice(*sched_, 50000), 50000u);
  EXPECT_EQ(sched_->sliceBudget(), 0u);
}

TEST_F(TaskSchedulerTest, RandomBudgetStaysInRangeCoversItAndRepeatsForTheSameSeed) {
  auto draw = [](std::uint64_t seed) {
    auto s = Vorn::make<TaskScheduler>();
    s->randomBudgetIs(seed, 6);
    std::vector<std::uint32_t> budgets;
    for (int i = 0; i < 200; ++i) budgets.push_back(itemsInOneSlice(*s));
    return budgets;
  };
  auto first = draw(42);
  std::set<std::uint32_t> seen(first.begin(), first.end());
  EXPECT_EQ(seen, (std::set<std::uint32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(draw(42), first);
  EXPECT_NE(draw(43), first);
}

TEST_F(TaskSchedulerTest, RandomBudgetMaxZeroRestoresTheFixedBudget) {
  sched_->itemBudgetIs(7);
  sched_->randomBudgetIs(1, 1);
  EXPECT_EQ(itemsInOneSlice(*sched_), 1u);
  sched_->randomBudgetIs(1, 0);
  EXPECT_EQ(itemsInOneSlice(*sched_), 7u);
}

TEST_F(TaskSchedulerTest, FixedBudgetReplacesARandomOne) {
  sched_->randomBudgetIs(9, 1000);
  sched_->itemBudgetIs(2);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(itemsInOneSlice(*sched_), 2u);
}

}  // namespace
