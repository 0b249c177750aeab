#include "Keel/TaskScheduler.h"

namespace Keel {

Task::~Task() {
  if (scheduler_) scheduler_->taskDel(this);
}

TaskScheduler::~TaskScheduler() {
  for (auto& [key, task] : queue_) task->scheduler_ = nullptr;
}

void TaskScheduler::taskIs(Task* task) {
  assert(task && "queueing a null task");
  if (task->scheduler_ == this) return;
  assert(!task->scheduler_ && "task is queued on another scheduler");
  task->seq_ = nextSeq_++;
  queue_.emplace(QueueKey(task->priority_, task->seq_), task);
  task->scheduler_ = this;
}

void TaskScheduler::taskDel(Task* task) {
  assert(task && "cancelling a null task");
  if (task->scheduler_ != this) {
    assert(!task->scheduler_ && "task is queued on another scheduler");
    return;
  }
  queue_.erase(QueueKey(task->priority_, task->seq_));
  task->scheduler_ = nullptr;
}

void TaskScheduler::startSlice() noexcept {
  itemsThisSlice_ = 0;
  if (randomMax_ != 0) {
    // Uniform in [1, randomMax_]: reject the low values that would bias the
    // modulo (fewer than randomMax_ of 2^64, so this almost never loops).
    std::uint64_t const max = randomMax_;
    std::uint64_t const threshold = (0 - max) % max;
    std::uint64_t r = nextRandom();
    while (r < threshold) r = nextRandom();
    sliceBudget_ = 1 + r % max;
  } else {
    sliceBudget_ = itemBudget_ == 0 ? kUnlimited : itemBudget_;
  }
}

// splitmix64: small, fast, and its sequence depends only on the seed (unlike
// the standard distributions, whose output differs between library versions).
std::uint64_t TaskScheduler::nextRandom() noexcept {
  std::uint64_t z = (rngState_ += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

bool TaskScheduler::runSlice() {
  if (queue_.empty()) return false;
  // A task may drop the last outside reference to the scheduler.
  Vorn::Ptr<TaskScheduler> self;
  if (references() > 0) self = this;

  auto first = queue_.begin();
  Task* task = first->second;
  queue_.erase(first);
  task->scheduler_ = nullptr;  // off the queue before run(): it may queue itself again

  ++slicesRun_;
  startSlice();
  {
    // Owners with a zero count are not held: taking and dropping their only
    // reference would delete them.
    Vorn::Ptr<Vorn::PtrInterface const> keepAlive;
    if (task->owner_ && task->owner_->references() > 0) keepAlive = task->owner_;
    task->run();
    // `task` may be gone once keepAlive is released: do not touch it below.
  }
  return true;
}

std::size_t TaskScheduler::runUntilIdle(std::size_t maxSlices) {
  Vorn::Ptr<TaskScheduler> self;  // held across slices, as in runSlice()
  if (references() > 0) self = this;
  std::size_t ran = 0;
  while (ran < maxSlices && runSlice()) ++ran;
  return ran;
}

void TaskScheduler::itemBudgetIs(std::uint32_t items) noexcept {
  itemBudget_ = items;
  randomMax_ = 0;
}

void TaskScheduler::randomBudgetIs(std::uint64_t seed, std::uint32_t maxItems) noexcept {
  randomMax_ = maxItems;
  rngState_ = seed;
}

}  // namespace Keel
