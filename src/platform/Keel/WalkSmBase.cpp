#include "Keel/WalkSmBase.h"

#include <cassert>

namespace Keel {

// ---- ZoBaseOutputSm --------------------------------------------------------------

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

WalkSmBase::~WalkSmBase() { scheduler_->taskDel(&task_); }

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
  taskIs();
}

void WalkSmBase::runWalkSlice() {
  if (!walkInProgress_) {
    traceEvent(TraceEvent::walkStarted);
    if (!walkStartedNotification()) {
      traceEvent(TraceEvent::walkRefused);
      return;
    }
    walkInProgress_ = true;
    restartRequested_ = false;
  }

  WalkRet ret;
  try {
    ret = walk();
  } catch (...) {
    walkInProgress_ = false;
    restartRequested_ = false;
    throw;
  }
  if (ret.moreWork) {
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
    if (!task_.queued()) taskIs();
  }
}

}  // namespace Keel
