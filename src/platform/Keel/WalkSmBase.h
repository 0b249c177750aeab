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
//       false -> traceEvent(walkRefused), walkAbortedNotification(); done
//               (not queued any more; a later scheduleWalk() starts again)
//     walk(); moreWork && untilNoMoreWork() -> traceEvent(walkYielded), queued
//       again for the next slice
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
//   - initialScheduleDelay() (in scheduler turns: this platform has no timers)
//     lets a new walk give up that many turns of its task before it starts.
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

// Base of the output state machines: a counted object that can name its type,
// dump its state and take part in the zombie pass of its reactors.
class ZoBaseOutputSm : public Vorn::PtrInterface {
 public:
  // The concrete type's name, for dumps. Default: fwkType().
  virtual std::string formatDerivedType() const;
  // One line describing the state. Default: the type name.
  virtual void dumpState(std::ostream& os) const;
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
  // Items reported by walk() in the current walk (or the last finished one).
  std::uint64_t walkCount() const noexcept { return walkCount_; }

  Vorn::Ptr<TaskScheduler> scheduler() const { return scheduler_; }
  Vorn::String const& taskName() const noexcept { return taskName_; }

  void dumpState(std::ostream& os) const override;
  char const* fwkType() const override { return "Keel::WalkSmBase"; }

 protected:
  // Turns of the walk's task to give up before a new walk starts.
  virtual std::uint32_t initialScheduleDelay() const { return 0; }
  // Whether a walk continues on later slices while walk() reports moreWork
  // (false: every walk is a single call of walk()).
  virtual bool untilNoMoreWork() const { return true; }
  // Whether scheduleWalk() during a walk queues a fresh walk after it.
  virtual bool allowWalkRestarts() const { return false; }

  virtual void walkScheduledNotification() {}
  virtual void walkAbortedNotification() {}
  // Asked before a walk starts; false refuses it.
  virtual bool walkStartedNotification() { return true; }
  virtual WalkRet walk() = 0;
  virtual void walkFinishedNotification() {}
  virtual void traceEvent(TraceEvent) const {}

  // Cancels / queues the walk's task on the scheduler.
  virtual void taskDel();
  virtual void taskIs();

 private:
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
  std::uint64_t walkCount_ = 0;
  std::uint32_t delayTurns_ = 0;
  bool walkInProgress_ = false;
  bool restartRequested_ = false;
};

std::ostream& operator<<(std::ostream& os, WalkSmBase::TraceEvent event);

}  // namespace Keel
