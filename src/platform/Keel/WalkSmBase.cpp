#include "Keel/WalkSmBase.h"

#include <cassert>

namespace Keel {

// ---- ZoBaseOutputSm --------------------------------------------------------------

std::string ZoBaseOutputSm::formatDerivedType() const { return fwkType(); }

void ZoBaseOutputSm::dumpState(std::ostream& os) const { os << formatDerivedType(); }

void ZoBaseOutputSm::vornDoZombieReactors(bool) {}

// ---- WalkSmBase --------------------------------------------------------------------

char const* WalkSmBase::traceEventName(TraceEvent event) noexcept {
  switch (event) {
    case TraceEvent::walkScheduled: return "walkScheduled";
    case TraceEvent::walkStarted: return "walkStarted";
    case TraceEvent::walkRefused: return "walkRefused";
    case TraceEvent::walkYielded: return "walkYielded";
    case TraceEvent::walkFinished: return "walkFinished";
    case TraceEvent::walkRestarted: return "walkRestarted";
  }
  return "unknown";
}

std::ostream& operator<<(std::ostream& os, WalkSmBase::TraceEvent event) {
  return os << WalkSmBase::traceEventName(event);
}

WalkSmBase::WalkSmBase(Vorn::Ptr<TaskScheduler> const& scheduler, TaskPriority priority,
                       Vorn::String taskName)
    : scheduler_(scheduler),
      taskName_(std::move(taskName)),
      task_(this, priority, taskName_.stdString()) {
  assert(scheduler_ && "a walk needs a scheduler");
}

WalkSmBase::~WalkSmBase() {
  // Not the virtual hook: a derived override is already gone here.
  scheduler_->taskDel(&task_);
}

void WalkSmBase::taskDel() { scheduler_->taskDel(&task_); }

void WalkSmBase::taskIs() { scheduler_->taskIs(&task_); }

void WalkSmBase::scheduleWalk() {
  if (walkInProgress_) {
    // The walk continues (or is queued to continue) as it is; it may be asked
    // to start over once it ends.
    if (allowWalkRestarts()) restartRequested_ = true;
    return;
  }
  if (task_.queued()) return;
  traceEvent(TraceEvent::walkScheduled);
  delayTurns_ = initialScheduleDelay();
  taskIs();
  walkScheduledNotification();
}

void WalkSmBase::runWalkSlice() {
  if (!walkInProgress_) {
    if (delayTurns_ > 0) {
      --delayTurns_;
      taskIs();
      return;
    }
    traceEvent(TraceEvent::walkStarted);
    if (!walkStartedNotification()) {
      traceEvent(TraceEvent::walkRefused);
      walkAbortedNotification();
      return;
    }
    walkInProgress_ = true;
    restartRequested_ = false;
    walkCount_ = 0;
  }

  WalkRet ret;
  try {
    ret = walk();
  } catch (...) {
    walkInProgress_ = false;
    restartRequested_ = false;
    throw;
  }
  walkCount_ += ret.count;

  if (ret.moreWork && untilNoMoreWork()) {
    traceEvent(TraceEvent::walkYielded);
    taskIs();
    return;
  }

  walkInProgress_ = false;
  traceEvent(TraceEvent::walkFinished);
  walkFinishedNotification();
  if (restartRequested_) {
    restartRequested_ = false;
    traceEvent(TraceEvent::walkRestarted);
    if (!task_.queued()) {
      delayTurns_ = initialScheduleDelay();
      taskIs();
    }
  }
}

void WalkSmBase::dumpState(std::ostream& os) const {
  os << formatDerivedType() << " task=" << taskName_ << " scheduled=" << (walkScheduled() ? "true" : "false")
     << " inProgress=" << (walkInProgress_ ? "true" : "false") << " count=" << walkCount_;
}

}  // namespace Keel
