// Keel::TaskScheduler and Keel::Task — the single-threaded cooperative
// scheduler that runs deferred work (walks, batched updates) in slices.
//
// OVERVIEW
//   A Task is a unit of deferred work with a priority. `taskIs(task)` queues
//   it; `runSlice()` takes the first queued task off the queue and calls its
//   `run()` once. A task that has more to do queues itself again from run().
//   Long-running work checks `mustYield()` after each item and returns when it
//   answers true, so other tasks get their turn.
//
// GUARANTEES
//   - Order: lower priority value runs first; tasks of equal priority run in
//     the order they were queued (FIFO). A task re-queued from its own run()
//     goes to the back of its priority. The order is fully deterministic.
//   - A task is on the queue at most once: `taskIs` on a queued task is a
//     no-op (it keeps its place). Destroying a queued task takes it off the
//     queue; destroying the scheduler forgets every queued task.
//   - The scheduler keeps tasks by raw pointer and takes no counted reference
//     when a task is queued (tasks are queued from constructors, while the
//     owner's count is still zero). While a task runs, if its keep-alive owner
//     has a nonzero count, the scheduler holds a Ptr to the owner until run()
//     returns. The scheduler also holds itself (if counted) for the whole of
//     runSlice() / runUntilIdle(), so a task may drop its last reference.
//   - Yield budget: each slice allows `sliceBudget()` items (default 1024, 0 =
//     unlimited); with `randomBudgetIs(seed, max)` each slice draws its budget
//     uniformly in [1, max] from a seeded PRNG (same seed, same sequence).
//     Budget changes apply from the next slice.
//   - An exception thrown by run() leaves the scheduler consistent (the task is
//     already off the queue) and propagates out of runSlice().
//
// WARNING
//   Single event thread only; nothing here is synchronised. A task whose owner
//   has a zero count must stay alive by other means while it is queued.
//
// TYPICAL USAGE
//   auto sched = Vorn::make<Keel::TaskScheduler>();
//   struct Flush : Keel::Task { Flush() : Task(10, "flush") {} void run() override { ... } } f;
//   sched->taskIs(&f); sched->runUntilIdle();
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "Vorn/Pool.h"
#include "Vorn/Ptr.h"

namespace Keel {

// Lower value runs first.
using TaskPriority = std::uint32_t;

class TaskScheduler;

// A unit of deferred work. Not reference counted: it is usually a member of
// the object whose work it runs (its keep-alive owner).
class Task {
 public:
  Task(TaskPriority priority, std::string name, Vorn::PtrInterface* keepAliveOwner = nullptr)
      : priority_(priority), name_(std::move(name)), owner_(keepAliveOwner) {}
  Task(Task const&) = delete;
  Task& operator=(Task const&) = delete;
  virtual ~Task();

  // Does one slice of the work. May queue the task again.
  virtual void run() = 0;

  TaskPriority priority() const noexcept { return priority_; }
  std::string const& name() const noexcept { return name_; }
  bool queued() const noexcept { return scheduler_ != nullptr; }
  Vorn::PtrInterface* keepAliveOwner() const noexcept { return owner_; }

 private:
  friend class TaskScheduler;

  TaskPriority priority_;
  std::string name_;
  Vorn::PtrInterface* owner_;
  TaskScheduler* scheduler_ = nullptr;  // non-null exactly while queued
  std::uint64_t seq_ = 0;               // queue position among equal priorities
};

class TaskScheduler : public Vorn::PtrInterface {
 public:
  static constexpr std::uint32_t kDefaultItemBudget = 1024;

  TaskScheduler() = default;
  TaskScheduler(TaskScheduler const&) = delete;
  ~TaskScheduler() override;

  // Queues `task` behind the queued tasks of its priority. No-op while it is
  // already queued here.
  void taskIs(Task* task);
  // Takes `task` off the queue. No-op when it is not queued.
  void taskDel(Task* task);

  // Runs the first queued task once. Returns false (and runs nothing) when idle.
  bool runSlice();
  // Runs slices until idle or `maxSlices` have run; returns the number run.
  std::size_t runUntilIdle(std::size_t maxSlices = SIZE_MAX);

  bool idle() const noexcept { return queue_.empty(); }
  std::size_t queuedTasks() const noexcept { return queue_.size(); }
  std::uint64_t slicesRun() const noexcept { return slicesRun_; }

  // Fixed budget of items per slice (0 = unlimited). Also switches a random
  // budget off.
  void itemBudgetIs(std::uint32_t items) noexcept;
  std::uint32_t itemBudget() const noexcept { return itemBudget_; }
  // Each slice draws its budget uniformly in [1, maxItems] from a PRNG seeded
  // with `seed`. maxItems 0 switches back to the fixed budget.
  void randomBudgetIs(std::uint64_t seed, std::uint32_t maxItems) noexcept;
  std::uint32_t randomBudgetMax() const noexcept { return randomMax_; }
  // The budget of the current (or last) slice; 0 = unlimited.
  std::uint32_t sliceBudget() const noexcept {
    return sliceBudget_ == kUnlimited ? 0 : static_cast<std::uint32_t>(sliceBudget_);
  }

  // Counts one item done in the current slice; true once the count reaches the
  // slice's budget (and on every later call in the same slice).
  bool mustYield() noexcept { return ++itemsThisSlice_ >= sliceBudget_; }

  char const* fwkType() const override { return "Keel::TaskScheduler"; }

 private:
  static constexpr std::uint64_t kUnlimited = UINT64_MAX;
  using QueueKey = std::pair<TaskPriority, std::uint64_t>;

  void startSlice() noexcept;
  std::uint64_t nextRandom() noexcept;

  // Nodes from the pools: a walk re-queues itself every slice.
  std::map<QueueKey, Task*, std::less<>, Vorn::PoolAllocator<std::pair<QueueKey const, Task*>>> queue_;
  std::uint64_t nextSeq_ = 0;
  std::uint64_t slicesRun_ = 0;

  std::uint32_t itemBudget_ = kDefaultItemBudget;
  std::uint32_t randomMax_ = 0;  // 0: fixed budget
  std::uint64_t rngState_ = 0;
  std::uint64_t sliceBudget_ = kDefaultItemBudget;
  std::uint64_t itemsThisSlice_ = 0;
};

}  // namespace Keel
