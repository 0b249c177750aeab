#include "Keel/DedupHashTable.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A key whose values all hash alike: every entry shares one bucket, so the
// table must tell handles apart by their keys alone.
struct SameHashKey {
  int v;
  bool operator==(SameHashKey const&) const = default;
};

template <>
struct std::hash<SameHashKey> {
  std::size_t operator()(SameHashKey const&) const noexcept { return 42; }
};

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

class SameHashHandle : public DedupHandle {
 public:
  explicit SameHashHandle(SameHashKey const& key) : key_(key) { ++liveHandles; }
  ~SameHashHandle() override { --liveHandles; }
  SameHashKey const& key() const noexcept { return key_; }

 private:
  SameHashKey key_;
};

using SameHashTable = Keel::DedupHashTableOf<SameHashKey, SameHashHandle>;

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
    if (auto const* same = dynamic_cast<SameHashHandle const*>(h)) return same->key().v;
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

TEST_F(DedupHashTableTest, HoldersOfOneKeyShareAHandleInsertedOnceAndRemovedOnce) {
  auto first = table_->dedup(7);
  EXPECT_EQ(rec_->log, (Log{"insert 7"}));
  EXPECT_EQ(first->key(), 7);
  auto second = table_->dedup(7);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->references(), 2u);
  EXPECT_EQ(table_->lookup(7), first.ptr());
  EXPECT_EQ(first->references(), 2u) << "a lookup takes no reference";
  EXPECT_EQ(table_->lookup(99), nullptr);

  first = nullptr;
  EXPECT_EQ(rec_->log, (Log{"insert 7"}));  // one holder is left
  EXPECT_EQ(table_->size(), 1u);
  second = nullptr;
  EXPECT_EQ(rec_->log, (Log{"insert 7", "remove 7"}));
  EXPECT_EQ(table_->size(), 0u);
  EXPECT_EQ(table_->lookup(7), nullptr);
  EXPECT_EQ(liveHandles, 0);
}

TEST_F(DedupHashTableTest, ReleaseThenTakeAgainRemovesThenInsertsAFreshHandle) {
  auto h = table_->dedup(3);
  h = nullptr;
  h = table_->dedup(3);
  EXPECT_EQ(rec_->log, (Log{"insert 3", "remove 3", "insert 3"}));
  EXPECT_EQ(liveHandles, 1);
  EXPECT_EQ(table_->lookup(3), h.ptr());
}

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

// ---- the entries are the handles, found by their own keys ------------------------------

TEST_F(DedupHashTableTest, KeysThatHashAlikeStillGetOneHandleEachAndLeaveOneByOne) {
  auto table = Vorn::make<SameHashTable>(rec_);
  std::vector<Vorn::Ptr<SameHashHandle const>> held;
  for (int v = 0; v < 8; ++v) held.push_back(table->dedup(SameHashKey{v}));
  EXPECT_EQ(table->size(), 8u);
  for (int v = 0; v < 8; ++v) {
    EXPECT_EQ(table->dedup(SameHashKey{v}), held[v]) << "key " << v;
    EXPECT_EQ(table->lookup(SameHashKey{v})->key().v, v);
  }
  // Releasing one takes out that entry only, wherever it sits in the bucket.
  for (int v : {3, 0, 7}) held[v] = nullptr;
  EXPECT_EQ(table->size(), 5u);
  for (int v = 0; v < 8; ++v) {
    SameHashHandle const* found = table->lookup(SameHashKey{v});
    EXPECT_EQ(found, held[v].ptr()) << "key " << v;
  }
  held.clear();
  EXPECT_TRUE(table->empty());
  EXPECT_EQ(liveHandles, 0);
}

TEST_F(DedupHashTableTest, ManyKeysSurviveGrowthAndReleaseInAnyOrder) {
  constexpr int kKeys = 5000;
  std::vector<Vorn::Ptr<IntHandle const>> held;
  for (int k = 0; k < kKeys; ++k) held.push_back(table_->dedup(k * 7919));
  ASSERT_EQ(table_->size(), static_cast<std::size_t>(kKeys));
  // Every other one, then the rest from the back: lookups stay exact.
  for (int k = 0; k < kKeys; k += 2) held[k] = nullptr;
  for (int k = kKeys - 1; k >= kKeys / 2; --k) held[k] = nullptr;
  std::size_t left = 0;
  for (int k = 0; k < kKeys; ++k) {
    IntHandle const* found = table_->lookup(k * 7919);
    ASSERT_EQ(found, held[k].ptr()) << "key index " << k;
    if (found) {
      ++left;
      EXPECT_EQ(found->key(), k * 7919);
    }
  }
  EXPECT_EQ(table_->size(), left);
  EXPECT_EQ(liveHandles, static_cast<int>(left));
  held.clear();
  EXPECT_TRUE(table_->empty());
  EXPECT_EQ(rec_->log.size(), 2u * kKeys) << "one insert and one remove per key";
}

TEST_F(DedupHashTableTest, DestroyedTableOrphansHandlesThatShareABucket) {
  auto table = Vorn::make<SameHashTable>(rec_);
  auto a = table->dedup(SameHashKey{1});
  auto b = table->dedup(SameHashKey{2});
  table = nullptr;
  EXPECT_FALSE(a->inTable());
  EXPECT_FALSE(b->inTable());
  a = nullptr;  // goes quietly: no table to reach
  b = nullptr;
  EXPECT_EQ(liveHandles, 0);
  EXPECT_EQ(rec_->log, (Log{"insert 1", "insert 2", "stop"}));
}

}  // namespace
