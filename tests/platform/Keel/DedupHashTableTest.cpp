#include "Keel/DedupHashTable.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Keel::DedupHandle;
using Keel::DedupHashTable;
using Keel::DedupHashTableLifeTimeNotifiee;

int liveHandles = 0;

class IntHandle : public DedupHandle {
 public:
  explicit IntHandle(int key) : key_(key) { ++liveHandles; }
  ~IntHandle() override { --liveHandles; }
  int const& key() const noexcept { return key_; }

 private:
  int key_;
};

using IntTable = Keel::DedupHashTableOf<int, IntHandle>;

// Records every callback as text; optional hooks run inside the callbacks.
class Recorder : public DedupHashTableLifeTimeNotifiee {
 public:
  void handleInsert(Vorn::Ptr<DedupHandle> const& h) const override {
    log.push_back("insert " + std::to_string(keyOf(h.ptr())));
    if (onInsert) onInsert(h);
  }
  void handleRemove(DedupHandle* h) const override {
    log.push_back("remove " + std::to_string(keyOf(h)));
    if (onRemove) onRemove(h);
  }
  void handleNotificationStop(Vorn::Ptr<DedupHashTable const> const& t) const override {
    log.push_back("stop");
    if (onStop) onStop(t);
  }

  static int keyOf(DedupHandle* h) {
    return static_cast<IntHandle*>(h)->key();
  }

  mutable std::vector<std::string> log;
  std::function<void(Vorn::Ptr<DedupHandle> const&)> onInsert;
  std::function<void(DedupHandle*)> onRemove;
  std::function<void(Vorn::Ptr<DedupHashTable const> const&)> onStop;
};

using Log = std::vector<std::string>;

class DedupHashTableTest : public ::testing::Test {
 protected:
  void SetUp() override { liveHandles = 0; }
  void TearDown() override {
    table_ = nullptr;
    EXPECT_EQ(liveHandles, 0) << "a handle leaked";
  }

  Vorn::Ptr<Recorder> rec_ = Vorn::make<Recorder>();
  Vorn::Ptr<IntTable> table_ = Vorn::make<IntTable>(rec_);
};

// ---- sharing and lifetime -------------------------------------------------------------

TEST_F(DedupHashTableTest, HandleRemoveSeesTheEntryGoneAndMayDedupTheKeyAfresh) {
  auto h = table_->dedup(4);
  bool detaching = false;
  bool stillFound = true;
  bool once = false;
  Vorn::Ptr<IntHandle const> reborn;
  rec_->onRemove = [&](DedupHandle* removed) {
    if (std::exchange(once, true)) return;  // not for the fresh handle's removal
    detaching = removed->beingDetached();
    stillFound = table_->lookup(4) != nullptr;
    // A Ptr built and dropped on the dying handle must not delete it again.
    Vorn::Ptr<DedupHandle> brief(removed);
    reborn = table_->dedup(4);  // a fresh handle, not the dying one
  };
  h = nullptr;
  EXPECT_TRUE(detaching);
  EXPECT_FALSE(stillFound);
  ASSERT_TRUE(reborn);
  EXPECT_FALSE(reborn->beingDetached());
  EXPECT_EQ(table_->lookup(4), reborn.ptr());
  EXPECT_EQ(liveHandles, 1);
  EXPECT_EQ(rec_->log, (Log{"insert 4", "remove 4", "insert 4"}));
}

TEST_F(DedupHashTableTest, TableReleasedFromHandleRemoveOutlivesTheCallback) {
  auto h = table_->dedup(8);
  std::size_t sizeInCallback = 99;
  IntTable* raw = table_.ptr();
  rec_->onRemove = [&](DedupHandle*) {
    table_ = nullptr;  // the last outside reference
    sizeInCallback = raw->size();
  };
  h = nullptr;
  EXPECT_EQ(sizeInCallback, 0u);
  EXPECT_FALSE(table_);
  EXPECT_EQ(rec_->log, (Log{"insert 8", "remove 8", "stop"}));
}

// ---- handleInsert failing --------------------------------------------------------------

