// Keel::WalkSmBase — base of state machines that walk a collection in slices
// on a TaskScheduler (reconcile every route, flush every pending update).
//
// OVERVIEW
//   `scheduleWalk()` asks for a walk. The walk's task then runs on the
//   scheduler; each slice calls `walk()` once. `walk()` does items until
//   `mustYield()` answers true and returns {moreWork, count}. With moreWork the
//   walk continues on a later slice; without, it finishes. Derived classes
//   steer the walk through the protected hooks.
//
//   A slice, step by step:
//     no walk in progress: traceEvent(walkStarted); walkStartedNotification()
//       false -> traceEvent(walkRefused); done (not queued any more; a later
//               scheduleWalk() starts again)
//     walk(); moreWork -> traceEvent(walkYielded), queued again for the next
//       slice
//     else -> traceEvent(walkFinished), walkFinishedNotification(); then, if a
//       restart was requested during the walk, traceEvent(walkRestarted) and a
//       fresh walk is queued (no second walkScheduled event for it).
//
// GUARANTEES
//   - scheduleWalk() queues at most one task and takes no counted reference:
//     it is safe from a constructor. While a walk is in progress it only
//     records a restart request (if allowWalkRestarts()); otherwise the walk in
//     progress is expected to cover the new work.
//   - While a slice runs, the object is kept alive by the scheduler (if it is
//     held by a Ptr), so walk() may drop the last outside reference.
//   - The destructor cancels the pending task: no slice runs on a dead object.
//   - If walk() throws, the walk is abandoned (not in progress, not queued, no
//     pending restart) and the exception propagates out of runSlice().
//
// WARNING
//   Single event thread. An object with a zero count must outlive its queued
//   walk by other means (or be destroyed, which cancels it).
//
// TYPICAL USAGE
//   class FlushSm : public Keel::WalkSmBase {
//     Keel::WalkRet walk() override { ...; while (more) { do1(); if (mustYield()) return {true, n}; } return {false, n}; }
//   };  sm->scheduleWalk(); scheduler->runUntilIdle();
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "Keel/TaskScheduler.h"
#include "Vorn/Ptr.h"
#include "Vorn/String.h"

namespace Keel {

// What one call of walk() did: whether items remain, and how many it handled.
struct WalkRet {
  bool moreWork;
  std::uint32_t count;
};

// Base of the output state machines: a counted object that takes part in the
// zombie pass of its reactors.
class ZoBaseOutputSm : public Vorn::PtrInterface {
 public:
  // Final pass when the machine's reactors are marked for deletion. Default: nothing.
  virtual void vornDoZombieReactors(bool zombie);

  char const* fwkType() const override { return "Keel::ZoBaseOutputSm"; }
};

class WalkSmBase : public ZoBaseOutputSm {
 public:
  enum class TraceEvent : std::uint32_t {
    walkScheduled = 0,
    walkStarted = 1,
    walkRefused = 2,
    walkYielded = 3,
    walkFinished = 4,
    walkRestarted = 5,
  };
  static char const* traceEventName(TraceEvent event) noexcept;

  WalkSmBase(Vorn::Ptr<TaskScheduler> const& scheduler, TaskPriority priority, Vorn::String taskName);
  WalkSmBase(WalkSmBase const&) = delete;
  ~WalkSmBase() override;

  // Asks for a walk (see the protocol above).
  void scheduleWalk();
  // Counts one item of the current slice; true when the walk should return.
  bool mustYield() { return scheduler_->mustYield(); }

  bool walkInProgress() const noexcept { return walkInProgress_; }
  bool walkScheduled() const noexcept { return task_.queued(); }
  bool walkRestartPending() const noexcept { return restartRequested_; }

  Vorn::Ptr<TaskScheduler> scheduler() const { return scheduler_; }
  Vorn::String const& taskName() const noexcept { return taskName_; }

  char const* fwkType() const override { return "Keel::WalkSmBase"; }

 protected:
  // Whether scheduleWalk() during a walk queues a fresh walk after it.
  virtual bool allowWalkRestarts() const { return false; }

  // Asked before a walk starts; false refuses it.
  virtual bool walkStartedNotification() { return true; }
  virtual WalkRet walk() = 0;
  virtual void walkFinishedNotification() {}
  virtual void traceEvent(TraceEvent) const {}

 private:
  // Queues the walk's task on the scheduler.
  void taskIs();

  class WalkTask final : public Task {
   public:
    WalkTask(WalkSmBase* sm, TaskPriority priority, std::string name)
        : Task(priority, std::move(name), sm), sm_(sm) {}
    void run() override { sm_->runWalkSlice(); }

   private:
    WalkSmBase* sm_;
  };

  void runWalkSlice();

  // Declared before task_: the task leaves the scheduler's queue first.
  Vorn::Ptr<TaskScheduler> scheduler_;
  Vorn::String taskName_;
  WalkTask task_;
  bool walkInProgress_ = false;
  bool restartRequested_ = false;
};

std::ostream& operator<<(std::ostream& os, WalkSmBase::TraceEvent event);

}  // namespace Keel
