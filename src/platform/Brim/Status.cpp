#include "Brim/Status.h"

#include <algorithm>
#include <array>
#include <memory>
#include <sstream>
#include <type_traits>
#include <vector>

#include "model/ModelSupport.h"

namespace Routing::Gmp::Brim {

namespace {

// Bucket states in `ctrl_`: a full bucket has the top bit set and seven bits
// of its key's hash below it, so a probe compares keys only on a match.
constexpr std::uint8_t kEmpty = 0;
constexpr std::uint8_t kTombstone = 1;
constexpr std::uint8_t kFull = 0x80;
constexpr std::uint8_t tagOf(std::uint64_t hash) noexcept { return static_cast<std::uint8_t>(kFull | (hash & 0x7f)); }

// Entries and tombstones together fill at most 7/8 of the buckets; a rehash
// leaves the entries filling 7/12 of them (growing by half when it has to
// grow): probes stay short while a Join takes 56 to 84 bytes of buckets.
constexpr bool overFull(std::size_t used, std::size_t capacity) noexcept { return used * 8 > capacity * 7; }
constexpr std::size_t capacityFor(std::size_t entries) noexcept {
  if (entries == 0) return 0;
  return std::max<std::size_t>(8, (entries * 12 / 7 + 8) & ~std::size_t{7});
}

// Byte `pos` of a key read as one string in its own order: the source's
// family and 16 bytes, the group's, then the interface id, most significant
// byte first. Keys compare as these strings do.
constexpr std::size_t kKeyBytes = 38;
std::uint8_t keyByte(RouteIntfKey const& k, std::size_t pos) noexcept {
  if (pos == 0) return static_cast<std::uint8_t>(k.source().af());
  if (pos < 17) return k.source().bytes()[pos - 1];
  if (pos == 17) return static_cast<std::uint8_t>(k.group().af());
  if (pos < 34) return k.group().bytes()[pos - 18];
  return static_cast<std::uint8_t>(k.intf().id() >> (8 * (kKeyBytes - 1 - pos)));
}

// Sorts distinct keys. The keys of one table mostly differ in a few bytes
// (the group's last ones, the interface): when at most eight do, those bytes
// make a number per key that orders the keys as they compare, and a radix
// sort on it spares the comparison sort's cost (its mispredicted branches)
// several times over. Else, a comparison sort.
void sortKeys(std::vector<RouteIntfKey>& keys) {
  if (keys.size() < 256) {
    std::sort(keys.begin(), keys.end());
    return;
  }
  // Which bytes differ between keys (from the first, in all of them).
  RouteIntfKey const first = keys.front();
  std::uint8_t sourceAf = 0, groupAf = 0;
  std::array<std::uint8_t, 16> source{}, group{};
  std::uint32_t intf = 0;
  auto const note = [](std::uint8_t& differs, auto a, auto b) {
    differs = static_cast<std::uint8_t>(differs | (static_cast<std::uint8_t>(a) ^ static_cast<std::uint8_t>(b)));
  };
  for (RouteIntfKey const& k : keys) {
    note(sourceAf, k.source().af(), first.source().af());
    note(groupAf, k.group().af(), first.group().af());
    for (std::size_t i = 0; i < 16; ++i) {
      note(source[i], k.source().bytes()[i], first.source().bytes()[i]);
      note(group[i], k.group().bytes()[i], first.group().bytes()[i]);
    }
    intf |= k.intf().id() ^ first.intf().id();
  }
  std::array<std::size_t, 8> varying{};
  std::size_t n = 0;
  for (std::size_t pos = 0; pos < kKeyBytes; ++pos) {
    bool const differs = pos == 0    ? sourceAf != 0
                         : pos < 17  ? source[pos - 1] != 0
                         : pos == 17 ? groupAf != 0
                         : pos < 34  ? group[pos - 18] != 0
                                     : (intf >> (8 * (kKeyBytes - 1 - pos)) & 0xff) != 0;
    if (!differs) continue;
    if (n == varying.size()) {
      std::sort(keys.begin(), keys.end());
      return;
    }
    varying[n++] = pos;
  }
  // The varying bytes, most significant first, as one number per key; then
  // a radix sort on those n bytes (least significant first, stable).
  struct Rec {
    std::uint64_t order;
    std::uint32_t at;
  };
  std::vector<Rec> recs(keys.size()), spare(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::uint64_t order = 0;
    for (std::size_t v = 0; v < n; ++v) order = order << 8 | keyByte(keys[i], varying[v]);
    recs[i] = Rec{order, static_cast<std::uint32_t>(i)};
  }
  for (std::size_t byte = 0; byte < n; ++byte) {
    std::array<std::size_t, 257> start{};
    for (Rec const& r : recs) ++start[(r.order >> (8 * byte) & 0xff) + 1];
    for (std::size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    for (Rec const& r : recs) spare[start[r.order >> (8 * byte) & 0xff]++] = r;
    recs.swap(spare);
  }
  std::vector<RouteIntfKey> sorted;
  sorted.reserve(keys.size());
  for (Rec const& r : recs) sorted.push_back(keys[r.at]);
  keys.swap(sorted);
}

// Removed keys the walk's sorted copy may hold, and keys added since it was
// built it may keep aside, beyond which it is built again (or dropped).
constexpr std::size_t kSortedSlack = 64;

}  // namespace

Status::~Status() = default;

Vorn::Ptr<Status> Status::statusIs() { return Model::makeActive<Status>(); }

Vorn::Ptr<Status> Status::statusIs(std::string const& segmentName, SegmentOptions const& options) {
  auto segment = SharedSegment::open(segmentName, options);
  Vorn::Ptr<Status> table = Model::makeActive<Status>();
  table->rehash(capacityFor(segment->loaded().size()));
  for (SharedSegment::Loaded const& l : segment->loaded()) {
    StatusValue v(l.entry.value);
    v.slot_ = l.slot;
    table->insertNew(l.entry.key, v, hashOf(l.entry.key));
  }
  std::vector<std::string> const damage = segment->damage();
  segment->loadedClear();
  table->segment_ = std::move(segment);
  for (std::string const& msg : damage) table->doCorruptionDetected(msg);
  return table;
}

// ---- the hash table -----------------------------------------------------------------------------

std::uint64_t Status::hashOf(RouteIntfKey const& key) noexcept { return key.hash(0x5d1); }

std::size_t Status::find(RouteIntfKey const& key, std::uint64_t hash) const noexcept {
  if (capacity_ == 0) return kNone;
  std::uint8_t const tag = tagOf(hash);
  for (std::size_t i = home(hash);; i = nextBucket(i)) {
    std::uint8_t const c = ctrl_[i];
    if (c == tag && buckets_[i].key == key) return i;
    if (c == kEmpty) return kNone;
  }
}

std::size_t Status::insertNew(RouteIntfKey const& key, StatusValue value, std::uint64_t hash) {
  // The first tombstone on the key's probe path, else the empty bucket ending it.
  auto const freeBucket = [&] {
    std::size_t i = home(hash);
    while (ctrl_[i] != kEmpty && ctrl_[i] != kTombstone) i = nextBucket(i);
    return i;
  };
  std::size_t i = capacity_ == 0 ? kNone : freeBucket();
  if (i == kNone || (ctrl_[i] == kEmpty && overFull(used_ + 1, capacity_))) {
    rehash(capacityFor(count_ + 1));
    i = freeBucket();
  }
  if (ctrl_[i] == kEmpty) ++used_;
  ctrl_[i] = tagOf(hash);
  std::construct_at(&buckets_[i], Bucket{key, value});
  ++count_;
  if (sortedBuilt_) {
    // Keys kept aside cost the point operations: past a share of the sorted
    // copy, the copy goes, to be built again by the next walk step.
    if (added_.size() >= std::max(kSortedSlack, sorted_.size() / 8)) {
      sortedDrop();
    } else {
      added_.insert(key);
    }
  }
  return i;
}

void Status::erase(std::size_t bucket) noexcept {
  if (sortedBuilt_) {
    RouteIntfKey const& key = buckets_[bucket].key;
    // A key kept aside is only there (its sorted copy, if any, is already
    // counted as gone); the key a walk has just reached is marked where it is.
    bool const aside = !added_.empty() && added_.erase(key) > 0;
    if (aside) {
      // nothing else holds it
    } else if (reached_ != kNone && sorted_[reached_] == key) {
      gone_[reached_] = true;
      ++goneCount_;
      reached_ = kNone;
    } else {
      ++removed_;
    }
  }
  --count_;
  if (ctrl_[nextBucket(bucket)] != kEmpty) {
    ctrl_[bucket] = kTombstone;  // a probe path may go on through it
    return;
  }
  // No probe path goes on past an empty bucket: this one, and the tombstones
  // just before it, end nothing any more.
  ctrl_[bucket] = kEmpty;
  --used_;
  for (std::size_t i = bucket == 0 ? capacity_ - 1 : bucket - 1; ctrl_[i] == kTombstone;
       i = i == 0 ? capacity_ - 1 : i - 1) {
    ctrl_[i] = kEmpty;
    --used_;
  }
}

void Status::reserve(std::size_t entries) {
  if (capacityFor(entries) > capacity_) rehash(capacityFor(entries));
}

void Status::rehash(std::size_t capacity) {
  static_assert(std::is_trivially_destructible_v<Bucket>, "buckets are freed without destroying entries");
  std::unique_ptr<std::uint8_t[]> ctrl;
  std::unique_ptr<Bucket[], BucketsFree> buckets;
  if (capacity > 0) {
    ctrl = std::make_unique<std::uint8_t[]>(capacity);  // all kEmpty
    buckets = {std::allocator<Bucket>().allocate(capacity), BucketsFree{capacity}};
  }
  std::swap(ctrl, ctrl_);
  std::swap(buckets, buckets_);
  std::size_t const old = std::exchange(capacity_, capacity);
  used_ = count_;
  for (std::size_t b = 0; b < old; ++b) {
    if (!(ctrl[b] & kFull)) continue;
    std::uint64_t const hash = hashOf(buckets[b].key);
    std::size_t i = home(hash);
    while (ctrl_[i] != kEmpty) i = nextBucket(i);
    ctrl_[i] = tagOf(hash);
    std::construct_at(&buckets_[i], buckets[b]);
  }
}

// ---- writes and reads ---------------------------------------------------------------------------

bool Status::membershipIs(Membership const& m) {
  ++isCalls_;
  std::uint64_t const hash = hashOf(m.key);
  std::size_t const found = find(m.key, hash);
  bool const inserted = found == kNone;
  if (!inserted) {
    StatusValue& v = buckets_[found].value;
    if (v.value_ == m.value) return false;
    v.value_ = m.value;
    if (segment_ && v.slot_ != SharedSegment::kNoSlot) segment_->rewrite(v.slot_, m);
  } else {
    std::size_t const bucket = insertNew(m.key, StatusValue(m.value), hash);
    if (segment_) segmentInsert(bucket);
  }
  ++epoch_;
  notify(attrMembership, Vorn::Key(m.key));
  return inserted;
}

void Status::segmentInsert(std::size_t bucket) {
  Bucket& b = buckets_[bucket];
  b.value.slot_ = segment_->insert(Membership{b.key, b.value.value_});
  if (b.value.slot_ != SharedSegment::kNoSlot) return;
  overflow_.insert(b.key);
  std::ostringstream msg;
  msg << "shared segment " << segment_->name() << " full (capacity " << segment_->capacity() << " Joins): entry "
      << b.key << " held in this process only until a slot frees up";
  doCorruptionDetected(msg.str());
}

bool Status::membershipDel(RouteIntfKey const& key) {
  ++delCalls_;
  RouteIntfKey const copy = key;  // the caller's key may be one the table holds
  std::size_t const bucket = find(copy, hashOf(copy));
  if (bucket == kNone) return false;
  std::uint32_t const slot = buckets_[bucket].value.slot_;
  erase(bucket);
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
      if (std::size_t const b = find(held, hashOf(held)); b != kNone) segmentInsert(b);
    }
  }
  // Far fewer entries than buckets: the buckets shrink (to none when the
  // table empties), so that a mass removal gives the memory back.
  if (count_ * 8 < capacity_) rehash(capacityFor(count_));
  notify(attrMembership, Vorn::Key(copy));
  return true;
}

