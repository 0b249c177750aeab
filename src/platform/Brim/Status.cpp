#include "Brim/Status.h"

#include <atomic>
#include <iterator>
#include <sstream>
#include <vector>

#include "model/ModelSupport.h"

namespace Routing::Gmp::Brim {

Status::~Status() = default;

Vorn::Ptr<Status> Status::statusIs() { return Model::makeActive<Status>(); }

Vorn::Ptr<Status> Status::statusIs(std::string const& segmentName, SegmentOptions const& options) {
  auto segment = SharedSegment::open(segmentName, options);
  Vorn::Ptr<Status> table = Model::makeActive<Status>();
  for (SharedSegment::Loaded const& l : segment->loaded()) {
    StatusValue v(l.entry.value);
    v.slot_ = l.slot;
    table->entries_.emplace(l.entry.key, v);
  }
  std::vector<std::string> const damage = segment->damage();
  segment->loadedClear();
  table->segment_ = std::move(segment);
  for (std::string const& msg : damage) table->doCorruptionDetected(msg);
  return table;
}

bool Status::membershipIs(Membership const& m) {
  ++isCalls_;
  auto [it, inserted] = entries_.try_emplace(m.key, m.value);
  if (!inserted) {
    if (it->second.value_ == m.value) return false;
    it->second.value_ = m.value;
    if (segment_ && it->second.slot_ != SharedSegment::kNoSlot) segment_->rewrite(it->second.slot_, m);
  } else if (segment_) {
    segmentInsert(it);
  }
  ++epoch_;
  notify(attrMembership, Vorn::Key(m.key));
  return inserted;
}

void Status::segmentInsert(Entries::iterator it) {
  it->second.slot_ = segment_->insert(Membership{it->first, it->second.value_});
  if (it->second.slot_ != SharedSegment::kNoSlot) return;
  overflow_.insert(it->first);
  std::ostringstream msg;
  msg << "shared segment " << segment_->name() << " full (capacity " << segment_->capacity() << " Joins): entry "
      << it->first << " held in this process only until a slot frees up";
  doCorruptionDetected(msg.str());
}

bool Status::membershipDel(RouteIntfKey const& key) {
  ++delCalls_;
  RouteIntfKey const copy = key;  // the caller's key may live in the removed entry
  // Removals mostly go in key order (a walk, or a cleanup, deleting as it
  // goes): the entry is then the one after the last removed, or the one a
  // walk has just reached. Either is used only when it is certainly the key's.
  Entries::const_iterator it = entries_.end();
  if (afterErase_ != entries_.end() && afterErase_->first == copy) {
    it = afterErase_;
  } else if (reachedErasures_ == erasures_ && reached_ != entries_.end() && reached_->first == copy) {
    it = reached_;
  } else {
    it = entries_.find(copy);
  }
  if (it == entries_.end()) return false;
  std::uint32_t const slot = it->second.slot_;
  afterErase_ = entries_.erase(it);
  ++erasures_;
  ++epoch_;
  if (segment_) {
    if (slot != SharedSegment::kNoSlot) {
      segment_->clear(slot);
    } else {
      overflow_.erase(copy);
    }
    if (!overflow_.empty() && segment_->count() < segment_->capacity()) {
      // Room again: the first held-back entry goes in.
      RouteIntfKey const held = *overflow_.begin();
      overflow_.erase(overflow_.begin());
      if (auto const e = entries_.find(held); e != entries_.end()) segmentInsert(e);
    }
  }
  notify(attrMembership, Vorn::Key(copy));
  return true;
}

std::optional<Membership> Status::membership(RouteIntfKey const& key) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return Membership{it->first, it->second};
}

bool Status::membershipIterNext(RouteIntfKey& key, IterHint& hint) const {
  checkRead();
  Entries::const_iterator it;
  if (!hint.started) {
    it = entries_.lower_bound(key);
  } else if (hint.table_ == id_ && hint.erasures_ == erasures_ && hint.at_->first == key) {
    // The held entry is still in this table and is `key`'s: the next one is
    // what the search would find.
    it = std::next(hint.at_);
  } else if (isFirstAfter(afterErase_, key)) {
    // Typically the walker has just removed the entry it stood on: the walk
    // goes on at that entry's successor.
    it = afterErase_;
  } else {
    it = entries_.upper_bound(key);
  }
  hint.started = true;
  if (it == entries_.end()) return false;  // the hint keeps what it held
  if (segment_ && it->second.slot_ != SharedSegment::kNoSlot) {
    segment_->verify(it->second.slot_, Membership{it->first, it->second.value_});
  }
  key = it->first;
  hint.table_ = id_;
  hint.erasures_ = erasures_;
  hint.at_ = it;
  reached_ = it;
  reachedErasures_ = erasures_;
  return true;
}

bool Status::isFirstAfter(Entries::const_iterator it, RouteIntfKey const& key) const {
  if (it != entries_.end() && !(key < it->first)) return false;
  return it == entries_.begin() || !(key < std::prev(it)->first);
}

std::uint64_t Status::newTableId() noexcept {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace Routing::Gmp::Brim