TEST_F(DedupHashTableTest, ThrowingHandleInsertLeavesNoEntryAndAHandleItKeptGoesSilently) {
  Vorn::Ptr<DedupHandle> kept;
  bool keep = false;
  rec_->onInsert = [&](Vorn::Ptr<DedupHandle> const& h) {
    if (keep) kept = h;
    throw std::runtime_error("no room");
  };
  EXPECT_THROW((void)table_->dedup(9), std::runtime_error);
  EXPECT_EQ(table_->size(), 0u);
  EXPECT_EQ(table_->lookup(9), nullptr);
  EXPECT_EQ(liveHandles, 0);
  keep = true;
  EXPECT_THROW((void)table_->dedup(9), std::runtime_error);
  ASSERT_TRUE(kept);
  EXPECT_FALSE(kept->inTable());
  EXPECT_EQ(liveHandles, 1);
  rec_->onInsert = nullptr;
  auto fresh = table_->dedup(9);  // a new entry, unrelated to the kept one
  EXPECT_NE(fresh.ptr(), kept.ptr());
  kept = nullptr;
  EXPECT_EQ(liveHandles, 1);
  EXPECT_EQ(table_->lookup(9), fresh.ptr());
  EXPECT_EQ(rec_->log, (Log{"insert 9", "insert 9", "insert 9"})) << "no remove for a failed insert";
}

// ---- notification switch ------------------------------------------------------------------

TEST_F(DedupHashTableTest, NotificationOffDeliversNothingUntilSwitchedBackOn) {
  DedupHashTable const* stopped = nullptr;
  rec_->onStop = [&](Vorn::Ptr<DedupHashTable const> const& t) { stopped = t.ptr(); };
  table_->hasNotificationActiveIs(false);
  EXPECT_EQ(stopped, table_.ptr());
  table_->hasNotificationActiveIs(false);  // already off: no second stop

  auto h = table_->dedup(11);
  auto g = table_->dedup(11);
  EXPECT_EQ(h, g);  // still dedups
  h = nullptr;
  g = nullptr;
  EXPECT_EQ(table_->size(), 0u);
  EXPECT_EQ(rec_->log, (Log{"stop"}));

  // Back on: delivered again, also the remove of a handle inserted while off.
  auto quiet = table_->dedup(12);
  table_->hasNotificationActiveIs(true);
  auto loud = table_->dedup(13);
  quiet = nullptr;
  loud = nullptr;
  EXPECT_EQ(rec_->log, (Log{"stop", "insert 13", "remove 12", "remove 13"}));
}

// ---- table going first -------------------------------------------------------------------

TEST_F(DedupHashTableTest, DestroyedTableStopsFirstThenOrphansOutstandingHandles) {
  auto a = table_->dedup(20);
  auto b = table_->dedup(21);
  std::size_t sizeAtStop = 0;
  IntHandle const* foundAtStop = nullptr;
  rec_->onStop = [&](Vorn::Ptr<DedupHashTable const> const& t) {
    auto const* it = static_cast<IntTable const*>(t.ptr());
    sizeAtStop = it->size();
    foundAtStop = it->lookup(20);
  };
  table_ = nullptr;
  EXPECT_EQ(sizeAtStop, 2u);
  EXPECT_EQ(foundAtStop, a.ptr());
  EXPECT_FALSE(a->inTable());
  EXPECT_EQ(liveHandles, 2);
  a = nullptr;
  b = nullptr;
  EXPECT_EQ(liveHandles, 0);
  EXPECT_EQ(rec_->log, (Log{"insert 20", "insert 21", "stop"}));
}

TEST_F(DedupHashTableTest, HandleReleasedDuringTheStopOfADyingTableGoesQuietly) {
  auto a = table_->dedup(23);
  rec_->onStop = [&](Vorn::Ptr<DedupHashTable const> const&) { a = nullptr; };
  table_ = nullptr;
  EXPECT_FALSE(a);
  EXPECT_EQ(liveHandles, 0);
  EXPECT_EQ(rec_->log, (Log{"insert 23", "stop"}));
}

}  // namespace