std::optional<Membership> Status::membership(RouteIntfKey const& key) const {
  std::size_t const bucket = find(key, hashOf(key));
  if (bucket == kNone) return std::nullopt;
  return Membership{key, buckets_[bucket].value};
}

StatusEntries Status::entries() const {
  StatusEntries out;
  for (std::size_t b = 0; b < capacity_; ++b) {
    if (ctrl_[b] & kFull) out.emplace(buckets_[b].key, buckets_[b].value);
  }
  return out;
}

// ---- walks --------------------------------------------------------------------------------------

void Status::sortedBuild() const {
  sorted_.clear();
  sorted_.reserve(count_);
  for (std::size_t b = 0; b < capacity_; ++b) {
    if (ctrl_[b] & kFull) sorted_.push_back(buckets_[b].key);
  }
  sortKeys(sorted_);
  gone_.assign(sorted_.size(), false);
  added_.clear();
  removed_ = 0;
  goneCount_ = 0;
  reached_ = kNone;
  sortedBuilt_ = true;
}

void Status::sortedDrop() const noexcept {
  std::vector<RouteIntfKey>().swap(sorted_);  // their memory too
  std::vector<bool>().swap(gone_);
  added_.clear();
  removed_ = 0;
  goneCount_ = 0;
  reached_ = kNone;
  sortedBuilt_ = false;
}

