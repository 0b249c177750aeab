#include "Keel/TaskScheduler.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Keel::Task;
using Keel::TaskPriority;
using Keel::TaskScheduler;
using Log = std::vector<std::string>;

// A task that logs its name and then runs an optional body.
class LogTask : public Task {
 public:
  LogTask(TaskPriority p, std::string name, Log* log, Vorn::PtrInterface* owner = nullptr)
      : Task(p, std::move(name), owner), log_(log) {}
  void run() override {
    log_->push_back(name());
    if (body) body();
  }
  std::function<void()> body;

 private:
  Log* log_;
};

// A counted owner with a task member, reporting its destruction.
class Owner : public Vorn::PtrInterface {
 public:
  Owner(Log* log, bool* destroyed) : task(5, "owned", log, this), destroyed_(destroyed) {}
  ~Owner() override { *destroyed_ = true; }
  LogTask task;

 private:
  bool* destroyed_;
};

class TaskSchedulerTest : public ::testing::Test {
 protected:
  void queue(std::initializer_list<Task*> tasks) {
    for (Task* t : tasks) sched_->taskIs(t);
  }
  Vorn::Ptr<TaskScheduler> sched_ = Vorn::make<TaskScheduler>();
  Log log_;
};

// ---- order and running --------------------------------------------------------------------

TEST_F(TaskSchedulerTest, LowerPriorityRunsFirstAndEqualPrioritiesRunInQueueOrder) {
  LogTask a(20, "a", &log_), b(10, "b", &log_), c(20, "c", &log_), d(10, "d", &log_), e(0, "e", &log_);
  queue({&a, &b, &c, &d, &e, &a});
  EXPECT_EQ(sched_->queuedTasks(), 5u);  // queueing `a` again kept its place
  EXPECT_EQ(sched_->runUntilIdle(), 5u);
  EXPECT_EQ(log_, (Log{"e", "b", "d", "a", "c"}));
}

TEST_F(TaskSchedulerTest, ThrowingTaskLeavesTheQueueConsistent) {
  LogTask bad(1, "bad", &log_), good(2, "good", &log_);
  bad.body = [] { throw std::runtime_error("boom"); };
  queue({&bad, &good});
  EXPECT_THROW(sched_->runSlice(), std::runtime_error);
  EXPECT_FALSE(bad.queued());
  EXPECT_EQ(sched_->runUntilIdle(), 1u);
  EXPECT_EQ(log_, (Log{"bad", "good"}));
}

// ---- cancelling and lifetime ------------------------------------------------------------------

TEST_F(TaskSchedulerTest, CancelledOrDestroyedTasksDoNotRun) {
  auto doomed = std::make_unique<LogTask>(1, "doomed", &log_);
  LogTask cancelled(1, "cancelled", &log_), survivor(1, "survivor", &log_);
  queue({doomed.get(), &cancelled, &survivor});
  sched_->taskDel(&cancelled);
  sched_->taskDel(&cancelled);  // not queued any more: no-op
  doomed.reset();
  EXPECT_EQ(sched_->runUntilIdle(), 1u);
  EXPECT_EQ(log_, (Log{"survivor"}));
}

TEST_F(TaskSchedulerTest, DestroyedSchedulerForgetsItsQueuedTasks) {
  LogTask a(1, "a", &log_);
  Vorn::make<TaskScheduler>()->taskIs(&a);  // that scheduler is gone at once
  EXPECT_FALSE(a.queued());
  sched_->taskIs(&a);
  sched_->runUntilIdle();
  EXPECT_EQ(log_, (Log{"a"}));
}

TEST_F(TaskSchedulerTest, OwnerReleasedDuringRunLivesUntilRunReturns) {
  bool destroyed = false;
  Vorn::Ptr<Owner> holder(new Owner(&log_, &destroyed));
  bool aliveAtEndOfRun = false;
  holder->task.body = [&] {
    holder = nullptr;  // the only outside reference
    aliveAtEndOfRun = !destroyed;
  };
  sched_->taskIs(&holder->task);
  EXPECT_TRUE(sched_->runSlice());
  EXPECT_TRUE(aliveAtEndOfRun);
  EXPECT_TRUE(destroyed);
}

TEST_F(TaskSchedulerTest, OwnerWithZeroCountIsNotDeletedByItsSlice) {
  bool destroyed = false;
  {
    Owner onStack(&log_, &destroyed);
    sched_->taskIs(&onStack.task);
    sched_->runUntilIdle();
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(log_, (Log{"owned"}));
}

TEST_F(TaskSchedulerTest, SchedulerReleasedByItsOwnTaskFinishesTheRun) {
  LogTask a(1, "a", &log_), b(2, "b", &log_);
  a.body = [&] { sched_ = nullptr; };
  queue({&a, &b});
  TaskScheduler* raw = sched_.ptr();
  EXPECT_EQ(raw->runUntilIdle(), 2u);  // the run's own reference keeps it alive
  EXPECT_EQ(log_, (Log{"a", "b"}));
}

// ---- yield budget -----------------------------------------------------------------------------

// Runs one slice whose task counts items until mustYield(); returns the count.
std::uint32_t itemsInOneSlice(TaskScheduler& sched, std::uint32_t cap = 100000) {
  Log log;
  std::uint32_t items = 0;
  LogTask t(1, "count", &log);
  t.body = [&] {
    while (items < cap && (++items, !sched.mustYield())) {
    }
  };
  sched.taskIs(&t);
  sched.runSlice();
  return items;
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
  EXPECT_EQ(std::set<std::uint32_t>(first.begin(), first.end()), (std::set<std::uint32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(draw(42), first);
  EXPECT_NE(draw(43), first);
}

}  // namespace