bool Status::membershipIterNext(RouteIntfKey& key, IterHint& hint) const {
  checkRead();
  bool const started = hint.started;
  hint.started = true;
  if (!sortedBuilt_) sortedBuild();
  // The position is the first sorted key after `key` (at or after it for the
  // first step) when the keys on either side of it say so.
  std::size_t pos = hint.pos_;
  bool const fits = pos <= sorted_.size() &&
                    (started ? (pos == 0 || !(key < sorted_[pos - 1])) && (pos == sorted_.size() || key < sorted_[pos])
                             : (pos == 0 || sorted_[pos - 1] < key) && (pos == sorted_.size() || !(sorted_[pos] < key)));
  if (!fits) {
    // A search; over a copy holding mostly removed keys, a fresh copy first.
    if (removed_ + goneCount_ > count_ + kSortedSlack) sortedBuild();
    pos = static_cast<std::size_t>((started ? std::upper_bound(sorted_.begin(), sorted_.end(), key)
                                            : std::lower_bound(sorted_.begin(), sorted_.end(), key)) -
                                   sorted_.begin());
  }
  // The first sorted key still in the table,
  std::size_t const from = pos;
  std::size_t bucket = kNone;
  for (; pos < sorted_.size(); ++pos) {
    if (gone_[pos]) continue;
    if (removed_ == 0) break;
    bucket = find(sorted_[pos], hashOf(sorted_[pos]));
    if (bucket != kNone) break;
  }
  // and the first key added since the copy was built.
  auto const added = added_.empty() ? added_.end() : started ? added_.upper_bound(key) : added_.lower_bound(key);
  RouteIntfKey next;
  std::size_t after = pos + 1;  // the first sorted key after `next`
  if (pos < sorted_.size() && (added == added_.end() || !(*added < sorted_[pos]))) {
    next = sorted_[pos];
    reached_ = pos;
  } else if (added != added_.end()) {
    next = *added;
    bucket = kNone;
    reached_ = kNone;
    // Only removed keys lie in [from, pos): some may sort before `next`.
    for (after = from; after < pos && !(next < sorted_[after]); ++after) {
    }
  } else {
    // The end: the copy goes (it is built again when a walk needs it).
    sortedDrop();
    return false;
  }
  if (segment_) {
    if (bucket == kNone) bucket = find(next, hashOf(next));
    StatusValue const v = buckets_[bucket].value;
    if (v.slot_ != SharedSegment::kNoSlot) segment_->verify(v.slot_, Membership{next, v.value_});
  }
  key = next;
  hint.pos_ = after;
  return true;
}

}  // namespace Routing::Gmp::Brim
